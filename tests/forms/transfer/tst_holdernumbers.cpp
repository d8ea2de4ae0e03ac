// The numbers an import knows: held, replaced, removed and held again exactly as a hash of
// the same numbers holds them, among numbers that differ only in blanks, case or one
// character, and through the table's growth.
#include "HolderNumbers.h"

#include <QHash>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using zq::transfer::HolderNumbers;

namespace {

void expectSame(const HolderNumbers &numbers,
                const QHash<QString, qint64> &expected,
                const QStringList &probes)
{
    ASSERT_EQ(numbers.size(), expected.size());
    for (const QString &p : probes) {
        const qint64 *line = numbers.find(p);
        const auto it = expected.constFind(p);
        ASSERT_EQ(line != nullptr, it != expected.constEnd()) << p.toStdString();
        if (line)
            EXPECT_EQ(*line, *it) << p.toStdString();
    }
}

} // namespace

TEST(HolderNumbers, HoldsWhatAHashHolds)
{
    struct Case
    {
        const char *name;
        QStringList numbers;
    };
    QStringList many;
    for (int i = 0; i < 5000; ++i)
        many << QStringLiteral("H%1").arg(i, 6, 10, QLatin1Char('0'));
    const QList<Case> cases{
        {"alike",
         {"E002",
          "E002  ",
          " E002",
          "e002",
          "E00",
          "E0020",
          "",
          QStringLiteral("部門"),
          QStringLiteral("😀"),
          QStringLiteral("E002\t")}},
        {"a site's numbers", many},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        HolderNumbers numbers;
        QHash<QString, qint64> expected;
        QStringList probes = c.numbers;
        probes << "absent"
               << "H999999";
        EXPECT_EQ(numbers.find(QStringLiteral("E002")), nullptr);
        numbers.remove(QStringLiteral("E002")); // nothing to remove yet
        QRandomGenerator random(17);
        for (int step = 0; step < 4 * c.numbers.size(); ++step) {
            const QString &n = c.numbers.at(random.bounded(int(c.numbers.size())));
            switch (random.bounded(4)) {
            case 0:
            case 1: {
                const qint64 line = random.bounded(3) == 0 ? -1 : step;
                numbers.insert(n, line);
                expected.insert(n, line);
                break;
            }
            case 2:
                numbers.remove(n);
                expected.remove(n);
                break;
            default:
                break;
            }
        }
        expectSame(numbers, expected, probes);
        // Every number held once more, then all removed.
        for (const QString &n : c.numbers) {
            numbers.insert(n, 7);
            expected.insert(n, 7);
        }
        expectSame(numbers, expected, probes);
        for (const QString &n : c.numbers) {
            numbers.remove(n);
            expected.remove(n);
        }
        expectSame(numbers, expected, probes);
        numbers.clear();
        numbers.reserve(3);
        numbers.insert(QStringLiteral("X"), 1);
        EXPECT_EQ(numbers.size(), 1);
        ASSERT_NE(numbers.find(QStringLiteral("X")), nullptr);
        EXPECT_EQ(*numbers.find(QStringLiteral("X")), 1);
    }
}
