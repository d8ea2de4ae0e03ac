#include "HolderExport.h"

#include "Connection.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookWriter.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace zq::transfer {

using zq::data::Connection;

QString exportStatement(const ExportRequest &r, const QString &selectList, bool ordered)
{
    QString sql;
    if (r.allDepartments && r.supervisor) {
        // Every holder once: a supervisor is limited by no rights rows.
        sql = QStringLiteral(" SELECT ") + selectList
              + QStringLiteral("  FROM OccupationType T4,OccupationTitle T3,DepartmentData T2,"
                               "HolderData T1  WHERE T1.DepartmentNo = T2.DepartmentNo AND "
                               "T1.TitleNo = T3.TitleNo AND T1.TypeNo = T4.TypeNo ");
        if (r.punchCardOnly)
            sql += QStringLiteral(" AND T1.PunchCard = 1");
        if (ordered)
            sql += QStringLiteral(" ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName");
        return sql;
    }
    if (r.allDepartments) {
        sql = QStringLiteral(" SELECT ") + selectList
              + QStringLiteral("  FROM UserRightDept T5,OccupationType T4,OccupationTitle T3,"
                               "DepartmentData T2,HolderData T1  WHERE T1.DepartmentNo = "
                               "T2.DepartmentNo AND T1.TitleNo = T3.TitleNo AND T1.TypeNo = "
                               "T4.TypeNo ");
        if (r.punchCardOnly)
            sql += QStringLiteral(" AND T1.PunchCard = 1");
        sql += QStringLiteral(" AND T5.DepartmentNo = T2.DepartmentNo ")
               + QStringLiteral("    AND T5.UserID = ") + Connection::quoted(r.userId)
               + QStringLiteral("          ");
        if (ordered)
            sql += QStringLiteral(" ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName");
        return sql;
    }
    sql = QStringLiteral("SELECT ") + selectList
          + QStringLiteral("   FROM OccupationType T4,OccupationTitle T3,DepartmentData T2,"
                           "HolderData T1  WHERE T1.DepartmentNo = T2.DepartmentNo AND "
                           "T1.DepartmentNo = ")
          + Connection::quoted(r.departmentNo)
          + QStringLiteral("    AND T1.TitleNo = T3.TitleNo AND T1.TypeNo = T4.TypeNo  ");
    if (r.punchCardOnly)
        sql += QStringLiteral("  AND T1.PunchCard = 1 ");
    if (ordered)
        sql += QStringLiteral(" ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName ");
    return sql;
}

QString exportSelectList()
{
    // The holder's own columns by name rather than T1.*: photos are never exported, and
    // fetching them would cost more than the whole file.
    QStringList fields{QStringLiteral("T2.DepartmentName"),
                       QStringLiteral("T3.TitleName"),
                       QStringLiteral("T4.TypeName")};
    for (const TransferColumn &c : transferColumns())
        if (c.kind != ColumnKind::Name)
            fields << QStringLiteral("T1.") + c.exportField;
    return fields.join(QLatin1Char(','));
}

struct HolderExport::Rows
{
    explicit Rows(const QSqlDatabase &db)
        : query(db)
    {}
    QSqlQuery query;
    QList<int> columns; // per code of the order: its field in the select list
    QList<bool> dates;
};

HolderExport::HolderExport(Connection *connection,
                           const ExportRequest &request,
                           const QString &columnOrder,
                           const QString &dateFormat)
    : m_connection(connection)
    , m_request(request)
    , m_order(columnOrder)
    , m_dateFormat(dateFormat)
{}

HolderExport::~HolderExport() = default;

bool HolderExport::open()
{
    m_rows.reset();
    m_count = 0;
    // After a lost link the export connects again rather than failing for good.
    if (!m_connection || !m_connection->ensureOpen()) {
        m_error = QStringLiteral("not connected");
        return false;
    }
    try {
        QSqlQuery count(m_connection->database());
        count.setForwardOnly(true);
        if (!count.exec(exportStatement(m_request, QStringLiteral("COUNT(*)"), false))
            || !count.next()) {
            m_connection->setErrorsFrom(count.lastError());
            m_error = count.lastError().text();
            return false;
        }
        m_count = count.value(0).toInt();
        auto rows = std::make_unique<Rows>(m_connection->database());
        rows->query.setForwardOnly(true);
        if (!rows->query.exec(exportStatement(m_request, exportSelectList()))) {
            m_connection->setErrorsFrom(rows->query.lastError());
            m_error = rows->query.lastError().text();
            return false;
        }
        const QStringList fields = exportSelectList().split(QLatin1Char(','));
        for (const QChar code : std::as_const(m_order)) {
            const TransferColumn *c = columnOf(code);
            const QString field = c ? QStringLiteral(".") + c->exportField : QString();
            int at = -1;
            for (int i = 0; i < fields.size() && c; ++i)
                if (fields.at(i).endsWith(field))
                    at = i;
            rows->columns << at;
            rows->dates << (c && c->kind == ColumnKind::Date);
        }
        m_rows = std::move(rows);
        return true;
    } catch (const std::exception &e) {
        m_error = QString::fromUtf8(e.what());
        return false;
    }
}

namespace {

// The day of a stored date-time; an empty one gives the zero date.
QDate dateOf(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return zeroDate();
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime().date();
    if (v.metaType().id() == QMetaType::QDate)
        return v.toDate();
    const QDate day = QDate::fromString(v.toString().left(10), Qt::ISODate);
    return day.isValid() ? day : zeroDate();
}

} // namespace

bool HolderExport::forEachRow(const std::function<bool(int, const QStringList &)> &row)
{
    if (!m_rows) {
        m_error = QStringLiteral("the export is not open");
        return false;
    }
    QSqlQuery &q = m_rows->query;
    QStringList values;
    int index = 0;
    while (q.next()) {
        values.clear();
        for (int i = 0; i < m_rows->columns.size(); ++i) {
            const int at = m_rows->columns.at(i);
            const QVariant v = at >= 0 ? q.value(at) : QVariant();
            if (m_rows->dates.at(i))
                values << dateText(dateOf(v), m_dateFormat);
            else
                values << valueText(v.isNull() ? QString() : v.toString());
        }
        if (!row(index++, values))
            return false;
    }
    if (q.lastError().isValid()) {
        m_connection->setErrorsFrom(q.lastError());
        m_error = q.lastError().text();
        return false;
    }
    return true;
}

bool writeTextFile(HolderExport &holders,
                   const QString &path,
                   const ExportProgress &progress,
                   QString &error,
                   QChar separator)
{
    TextLineWriter file(path);
    if (!file.open()) {
        error = file.errorString();
        return false;
    }
    bool written = true;
    bool stopped = false;
    const bool complete = holders.forEachRow([&](int index, const QStringList &values) {
        written = file.writeLine(buildLine(values, separator));
        if (written && progress && !progress(index + 1))
            stopped = true;
        return written && !stopped;
    });
    if (stopped)
        return false;
    if (!complete || !written) {
        error = written ? holders.errorText() : file.errorString();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool holdsDepartmentRight(zq::data::Connection *connection,
                          const QString &userId,
                          const QString &departmentNo)
{
    if (!connection || !connection->isConnected())
        return false;
    QSqlQuery q(connection->database());
    const QString sql = QStringLiteral("SELECT COUNT(*) FROM UserRightDept WHERE UserID = ")
                        + zq::data::Connection::quoted(userId)
                        + QStringLiteral(" AND DepartmentNo = ")
                        + zq::data::Connection::quoted(departmentNo);
    if (!q.exec(sql) || !q.next()) {
        connection->setErrorsFrom(q.lastError());
        return false;
    }
    return q.value(0).toInt() > 0;
}

bool isSupervisor(zq::data::Connection *connection, const QString &userId)
{
    if (!connection || !connection->isConnected())
        return false;
    QSqlQuery q(connection->database());
    if (!q.exec(QStringLiteral("SELECT Supervisor FROM UserData WHERE UserID = ")
                + zq::data::Connection::quoted(userId))
        || !q.next())
        return false;
    return q.value(0).toInt() == 1;
}

bool writeWorkbook(HolderExport &holders,
                   const QString &path,
                   const ExportProgress &progress,
                   QString &error)
{
    zq::platform::WorkbookWriter book;
    if (!book.create() || !book.selectFirstSheet()) {
        error = book.errorText();
        return false;
    }
    bool written = true;
    bool stopped = false;
    const bool complete = holders.forEachRow([&](int index, const QStringList &values) {
        for (int j = 0; j < values.size() && written; ++j)
            written = book.setCell(index, int(j), values.at(j));
        if (written && progress && !progress(index + 1))
            stopped = true;
        return written && !stopped;
    });
    if (stopped) {
        book.close();
        return false;
    }
    if (!complete || !written) {
        error = written ? holders.errorText() : book.errorText();
        book.close();
        return false;
    }
    if (!book.saveAs(path)) {
        error = book.errorText();
        return false;
    }
    return true;
}

} // namespace zq::transfer
