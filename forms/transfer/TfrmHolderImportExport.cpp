#include "TfrmHolderImportExport.h"

#include "TransferLog.h"

#include "Connection.h"
#include "FormatPanel.h"
#include "Helpers.h"
#include "HolderExport.h"
#include "HolderImport.h"
#include "HolderImportFile.h"
#include "Recordset.h"
#include "Services.h"
#include "TfrmImportPreview.h"
#include "TfrmImportRefusals.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookReader.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Connection;
using zq::data::Recordset;

namespace {
const QString kCaption = QStringLiteral("SystemMessage");
const QString kClass = QStringLiteral("TfrmHolderImportExport");
constexpr int kInformation = 64;
constexpr int kError = 16;
constexpr qint64 kRepaintMs = 150;

bool isWorkbookType(const zq::platform::FileChoice &choice)
{
    return choice.fileType == 1;
}
} // namespace

TfrmHolderImportExport::TfrmHolderImportExport(int rights, QWidget *parent)
    : QWidget(parent)
    , adqDepartment(new Recordset(QStringLiteral("adqDepartment"), this))
    , adqHolder(new Recordset(QStringLiteral("adqHolder"), this))
    , adqTmp(new Recordset(QStringLiteral("adqTmp"), this))
    , m_rights(rights)
{
    setObjectName(QStringLiteral("frmHolderImportExport"));
    setProperty("zq.formClass", kClass);
    setWindowTitle(QStringLiteral("Holder Import/Export"));
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    buildLayout();
    setFixedSize(525, 560);

    connect(
        btnExportPath, &QPushButton::clicked, this, &TfrmHolderImportExport::btnExportPathClick);
    connect(
        btnExportFile, &QPushButton::clicked, this, &TfrmHolderImportExport::btnExportFileClick);
    connect(btnExport, &QPushButton::clicked, this, &TfrmHolderImportExport::btnExportClick);
    connect(btnExportClose, &QPushButton::clicked, this, &QWidget::close);
    connect(
        btnImportFile, &QPushButton::clicked, this, &TfrmHolderImportExport::btnImportFileClick);
    connect(btnImport, &QPushButton::clicked, this, &TfrmHolderImportExport::btnImportClick);
    connect(btnPreview, &QPushButton::clicked, this, &TfrmHolderImportExport::btnPreviewClick);
    connect(btnRefusals, &QPushButton::clicked, this, &TfrmHolderImportExport::btnRefusalsClick);
    connect(btnImportClose, &QPushButton::clicked, this, &QWidget::close);
    connect(rbAll, &QRadioButton::clicked, this, &TfrmHolderImportExport::rbAllClick);
    connect(rbDepartment, &QRadioButton::clicked, this, &TfrmHolderImportExport::rbDepartmentClick);
    connect(pcData, &QTabWidget::currentChanged, this, &TfrmHolderImportExport::pageShown);
    connect(gbFormat, &FormatPanel::touched, this, &TfrmHolderImportExport::resetProgress);
    connect(gbFormat, &FormatPanel::orderChanged, this, [this] {
        m_columnOrder = gbFormat->columnOrder();
    });
    connect(tmrTime, &QTimer::timeout, this, [this] {
        tmrTime->stop();
        pcData->setEnabled(true);
    });
    formCreate();
}

TfrmHolderImportExport::~TfrmHolderImportExport() = default;

QString TfrmHolderImportExport::defaultPath()
{
    // The site folder stands where the file dialogs' default drive stood: always there
    // and writable.
    QString folder = svc::GetProgramPath();
    if (folder.isEmpty())
        folder = QDir::homePath() + QLatin1Char('/');
    return folder + QStringLiteral("Holder.txt");
}

QStringList TfrmHolderImportExport::fileTypes()
{
    return {svc::GetFunctionString(QStringLiteral("TextFiles")) + QStringLiteral(" (*.txt)"),
            svc::GetFunctionString(QStringLiteral("WorkbookFiles"))
                + QStringLiteral(" (*.xlsx *.xls)")};
}

void TfrmHolderImportExport::formCreate()
{
    zq::data::BindFormDataSets(this, 0);
    fillDepartments();
    cbxSpaceChar->setCurrentIndex(0);
    cbxExportSpaceChar->setCurrentIndex(0);
    chkPunchCard->setChecked(false);
    btnExport->setEnabled(zq::transfer::exportAllowed(m_rights));
    rbAllClick();
    m_saveDialog.save = true;
    m_openDialog.save = false;
}

void TfrmHolderImportExport::fillDepartments()
{
    cbxDepartment->clear();
    const QString user = svc::GetLoginUserID();
    m_supervisor = false;
    if (zq::data::RunQuery(adqDepartment,
                           QStringLiteral(" Select * From UserData WHERE UserID = ")
                               + Connection::quoted(user) + QStringLiteral(" "),
                           0)
        == 1) {
        try {
            m_supervisor = !adqDepartment->isEmpty()
                           && adqDepartment->value(QStringLiteral("Supervisor")).toInt() == 1;
        } catch (const std::exception &e) {
            // A site without the column: the user is no supervisor, and the window opens.
            qCWarning(zq::transfer::lcTransfer) << "cannot read the supervisor flag:" << e.what();
        }
    }
    // A supervisor is limited by no rights rows: he is offered every department, each once.
    const QString sql = m_supervisor
                            ? QStringLiteral("SELECT * FROM DepartmentData ORDER BY DepartmentNo")
                            : QStringLiteral("SELECT * FROM UserRightDept T2,DepartmentData T1  ")
                                  + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo  ")
                                  + QStringLiteral("    AND T2.UserID = ")
                                  + Connection::quoted(user) + QStringLiteral("          ")
                                  + QStringLiteral("ORDER BY T1.DepartmentNo");
    if (zq::data::RunQuery(adqDepartment, sql, 0) == 1) {
        try {
            const int column = adqDepartment->fieldIndex(QStringLiteral("DepartmentName"));
            for (int row = 0; row < adqDepartment->recordCount(); ++row)
                cbxDepartment->addItem(
                    Recordset::textOf(adqDepartment->valueAt(row, column)).trimmed());
        } catch (const std::exception &e) {
            // The list keeps the departments read so far; the window stays usable.
            qCWarning(zq::transfer::lcTransfer) << "cannot list the departments:" << e.what();
        }
    }
    adqDepartment->close();
    if (cbxDepartment->count() > 0)
        cbxDepartment->setCurrentIndex(0);
}

void TfrmHolderImportExport::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget())) {
        // Minimise is the frame's only button; closing goes through the Close buttons.
        const QPoint at = frame->pos();
        frame->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
        frame->adjustSize();
        frame->move(at);
        frame->show();
    }
    svc::SetupFormLanguage(this);
    for (zq::platform::FileChoice *dialog : {&m_saveDialog, &m_openDialog}) {
        dialog->fileTypes = fileTypes();
        dialog->fileType = 0;
        dialog->fileName = defaultPath();
        dialog->folder = QFileInfo(defaultPath()).absolutePath();
    }
    pcData->setCurrentWidget(tsExport);
    btnExportPathClick();
    gbFormat->selectRow(gbFormat->rowOf(u'1'));
    m_columnOrder = gbFormat->columnOrder();
    gbFormat->setClicksEnabled(true);
    svc::PlaySoundOpen();
}

void TfrmHolderImportExport::closeEvent(QCloseEvent *event)
{
    // An operation lets events run between rows; the window must outlive it.
    if (m_busy) {
        event->ignore();
        return;
    }
    zq::data::BindFormDataSets(this, 1);
    svc::PlaySoundClose();
    event->accept();
}

void TfrmHolderImportExport::pageShown(int index)
{
    QVBoxLayout *slot = pcData->widget(index) == tsImport ? m_importFormatSlot : m_exportFormatSlot;
    if (gbFormat->parentWidget() != pcData->widget(index)) {
        gbFormat->setParent(pcData->widget(index));
        slot->addWidget(gbFormat);
        gbFormat->show();
    }
    m_columnOrder = gbFormat->columnOrder();
}

void TfrmHolderImportExport::rbAllClick()
{
    QPalette p = cbxDepartment->palette();
    const QColor sky(0xA6, 0xCA, 0xF0);
    p.setColor(QPalette::Base, sky);
    p.setColor(QPalette::Button, sky);
    cbxDepartment->setPalette(p);
}

void TfrmHolderImportExport::rbDepartmentClick()
{
    QPalette p = cbxDepartment->palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Button, Qt::white);
    cbxDepartment->setPalette(p);
}

void TfrmHolderImportExport::resetProgress()
{
    for (QProgressBar *bar : {pbExportProcess, pbImportProcess}) {
        bar->setRange(0, 1);
        bar->setValue(0);
    }
}

void TfrmHolderImportExport::btnExportPathClick()
{
    svc::PlaySoundClick();
    pbExportProcess->setRange(0, 1);
    pbExportProcess->setValue(0);
    m_exportPath = defaultPath();
    m_importPath = defaultPath();
    edExportFile->setText(m_exportPath);
    edImportFile->setText(m_importPath);
}

void TfrmHolderImportExport::btnExportFileClick()
{
    pcData->setEnabled(false);
    svc::PlaySoundClick();
    pbExportProcess->setRange(0, 1);
    pbExportProcess->setValue(0);
    if (m_saveDialog.fileName.isEmpty()) {
        m_saveDialog.fileType = 0;
        m_saveDialog.fileName = QStringLiteral("Holder.txt");
    } else {
        // The name as the last file was written, extension and all.
        m_saveDialog.fileName = QFileInfo(m_saveDialog.fileName).fileName();
    }
    const QString chosen = zq::platform::chooseFile(this, m_saveDialog);
    if (!chosen.isEmpty()) {
        QString path = chosen;
        const QString upper = path.toUpper();
        if (isWorkbookType(m_saveDialog) && !upper.contains(QLatin1String("XLS")))
            path += QStringLiteral(".xlsx");
        else if (!isWorkbookType(m_saveDialog) && !upper.contains(QLatin1String("TXT")))
            path += QStringLiteral(".txt");
        m_exportPath = path;
        m_saveDialog.fileName = path;
        m_saveDialog.folder = QFileInfo(chosen).absolutePath();
        edExportFile->setText(m_exportPath);
    } else {
        m_saveDialog.fileName = defaultPath();
    }
    tmrTime->start();
}

void TfrmHolderImportExport::btnImportFileClick()
{
    pcData->setEnabled(false);
    svc::PlaySoundClick();
    pbImportProcess->setRange(0, 1);
    pbImportProcess->setValue(0);
    edImportFile->clear();
    m_importPath.clear();
    m_openDialog.fileName = QFileInfo(m_openDialog.fileName).fileName();
    const QString chosen = zq::platform::chooseFile(this, m_openDialog);
    if (!chosen.isEmpty()) {
        m_importPath = chosen;
        m_openDialog.fileName = chosen;
        m_openDialog.folder = QFileInfo(chosen).absolutePath();
        edImportFile->setText(m_importPath);
    }
    tmrTime->start();
}

void TfrmHolderImportExport::setBusy(bool busy)
{
    m_busy = busy;
    pcData->setEnabled(!busy);
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmHolderImportExport::finishOperation()
{
    adqTmp->close();
    adqHolder->close();
    adqDepartment->close();
    setBusy(false);
    QCoreApplication::processEvents();
}

void TfrmHolderImportExport::advance(QProgressBar *bar,
                                     int value,
                                     bool force,
                                     const std::function<void()> &beforeRepaint)
{
    bar->setValue(qMin(value, bar->maximum()));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!force && now - m_lastRepaint < kRepaintMs)
        return;
    m_lastRepaint = now;
    if (beforeRepaint)
        beforeRepaint();
    bar->repaint();
    if (m_progress != 0) {
        if (value > m_progressAt)
            svc::IncProcessFormPosition(m_progress, value - m_progressAt);
        m_progressAt = qMax(m_progressAt, value);
        if (svc::CancelProcessForm(m_progress) != 0) {
            // The progress window is gone with the cancel.
            m_progress = 0;
            m_cancelled = true;
        }
    }
    QCoreApplication::processEvents();
}

void TfrmHolderImportExport::openProgress(int total, const QString &messageKey)
{
    m_progressAt = 0;
    svc::SelectFormLanguage(this);
    m_progress = svc::ShowProcessForm(0, total, svc::GetMessageString(messageKey));
}

void TfrmHolderImportExport::closeProgress()
{
    if (m_progress != 0)
        svc::CloseProcessForm(m_progress);
    m_progress = 0;
}

void TfrmHolderImportExport::message(const QString &key, int style)
{
    svc::SelectFormLanguage(this);
    svc::ShowMessageBox(key, kCaption, style);
}

void TfrmHolderImportExport::btnExportClick()
{
    if (m_busy)
        return;
    svc::PlaySoundClick();
    const QString path = edExportFile->text();
    if (QFileInfo::exists(path))
        QFile::remove(path);
    setBusy(true);
    pbExportProcess->setRange(0, 1);
    pbExportProcess->setValue(0);

    zq::transfer::ExportRequest request;
    request.allDepartments = !rbDepartment->isChecked();
    request.punchCardOnly = chkPunchCard->isChecked();
    request.userId = svc::GetLoginUserID();
    request.supervisor = m_supervisor;
    if (!request.allDepartments) {
        const QString name = cbxDepartment->currentText().trimmed();
        bool found = false;
        if (zq::data::RunQuery(adqDepartment,
                               QStringLiteral("SELECT * FROM DepartmentData ORDER BY DepartmentNo"),
                               0)
            == 1) {
            const int nameColumn = adqDepartment->fieldIndex(QStringLiteral("DepartmentName"));
            const int noColumn = adqDepartment->fieldIndex(QStringLiteral("DepartmentNo"));
            for (int row = 0; row < adqDepartment->recordCount() && !found; ++row) {
                if (Recordset::textOf(adqDepartment->valueAt(row, nameColumn)).trimmed() == name) {
                    request.departmentNo = Recordset::textOf(adqDepartment->valueAt(row, noColumn))
                                               .trimmed();
                    found = true;
                }
            }
        }
        if (!found) {
            finishOperation();
            return;
        }
    }
    zq::transfer::HolderExport holders(
        adqHolder->connection(), request, m_columnOrder, zq::transfer::transferDateFormat());
    if (!holders.open() || holders.rowCount() == 0) {
        pbExportProcess->setValue(pbExportProcess->maximum());
        message(QStringLiteral("ExportNoData"), kInformation);
        finishOperation();
        return;
    }
    pbExportProcess->setRange(0, holders.rowCount());
    pbExportProcess->setValue(1);
    m_lastRepaint = 0;
    m_cancelled = false;
    openProgress(holders.rowCount(), QStringLiteral("Exporting"));
    const auto progress = [this](int done) {
        advance(pbExportProcess, done);
        return !m_cancelled;
    };
    QString error;
    bool ok = false;
    const bool workbook = isWorkbookType(m_saveDialog);
    if (workbook) {
        ok = zq::transfer::writeWorkbook(holders, path, progress, error);
    } else {
        const QString separators = zq::transfer::transferSeparators();
        const int entry = cbxExportSpaceChar->currentIndex();
        const QChar separator = entry >= 0 && entry < separators.size() ? separators.at(entry)
                                                                        : u',';
        ok = zq::transfer::writeTextFile(holders, path, progress, error, separator);
    }
    closeProgress();
    pbExportProcess->setValue(pbExportProcess->maximum());
    if (ok)
        message(QStringLiteral("ExportComplete"), kInformation);
    else if (m_cancelled)
        message(QStringLiteral("ExportCancelled"), kInformation); // no file is left
    else if (workbook)
        message(QStringLiteral("Error!! ") + error, kError);
    else
        message(QStringLiteral("OpenExportFileError"), kError);
    finishOperation();
}

void TfrmHolderImportExport::btnImportClick()
{
    if (m_busy)
        return;
    svc::PlaySoundClick();
    runImport(false);
}

void TfrmHolderImportExport::btnPreviewClick()
{
    if (m_busy)
        return;
    svc::PlaySoundClick();
    runImport(true);
}

void TfrmHolderImportExport::btnRefusalsClick()
{
    svc::PlaySoundClick();
    TfrmImportRefusals list(m_refusals, this);
    list.exec();
}

void TfrmHolderImportExport::runImport(bool dryRun)
{
    const QString path = edImportFile->text();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        svc::ShowMessageBox(QStringLiteral("The File Does Not Exist!"), kCaption, kError);
        return;
    }
    setBusy(true);
    QCoreApplication::processEvents();

    zq::transfer::ImportOptions options;
    const QString separators = zq::transfer::transferSeparators();
    const int entry = cbxSpaceChar->currentIndex();
    options.separator = entry >= 0 && entry < separators.size() ? separators.at(entry) : u',';
    options.userId = svc::GetLoginUserID();
    options.columnOrder = m_columnOrder;
    options.cover = chkHolderCover->isChecked();
    options.today = QDate::currentDate();
    options.dateFormat = zq::transfer::transferDateFormat();
    options.dryRun = dryRun;
    const bool workbook = isWorkbookType(m_openDialog);
    if (workbook)
        options.separator = u',';
    zq::transfer::HolderImport run(adqHolder->connection(), options);
    if (!run.start()) {
        pbImportProcess->setValue(pbImportProcess->maximum());
        Connection *c = adqHolder->connection();
        if (run.isBusy())
            message(QStringLiteral("DatabaseBusy"), kError);
        else
            message(QStringLiteral("Error!! ")
                        + zq::transfer::oneLine(c && !c->errors().isEmpty()
                                                    ? c->errors().constFirst().text
                                                    : QString()),
                    kError);
        finishOperation();
        return;
    }
    const bool judged = workbook ? importWorkbook(path, run) : importText(path, run);
    finishOperation();
    if (!dryRun) {
        showImportResult(run);
        return;
    }
    if (!judged)
        return;
    // Only the reading held the database; the operator decides with nothing held.
    TfrmImportPreview preview(run, this);
    if (preview.exec() == QDialog::Accepted)
        runImport(false);
}

void TfrmHolderImportExport::showImportResult(const zq::transfer::HolderImport &run)
{
    m_refusals = run.refusals();
    lblImportResult->setText(svc::GetFunctionString(QStringLiteral("ImportResult"))
                                 .arg(run.stored())
                                 .arg(run.count(zq::transfer::HolderImport::Outcome::Failed)));
    btnRefusals->setEnabled(!m_refusals.isEmpty());
}

bool TfrmHolderImportExport::importText(const QString &path, zq::transfer::HolderImport &run)
{
    return runImportFile(path, zq::transfer::ImportFileKind::Text, run);
}

bool TfrmHolderImportExport::importWorkbook(const QString &path, zq::transfer::HolderImport &run)
{
    return runImportFile(path, zq::transfer::ImportFileKind::Workbook, run);
}

bool TfrmHolderImportExport::runImportFile(const QString &path,
                                           zq::transfer::ImportFileKind kind,
                                           zq::transfer::HolderImport &run)
{
    using zq::transfer::ImportFileResult;
    const bool workbook = kind == zq::transfer::ImportFileKind::Workbook;
    pbImportProcess->setRange(0, 1);
    pbImportProcess->setValue(0);
    m_lastRepaint = 0;
    m_cancelled = false;
    // A text file's progress goes in kilobytes: its line count is not known ahead.
    // The holders being written are waited for only when events are let run, a few times a
    // second: the database may be used by them.
    const auto settle = [&run] { run.settle(); };
    const auto progress = [this, workbook, &settle](qint64 done, qint64 total) {
        const qint64 unit = workbook ? 1 : 1024;
        const int most = int(qMax<qint64>(1, total / unit));
        if (pbImportProcess->maximum() != most)
            pbImportProcess->setRange(0, most);
        if (m_progress == 0 && !m_cancelled) {
            settle();
            openProgress(most, QStringLiteral("Importing"));
        }
        advance(pbImportProcess, int(done / unit), false, settle);
        return !m_cancelled;
    };
    const ImportFileResult result = zq::transfer::importFile(
        run, path, kind, progress, zq::transfer::ProgressAccess::Settles);
    closeProgress();
    QCoreApplication::processEvents();
    pbImportProcess->setValue(pbImportProcess->maximum());
    svc::SelectFormLanguage(this);
    const QString stored = QLatin1Char('\n')
                           + svc::GetMessageString(QStringLiteral("ImportStoredLines"))
                                 .replace(QStringLiteral("%1"), QString::number(run.storedLines()));
    switch (result.status) {
    case ImportFileResult::Status::Complete:
        // A dry run's end is its preview.
        if (!run.options().dryRun)
            message(QStringLiteral("ImportComplete"), kInformation);
        return true;
    case ImportFileResult::Status::Cancelled:
        if (!run.options().dryRun)
            message(svc::GetMessageString(QStringLiteral("ImportCancelled")) + stored,
                    kInformation);
        return false;
    case ImportFileResult::Status::Unreadable:
        // A text file that cannot be read ends the import without a message.
        if (workbook)
            message(QStringLiteral("Error!! ") + result.error + stored, kError);
        break;
    case ImportFileResult::Status::Lost:
        message(svc::GetMessageString(QStringLiteral("LinkLost")) + stored, kError);
        break;
    case ImportFileResult::Status::Busy:
        message(svc::GetMessageString(QStringLiteral("ImportDatabaseBusy")) + stored, kError);
        break;
    case ImportFileResult::Status::Empty:
        message(QStringLiteral("ImportFileEmpty"), kError);
        break;
    case ImportFileResult::Status::NotText:
        message(QStringLiteral("ImportFileNotText"), kError);
        break;
    case ImportFileResult::Status::NotStored:
        message(QStringLiteral("Error!! ") + zq::transfer::oneLine(result.error) + stored, kError);
        break;
    }
    return false;
}

} // namespace zq::forms
