#include "DepositList.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>

namespace zq::forms::holder {

namespace {

// The order of the drop-down: without regard to case, as the list control sorts.
bool before(const QString &a, const QString &b)
{
    const int c = QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded());
    return c != 0 ? c < 0 : a < b;
}

qsizetype indexOf(const QStringList &items, const QString &text)
{
    for (qsizetype i = 0; i < items.size(); ++i)
        if (items.at(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

QStringList DepositList::load() const
{
    // The list is a handful of short texts; anything larger is not a deposit list.
    if (m_path.isEmpty() || QFileInfo(m_path).size() > (1 << 20))
        return {};
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    // Written as UTF-8; a list kept from an older installation is in Big5. A file that is
    // neither is no list.
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder big5("Big5");
        text = big5.decode(bytes);
        if (!big5.isValid() || big5.hasError())
            return {};
    }
    static const QRegularExpression lineEnd(QStringLiteral("\\r\\n|\\r|\\n"));
    QStringList items;
    for (const QString &line : text.split(lineEnd))
        if (!line.trimmed().isEmpty() && indexOf(items, line) < 0)
            items << line;
    std::sort(items.begin(), items.end(), before);
    return items;
}

bool DepositList::write(const QStringList &items) const
{
    if (m_path.isEmpty())
        return false;
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(items.join(QStringLiteral("\r\n")).trimmed().toUtf8());
    return f.commit();
}

bool DepositList::store(QStringList &items, const QString &text) const
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return true;
    if (indexOf(items, trimmed) >= 0 && QFileInfo::exists(m_path))
        return true;
    if (indexOf(items, trimmed) < 0) {
        items << trimmed;
        std::sort(items.begin(), items.end(), before);
    }
    return write(items);
}

bool DepositList::remove(QStringList &items, const QString &text) const
{
    const qsizetype at = indexOf(items, text.trimmed());
    if (at >= 0)
        items.removeAt(at);
    return write(items);
}

QString displayText(const QString &number, const QString &name)
{
    return (number + QLatin1Char(' ') + name).left(16);
}

} // namespace zq::forms::holder
