#include "MaintenanceWindow.h"

#include "Connection.h"
#include "Helpers.h"
#include "InputGuards.h"
#include "ModuleLog.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QWheelEvent>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Recordset;

namespace {
QSize g_screenOverride;
const QString kSection = QStringLiteral("ZQBasic");
const QString kCaption = QStringLiteral("SystemMessage");
constexpr int StyleInfo = 64;
constexpr int StyleError = 16;
constexpr int StyleQuestion = 36;
constexpr int Yes = 6;
} // namespace

QSize MaintenanceWindow::screenSize()
{
    if (g_screenOverride.isValid())
        return g_screenOverride;
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(1024, 768);
}

void MaintenanceWindow::setScreenSizeOverride(const QSize &size)
{
    g_screenOverride = size;
}

MaintenanceWindow::MaintenanceWindow(const MaintenanceSpec &spec,
                                     int rights,
                                     const QStringList &toolButtons,
                                     const QStringList &menuCommands,
                                     QWidget *parent,
                                     bool compactToolBar)
    : QWidget(parent)
    , m_spec(spec)
    , adoDB(new Recordset(QStringLiteral("adoDB"), this))
    , adoChk(new Recordset(QStringLiteral("adoChk"), this))
    , adqTmp(new Recordset(QStringLiteral("adqTmp"), this))
    , dsDB(new zq::widgets::RecordsetModel(this))
    , m_rights(rights)
{
    setObjectName(QStringLiteral("frm") + spec.formClass.mid(4));
    setProperty("zq.formClass", spec.formClass);
    setWindowTitle(spec.designCaption);
    m_ui.compact = compactToolBar;
    m_ui.build(this, toolButtons, menuCommands);
    m_dataLayout = new QGridLayout(m_ui.tsData);
    m_dataLayout->setContentsMargins(24, 24, 24, 24);
    m_dataLayout->setHorizontalSpacing(12);
    m_dataLayout->setVerticalSpacing(10);
    m_dataLayout->setColumnStretch(2, 1);
    // C1: busy and unmodified until the creation has loaded the list.
    m_busy = true;
    m_modified = false;
    connectCommands();
}

MaintenanceWindow::~MaintenanceWindow() = default;

void MaintenanceWindow::connectCommands()
{
    using Handler = void (MaintenanceWindow::*)();
    const QList<QPair<QString, Handler>> commands{
        {QStringLiteral("Add"), &MaintenanceWindow::btnAddClick},
        {QStringLiteral("Search"), &MaintenanceWindow::btnSearchClick},
        {QStringLiteral("Edit"), &MaintenanceWindow::btnEditClick},
        {QStringLiteral("Delete"), &MaintenanceWindow::btnDeleteClick},
        {QStringLiteral("Ok"), &MaintenanceWindow::btnOkClick},
        {QStringLiteral("Cancel"), &MaintenanceWindow::btnCancelClick},
        {QStringLiteral("First"), &MaintenanceWindow::btnFirstClick},
        {QStringLiteral("Prev"), &MaintenanceWindow::btnPrevClick},
        {QStringLiteral("Next"), &MaintenanceWindow::btnNextClick},
        {QStringLiteral("Last"), &MaintenanceWindow::btnLastClick},
        {QStringLiteral("Refresh"), &MaintenanceWindow::btnRefreshClick},
        {QStringLiteral("Output"), &MaintenanceWindow::btnOutputClick},
        {QStringLiteral("Exit"), &MaintenanceWindow::btnExitClick},
    };
    for (const auto &c : commands) {
        const Handler handler = c.second;
        m_ui.connectCommand(c.first, this, [this, handler] { (this->*handler)(); });
    }
    connect(m_ui.dgView->horizontalHeader(),
            &QHeaderView::sectionClicked,
            this,
            &MaintenanceWindow::dgViewTitleClick);
    connect(adoDB, &Recordset::dataChanged, this, &MaintenanceWindow::onDataChanged);
    m_ui.dgView->installEventFilter(this);
    m_ui.dgView->viewport()->installEventFilter(this);
}

QLineEdit *MaintenanceWindow::addEdit(const QString &editName,
                                      const QString &labelName,
                                      const QString &caption,
                                      int maxLength,
                                      const QString &column)
{
    auto *label = new QLabel(caption, m_ui.tsData);
    label->setObjectName(labelName);
    auto *edit = new QLineEdit(m_ui.tsData);
    edit->setObjectName(editName);
    edit->setMaxLength(maxLength);
    refuseControlCharacters(edit);
    // Wide enough for the longest input, not wider than the page.
    edit->setMinimumWidth(
        qBound(120, edit->fontMetrics().averageCharWidth() * maxLength + 24, 420));
    label->setBuddy(edit);
    m_dataLayout->addWidget(label, m_dataRows, 0, Qt::AlignRight | Qt::AlignVCenter);
    m_dataLayout->addWidget(edit, m_dataRows, 1);
    ++m_dataRows;
    m_dataLayout->setRowStretch(m_dataRows, 1);
    m_edits.append({edit, column});
    if (column == m_spec.keyColumn)
        m_keyEdit = edit;
    else if (column == m_spec.nameColumn)
        m_nameEdit = edit;
    connect(edit, &QLineEdit::textChanged, this, [this] { m_modified = true; });
    edit->installEventFilter(this);
    return edit;
}

void MaintenanceWindow::formCreate()
{
    QCoreApplication::processEvents();
    const QSize screen = screenSize();
    if (screen.width() >= 1024 && screen.height() >= 768)
        resize(974, 718);
    else
        resize(650, 580);
    if (!m_spec.hasOutput) {
        m_ui.setButtonVisible(QStringLiteral("btnOutput"), false);
        if (QAction *a = m_ui.menuItem(QStringLiteral("mnuOutput")))
            a->setVisible(m_spec.inertOutputMenu);
    }
    try {
        zq::data::BindFormDataSets(this, 0);
        openExtraQueries();
        adoDB->close();
        zq::data::RunQuery(adoDB, listStatement(), 0);
        dsDB->setRecordset(adoDB);
        dsDB->setColumns(m_spec.gridColumns);
        dsDB->attach(m_ui.dgView);
        m_busy = false;
        m_modified = false;
        enterMode(ViewMode);
        showRecord();
        const int columns = int(m_spec.gridColumns.size());
        const int gridWidth = width() - 16;
        for (int i = 0; i < columns; ++i)
            m_ui.dgView->setColumnWidth(i, (gridWidth - 40) / columns);
    } catch (...) {
        zq::logCaught("loading the list");
        // The window still opens, with its list not loaded.
        m_busy = false;
        dsDB->setRecordset(adoDB);
        dsDB->attach(m_ui.dgView);
        enterMode(ViewMode);
    }
    applyRights();
}

void MaintenanceWindow::applyRights()
{
    m_ui.applyRights(m_rights);
    // A menu item without a command is not governed by the output bit.
    if (!m_spec.hasOutput && m_spec.inertOutputMenu)
        if (QAction *a = m_ui.menuItem(QStringLiteral("mnuOutput")))
            a->setEnabled(true);
}

void MaintenanceWindow::enterMode(Mode mode)
{
    m_mode = mode;
    svc::SelectFormLanguage(this, kSection);
    static const char *const names[] = {"ViewMode", "AddMode", "EditMode"};
    m_ui.panel0->setText(svc::GetFunctionString(QString::fromLatin1(names[mode])));
    m_ui.panel1->clear();
    switch (mode) {
    case ViewMode:
        m_ui.pcData->setCurrentWidget(m_ui.tsView);
        for (const auto &e : std::as_const(m_edits))
            setEditWritable(e.first, false);
        break;
    case AddMode:
        m_ui.pcData->setCurrentWidget(m_ui.tsData);
        for (const auto &e : std::as_const(m_edits))
            setEditWritable(e.first, true);
        clearDataPage();
        if (m_keyEdit)
            m_keyEdit->setFocus();
        break;
    case EditMode:
        m_ui.pcData->setCurrentWidget(m_ui.tsData);
        for (const auto &e : std::as_const(m_edits))
            setEditWritable(e.first, e.first != m_keyEdit);
        if (m_nameEdit)
            m_nameEdit->setFocus();
        break;
    }
    modeEntered(mode);
    m_modified = false;
    m_busy = false;
}

void MaintenanceWindow::clearDataPage()
{
    for (const auto &e : std::as_const(m_edits))
        e.first->clear();
}

void MaintenanceWindow::showRecord()
{
    if (!adoDB->isOpen() || adoDB->isEmpty() || adoDB->currentRow() < 0) {
        clearDataPage();
    } else {
        try {
            for (const auto &e : std::as_const(m_edits)) {
                if (m_mode == AddMode && e.first == m_keyEdit)
                    continue;
                e.first->setText(adoDB->text(e.second).trimmed());
            }
        } catch (...) {
            zq::logCaught("showing the current row");
            clearDataPage();
        }
    }
    rememberShown();
    m_modified = false;
    m_busy = false;
}

void MaintenanceWindow::rememberShown()
{
    m_shownRow.clear();
    if (!adoDB->isOpen() || adoDB->currentRow() < 0)
        return;
    for (int i = 0; i < adoDB->fieldCount(); ++i) {
        const QString field = adoDB->fieldName(i);
        m_shownRow.append({field, adoDB->valueAt(adoDB->currentRow(), i)});
    }
}

QVariant MaintenanceWindow::shownValue(const QString &column) const
{
    for (const auto &field : m_shownRow)
        if (field.first.compare(column, Qt::CaseInsensitive) == 0)
            return field.second;
    return QVariant();
}

bool MaintenanceWindow::differsFromShown(const QString &column, const QString &input) const
{
    return Recordset::textOf(shownValue(column)).trimmed() != input;
}

void MaintenanceWindow::writeText(Recordset &rs, const QString &column, const QString &input) const
{
    // A new row takes every field; an edited one only those the input changed, so that a
    // field nobody touched is never written (nor guarded) over another workstation's value.
    if (rs.state() == Recordset::State::Insert || differsFromShown(column, input))
        rs.setField(column, input);
}

void MaintenanceWindow::guardWithShown(Recordset &rs) const
{
    for (const auto &field : m_shownRow)
        if (rs.hasField(field.first))
            rs.setReadValue(field.first, field.second);
}

void MaintenanceWindow::onDataChanged()
{
    if (m_busy)
        return;
    if (!adoDB->isOpen() || adoDB->isEmpty())
        clearDataPage();
    else
        showRecord();
}

void MaintenanceWindow::trimInput()
{
    for (const auto &e : std::as_const(m_edits)) {
        const QString trimmed = e.first->text().trimmed();
        if (trimmed != e.first->text()) {
            const bool modified = m_modified;
            e.first->setText(trimmed);
            m_modified = modified;
        }
    }
}

QString MaintenanceWindow::quotedKey(const QString &key) const
{
    return zq::data::Connection::quoted(key);
}

void MaintenanceWindow::audit(const QString &prefix, const QString &key)
{
    svc::AddProgramRunEdit(zq::module::rightKey(m_spec.kind), prefix + key);
}

bool MaintenanceWindow::leaveCheck()
{
    trimInput();
    if (!adoDB->isOpen())
        return true;
    // Only the OK command saves: without its right the input goes as on Cancel.
    if (!granted(RightOk))
        return true;
    const bool filled = m_keyEdit && m_nameEdit && !m_keyEdit->text().isEmpty()
                        && !m_nameEdit->text().isEmpty();
    if (m_mode == AddMode) {
        if (!filled)
            return true;
        svc::SelectFormLanguage(this, kSection);
        if (svc::ShowMessageBox(QStringLiteral("SaveEdit"), kCaption, StyleQuestion) == Yes)
            return insertRecord();
        return true;
    }
    if (m_mode == EditMode && m_modified && !adoDB->isEmpty()) {
        if (!filled)
            return true;
        svc::SelectFormLanguage(this, kSection);
        if (svc::ShowMessageBox(QStringLiteral("SaveEdit"), kCaption, StyleQuestion) == Yes)
            return updateRecord();
    }
    return true;
}

void MaintenanceWindow::writeColumns(Recordset &rs)
{
    for (const auto &e : std::as_const(m_edits))
        writeText(rs, e.second, e.first->text().trimmed());
}

MaintenanceWindow::KeyCheck MaintenanceWindow::checkKey(const QString &statement)
{
    if (zq::data::RunQuery(adoChk, statement, 0) != 1)
        return KeyCheck::Failed;
    return adoChk->isEmpty() ? KeyCheck::Free : KeyCheck::Taken;
}

void MaintenanceWindow::refuseDuplicate()
{
    svc::SelectFormLanguage(this, kSection);
    svc::ShowMessageBox(m_spec.msgDouble, kCaption, StyleError);
    m_ui.pcData->setCurrentWidget(m_ui.tsData);
    if (m_keyEdit)
        m_keyEdit->setFocus();
}

QString MaintenanceWindow::inUseStatement(const QString &stored) const
{
    // A key stored with blanks after it (older tools) is in use by rows that name it so,
    // and by rows that name it trimmed, as this module writes references.
    QString keys = quotedKey(stored);
    if (stored.trimmed() != stored)
        keys += QStringLiteral(" OR ") + m_spec.keyColumn + QStringLiteral(" = ")
                + quotedKey(stored.trimmed());
    return m_spec.inUsePrefix + keys + m_spec.inUseSuffix;
}

QString MaintenanceWindow::currentListKey() const
{
    if (!adoDB->isOpen() || adoDB->currentRow() < 0 || !adoDB->hasField(m_spec.keyColumn))
        return QString();
    return adoDB->text(m_spec.keyColumn);
}

bool MaintenanceWindow::writeRow(Recordset &rs,
                                 bool adding,
                                 const std::function<void(Recordset &)> &setColumns)
{
    const QString listKey = currentListKey();
    bool posted = false;
    m_busy = true;
    const bool committed = zq::data::WriteInTransaction(rs.connection(), [&] {
        if (adding) {
            rs.append();
        } else {
            guardWithShown(rs);
            rs.edit();
        }
        setColumns(rs);
        rs.post();
        posted = true;
    });
    if (committed)
        return true;
    rs.cancel();
    if (posted && &rs == adoDB && !adding) {
        // The list's row took the input when it was posted; it reads as shown again, so
        // that the next save is guarded by what the user saw, never by a list read again
        // with changes of other workstations he has not seen.
        guardWithShown(*adoDB);
        m_ui.dgView->viewport()->update();
        posted = false;
    }
    writeFailed(posted && &rs == adoDB, listKey);
    return false;
}

void MaintenanceWindow::writeFailed(bool listShowedWrite, const QString &listKey)
{
    // Told first: reading the list again replaces the errors of the write. A row changed on
    // another workstation keeps the input for the user to compare after Refresh.
    tellWriteFailure(adoDB->connection());
    // A posted row whose transaction then failed is in the fetched rows but not in the
    // database: read the list again, without touching the input on the Data page.
    m_busy = true;
    if (listShowedWrite && reloadList() && !listKey.isEmpty())
        zq::data::LocateRecord(adoDB, m_spec.keyColumn, listKey);
    m_busy = false;
}

bool MaintenanceWindow::insertRecord()
{
    try {
        trimInput();
        const QString key = m_keyEdit->text().trimmed();
        const KeyCheck check = checkKey(m_spec.duplicatePrefix + quotedKey(key));
        adoChk->close();
        if (check == KeyCheck::Taken) {
            refuseDuplicate();
            return false;
        }
        if (check == KeyCheck::Failed) {
            writeFailed(false, QString());
            return false;
        }
        if (!writeRow(*adoDB, true, [this](Recordset &rs) { writeColumns(rs); }))
            return false;
        audit(QStringLiteral("A "), key);
        reloadList();
        zq::data::LocateRecord(adoDB, m_spec.keyColumn, m_keyEdit->text());
        m_busy = false;
        m_modified = false;
        showRecord();
        return true;
    } catch (...) {
        zq::logCaught("adding a record");
        m_busy = false;
        adoChk->close();
        svc::PlaySoundError();
        return false;
    }
}

bool MaintenanceWindow::updateRecord()
{
    try {
        trimInput();
        // A lost link is a failed save like any other, never a save skipped in silence.
        if (zq::data::CheckConnection() != 1) {
            writeFailed(false, QString());
            return false;
        }
        if (!writeRow(*adoDB, false, [this](Recordset &rs) { writeColumns(rs); }))
            return false;
        audit(QStringLiteral("E "), m_keyEdit->text().trimmed());
        m_busy = false;
        m_modified = false;
        showRecord();
        return true;
    } catch (...) {
        zq::logCaught("saving a record");
        m_busy = false;
        svc::PlaySoundError();
        return false;
    }
}

bool MaintenanceWindow::reloadList()
{
    const bool busy = m_busy;
    m_busy = true;
    adoDB->close();
    const bool ok = zq::data::RunQuery(adoDB, listStatement(), 0) == 1;
    m_busy = busy;
    return ok;
}

void MaintenanceWindow::btnSearchClick()
{
    svc::SelectFormLanguage(this, kSection);
    if (m_mode != ViewMode) {
        svc::PlaySoundError();
        return;
    }
    svc::PlaySoundOk();
    m_busy = true;
    if (!svc::entries().ShowSearchDataForm)
        reloadList();
    else
        svc::ShowSearchDataForm(adoDB, m_spec.searchStatement);
    if (adoDB->isOpen())
        adoDB->first();
    enterMode(ViewMode);
    showRecord();
}

void MaintenanceWindow::btnAddClick()
{
    if (!adoDB->isOpen())
        return;
    if (m_mode == AddMode) {
        svc::PlaySoundError();
        return;
    }
    if (m_mode == EditMode && !leaveCheck())
        return;
    svc::PlaySoundOk();
    enterMode(AddMode);
}

void MaintenanceWindow::btnEditClick()
{
    if (!adoDB->isOpen() || adoDB->isEmpty()) {
        svc::PlaySoundError();
        return;
    }
    switch (m_mode) {
    case AddMode:
        if (leaveCheck()) {
            svc::PlaySoundOk();
            enterMode(EditMode);
            showRecord();
        }
        break;
    case EditMode:
        if (leaveCheck()) {
            svc::PlaySoundOk();
            enterMode(ViewMode);
            showRecord();
        }
        break;
    case ViewMode:
        svc::PlaySoundOk();
        enterMode(EditMode);
        showRecord();
        break;
    }
}

void MaintenanceWindow::btnDeleteClick()
{
    if (m_mode == AddMode) {
        svc::PlaySoundError();
        return;
    }
    try {
        if (adoDB->isOpen() && !adoDB->isEmpty() && zq::data::CheckConnection() == 1) {
            const QString stored = currentListKey();
            const QString key = stored.trimmed();
            if (zq::data::RunQuery(adqTmp, inUseStatement(stored), 0) == 1 && !adqTmp->isEmpty()) {
                adqTmp->close();
                svc::PlaySoundError();
                svc::SelectFormLanguage(this, kSection);
                svc::ShowMessageBox(m_spec.msgInUse, kCaption, StyleError);
            } else {
                svc::PlaySoundQuestion();
                svc::SelectFormLanguage(this, kSection);
                if (svc::ShowMessageBox(QStringLiteral("DeleteRecord"), kCaption, StyleQuestion)
                    == Yes) {
                    try {
                        adoDB->deleteCurrent();
                    } catch (const zq::data::DbError &) {
                        tellWriteFailure(adoDB->connection());
                        adqTmp->close();
                        return;
                    }
                    audit(QStringLiteral("D "), key);
                    enterMode(ViewMode);
                    showRecord();
                }
            }
        } else {
            svc::PlaySoundError();
        }
    } catch (...) {
        zq::logCaught("deleting a record");
        // Nothing was deleted; the list still shows the row.
        svc::PlaySoundError();
    }
    adqTmp->close();
}

void MaintenanceWindow::btnOkClick()
{
    trimInput();
    if (!(m_mode == AddMode || (m_mode == EditMode && adoDB->isOpen()))) {
        svc::PlaySoundError();
        return;
    }
    if (m_keyEdit->text().trimmed().isEmpty() || m_nameEdit->text().trimmed().isEmpty()) {
        svc::SelectFormLanguage(this, kSection);
        svc::PlaySoundQuestion();
        const bool keyMissing = m_keyEdit->text().trimmed().isEmpty();
        svc::ShowMessageBox(
            keyMissing ? m_spec.msgInputKey : m_spec.msgInputName, kCaption, StyleInfo);
        m_ui.pcData->setCurrentWidget(m_ui.tsData);
        (keyMissing ? m_keyEdit : m_nameEdit)->setFocus();
        return;
    }
    // The OK sound follows the save: a failed one plays the error sound instead.
    if (m_mode == AddMode) {
        if (insertRecord()) {
            svc::PlaySoundOk();
            enterMode(ViewMode);
        }
    } else if (updateRecord()) {
        svc::PlaySoundOk();
        enterMode(EditMode);
    }
}

void MaintenanceWindow::btnCancelClick()
{
    if (m_mode == AddMode || m_mode == EditMode) {
        svc::PlaySoundOk();
        enterMode(ViewMode);
        showRecord();
    } else {
        svc::PlaySoundError();
    }
}

void MaintenanceWindow::btnRefreshClick()
{
    if (!leaveCheck())
        return;
    svc::PlaySoundOk();
    m_busy = true;
    reloadList();
    m_busy = false;
    m_modified = false;
    enterMode(ViewMode);
    showRecord();
}

void MaintenanceWindow::btnOutputClick()
{
    svc::PlaySoundOk();
}

void MaintenanceWindow::navigate(int where)
{
    if (!adoDB->isOpen()) {
        svc::PlaySoundError();
        return;
    }
    if (!adoDB->isEmpty() && m_mode == EditMode && !leaveCheck())
        return;
    svc::PlaySoundOk();
    switch (where) {
    case 0:
        adoDB->first();
        break;
    case 1:
        adoDB->prior();
        break;
    case 2:
        adoDB->next();
        break;
    default:
        adoDB->last();
        break;
    }
}

void MaintenanceWindow::dgViewTitleClick(int column)
{
    if (!adoDB->isOpen() || adoDB->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString field = dsDB->fieldOfColumn(column);
    try {
        if (adoDB->sort().contains(QLatin1String("DESC")))
            adoDB->setSort(field);
        else
            adoDB->setSort(field + QStringLiteral(" DESC"));
    } catch (...) {
        zq::logCaught("sorting the list");
        sortFailed();
    }
    QApplication::restoreOverrideCursor();
}

void MaintenanceWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    svc::SetupFormLanguage(this, kSection);
    // Column titles are function texts named by their fields; an untranslated field keeps
    // its name.
    QStringList titles;
    for (const QString &field : std::as_const(m_spec.gridColumns))
        titles << svc::GetFunctionString(field);
    dsDB->setHeaderTitles(titles);
    svc::GetDBGridView(m_ui.dgView, m_spec.gridLayoutKey);
    svc::PlaySoundOpen();
}

void MaintenanceWindow::closeEvent(QCloseEvent *event)
{
    QCoreApplication::processEvents();
    svc::SetDBGridView(m_ui.dgView, m_spec.gridLayoutKey);
    zq::data::BindFormDataSets(this, 1);
    svc::PlaySoundClose();
    event->accept();
}

bool MaintenanceWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == m_ui.dgView && key->key() == Qt::Key_Delete) {
            QToolButton *del = m_ui.button(QStringLiteral("btnDelete"));
            if (del && del->isEnabled())
                btnDeleteClick();
            return true;
        }
        if (qobject_cast<QLineEdit *>(watched)) {
            if (key->key() == Qt::Key_PageDown) {
                btnNextClick();
                return true;
            }
            if (key->key() == Qt::Key_PageUp) {
                btnPrevClick();
                return true;
            }
        }
    } else if (event->type() == QEvent::Wheel && watched == m_ui.dgView->viewport()) {
        if (!adoDB->isOpen())
            return false;
        const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
        try {
            if (delta < 0)
                btnNextClick();
            else if (delta > 0)
                btnPrevClick();
        } catch (...) {
            zq::logCaught("moving with the mouse wheel");
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zq::forms
