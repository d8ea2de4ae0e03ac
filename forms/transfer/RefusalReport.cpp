#include "RefusalReport.h"

#include "Services.h"

#include <QFileInfo>

namespace zq::transfer {

QStringList refusalReportHeader()
{
    namespace svc = zq::services;
    return {svc::GetFunctionString(QStringLiteral("RefusalLine")),
            svc::GetFunctionString(QStringLiteral("HolderNo")),
            svc::GetFunctionString(QStringLiteral("RefusalCode")),
            svc::GetFunctionString(QStringLiteral("RefusalReason"))};
}

QStringList refusalReportRow(const Refusal &refusal)
{
    return {QString::number(refusal.line),
            refusal.holderNo,
            refusalCode(refusal.reason),
            refusalText(refusal)};
}

RefusalReportWriter::RefusalReportWriter(const QString &path)
    : m_file(path)
{}

bool RefusalReportWriter::open()
{
    // The report names holders: a new one is its owner's alone, a replaced one keeps its mode.
    const bool replaces = QFileInfo::exists(m_file.fileName());
    if (!m_file.open(QIODevice::WriteOnly))
        return false;
    if (!replaces)
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

QString RefusalReportWriter::csvLine(const QStringList &fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        QString field = fields.at(i);
        // A NUL read from a file would end the line for many readers: it is shown, not kept.
        field.replace(QChar(0), QStringLiteral("\\0"));
        if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
            || field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'))) {
            field.replace(QLatin1String("\""), QLatin1String("\"\""));
            field = QLatin1Char('"') + field + QLatin1Char('"');
        }
        line += field;
    }
    return line;
}

bool RefusalReportWriter::write(const QList<Refusal> &refusals)
{
    QByteArray bytes = csvLine(refusalReportHeader()).toUtf8() + "\r\n";
    for (const Refusal &r : refusals) {
        bytes += csvLine(refusalReportRow(r)).toUtf8();
        bytes += "\r\n";
        if (bytes.size() >= 256 * 1024) {
            m_failed = m_failed || m_file.write(bytes) != bytes.size();
            bytes.clear();
        }
    }
    m_failed = m_failed || m_file.write(bytes) != bytes.size();
    return !m_failed;
}

bool RefusalReportWriter::commit()
{
    if (m_failed) {
        m_file.cancelWriting();
        m_file.commit();
        return false;
    }
    return m_file.commit();
}

} // namespace zq::transfer
