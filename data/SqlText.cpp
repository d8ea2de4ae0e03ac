#include "SqlText.h"

#include <QCoreApplication>
#include <QStringList>

namespace zq::data::sqltext {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Replaces everything inside quotes and comments by blanks ('' marks a quoted string), so
// that the remaining text can be searched for keywords and separators. Returns false when
// a quote or comment is left open.
bool maskQuoted(const QString &sql, QString &masked)
{
    masked = sql;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto blank = [&](qsizetype from, qsizetype to) {
        for (qsizetype k = from; k < to && k < n; ++k)
            masked[k] = QLatin1Char(' ');
    };
    while (i < n) {
        const QChar c = sql.at(i);
        if (c == QLatin1Char('\'')) {
            // E'...' strings take backslash escapes; plain ones only double the quote.
            const bool escapes = i > 0
                                 && (sql.at(i - 1) == QLatin1Char('E')
                                     || sql.at(i - 1) == QLatin1Char('e'))
                                 && (i < 2 || !isWordChar(sql.at(i - 2)));
            qsizetype j = i + 1;
            bool closed = false;
            while (j < n) {
                if (escapes && sql.at(j) == QLatin1Char('\\')) {
                    j += 2;
                    continue;
                }
                if (sql.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < n && sql.at(j + 1) == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                ++j;
            }
            if (!closed)
                return false;
            blank(i + 1, j);
            i = j + 1;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            const qsizetype j = sql.indexOf(close, i + 1);
            if (j < 0)
                return false;
            blank(i + 1, j);
            i = j + 1;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql.at(i + 1) == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            if (j < 0)
                j = n;
            blank(i, j);
            i = j;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
            const qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            if (j < 0)
                return false;
            blank(i, j + 2);
            i = j + 2;
        } else if (c == QLatin1Char('$') && (i == 0 || !isWordChar(sql.at(i - 1)))) {
            // Dollar quoting: $$...$$ or $tag$...$tag$.
            qsizetype j = i + 1;
            while (j < n && isWordChar(sql.at(j)) && !sql.at(j).isDigit())
                ++j;
            if (j < n && sql.at(j) == QLatin1Char('$')) {
                const QString tag = sql.mid(i, j - i + 1);
                const qsizetype end = sql.indexOf(tag, j + 1);
                if (end < 0)
                    return false;
                blank(i, end + tag.size());
                i = end + tag.size();
            } else {
                ++i;
            }
        } else {
            ++i;
        }
    }
    return true;
}

QStringList words(const QString &masked)
{
    QStringList result;
    QString current;
    for (const QChar c : masked) {
        if (isWordChar(c) || c == QLatin1Char('.')) {
            current += c;
        } else {
            if (!current.isEmpty())
                result << current;
            current.clear();
            if (!c.isSpace())
                result << QString(c);
        }
    }
    if (!current.isEmpty())
        result << current;
    return result;
}

} // namespace

QString singleStatementRefusal(const QString &sql)
{
    QString masked;
    if (!maskQuoted(sql, masked))
        return QCoreApplication::translate("zq::data",
                                           "The statement has an unclosed quote or comment.");
    const qsizetype semicolon = masked.indexOf(QLatin1Char(';'));
    if (semicolon >= 0 && !masked.mid(semicolon + 1).trimmed().isEmpty())
        return QCoreApplication::translate("zq::data", "Only one statement can run at a time.");
    return QString();
}

bool startsAsQuery(const QString &sql)
{
    QString masked;
    if (!maskQuoted(sql, masked))
        return false;
    const QStringList list = words(masked);
    for (const QString &w : list) {
        if (w == QLatin1String("("))
            continue;
        for (const char *query : {"select", "with", "values", "table"})
            if (w.compare(QLatin1String(query), Qt::CaseInsensitive) == 0)
                return true;
        return false;
    }
    return false;
}

bool containsKeyword(const QString &sql, const QString &word)
{
    QString masked;
    if (!maskQuoted(sql, masked))
        return false;
    const QStringList list = words(masked);
    return list.contains(word, Qt::CaseInsensitive);
}

QString baseTableOf(const QString &sql)
{
    QString masked;
    if (!maskQuoted(sql, masked))
        return QString();
    const QStringList w = words(masked);
    if (w.isEmpty() || w.first().compare(QLatin1String("select"), Qt::CaseInsensitive) != 0)
        return QString();
    qsizetype from = -1;
    int depth = 0;
    for (qsizetype i = 1; i < w.size(); ++i) {
        if (w[i] == QLatin1String("("))
            ++depth;
        else if (w[i] == QLatin1String(")"))
            --depth;
        else if (depth == 0 && w[i].compare(QLatin1String("from"), Qt::CaseInsensitive) == 0) {
            from = i;
            break;
        }
    }
    if (from < 0 || from + 1 >= w.size())
        return QString();
    const QString table = w[from + 1];
    if (!isWordChar(table.at(0)) || table.contains(QLatin1Char('.')))
        return QString();
    qsizetype i = from + 2;
    // An optional alias, with or without AS.
    static const QStringList clauses{
        QStringLiteral("where"), QStringLiteral("order"), QStringLiteral(";")};
    if (i < w.size() && w[i].compare(QLatin1String("as"), Qt::CaseInsensitive) == 0)
        i += 2;
    else if (i < w.size() && isWordChar(w[i].at(0)) && !clauses.contains(w[i], Qt::CaseInsensitive))
        ++i;
    if (i < w.size() && !clauses.contains(w[i], Qt::CaseInsensitive))
        return QString();
    for (qsizetype k = i; k < w.size(); ++k) {
        const QString &t = w[k];
        if (t.compare(QLatin1String("join"), Qt::CaseInsensitive) == 0
            || t.compare(QLatin1String("group"), Qt::CaseInsensitive) == 0
            || t.compare(QLatin1String("union"), Qt::CaseInsensitive) == 0
            || t.compare(QLatin1String("select"), Qt::CaseInsensitive) == 0)
            return QString();
    }
    return table;
}

} // namespace zq::data::sqltext
