#pragma once

#include "MaintenanceChrome.h"
#include "MaintenanceSpec.h"

#include <QList>
#include <QPair>
#include <QSize>
#include <QWidget>

#include <functional>

class QGridLayout;
class QLineEdit;

namespace zq::data {
class Recordset;
} // namespace zq::data
namespace zq::widgets {
class RecordsetModel;
} // namespace zq::widgets

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
    /// The rights bits of the commands.
    enum Right {
        RightAdd = 1,
        RightSearch = 2,
        RightEdit = 4,
        RightDelete = 8,
        RightOk = 16,
        RightCancel = 32,
        RightOutput = 64
    };

    MaintenanceWindow(const MaintenanceSpec &spec,
                      int rights,
                      const QStringList &toolButtons,
                      const QStringList &menuCommands,
                      QWidget *parent = nullptr,
                      bool compactToolBar = false);
    ~MaintenanceWindow() override;

    Mode mode() const { return m_mode; }
    bool isModified() const { return m_modified; }
    bool isBusy() const { return m_busy; }
    zq::data::Recordset *listQuery() const { return adoDB; }
    const MaintenanceChrome &chrome() const { return m_ui; }
    const MaintenanceSpec &spec() const { return m_spec; }
    /// True when the rights bits the window was created with hold `right`. Every gesture
    /// that stands for a command (keys, double-clicks, the save of the leave check) asks
    /// this, so none of them does what the command's button may not.
    bool granted(int right) const { return (m_rights & right) != 0; }

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
    QLineEdit *addEdit(const QString &editName,
                       const QString &labelName,
                       const QString &caption,
                       int maxLength,
                       const QString &column);
    QGridLayout *dataLayout() const { return m_dataLayout; }
    void audit(const QString &prefix, const QString &key);
    QString quotedKey(const QString &key) const;

    enum class KeyCheck { Free, Taken, Failed };
    /// Runs the duplicate test `statement` on `adoChk` and leaves it open on its rows.
    KeyCheck checkKey(const QString &statement);
    /// The duplicate refusal: the message, the Data page and the focus in the key edit.
    void refuseDuplicate();
    /// The one write step of every save: appends (`adding`) or edits the current row of
    /// `rs`, sets its columns through `setColumns` and posts it in one transaction. True
    /// when committed (busy is then still set for the caller's reload). False after any
    /// failure, which ends in writeFailed.
    bool writeRow(zq::data::Recordset &rs,
                  bool adding,
                  const std::function<void(zq::data::Recordset &)> &setColumns);
    /// A save that did not reach the database: the list shows again what the database holds
    /// (read again when it already showed the write, and placed on `listKey`), the Data
    /// page keeps the input, the mode stays and the error sound plays.
    virtual void writeFailed(bool listShowedWrite, const QString &listKey);
    /// The untrimmed key of the list's current row ("" when there is none).
    QString currentListKey() const;
    /// The in-use test of the key `stored` (as the list holds it).
    QString inUseStatement(const QString &stored) const;

    /// Takes the list's current row as the Data page shows it now. Every later save is
    /// judged against it: a field whose input still reads as shown is no change (whether
    /// the column held NULL, '' or blanks after the text), and the columns written are
    /// guarded by the values shown, not by a list read again meanwhile.
    void rememberShown();
    /// The value of `column` as last shown (null when it was not shown).
    QVariant shownValue(const QString &column) const;
    /// True when `input` (trimmed, as saved) differs from what `column` showed.
    bool differsFromShown(const QString &column, const QString &input) const;
    /// Sets `column` of `rs`'s edit buffer to `input` in a new row, or in an edited one
    /// when the input differs from what the column showed.
    void writeText(zq::data::Recordset &rs, const QString &column, const QString &input) const;
    /// Makes `rs`'s current row read as the row shown, in the fields both have.
    void guardWithShown(zq::data::Recordset &rs) const;

    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    MaintenanceSpec m_spec;
    MaintenanceChrome m_ui;
    zq::data::Recordset *adoDB;
    zq::data::Recordset *adoChk;
    zq::data::Recordset *adqTmp;
    zq::widgets::RecordsetModel *dsDB;
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
    QList<QPair<QString, QVariant>> m_shownRow; // the row the Data page showed
    QGridLayout *m_dataLayout;
    int m_dataRows = 0;
};

} // namespace zq::forms
