#include "BatchList.h"

#include "Connection.h"

#include <QFile>
#include <QSaveFile>

#include <SimpleIni.h>

#include <string>

namespace zq::forms::batch {

namespace {
constexpr char kSection[] = "ZQHolderLabel";
constexpr char kKey[] = "BrowseHolder";

void prepare(CSimpleIniA &ini)
{
    ini.SetUnicode(true);
    // Keys stay "key=value", as the other programs of the suite write them.
    ini.SetSpaces(false);
}

bool blank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
} // namespace

QString settingsFile(const QString &programPath)
{
    return programPath + QStringLiteral("ZQMain.ini");
}

QString batchText(const QStringList &numbers)
{
    QString text = QStringLiteral("( ");
    for (const QString &number : numbers)
        text += zq::data::Connection::quoted(number) + QLatin1Char(',');
    return text + QStringLiteral("'')");
}

bool isWellFormedBatch(const QString &text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (n == 0 || text[0] != QLatin1Char('('))
        return false;
    ++i;
    for (;;) {
        while (i < n && blank(text[i]))
            ++i;
        if (i >= n || text[i] != QLatin1Char('\''))
            return false;
        ++i;
        qsizetype length = 0;
        for (;;) {
            if (i >= n)
                return false;
            if (text[i] == QLatin1Char('\'')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('\'')) {
                    i += 2;
                    ++length;
                    continue;
                }
                ++i;
                break;
            }
            // A NUL cannot be stored in a text column; nothing batchText() makes holds one.
            if (text[i].isNull())
                return false;
            ++i;
            ++length;
        }
        while (i < n && blank(text[i]))
            ++i;
        if (i >= n)
            return false;
        if (text[i] == QLatin1Char(',')) {
            ++i;
            continue;
        }
        if (text[i] != QLatin1Char(')') || length != 0)
            return false;
        ++i;
        break;
    }
    while (i < n && blank(text[i]))
        ++i;
    return i == n;
}

QString readBatchList(const QString &file, bool *damaged)
{
    if (damaged)
        *damaged = false;
    if (!QFile::exists(file))
        return QString();
    CSimpleIniA ini(true, false, false);
    prepare(ini);
    if (ini.LoadFile(QFile::encodeName(file).constData()) < 0) {
        if (damaged)
            *damaged = true;
        return QString();
    }
    const QString value = QString::fromUtf8(ini.GetValue(kSection, kKey, "")).trimmed();
    if (isWellFormedBatch(value))
        return value;
    if (damaged)
        *damaged = !value.isEmpty();
    return QString();
}

bool writeBatchList(const QString &file, const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.category() == QChar::Other_Control)
            return false;
    CSimpleIniA ini(true, false, false);
    prepare(ini);
    // A file that cannot be read is left alone rather than written anew without its content.
    if (QFile::exists(file) && ini.LoadFile(QFile::encodeName(file).constData()) < 0)
        return false;
    if (ini.SetValue(kSection, kKey, text.toUtf8().constData()) < 0)
        return false;
    std::string content;
    if (ini.Save(content, false) < 0)
        return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(content.data(), qint64(content.size()));
    return out.commit();
}

} // namespace zq::forms::batch
