// zqtransfer sync-ldap: the directory as a second source of the import engine.
#include "TransferTool.h"

#include "DirectorySync.h"
#include "HolderImport.h"
#include "RefusalReport.h"
#include "Services.h"
#include "SiteAccess.h"

#include <QSaveFile>

namespace {

// The refusal report of a sync: the file import's columns and the entry's DN.
bool writeRefusals(QSaveFile &file, const QList<DirectoryRefusal> &refusals)
{
    using zq::transfer::RefusalReportWriter;
    QByteArray text = RefusalReportWriter::csvLine(zq::transfer::refusalReportHeader()
                                                   << QStringLiteral("DN"))
                          .toUtf8()
                      + "\r\n";
    for (const DirectoryRefusal &r : refusals)
        text += RefusalReportWriter::csvLine(
                    {QString::number(r.entry), r.holderNo, r.code, r.text, r.dn})
                    .toUtf8()
                + "\r\n";
    return file.write(text) == text.size() && file.commit();
}

} // namespace

int TransferTool::runSync()
{
    std::unique_ptr<QSaveFile> report;
    if (!m_options.refusals.isEmpty()) {
        report = std::make_unique<QSaveFile>(m_options.refusals);
        // The report names people: a new one is its owner's alone.
        if (!zq::site::openPrivate(*report))
            return fail(tr("CannotWriteReport").arg(m_options.refusals, report->errorString()));
    }
    DirectorySync sync(m_options.sync, m_out, m_err);
    if (!sync.connect())
        return fail(sync.error());
    QString why;
    if (!openDatabase(why) || !loadSuite(why))
        return fail(why);
    if (zq::services::GetProgramRight(zq::transfer::HolderImport::auditKey()) == 0)
        return fail(tr("NoImportRight").arg(m_options.user));
    const int status = sync.run(m_connection);
    if (status == NothingDone && sync.counts().entries == 0 && !sync.error().isEmpty()
        && sync.refusals().isEmpty()) {
        printLine(m_out, sync.json());
        return fail(sync.error());
    }
    if (m_options.dryRun)
        printLine(m_out, tr("DryRun"));
    const bool reportWritten = !report || writeRefusals(*report, sync.refusals());
    for (const DirectoryRefusal &r : sync.refusals())
        if (!report)
            printLine(m_err,
                      QStringLiteral("zqtransfer: refused entry %1 (%2): %3")
                          .arg(r.entry)
                          .arg(r.dn, r.text));
    printLine(m_out, sync.json());
    if (status == NothingDone)
        return fail(sync.error());
    if (!reportWritten)
        return fail(QStringLiteral("the refusal report %1 cannot be written: %2")
                        .arg(m_options.refusals, report->errorString()));
    if (sync.counts().refused > 0)
        printLine(
            m_err,
            QStringLiteral("zqtransfer: %1 entries refused%2")
                .arg(sync.counts().refused)
                .arg(report ? QStringLiteral(", listed in ") + m_options.refusals : QString()));
    return status;
}
