#pragma once

#include <QString>
#include <QStringView>

#include <limits>
#include <vector>

namespace zq::transfer {

/// The holder numbers an import knows, each with a line of the file (-1: none yet), in one
/// open-addressed table over one buffer of their texts. An import looks a number up twice
/// per line among every number of the site: a hash of QStrings compares the texts of every
/// slot it passes, each in an allocation of its own; here a slot holds the number's hash,
/// and only a slot of the same hash reads its text.
class HolderNumbers
{
public:
    void clear();
    /// Room for `count` numbers without growing.
    void reserve(qsizetype count);
    /// The numbers held (a removed one no longer counts).
    qsizetype size() const { return m_size; }
    /// The line of `number`, or nullptr when it is not held.
    const qint64 *find(QStringView number) const;
    /// Holds `number` with `line`, replacing the line it had.
    void insert(QStringView number, qint64 line);
    void remove(QStringView number);

private:
    static constexpr qint64 kRemoved = std::numeric_limits<qint64>::min();
    struct Slot
    {
        qsizetype begin = -1; // in m_texts; -1: empty
        qint64 line = 0;      // kRemoved: the number is no longer held
        quint32 hash = 0;
        quint32 length = 0;
    };
    size_t slotOf(QStringView number, size_t hash) const;
    void grow(size_t slotCount);

    std::vector<Slot> m_slots; // a power of two, at most half of them used
    QString m_texts;
    qsizetype m_used = 0; // slots holding a text, removed ones too
    qsizetype m_size = 0;
};

} // namespace zq::transfer
