// The site side of a directory sync: the stored holders a page is compared with, the photos
// written beside the engine's rows, and the holders the directory no longer has.
#include "Connection.h"
#include "DirectorySync.h"
#include "DirectorySyncRows.h"
#include "HolderImport.h"
#include "RefusalReport.h"
#include "Services.h"
#include "TransferFormat.h"

#include <QDateTime>
#include <QSqlError>

using zq::transfer::HolderImport;

namespace {

// The day a stored timestamp stands for: Qt's PostgreSQL driver gives a QDateTime, SQLite
// its stored text.
QDate storedDay(const QVariant &value)
{
    if (value.isNull())
        return {};
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().date();
    return QDate::fromString(value.toString().left(10), QStringLiteral("yyyy-MM-dd"));
}

const char *const kNameFields[3] = {"d.DepartmentName", "t.TitleName", "y.TypeName"};

// A PostgreSQL transaction is unusable after a failed statement: a write that may fail
// sits in a savepoint there. SQLite undoes a failed statement by itself.
class Savepoint
{
public:
    explicit Savepoint(zq::data::Connection *c)
        : m_query(c->database())
        , m_on(c->engine() == zq::data::Engine::PostgreSQL)
    {
        if (m_on)
            m_on = m_query.exec(QStringLiteral("SAVEPOINT zq_directory"));
    }
    void end(bool keep)
    {
        if (m_on)
            m_query.exec(keep ? QStringLiteral("RELEASE SAVEPOINT zq_directory")
                              : QStringLiteral("ROLLBACK TO SAVEPOINT zq_directory"));
        m_on = false;
    }

private:
    QSqlQuery m_query;
    bool m_on;
};

} // namespace

bool DirectorySync::prepareStored()
{
    QStringList fields{QStringLiteral("h.HolderNo")};
    for (const QChar code : std::as_const(m_order)) {
        const zq::transfer::TransferColumn *c = zq::transfer::columnOf(code);
        fields << (c->kind == zq::transfer::ColumnKind::Name
                       ? QLatin1String(kNameFields[code.unicode() - 'A'])
                       : QStringLiteral("h.") + c->holderColumn);
    }
    if (m_options.map.hasPhoto())
        fields << QStringLiteral("h.Photo");
    QStringList marks;
    for (int i = 0; i < m_options.pageSize; ++i)
        marks << QStringLiteral("?");
    m_storedQuery = std::make_unique<QSqlQuery>(m_connection->database());
    m_storedQuery->setForwardOnly(true);
    const QString sql
        = QStringLiteral("SELECT %1 FROM HolderData h LEFT JOIN DepartmentData d ON "
                         "d.DepartmentNo = h.DepartmentNo LEFT JOIN OccupationTitle t ON "
                         "t.TitleNo = h.TitleNo LEFT JOIN OccupationType y ON y.TypeNo = h.TypeNo "
                         "WHERE h.HolderNo IN (%2)")
              .arg(fields.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    if (m_storedQuery->prepare(sql))
        return true;
    m_error = QStringLiteral("cannot read the holders: %1").arg(m_storedQuery->lastError().text());
    return false;
}

// The stored holders of `candidates`, read a page size of numbers at a time (the last
// statement's list filled up with a number repeated).
QHash<QString, DirectorySync::Stored> DirectorySync::readStored(const QList<Candidate> &candidates)
{
    QHash<QString, Stored> out;
    if (candidates.isEmpty())
        return out;
    if (!m_storedQuery && !prepareStored()) {
        m_storedFailed = true;
        return out;
    }
    const qsizetype photoAt = m_order.size() + 1;
    for (qsizetype from = 0; from < candidates.size(); from += m_options.pageSize) {
        for (int i = 0; i < m_options.pageSize; ++i)
            m_storedQuery->bindValue(i,
                                     candidates.at(qMin(from + i, candidates.size() - 1)).number);
        if (!m_storedQuery->exec()) {
            m_error = QStringLiteral("cannot read the holders: %1")
                          .arg(m_storedQuery->lastError().text());
            m_storedFailed = true;
            return out;
        }
        while (m_storedQuery->next()) {
            Stored s;
            for (qsizetype k = 0; k < m_order.size(); ++k)
                s.values << m_storedQuery->value(int(k + 1));
            if (m_options.map.hasPhoto())
                s.photo = m_storedQuery->value(int(photoAt)).toByteArray();
            out.insert(m_storedQuery->value(0).toString(), std::move(s));
        }
        m_storedQuery->finish();
    }
    return out;
}

bool DirectorySync::sameAsStored(const Candidate &c, const Stored &stored) const
{
    for (qsizetype k = 0; k < m_order.size(); ++k) {
        const QStringView cell = zq::transfer::trimmedValue(c.cells.at(k));
        const QVariant &value = stored.values.at(k);
        const zq::transfer::TransferColumn *column = zq::transfer::columnOf(m_order.at(k));
        if (column->kind != zq::transfer::ColumnKind::Date) {
            if ((value.isNull() ? QString() : value.toString()) != cell)
                return false;
            continue;
        }
        // An entry without the date says nothing about it.
        if (cell.isEmpty())
            continue;
        const std::optional<QDate> day = zq::transfer::readDate(cell, m_run->options().dateFormat);
        if (!day || (*day == zq::transfer::zeroDate() ? !value.isNull() : storedDay(value) != *day))
            return false;
    }
    return true;
}

void DirectorySync::writePhotos(const QList<Candidate> &photos, const QSet<qint64> &refused)
{
    if (photos.isEmpty())
        return;
    QSqlQuery q(m_connection->database());
    if (!m_options.dryRun)
        q.prepare(QStringLiteral("UPDATE HolderData SET Photo = ? WHERE HolderNo = ?"));
    for (const Candidate &c : photos) {
        if (refused.contains(c.entry))
            continue;
        if (m_options.dryRun) {
            ++m_counts.photos;
            continue;
        }
        Savepoint savepoint(m_connection);
        q.bindValue(0, c.photo);
        q.bindValue(1, c.number);
        const bool ok = q.exec() && q.numRowsAffected() == 1;
        savepoint.end(ok);
        if (ok) {
            ++m_counts.photos;
            if (c.photoOnly)
                zq::services::AddProgramRunEdit(HolderImport::auditKey(),
                                                QStringLiteral("E ") + c.number);
            continue;
        }
        if (c.photoOnly)
            --m_counts.updated;
        refuse(c.entry,
               c.number,
               c.dn,
               QStringLiteral("database"),
               QStringLiteral("Photo refused by the database: %1")
                   .arg(q.lastError().isValid() ? q.lastError().text()
                                                : QStringLiteral("no such holder")));
    }
}

QString DirectorySync::scopeCondition(QStringList &values) const
{
    if (!m_options.scopePrefix.isEmpty()) {
        values << m_options.scopePrefix;
        return QStringLiteral("substr(HolderNo, 1, %1) = ?").arg(m_options.scopePrefix.size());
    }
    QStringList marks;
    for (qsizetype i = 0; i < m_options.scopeDepartments.size(); ++i)
        marks << QStringLiteral("?");
    values << m_options.scopeDepartments << m_options.scopeDepartments;
    return QStringLiteral("DepartmentNo IN (SELECT DepartmentNo FROM DepartmentData WHERE "
                          "DepartmentNo IN (%1) OR DepartmentName IN (%1))")
        .arg(marks.join(QStringLiteral(", ")));
}

bool DirectorySync::handleMissing()
{
    QStringList values;
    const QString where = scopeCondition(values);
    QSqlQuery q(m_connection->database());
    q.setForwardOnly(true);
    bool ok = q.prepare(
        QStringLiteral("SELECT HolderNo, HolderName, Enabled FROM HolderData WHERE %1 ORDER BY "
                       "HolderNo")
            .arg(where));
    for (int i = 0; ok && i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!ok || !q.exec()) {
        m_error = QStringLiteral("cannot read the holders in scope: %1").arg(q.lastError().text());
        return false;
    }
    QStringList enabled;
    while (q.next()) {
        const QString number = q.value(0).toString();
        if (m_seen.find(zq::transfer::trimmedValue(number)))
            continue;
        ++m_counts.missing;
        const bool on = q.value(2).isNull() || q.value(2).toInt() != 0;
        printLine(m_out,
                  QStringLiteral("missing: ")
                      + zq::transfer::RefusalReportWriter::csvLine(
                          {number,
                           q.value(1).toString(),
                           on ? QStringLiteral("enabled") : QStringLiteral("disabled")}));
        if (on)
            enabled << number;
    }
    q.finish();
    if (m_options.missing != SyncOptions::Missing::Disable || enabled.isEmpty())
        return true;
    // A directory that answers with nobody (a filter that matches no one) would switch off
    // every holder in scope.
    if (m_counts.entries == 0) {
        m_error = QStringLiteral("the directory gave no entries: no holder was switched off");
        return false;
    }
    return disable(enabled);
}

bool DirectorySync::disable(const QStringList &numbers)
{
    const QString prefix = m_options.dryRun ? QStringLiteral("would disable: ")
                                            : QStringLiteral("disabled: ");
    if (m_options.dryRun) {
        for (const QString &n : numbers)
            printLine(m_out, prefix + zq::transfer::RefusalReportWriter::csvLine({n}));
        m_counts.disabled = int(numbers.size());
        return true;
    }
    if (!m_connection->begin()) {
        m_error = QStringLiteral("cannot switch holders off: %1")
                      .arg(m_connection->errors().value(0).text);
        return false;
    }
    QSqlQuery q(m_connection->database());
    q.prepare(QStringLiteral("UPDATE HolderData SET Enabled = 0 WHERE HolderNo = ? AND (Enabled IS "
                             "NULL OR Enabled <> 0)"));
    QStringList done;
    for (const QString &n : numbers) {
        q.bindValue(0, n);
        if (!q.exec()) {
            m_error = QStringLiteral("cannot switch holder %1 off: %2")
                          .arg(n, q.lastError().text());
            m_connection->rollback();
            return false;
        }
        // Switched off meanwhile on another workstation: nothing left to do.
        if (q.numRowsAffected() == 1) {
            zq::services::AddProgramRunEdit(HolderImport::auditKey(), QStringLiteral("E ") + n);
            done << n;
        }
    }
    if (!m_connection->commit()) {
        m_error = QStringLiteral("cannot switch holders off: %1")
                      .arg(m_connection->errors().value(0).text);
        return false;
    }
    for (const QString &n : std::as_const(done))
        printLine(m_out, prefix + zq::transfer::RefusalReportWriter::csvLine({n}));
    m_counts.disabled = int(done.size());
    return true;
}
