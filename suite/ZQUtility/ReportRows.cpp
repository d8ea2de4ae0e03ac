#include "ReportRows.h"

#include "Connection.h"
#include "SqlText.h"
#include "TextRows.h"

#include <QHash>
#include <QSqlError>
#include <QSqlRecord>

#include <algorithm>

namespace zq::suite {

using zq::data::Connection;

ReportRows::ReportRows(Connection &connection, const QString &statement)
    : m_query(connection.database())
{
    if (!connection.isConnected()) {
        m_error = QStringLiteral("the connection is closed");
        return;
    }
    m_error = zq::data::sqltext::singleStatementRefusal(statement);
    if (!m_error.isEmpty())
        return;
    if (connection.engine() == zq::data::Engine::SQLite && openDirect(connection, statement))
        return;
    if (!m_error.isEmpty())
        return;
    // Forward only: SQLite steps through its cursor, the PostgreSQL driver fetches row by row.
    m_query.setForwardOnly(true);
    if (!m_query.exec(statement)) {
        connection.setErrorsFrom(m_query.lastError());
        m_error = m_query.lastError().text();
        return;
    }
    if (!m_query.isSelect()) {
        m_error = QStringLiteral("the statement returns no rows");
        return;
    }
    connection.clearErrors();
    const QSqlRecord record = m_query.record();
    for (int column = 0; column < record.count(); ++column)
        m_names.append(record.fieldName(column));
    m_open = true;
}

ReportRows::~ReportRows() = default;

// False with `m_error` empty when the statement is to be read through the driver instead.
bool ReportRows::openDirect(Connection &connection, const QString &statement)
{
    auto direct = std::make_unique<zq::data::TextRows>(&connection);
    if (!direct->exec(statement)) {
        if (!direct->unavailable())
            m_error = direct->errorText();
        return false;
    }
    if (direct->columnCount() == 0) {
        m_error = QStringLiteral("the statement returns no rows");
        return false;
    }
    connection.clearErrors();
    for (int column = 0; column < direct->columnCount(); ++column)
        m_names.append(direct->columnName(column));
    m_direct = std::move(direct);
    m_open = true;
    return true;
}

bool ReportRows::next()
{
    if (!m_open)
        return false;
    if (!m_direct)
        return m_query.next();
    if (m_direct->next())
        return true;
    if (m_direct->failed())
        m_error = m_direct->errorText();
    m_open = false;
    return false;
}

int ReportRows::indexOf(const QString &name) const
{
    // A table prefix ("HolderData.Photo") names the same column the driver reports bare.
    const QString bare = name.section(QLatin1Char('.'), -1).trimmed();
    for (qsizetype column = 0; column < m_names.size(); ++column) {
        if (m_names.at(column).compare(bare, Qt::CaseInsensitive) == 0)
            return int(column);
    }
    return -1;
}

QVariant ReportRows::value(int column) const
{
    if (column < 0 || column >= m_names.size() || !m_open)
        return QVariant();
    return m_direct ? m_direct->value(column) : m_query.value(column);
}

QByteArray ReportRows::bytes(int column) const
{
    const QVariant v = value(column);
    return v.isNull() ? QByteArray() : v.toByteArray();
}

QString reportText(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (d == double(qint64(d)) && qAbs(d) < 9.0e15)
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    case QMetaType::QByteArray:
        return QString();
    default:
        return value.toString().trimmed();
    }
}

namespace {

// The texts of the dates already printed, by format and stored value: a report repeats a
// few dates over many rows, and reading and writing one costs a look at the time zone.
QString rememberedDate(const QString &key, const std::function<QString()> &make)
{
    static QHash<QString, QString> texts;
    const auto found = texts.constFind(key);
    if (found != texts.constEnd())
        return *found;
    if (texts.size() >= 4096)
        texts.clear();
    return *texts.insert(key, make());
}

QString parsedDateText(const QVariant &value, const QString &format);

} // namespace

QString reportDateText(const QVariant &value, const QString &format)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.metaType().id() == QMetaType::QDateTime) {
        const QDateTime at = value.toDateTime();
        if (at.timeSpec() != Qt::LocalTime)
            return at.toString(format);
        return rememberedDate(QStringLiteral("%1|%2|%3")
                                  .arg(format)
                                  .arg(at.date().toJulianDay())
                                  .arg(at.time().msecsSinceStartOfDay()),
                              [&] { return at.toString(format); });
    }
    if (value.metaType().id() == QMetaType::QDate)
        return value.toDate().startOfDay().toString(format);
    if (value.metaType().id() == QMetaType::QString)
        return rememberedDate(format + QLatin1Char('|') + value.toString(),
                              [&] { return parsedDateText(value, format); });
    return parsedDateText(value, format);
}

namespace {

QString parsedDateText(const QVariant &value, const QString &format)
{
    // SQLite hands date-times back as the text they were written as.
    const QString text = value.toString().trimmed();
    for (const QString &form : {QStringLiteral("yyyy-MM-dd HH:mm:ss"),
                                QStringLiteral("yyyy-MM-ddTHH:mm:ss"),
                                QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"),
                                QStringLiteral("yyyy-MM-dd")}) {
        const QDateTime parsed = QDateTime::fromString(text, form);
        if (parsed.isValid())
            return parsed.toString(format);
    }
    return reportText(value);
}

} // namespace

BoundText::BoundText(const QString &text, const ReportRows *rows)
{
    QString literal;
    auto flush = [&] {
        if (!literal.isEmpty())
            m_parts.push_back(Part{Kind::Literal, literal});
        literal.clear();
    };
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c == u'{' && at + 1 < text.size() && text.at(at + 1) == u'{') {
            literal.append(c);
            ++at;
            continue;
        }
        const qsizetype close = c == u'{' ? text.indexOf(u'}', at) : -1;
        if (close < 0) {
            literal.append(c);
            continue;
        }
        flush();
        const QString inner = text.mid(at + 1, close - at - 1).trimmed();
        at = close;
        if (inner.startsWith(u'@')) {
            const QString key = inner.mid(1).trimmed();
            if (key.compare(u"Printed", Qt::CaseInsensitive) == 0)
                m_parts.push_back(Part{Kind::Printed, QString()});
            else if (key.compare(u"Page", Qt::CaseInsensitive) == 0)
                m_parts.push_back(Part{Kind::Page, QString()});
            else
                m_parts.push_back(Part{Kind::Language, key});
            continue;
        }
        const QString field = inner.section(u':', 0, 0).trimmed();
        const QString format = inner.section(u':', 1).trimmed().toLower();
        const Kind kind = format == u"date"       ? Kind::Date
                          : format == u"datetime" ? Kind::DateTime
                                                  : Kind::Field;
        // A column the statement does not deliver prints as nothing rather than failing the
        // whole report: statements for one template differ in the columns they bring.
        m_parts.push_back(Part{kind, field, rows ? rows->indexOf(field) : -1});
    }
    flush();
}

bool BoundText::usesPage() const
{
    return std::any_of(
        m_parts.begin(), m_parts.end(), [](const Part &part) { return part.kind == Kind::Page; });
}

QString BoundText::render(const ReportRows *rows, const TextContext &context) const
{
    QString result;
    for (const Part &part : m_parts) {
        switch (part.kind) {
        case Kind::Literal:
            result += part.text;
            break;
        case Kind::Field:
            if (rows)
                result += reportText(rows->value(part.column));
            break;
        case Kind::Date:
            if (rows)
                result += reportDateText(rows->value(part.column), QStringLiteral("yyyy-MM-dd"));
            break;
        case Kind::DateTime:
            if (rows)
                result += reportDateText(rows->value(part.column),
                                         QStringLiteral("yyyy-MM-dd HH:mm"));
            break;
        case Kind::Language:
            result += context.language ? context.language(part.text) : part.text;
            break;
        case Kind::Printed:
            result += context.printed;
            break;
        case Kind::Page:
            result += context.page;
            break;
        }
    }
    return result;
}

} // namespace zq::suite
