#include "Conninfo.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>

namespace zq::site {

namespace {

struct Span
{
    qsizetype from;
    qsizetype length;
};

// The values of the password keys of a conninfo, as spans of the text. A value runs to the
// next blank, or is quoted with backslash escapes (libpq's key = 'va lue' form).
QList<Span> passwordValues(const QString &conninfo)
{
    static const QRegularExpression key(QStringLiteral("(?:^|\\s)password\\s*=\\s*"),
                                        QRegularExpression::CaseInsensitiveOption);
    QList<Span> spans;
    auto it = key.globalMatch(conninfo);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        qsizetype at = m.capturedEnd();
        const qsizetype from = at;
        if (at < conninfo.size() && conninfo.at(at) == u'\'') {
            ++at;
            while (at < conninfo.size() && conninfo.at(at) != u'\'')
                at += conninfo.at(at) == u'\\' ? 2 : 1;
            at = qMin(at + 1, conninfo.size());
        } else {
            while (at < conninfo.size() && !conninfo.at(at).isSpace())
                ++at;
        }
        spans.append({from, at - from});
    }
    return spans;
}

} // namespace

QString shownConninfo(const QString &conninfo)
{
    QString shown = conninfo;
    const QList<Span> spans = passwordValues(conninfo);
    for (auto it = spans.crbegin(); it != spans.crend(); ++it)
        shown.replace(it->from, it->length, QStringLiteral("***"));
    return shown;
}

QString withoutPassword(const QString &text, const QString &conninfo)
{
    QString clean = text;
    for (const Span &s : passwordValues(conninfo)) {
        QString value = conninfo.mid(s.from, s.length);
        if (value.startsWith(u'\'') && value.size() >= 2) {
            value = value.mid(1, value.size() - 2);
            value.replace(QRegularExpression(QStringLiteral("\\\\(.)")), QStringLiteral("\\1"));
        }
        if (!value.isEmpty())
            clean.replace(value, QStringLiteral("***"));
    }
    return clean;
}

bool readConninfoFile(const QString &file, QString &conninfo, QString &error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the conninfo file %1: %2").arg(file, f.errorString());
        return false;
    }
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        conninfo = line;
        return true;
    }
    error = QStringLiteral("the conninfo file %1 holds no conninfo").arg(file);
    return false;
}

} // namespace zq::site
