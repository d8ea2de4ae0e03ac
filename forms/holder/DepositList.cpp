#include "DepositList.h"

#include "TransferText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    // Written as UTF-8; a list kept from an older installation is in Big5.
    zq::transfer::TextLineReader reader(m_path);
    if (!reader.open())
        return {};
    QStringList items;
    reader.forEachLine([&items](const QString &line) {
        if (!line.trimmed().isEmpty() && indexOf(items, line) < 0)
            items << line;
        return true;
    });
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
