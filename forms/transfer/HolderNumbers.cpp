#include "HolderNumbers.h"

#include <QHashFunctions>

namespace zq::transfer {

void HolderNumbers::clear()
{
    m_slots.clear();
    m_texts.clear();
    m_used = 0;
    m_size = 0;
}

void HolderNumbers::reserve(qsizetype count)
{
    size_t slotCount = 16;
    while (slotCount < size_t(count) * 2)
        slotCount *= 2;
    if (slotCount > m_slots.size())
        grow(slotCount);
}

// The slot of `number`, or the empty slot where it would go.
size_t HolderNumbers::slotOf(QStringView number, size_t hash) const
{
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot &s = m_slots[i];
        if (s.begin < 0)
            return i;
        if (s.hash == quint32(hash) && qsizetype(s.length) == number.size()
            && QStringView(m_texts).sliced(s.begin, number.size()) == number)
            return i;
    }
}

void HolderNumbers::grow(size_t slotCount)
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.resize(slotCount);
    const size_t mask = slotCount - 1;
    for (const Slot &s : old) {
        if (s.begin < 0)
            continue;
        size_t i = s.hash & mask;
        while (m_slots[i].begin >= 0)
            i = (i + 1) & mask;
        m_slots[i] = s;
    }
}

const qint64 *HolderNumbers::find(QStringView number) const
{
    if (m_slots.empty())
        return nullptr;
    const Slot &s = m_slots[slotOf(number, qHash(number))];
    return s.begin >= 0 && s.line != kRemoved ? &s.line : nullptr;
}

void HolderNumbers::insert(QStringView number, qint64 line)
{
    if (size_t(m_used + 1) * 2 > m_slots.size())
        grow(qMax<size_t>(16, m_slots.size() * 2));
    const size_t hash = qHash(number);
    Slot &s = m_slots[slotOf(number, hash)];
    if (s.begin < 0) {
        s.hash = quint32(hash);
        s.begin = m_texts.size();
        s.length = quint32(number.size());
        s.line = kRemoved;
        m_texts.append(number);
        ++m_used;
    }
    if (s.line == kRemoved)
        ++m_size;
    s.line = line;
}

void HolderNumbers::remove(QStringView number)
{
    if (m_slots.empty())
        return;
    // The slot keeps its text, so that the numbers placed after it are still found.
    Slot &s = m_slots[slotOf(number, qHash(number))];
    if (s.begin >= 0 && s.line != kRemoved) {
        s.line = kRemoved;
        --m_size;
    }
}

} // namespace zq::transfer
