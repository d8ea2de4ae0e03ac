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
    /// Clicks the button `name` of the active document window, or else triggers the main
    /// window's menu item `name`; "NAME=TEXT" types TEXT into the text field NAME. False
    /// when there is no such control.
    bool clickInActiveWindow(const QString &name);
    /// Creates `file` + ".wait", then lets events run until `file` exists (at most two
    /// minutes); false on the time-out.
    static bool waitForFile(const QString &file);
    /// The text a script reads of a message box in front ("" for other windows).
    static QString messageText(QWidget *modal);
    /// File > Reconnect: opens the site database again and hands it to the module, so that
    /// work goes on after the server was away without restarting the host. Tells the user
    /// the outcome; true when the database answers again.
    bool reconnectDatabase();
    /// Shows, for the whole session, that other users can read the site, with the command
    /// that makes it private (the status bar's label `lblSiteAccess`).
    void showAccessWarning(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    using Export = int32_t (*)();
    Export entry(const char *name) const;
    const SuiteLoader &m_suite;
    QMdiArea *m_mdi;
};
