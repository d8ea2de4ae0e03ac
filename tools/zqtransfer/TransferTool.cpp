#include "TransferTool.h"

#include "Connection.h"
#include "Conninfo.h"
#include "HolderExport.h"
#include "HolderImport.h"
#include "HolderImportFile.h"
#include "RefusalReport.h"
#include "Services.h"
#include "SiteAccess.h"
#include "TransferFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QStandardPaths>

#include <memory>
#include <utility>

namespace svc = zq::services;
using zq::data::Connection;
using zq::transfer::HolderImport;

namespace {

// The language files: the environment's choice, else the installed ones beside the binary
// (<prefix>/bin -> <prefix>/share/zqholder/lang), else, for the binary of the build tree,
// the source folder; the same rule as the host's.
QString languageFolder()
{
    const QString env = qEnvironmentVariable("ZQ_LANG_DIR");
    if (!env.isEmpty())
        return QDir(env).absolutePath() + '/';
    const QString appDir = QCoreApplication::applicationDirPath();
    const QDir installed(appDir + QStringLiteral("/../share/zqholder/lang"));
    if (installed.exists())
        return installed.absolutePath() + '/';
    if (QDir(appDir) == QDir(QStringLiteral(ZQ_TOOL_BUILD_DIR)))
        return QStringLiteral(ZQ_HOST_LANG_DIR);
    return {};
}

QString json(const HolderImport &run)
{
    using Outcome = HolderImport::Outcome;
    return QStringLiteral("{\"stored\":%1, \"new\":%2, \"overwritten\":%3, \"kept\":%4, "
                          "\"refused\":%5, \"codes_created\":%6")
               .arg(run.stored())
               .arg(run.count(Outcome::Inserted))
               .arg(run.count(Outcome::Updated))
               .arg(run.count(Outcome::Kept))
               .arg(run.count(Outcome::Failed))
               .arg(run.createdCodes().size())
           + (run.count(Outcome::Lost) > 0
                  ? QStringLiteral(", \"not_stored\":%1}").arg(run.count(Outcome::Lost))
                  : QStringLiteral("}"));
}

// The first and last line judged storable that a batch took with it when it did not commit.
std::pair<qint64, qint64> notStoredRange(const HolderImport &run)
{
    qint64 first = -1;
    qint64 last = -1;
    for (const zq::transfer::Refusal &r : run.refusals()) {
        if (zq::transfer::isRefused(r.reason))
            continue;
        if (first < 0)
            first = r.line;
        last = r.line;
    }
    return {first, last};
}

} // namespace

TransferTool::TransferTool(const ToolOptions &options, std::FILE *out, std::FILE *err)
    : m_options(options)
    , m_out(out)
    , m_err(err)
{
    m_texts.load(languageFolder(), m_options.language);
}

QString TransferTool::tr(const char *key) const
{
    return m_texts.text(key);
}

TransferTool::~TransferTool()
{
    if (m_connection) {
        m_connection->close();
        delete m_connection;
    }
}

void TransferTool::printLine(std::FILE *to, const QString &text)
{
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

int TransferTool::fail(const QString &why, int status)
{
    // One line, whatever the engine said: a server's message comes with a detail and a
    // hint on lines of their own.
    const QString line = zq::transfer::oneLine(why);
    printLine(m_err, QStringLiteral("zqtransfer: ") + line);
    if (m_options.verbose && line != why)
        printLine(m_err,
                  QStringLiteral("zqtransfer: ") + tr("WholeMessage") + QLatin1Char('\n') + why);
    return status;
}

int TransferTool::run()
{
    switch (m_options.command) {
    case ToolOptions::Command::Import:
        return runImport();
    case ToolOptions::Command::Export:
        return runExport();
    case ToolOptions::Command::SyncLdap:
        break;
    }
    return runSync();
}

bool TransferTool::openDatabase(QString &why)
{
    m_connection = new Connection;
    if (!m_options.pgConnInfo.isEmpty()) {
        m_connection->setPostgres(m_options.pgConnInfo);
    } else {
        // The tool never creates a site: a missing file is a mistyped name.
        why = zq::site::ownershipProblem(m_options.dbFile, QStringLiteral("site database"));
        if (!why.isEmpty())
            return false;
        if (!QFileInfo(m_options.dbFile).isFile()) {
            why = tr("NoSite").arg(m_options.dbFile);
            return false;
        }
        m_connection->setSQLiteFile(m_options.dbFile);
        // A dry run cannot change the file even by mistake.
        if (m_options.dryRun)
            m_connection->database().setConnectOptions(
                QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY"));
    }
    if (!m_connection->open()) {
        // The driver's message may quote what it was given; a password never shows.
        why = tr("CannotOpenSite")
                  .arg(zq::site::withoutPassword(m_connection->errors().value(0).text.trimmed(),
                                                 m_options.pgConnInfo));
        return false;
    }
    if (m_options.dryRun && m_connection->engine() == zq::data::Engine::PostgreSQL
        && !m_connection->execute(
            QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"))) {
        why = tr("ReadOnlySession").arg(m_connection->errors().value(0).text);
        return false;
    }
    if (!m_connection->hasTable(QStringLiteral("HolderData"))) {
        why = tr("NoHolderTable");
        return false;
    }
    return true;
}

bool TransferTool::loadSuite(QString &why)
{
    const QString langFolder = languageFolder();
    if (langFolder.isEmpty() || !QFileInfo::exists(langFolder + QStringLiteral("en.ini"))) {
        why = QStringLiteral("cannot find the language files (set ZQ_LANG_DIR)");
        return false;
    }
    const QString site = m_options.pgConnInfo.isEmpty()
                             ? QFileInfo(m_options.dbFile).absolutePath() + '/'
                             : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                   + QStringLiteral("/ZQHolder/");
    m_context[0] = site.toUtf8();
    m_context[1] = m_options.user.toUtf8();
    m_context[2] = m_options.language.toUtf8();
    m_context[3] = langFolder.toUtf8();
    const ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                                 m_connection,
                                 m_context[0].constData(),
                                 m_context[1].constData(),
                                 m_context[2].constData(),
                                 m_context[3].constData(),
                                 "",
                                 ""};
    if (!m_suite.loadSuite(QString(), context)) {
        why = tr("CannotLoadSuite").arg(m_suite.error());
        return false;
    }
    intptr_t handles[6];
    m_suite.handles(handles);
    svc::bind(handles);
    return true;
}

int TransferTool::runImport()
{
    // The report's folder is proved writable before anything else happens.
    std::unique_ptr<zq::transfer::RefusalReportWriter> report;
    if (!m_options.refusals.isEmpty()) {
        report = std::make_unique<zq::transfer::RefusalReportWriter>(m_options.refusals);
        if (!report->open())
            return fail(tr("CannotWriteReport").arg(m_options.refusals, report->errorString()));
    }
    QFile file(m_options.file);
    if (!QFileInfo(m_options.file).isFile() || !file.open(QIODevice::ReadOnly))
        return fail(
            tr("CannotRead")
                .arg(m_options.file,
                     QFileInfo::exists(m_options.file) ? file.errorString() : tr("NoSuchFile")));
    file.close();
    QString why;
    if (!openDatabase(why) || !loadSuite(why))
        return fail(why);
    if (svc::GetProgramRight(HolderImport::auditKey()) == 0)
        return fail(tr("NoImportRight").arg(m_options.user));

    const zq::transfer::ImportFileKind kind = zq::transfer::importFileKind(m_options.file);
    HolderImport run(m_connection, importOptions(kind));
    if (!run.start()) {
        printLine(m_out, json(run));
        if (run.isBusy())
            return fail(tr("Busy").arg(run.errorText()));
        return fail(tr("CannotReadHolders")
                        .arg(run.errorText().isEmpty() ? run.databaseError() : run.errorText()));
    }

    QElapsedTimer sinceLine;
    sinceLine.start();
    const auto reportProgress = [&](int percent) {
        const int lines = run.stored() + run.count(HolderImport::Outcome::Kept)
                          + run.count(HolderImport::Outcome::Failed);
        printLine(m_err, QStringLiteral("zqtransfer: ") + tr("Progress").arg(percent).arg(lines));
    };
    const auto progress = [&](qint64 done, qint64 total) {
        if (m_options.progress && sinceLine.elapsed() >= 1000) {
            sinceLine.restart();
            reportProgress(total > 0 ? int(done * 100 / total) : 100);
        }
        return true;
    };
    // The progress lines use no database.
    const zq::transfer::ImportFileResult result = zq::transfer::importFile(
        run, m_options.file, kind, progress, zq::transfer::ProgressAccess::Settles);
    if (m_options.progress && result.status == zq::transfer::ImportFileResult::Status::Complete)
        reportProgress(100);
    if (m_options.dryRun)
        printPreview(run);
    bool reportWritten = true;
    if (report)
        reportWritten = report->write(run.refusals()) && report->commit();
    printLine(m_out, json(run));

    if (const int status = importFailure(run, result); status >= 0)
        return status;
    if (!reportWritten)
        return fail(tr("StoredReportUnwritten")
                        .arg(run.stored())
                        .arg(m_options.refusals, report->errorString()),
                    run.stored() > 0 ? SomeRefused : NothingDone);
    const int refused = run.count(HolderImport::Outcome::Failed);
    if (refused == 0)
        return AllStored;
    printLine(m_err,
              QStringLiteral("zqtransfer: ")
                  + (report ? tr("LinesRefused").arg(refused).arg(m_options.refusals)
                            : tr("LinesRefusedHint").arg(refused)));
    return SomeRefused;
}

zq::transfer::ImportOptions TransferTool::importOptions(zq::transfer::ImportFileKind kind) const
{
    zq::transfer::ImportOptions options;
    options.columnOrder = m_options.columns;
    // A workbook's rows are joined with commas, whatever the text separator.
    options.separator = kind == zq::transfer::ImportFileKind::Workbook ? u',' : m_options.delimiter;
    options.cover = m_options.overwrite;
    options.today = QDate::currentDate();
    options.dateFormat = zq::transfer::transferDateFormat();
    options.dryRun = m_options.dryRun;
    // Departments the import creates are granted to this user and every supervisor.
    options.userId = m_options.user;
    return options;
}

// The exit status of an import that ended before its file did, or -1 when it read the whole
// file. Whatever was committed stays: nothing stored is 2, some stored is 1.
int TransferTool::importFailure(const HolderImport &run,
                                const zq::transfer::ImportFileResult &result)
{
    using Status = zq::transfer::ImportFileResult::Status;
    const int status = run.stored() > 0 ? SomeRefused : NothingDone;
    QString lost;
    if (const auto [first, last] = notStoredRange(run); first >= 0)
        lost = tr("NotStoredLines")
                   .arg(run.count(HolderImport::Outcome::Lost))
                   .arg(first)
                   .arg(last);
    switch (result.status) {
    case Status::Unreadable:
        return fail(tr("CannotReadOn").arg(m_options.file, result.error).arg(run.stored()), status);
    case Status::Lost:
        return fail(tr("LinkLost").arg(run.stored()).arg(lost, result.error), status);
    case Status::NotStored:
        return fail(tr("NotCommitted").arg(run.stored()).arg(lost, result.error), status);
    case Status::Busy:
        return fail(tr("BusyStopped").arg(run.stored()).arg(lost, result.error), status);
    case Status::Empty:
        return fail(tr("FileEmpty").arg(m_options.file));
    case Status::NotText:
        return fail(tr("FileNotText").arg(m_options.file, result.error));
    case Status::Complete:
    case Status::Cancelled:
        break;
    }
    return -1;
}

void TransferTool::printPreview(const HolderImport &run)
{
    using Outcome = HolderImport::Outcome;
    printLine(m_out, tr("DryRun"));
    printLine(m_out, tr("PreviewNew").arg(run.count(Outcome::Inserted)));
    printLine(m_out, tr("PreviewOverwritten").arg(run.count(Outcome::Updated)));
    printLine(m_out, tr("PreviewKept").arg(run.count(Outcome::Kept)));
    printLine(m_out, tr("PreviewRefused").arg(run.count(Outcome::Failed)));
    for (const zq::transfer::Refusal &r : run.refusals())
        printLine(m_out,
                  tr("PreviewRefusedLine")
                      .arg(r.line)
                      .arg(zq::transfer::RefusalReportWriter::csvLine({r.holderNo}),
                           zq::transfer::refusalText(r)));
    static const char *const kinds[3] = {"KindDepartment", "KindTitle", "KindType"};
    for (const zq::transfer::CreatedCode &c : run.createdCodes())
        printLine(
            m_out,
            tr("PreviewWouldCreate")
                .arg(tr(kinds[c.table]), zq::transfer::RefusalReportWriter::csvLine({c.name})));
}

int TransferTool::runExport()
{
    const QString suffix = QFileInfo(m_options.file).suffix().toLower();
    if (suffix == QLatin1String("xls"))
        return fail(tr("XlsNotWritten"));
    const bool workbook = suffix == QLatin1String("xlsx");
    QString why;
    if (!openDatabase(why) || !loadSuite(why))
        return fail(why);
    if (!zq::transfer::exportAllowed(svc::GetProgramRight(HolderImport::auditKey())))
        return fail(tr("NoExportRight").arg(m_options.user));
    zq::transfer::ExportRequest request;
    request.allDepartments = m_options.department.isEmpty();
    request.departmentNo = m_options.department;
    request.punchCardOnly = m_options.punchCardOnly;
    request.userId = m_options.user;
    // As in the window: a supervisor exports every holder once, of any department.
    request.supervisor = zq::transfer::isSupervisor(m_connection, m_options.user);
    if (!request.allDepartments && !request.supervisor
        && !zq::transfer::holdsDepartmentRight(m_connection, m_options.user, m_options.department))
        return fail(tr("NoDepartmentRight").arg(m_options.user, m_options.department));

    zq::transfer::HolderExport holders(
        m_connection, request, m_options.columns, zq::transfer::transferDateFormat());
    if (!holders.open())
        return fail(tr("CannotReadHolders").arg(holders.errorText()));
    if (holders.rowCount() == 0) {
        // As in the window: an export without holders leaves no file behind.
        QFile::remove(m_options.file);
        printLine(m_out, QStringLiteral("{\"exported\":0}"));
        return fail(tr("NoHolders"));
    }
    QString error;
    const bool written = workbook ? zq::transfer::writeWorkbook(holders, m_options.file, {}, error)
                                  : zq::transfer::writeTextFile(
                                      holders, m_options.file, {}, error, m_options.delimiter);
    if (!written)
        return fail(tr("CannotWrite").arg(m_options.file, error));
    printLine(m_out, QStringLiteral("{\"exported\":%1}").arg(holders.rowCount()));
    return AllStored;
}
