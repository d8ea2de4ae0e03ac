#pragma once

#include "MaintenanceChrome.h"
#include "MaintenanceSpec.h"

#include <QList>
#include <QPair>
#include <QSize>
#include <QWidget>

class QGridLayout;
class QLineEdit;

namespace zq::data {
class Recordset;
class RecordsetModel;
} // namespace zq::data

namespace zq::forms {

/// The record-maintenance window: a list of every row on the View page, the current row on
/// the Data page, three modes, the leave check before input is dropped, rights bits on the
/// commands, audit entries, grid layout and language set-up.
///
/// A window derives from it, builds its Data page (addEdit and its own controls) in its
/// constructor and then calls formCreate(). It overrides the steps where it differs.
class MaintenanceWindow : public QWidget
{
    Q_OBJECT
public:
    enum Mode { ViewMode = 0, AddMode = 1, EditMode = 2 };

    MaintenanceWindow(const MaintenanceSpec &spec, int rights, const QStringList &toolButtons,
                      const QStringList &menuCommands, QWidget *parent = nullptr,
                      bool compactToolBar = false);
    ~MaintenanceWindow() override;

    Mode mode() const { return m_mode; }
    bool isModified() const { return m_modified; }
    bool isBusy() const { return m_busy; }
    zq::data::Recordset *listQuery() const { return adoDB; }
    const MaintenanceChrome &chrome() const { return m_ui; }
    const MaintenanceSpec &spec() const { return m_spec; }

    /// The screen size the window sizes itself by (tests may pretend another screen).
    static QSize screenSize();
    static void setScreenSizeOverride(const QSize &size);

    // Handlers; each menu item runs the handler of the button with the same name.
    virtual void btnAddClick();
    virtual void btnSearchClick();
    virtual void btnEditClick();
    virtual void btnDeleteClick();
    virtual void btnOkClick();
    virtual void btnCancelClick();
    virtual void btnRefreshClick();
    virtual void btnOutputClick();
    void btnFirstClick() { navigate(0); }
    void btnPrevClick() { navigate(1); }
    void btnNextClick() { navigate(2); }
    void btnLastClick() { navigate(3); }
    void btnExitClick() { close(); }
    void dgViewTitleClick(int column);

protected:
    /// The window's creation (after the Data page is built): queries bound, list loaded,
    /// View mode, grid columns, rights bits.
    void formCreate();
    /// Part of the creation block before the list loads (pick lists and their queries).
    virtual void openExtraQueries() {}

    virtual void showRecord();
    virtual void clearDataPage();
    /// Sets the row's columns from the Data page (the edit buffer of `rs`).
    virtual void writeColumns(zq::data::Recordset &rs);
    virtual bool leaveCheck();
    virtual bool insertRecord();
    virtual bool updateRecord();
    virtual void enterMode(Mode mode);
    /// After `mode` was entered (colours and focus of the window's own controls).
    virtual void modeEntered(Mode mode) { Q_UNUSED(mode) }
    void trimInput();
    /// Closes and reopens the list with its statement; false when that failed.
    bool reloadList();
    /// The statement of the list (a window may build it per user).
    virtual QString listStatement() const { return m_spec.listStatement; }
    /// A column sort could not be set.
    virtual void sortFailed() { reloadList(); }
    void navigate(int where);
    void onDataChanged();
    void setModified() { m_modified = true; }
    void clearModified() { m_modified = false; }
    void setBusy(bool busy) { m_busy = busy; }

    /// Adds a label and an edit in the next row of the Data page's grid.
    QLineEdit *addEdit(const QString &editName, const QString &labelName, const QString &caption,
                       int maxLength, const QString &column);
    QGridLayout *dataLayout() const { return m_dataLayout; }
    void audit(const QString &prefix, const QString &key);
    QString quotedKey(const QString &key) const;

    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    MaintenanceSpec m_spec;
    MaintenanceChrome m_ui;
    zq::data::Recordset *adoDB;
    zq::data::Recordset *adoChk;
    zq::data::Recordset *adqTmp;
    zq::data::RecordsetModel *dsDB;
    QLineEdit *m_keyEdit = nullptr;
    QLineEdit *m_nameEdit = nullptr;
    QList<QPair<QLineEdit *, QString>> m_edits; // every edit with its column, key first
    int m_rights;

private:
    void applyRights();
    void connectCommands();
    Mode m_mode = ViewMode;
    bool m_modified = false;
    bool m_busy = true;
    bool m_shown = false;
    QGridLayout *m_dataLayout;
    int m_dataRows = 0;
};

} // namespace zq::forms
