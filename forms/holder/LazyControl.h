#pragma once

namespace zq::forms {

/// A page of a window whose controls are made when one of them is first used.
class LazyPage
{
public:
    /// Makes the page's controls unless they are there already.
    virtual void buildPage() = 0;

protected:
    ~LazyPage() = default;
};

/// A control of a LazyPage, used like the pointer to it: reading it makes the page first.
/// Copies (an initializer list of controls, say) read the control they were copied from.
template<typename T>
class LazyControl
{
public:
    explicit LazyControl(LazyPage *page)
        : m_page(page)
        , m_origin(this)
    {}
    LazyControl(const LazyControl &other)
        : m_page(other.m_page)
        , m_origin(other.m_origin)
    {}
    LazyControl &operator=(const LazyControl &) = delete;
    /// Set by the page as it makes the control.
    LazyControl &operator=(T *control)
    {
        m_widget = control;
        return *this;
    }

    T *get() const
    {
        if (!m_origin->m_widget)
            m_page->buildPage();
        return m_origin->m_widget;
    }
    T *operator->() const { return get(); }
    operator T *() const { return get(); }
    /// The control if the page is made, else null; never makes the page.
    T *peek() const { return m_origin->m_widget; }

private:
    LazyPage *m_page;
    const LazyControl *m_origin;
    T *m_widget = nullptr;
};

} // namespace zq::forms
