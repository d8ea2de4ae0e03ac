#include "HolderExport.h"
#include "HolderExportSheet.h"

#include "Connection.h"
#include "TextRows.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookWriter.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <string>

namespace zq::transfer {

using zq::data::Connection;

QString exportStatement(const ExportRequest &r, const QString &selectList, bool ordered)
{
    // The names are joined to the holders, not the holders to the names: a holder whose
    // department, title or type code is missing or names no row (written by another
    // program, or by a headless import that carried no such column) is exported all the
    // same, with empty names. Each code is a table's key, so each holder comes once.
    QString sql = QStringLiteral(" SELECT ") + selectList
                  + QStringLiteral("  FROM HolderData T1 LEFT JOIN DepartmentData T2 ON "
                                   "T2.DepartmentNo = T1.DepartmentNo LEFT JOIN OccupationTitle "
                                   "T3 ON T3.TitleNo = T1.TitleNo LEFT JOIN OccupationType T4 ON "
                                   "T4.TypeNo = T1.TypeNo ");
    if (!r.allDepartments) {
        sql += QStringLiteral(" WHERE T1.DepartmentNo = ") + Connection::quoted(r.departmentNo);
    } else if (!r.supervisor) {
        // A user's department rights are one row per department: a holder comes once.
        sql += QStringLiteral(" JOIN UserRightDept T5 ON T5.DepartmentNo = T1.DepartmentNo AND "
                              "T5.UserID = ")
               + Connection::quoted(r.userId) + QStringLiteral(" WHERE 1 = 1 ");
    } else {
        // Every holder once: a supervisor is limited by no rights rows.
        sql += QStringLiteral(" WHERE 1 = 1 ");
    }
    if (r.punchCardOnly)
        sql += QStringLiteral(" AND T1.PunchCard = 1 ");
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

namespace {

// How much of an SQLite site file an export maps into memory (larger files are read beyond).
constexpr qint64 kMappedBytes = qint64(256) << 20;

} // namespace

struct HolderExport::Rows
{
    explicit Rows(const QSqlDatabase &db)
        : query(db)
    {}
    QSqlQuery query;
    std::unique_ptr<zq::data::TextRows> direct; // when the engine is read straight
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

HolderExport::~HolderExport()
{
    m_rows.reset();
    if (m_mapBefore >= 0 && m_mapBefore < kMappedBytes && m_connection
        && m_connection->isConnected()) {
        QSqlQuery map(m_connection->database());
        map.exec(QStringLiteral("PRAGMA mmap_size = %1").arg(m_mapBefore));
    }
}

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
        if (m_connection->engine() == zq::data::Engine::SQLite && m_mapBefore < 0) {
            // The rows come in the order of the department index, each from anywhere in the
            // table: read through SQLite's small page cache, that is a system call and a
            // page copy per row, twice (count and rows). Mapped, pages are read in place.
            QSqlQuery map(m_connection->database());
            if (map.exec(QStringLiteral("PRAGMA mmap_size")) && map.next())
                m_mapBefore = map.value(0).toLongLong();
            if (m_mapBefore >= 0 && m_mapBefore < kMappedBytes)
                map.exec(QStringLiteral("PRAGMA mmap_size = %1").arg(kMappedBytes));
        }
        {
            // Gone before the rows are read: on PostgreSQL a forward-only query holds the
            // link until it is.
            QSqlQuery count(m_connection->database());
            count.setForwardOnly(true);
            if (!count.exec(exportStatement(m_request, QStringLiteral("COUNT(*)"), false))
                || !count.next()) {
                m_connection->setErrorsFrom(count.lastError());
                m_error = count.lastError().text();
                return false;
            }
            m_count = count.value(0).toInt();
        }
        auto rows = std::make_unique<Rows>(m_connection->database());
        const QString statement = exportStatement(m_request, exportSelectList());
        rows->direct = std::make_unique<zq::data::TextRows>(m_connection);
        if (!rows->direct->exec(statement)) {
            if (!rows->direct->unavailable()) {
                m_error = rows->direct->errorText();
                return false;
            }
            rows->direct.reset();
        }
        rows->query.setForwardOnly(true);
        if (!rows->direct && !rows->query.exec(statement)) {
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

bool HolderExport::readsDirectly() const
{
    return m_rows && m_rows->direct;
}

bool HolderExport::forEachRow(const std::function<bool(int, const QStringList &)> &row)
{
    if (!m_rows) {
        m_error = QStringLiteral("the export is not open");
        return false;
    }
    if (m_rows->direct) {
        QStringList values;
        return forEachDirect([&](int index, const QList<ExportValue> &file) {
            values.clear();
            for (const ExportValue &v : file)
                values << (v.text ? *v.text : QString::fromUtf8(v.utf8));
            return row(index, values);
        });
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

bool HolderExport::forEachValues(const std::function<bool(int, const QList<ExportValue> &)> &row)
{
    if (!m_rows) {
        m_error = QStringLiteral("the export is not open");
        return false;
    }
    if (m_rows->direct)
        return forEachDirect(row);
    QList<ExportValue> file;
    return forEachRow([&](int index, const QStringList &values) {
        file.resize(values.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            file[i] = ExportValue{QByteArrayView(), &values.at(i)};
        return row(index, file);
    });
}

namespace {

bool isBlankOrControlByte(uchar c)
{
    return c <= 0x20 || c == 0x7F;
}

// The bytes of plain UTF-8 text without blanks and control characters at both ends, as
// valueText() trims its characters (U+0080 to U+009F are two bytes, C2 80 to C2 9F).
QByteArrayView trimmedUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    for (;;) {
        if (begin < end && isBlankOrControlByte(p[begin]))
            ++begin;
        else if (end - begin >= 2 && p[begin] == 0xC2 && p[begin + 1] >= 0x80
                 && p[begin + 1] <= 0x9F)
            begin += 2;
        else
            break;
    }
    for (;;) {
        if (end > begin && isBlankOrControlByte(p[end - 1]))
            --end;
        else if (end - begin >= 2 && p[end - 2] == 0xC2 && p[end - 1] >= 0x80 && p[end - 1] <= 0x9F)
            end -= 2;
        else
            break;
    }
    return bytes.sliced(begin, end - begin);
}

bool digitsAt(const char *p, int count)
{
    for (int k = 0; k < count; ++k)
        if (p[k] < '0' || p[k] > '9')
            return false;
    return true;
}

int numberAt(const char *p, int count)
{
    int value = 0;
    for (int k = 0; k < count; ++k)
        value = value * 10 + (p[k] - '0');
    return value;
}

// The day of a stored date-time in the engine's own text where that text has the form the
// engine writes (SQLite: what the site stores, "yyyy-MM-dd..."; PostgreSQL: an ISO
// timestamp). Nothing for any other text, which goes the driver's way.
std::optional<QDate> plainDay(zq::data::Engine engine, QByteArrayView text)
{
    const char *p = text.data();
    const qsizetype n = text.size();
    if (n < 10 || !digitsAt(p, 4) || p[4] != '-' || !digitsAt(p + 5, 2) || p[7] != '-'
        || !digitsAt(p + 8, 2))
        return std::nullopt;
    const QDate day(numberAt(p, 4), numberAt(p + 5, 2), numberAt(p + 8, 2));
    if (engine == zq::data::Engine::SQLite)
        // The driver gives the text; its first ten characters are read as an ISO date.
        return day.isValid() ? day : zeroDate();
    // The driver reads "yyyy-MM-dd HH:mm:ss[.f]" as a local date-time and keeps its day,
    // even in a gap of daylight saving time.
    if (n < 19 || p[10] != ' ' || !digitsAt(p + 11, 2) || p[13] != ':' || !digitsAt(p + 14, 2)
        || p[16] != ':' || !digitsAt(p + 17, 2) || !day.isValid())
        return std::nullopt;
    if (n > 19 && (n == 20 || p[19] != '.' || !digitsAt(p + 20, int(n - 20))))
        return std::nullopt;
    if (numberAt(p + 11, 2) > 23 || numberAt(p + 14, 2) > 59 || numberAt(p + 17, 2) > 59)
        return std::nullopt;
    return day;
}

// `value` as a field of a line split at `sep`, by quotedField's rule.
void appendQuoted(std::string &line, QByteArrayView value, char sep)
{
    bool quote = value.startsWith('"');
    for (qsizetype i = 0; i < value.size() && !quote; ++i) {
        const char c = value[i];
        quote = c == sep || c == '\r' || c == '\n';
    }
    if (!quote) {
        line.append(value.data(), size_t(value.size()));
        return;
    }
    line.push_back('"');
    for (const char c : value) {
        if (c == '"')
            line.push_back('"');
        line.push_back(c);
    }
    line.push_back('"');
}

} // namespace

bool HolderExport::forEachDirect(const std::function<bool(int, const QList<ExportValue> &)> &row)
{
    zq::data::TextRows &rows = *m_rows->direct;
    const zq::data::Engine engine = m_connection->engine();
    const qsizetype columns = m_rows->columns.size();
    QList<ExportValue> file(columns);
    QStringList texts(columns); // values that went the driver's way
    std::string out;            // this row's value texts, each followed by a NUL
    QList<qsizetype> offsets(columns);
    QList<qsizetype> sizes(columns);
    // A site has few distinct days; each is formatted once.
    QHash<qint64, QByteArray> days;
    QByteArray noDay;
    bool noDayKnown = false;
    const auto dayText = [&](const QDate &day) -> const QByteArray & {
        if (!day.isValid()) {
            if (!noDayKnown)
                noDay = dateText(day, m_dateFormat).toUtf8();
            noDayKnown = true;
            return noDay;
        }
        auto at = days.find(day.toJulianDay());
        if (at == days.end())
            at = days.insert(day.toJulianDay(), dateText(day, m_dateFormat).toUtf8());
        return *at;
    };
    int index = 0;
    while (rows.next()) {
        out.clear();
        for (qsizetype i = 0; i < columns; ++i) {
            const int at = m_rows->columns.at(i);
            const bool date = m_rows->dates.at(i);
            file[i].text = nullptr;
            offsets[i] = qsizetype(out.size());
            if (date) {
                std::optional<QDate> day;
                if (at < 0 || rows.isNull(at))
                    day = zeroDate();
                else if (engine == zq::data::Engine::PostgreSQL || rows.isText(at))
                    day = plainDay(engine, rows.text(at));
                if (!day)
                    day = dateOf(rows.value(at));
                const QByteArray &text = dayText(*day);
                out.append(text.constData(), size_t(text.size()));
            } else if (at < 0 || rows.isNull(at)) {
                // Empty, as a NULL or missing value reads.
            } else if (rows.isText(at)) {
                const QByteArrayView text = trimmedUtf8(rows.text(at));
                out.append(text.data(), size_t(text.size()));
            } else {
                const QVariant v = rows.value(at);
                texts[i] = valueText(v.isNull() ? QString() : v.toString());
                file[i].text = &texts.at(i);
            }
            sizes[i] = qsizetype(out.size()) - offsets[i];
            out.push_back('\0');
        }
        for (qsizetype i = 0; i < columns; ++i)
            file[i].utf8 = QByteArrayView(out.data() + offsets.at(i), sizes.at(i));
        if (!row(index++, file)) {
            rows.finish();
            return false;
        }
    }
    if (rows.failed()) {
        m_error = rows.errorText();
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
    const auto done = [&](int index) {
        if (written && progress && !progress(index + 1))
            stopped = true;
        return written && !stopped;
    };
    bool complete = false;
    if (separator.unicode() >= 0x80) {
        complete = holders.forEachRow([&](int index, const QStringList &values) {
            written = file.writeLine(buildLine(values, separator));
            return done(index);
        });
    } else {
        // The line is put together from the values' bytes; quotedField's rule, applied to
        // UTF-8, where an ASCII separator, quote or line end is always a character of its own.
        const char sep = char(separator.unicode());
        std::string line;
        complete = holders.forEachValues([&](int index, const QList<ExportValue> &values) {
            line.clear();
            for (const ExportValue &v : values) {
                if (v.text)
                    line += quotedField(*v.text, separator).toStdString();
                else
                    appendQuoted(line, v.utf8, sep);
                line.push_back(sep);
            }
            written = file.writeUtf8Line(QByteArrayView(line.data(), qsizetype(line.size())));
            return done(index);
        });
    }
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
    bool complete = false;
    {
        // The library formats the cells on a thread of its own while the rows are read.
        SheetCellWriter cells(book);
        complete = holders.forEachValues([&](int index, const QList<ExportValue> &values) {
            written = cells.addRow(index, values);
            if (written && progress && !progress(index + 1))
                stopped = true;
            return written && !stopped;
        });
        if (stopped || !complete)
            cells.stop();
        else
            written = cells.finish();
    }
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
