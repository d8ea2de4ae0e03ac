#pragma once

#include <QWidget>

namespace zq::module {

/// The document window of a kind whose window is not built yet: its caption and nothing
/// else, so that opening, the single instance and closing behave as for a real window.
class BareWindow : public QWidget
{
    Q_OBJECT
public:
    explicit BareWindow(const QString &formClass, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_shown = false;
};

} // namespace zq::module
