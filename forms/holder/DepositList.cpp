#include "DepositList.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace zq::forms::holder {

QStringList DepositList::load() const
{
    QFile f(m_path);
    if (m_path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return {};
    // The list is a handful of short texts; anything larger is not a deposit list.
    const QByteArray bytes = f.read(1 << 20);
    QStringList items;
    for (const QString &line : QString::fromUtf8(bytes).split(QLatin1Char('\n'))) {
        QString text = line;
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        if (!text.trimmed().isEmpty())
            items << text;
    }
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
    if (!items.contains(trimmed)) {
        items << trimmed;
        std::sort(items.begin(), items.end(), [](const QString &a, const QString &b) {
            return QString::localeAwareCompare(a, b) < 0;
        });
    }
    return write(items);
}

bool DepositList::remove(QStringList &items, const QString &text) const
{
    const qsizetype at = items.indexOf(text.trimmed());
    if (at >= 0)
        items.removeAt(at);
    return write(items);
}

QString displayText(const QString &number, const QString &name)
{
    return (number + QLatin1Char(' ') + name).left(16);
}

} // namespace zq::forms::holder
