#pragma once

#include <QMainWindow>

#include <cstdint>

class QMdiArea;
class SuiteLoader;

/// The host's main window: the module's windows open inside its document area.
class HostWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit HostWindow(const SuiteLoader &suite, QWidget *parent = nullptr);

    QMdiArea *mdiArea() const { return m_mdi; }
    /// Opens a window of the module by kind (department, title, type, holder, report,
    /// transfer); false when the export reported a failure.
    bool openKind(const QString &kind);
    /// Closes every document window; true when none is left open by the module.
    bool closeDocuments();
    /// Clicks the button `name` of the active document window; false when there is none.
    bool clickInActiveWindow(const QString &name);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    using Export = int32_t (*)();
    Export entry(const char *name) const;
    const SuiteLoader &m_suite;
    QMdiArea *m_mdi;
};
