// A client-side sort orders rows exactly as comparing their values one by one does: NULL
// first, texts without regard to case and then with it (every character of the basic plane,
// surrogate pairs and lone surrogates as Qt compares them), numbers by value, date-times by
// their reading, several keys, descending keys, and rows of equal keys in fetch order.
#include "Connection.h"
#include "Recordset.h"
#include "SortKeys.h"
#include "TestDatabase.h"

#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

using namespace zq::data;

namespace {

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// The order a sort must keep, value against value.
int referenceCompare(const QVariant &a, const QVariant &b)
{
    const bool an = !a.isValid() || a.isNull();
    const bool bn = !b.isValid() || b.isNull();
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    const auto number = [](const QVariant &v) {
        const int t = v.metaType().id();
        return t == QMetaType::Int || t == QMetaType::LongLong || t == QMetaType::Double;
    };
    if (number(a) && number(b))
        return a.toDouble() < b.toDouble() ? -1 : (a.toDouble() > b.toDouble() ? 1 : 0);
    if (a.metaType().id() == QMetaType::QDateTime && b.metaType().id() == QMetaType::QDateTime)
        return a.toDateTime() < b.toDateTime() ? -1 : (a.toDateTime() > b.toDateTime() ? 1 : 0);
    const QString x = a.toString(), y = b.toString();
    const int c = x.compare(y, Qt::CaseInsensitive);
    return c != 0 ? c : x.compare(y, Qt::CaseSensitive);
}

int textCompare(const QString &a, const QString &b)
{
    return sign(referenceCompare(a, b));
}

SortKeys textKeys(const QStringList &texts)
{
    SortKeys keys;
    for (const QString &text : texts) {
        keys.beginRow();
        keys.addText(text);
    }
    return keys;
}

// Texts of the characters that case folding treats apart.
QStringList awkwardTexts(int count, int longest)
{
    const QString alphabet = QStringLiteral(
        "aAbBzZ iIİı09\u00b5\u039c\u03bc\u00df\u1e9e\u00ff\u0178\u00e9\u00c9\u03a3\u03c3\u03c2"
        "\u9673\u738b\uff71\uffff\u0000");
    const QString pairs[] = {
        QStringLiteral("\U00010400"), QStringLiteral("\U00010428"), QStringLiteral("\U0001F600")};
    QRandomGenerator random(17);
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        QString text;
        const int length = int(random.bounded(longest + 1));
        for (int c = 0; c < length; ++c) {
            const int pick = int(random.bounded(int(alphabet.size()) + 5));
            if (pick < alphabet.size())
                text += alphabet.at(pick);
            else if (pick < alphabet.size() + 3)
                text += pairs[pick - alphabet.size()];
            else // a surrogate without its other half
                text += QChar(pick == alphabet.size() + 3 ? 0xd801 : 0xdc00);
        }
        texts << text;
    }
    return texts;
}

} // namespace

TEST(SortKeysTest, EveryCharacterOfTheBasicPlaneOrdersAsQtComparesIt)
{
    QStringList texts;
    for (int u = 0; u <= 0xffff; ++u)
        texts << QString(QChar(char16_t(u)));
    const SortKeys keys = textKeys(texts);
    std::vector<int> order(static_cast<size_t>(texts.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return keys.compare(a, b) < 0; });
    for (size_t i = 1; i < order.size(); ++i) {
        const QString &a = texts.at(order[i - 1]), &b = texts.at(order[i]);
        ASSERT_LT(textCompare(a, b), 0)
            << std::hex << int(a.at(0).unicode()) << " " << int(b.at(0).unicode());
    }
}

TEST(SortKeysTest, TextsOfAwkwardCharactersOrderAsQtComparesThem)
{
    const QStringList texts = awkwardTexts(700, 5)
                              + QStringList{"",
                                            "a",
                                            "a ",
                                            "A",
                                            "a  ",
                                            "ab",
                                            "Ab",
                                            "aB",
                                            QStringLiteral("\u00b5"),
                                            QStringLiteral("\u03bc")};
    SortKeys keys = textKeys(texts);
    // The Latin-1 form of the same texts makes the same keys.
    SortKeys narrow;
    for (const QString &text : texts) {
        narrow.beginRow();
        bool latin1 = std::all_of(
            text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
        if (latin1)
            narrow.addLatin1(text.toLatin1().constData(), size_t(text.size()));
        else
            narrow.addText(text);
    }
    for (int a = 0; a < texts.size(); ++a) {
        for (int b = 0; b < texts.size(); ++b) {
            const int want = textCompare(texts.at(a), texts.at(b));
            ASSERT_EQ(sign(keys.compare(a, b)), want)
                << qPrintable(texts.at(a).toUtf8().toHex()) << " "
                << qPrintable(texts.at(b).toUtf8().toHex());
            ASSERT_EQ(sign(narrow.compare(a, b)), want);
        }
    }
}

TEST(SortKeysTest, NumbersDateTimesAndNullOrderByValueEitherWay)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> numbers{
        -inf, -1e300, -2.5, -1, -0.0, 0.0, 1e-300, 1, 2.5, 9007199254740993.0, 1e300, inf};
    for (const bool descending : {false, true}) {
        SortKeys keys;
        keys.beginRow();
        keys.addNull();
        if (descending)
            keys.reverseLast();
        for (double n : numbers) {
            keys.beginRow();
            keys.addNumber(n);
            if (descending)
                keys.reverseLast();
        }
        for (int a = 0; a < keys.rows(); ++a) {
            for (int b = 0; b < keys.rows(); ++b) {
                const QVariant x = a == 0 ? QVariant() : QVariant(numbers[size_t(a - 1)]);
                const QVariant y = b == 0 ? QVariant() : QVariant(numbers[size_t(b - 1)]);
                const int want = sign(referenceCompare(x, y)) * (descending ? -1 : 1);
                ASSERT_EQ(sign(keys.compare(a, b)), want) << a << " " << b << " " << descending;
            }
        }
    }
    const std::vector<qint64> clocks{std::numeric_limits<qint64>::min() / 2,
                                     -86400000,
                                     -1,
                                     0,
                                     1,
                                     1735689600000,
                                     std::numeric_limits<qint64>::max() / 2};
    SortKeys keys;
    for (qint64 c : clocks) {
        keys.beginRow();
        keys.addWallClock(c);
    }
    for (int a = 1; a < keys.rows(); ++a)
        EXPECT_LT(keys.compare(a - 1, a), 0) << a;
}

TEST(SortKeysTest, SeveralKeysOrderByTheFirstThenTheNextAndTiesKeepTheirOrder)
{
    // (text ascending, number descending) side by side in one key per row.
    const QStringList texts{"b", "a", "B", "a", "", "a", "ab", "a"};
    const std::vector<double> numbers{1, 2, 1, 2, 5, 3, 0, 2};
    SortKeys keys;
    for (qsizetype r = 0; r < texts.size(); ++r) {
        keys.beginRow();
        keys.addText(texts.at(r));
        keys.addNumber(numbers[size_t(r)]);
        keys.reverseLast();
    }
    // ""; "a" 3, then "a" 2 three times as they came; "ab"; "B" before "b".
    EXPECT_EQ(keys.order(), (std::vector<int>{4, 5, 1, 3, 7, 6, 2, 0}));
}

TEST(SortKeysTest, ManyKeysThatBeginAlikeSortAsComparedOneByOne)
{
    for (const QString &prefix : {QString(), QStringLiteral("Holder name "), QString(30, 'x')}) {
        SCOPED_TRACE(prefix.toStdString());
        QStringList texts;
        for (const QString &text : awkwardTexts(3000, 12))
            texts << prefix + text;
        texts += texts.mid(0, 500); // equal keys keep the order they came in
        SortKeys keys;
        for (qsizetype r = 0; r < texts.size(); ++r) {
            keys.beginRow();
            keys.addText(texts.at(r));
            keys.addNumber(double(r % 3));
            keys.reverseLast();
        }
        std::vector<int> expected(static_cast<size_t>(keys.rows()));
        std::iota(expected.begin(), expected.end(), 0);
        std::stable_sort(
            expected.begin(), expected.end(), [&](int a, int b) { return keys.compare(a, b) < 0; });
        EXPECT_EQ(keys.order(), expected);
    }
}

class RecordsetSortTest : public testing::TestWithParam<Engine>
{
};

namespace {

const char *const kNames[] = {"abc",
                              "ABC",
                              "Abc",
                              "abc  ",
                              "abc",
                              "",
                              nullptr,
                              " abc",
                              "abd",
                              "ab",
                              "\u00c5ngstr\u00f6m",
                              "\u00e5ngstr\u00f6m",
                              "Angstrom",
                              "\u00e9",
                              "E",
                              "e",
                              "\u00c9",
                              "\u00b5",
                              "\u039c",
                              "\u03bc",
                              "\u00df",
                              "SS",
                              "ss",
                              "\u1e9e",
                              "\u9673\u5927\u6587",
                              "\u9673",
                              "\u738b\u5c0f\u660e",
                              "\uff71",
                              "\U0001F600",
                              "\U00010400",
                              "\U00010428",
                              "Zeta",
                              "zeta",
                              "\u0130",
                              "i",
                              "I",
                              "\u0131",
                              "9",
                              "10",
                              "-1",
                              "\u03a3",
                              "\u03c2",
                              "\u03c3",
                              "abc",
                              nullptr,
                              ""};

void fill(zq::test::TestDatabase &db)
{
    Connection &c = db.connection();
    QSqlQuery q(c.database());
    ASSERT_TRUE(q.prepare("INSERT INTO HolderData (HolderNo, HolderName, ShowText, SequenceNo, "
                          "StartDate) VALUES (?, ?, ?, ?, ?)"));
    const QVariant shows[] = {
        QVariant(), QString(""), QString(" "), QString("x"), QString("X"), QString("x ")};
    int i = 0;
    for (const char *name : kNames) {
        q.addBindValue(QStringLiteral("H%1").arg(i, 3, 10, QLatin1Char('0')));
        q.addBindValue(name ? QVariant(QString::fromUtf8(name)) : QVariant());
        q.addBindValue(shows[i % 6]);
        q.addBindValue(i % 9 == 0 ? QVariant() : QVariant((i * 7) % 11 - 5));
        q.addBindValue(i % 5 == 0 ? QVariant()
                                  : QVariant(QStringLiteral("20%1-0%2-1%3 0%4:30:1%5")
                                                 .arg(10 + i % 3 * 10)
                                                 .arg(1 + i % 4)
                                                 .arg(i % 2)
                                                 .arg(i % 3)
                                                 .arg(i % 2)));
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        ++i;
    }
}

// The row numbers (first column) of `rs` in order.
QStringList numbers(Recordset &rs)
{
    QStringList out;
    for (int r = 0; r < rs.recordCount(); ++r)
        out << Recordset::textOf(rs.valueAt(r, 0));
    return out;
}

// What `sort` must make of the rows as they were fetched, compared value by value.
QStringList expectedOrder(const QVector<QVector<QVariant>> &rows,
                          const std::vector<std::pair<int, bool>> &keys)
{
    std::vector<int> order(static_cast<size_t>(rows.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        for (const auto &[column, descending] : keys) {
            const int c = referenceCompare(rows[x][column], rows[y][column]);
            if (c != 0)
                return descending ? c > 0 : c < 0;
        }
        return false;
    });
    QStringList out;
    for (int r : order)
        out << Recordset::textOf(rows[r][0]);
    return out;
}

void expectSortsAsCompared(Recordset &rs, const QStringList &columns)
{
    QVector<QVector<QVariant>> fetched;
    for (int r = 0; r < rs.recordCount(); ++r) {
        QVector<QVariant> row;
        for (int c = 0; c < rs.fieldCount(); ++c)
            row << rs.valueAt(r, c);
        fetched << row;
    }
    const std::vector<std::pair<QString, std::vector<std::pair<int, bool>>>> sorts{
        {"HolderName", {{1, false}}},
        {"HolderName DESC", {{1, true}}},
        {"ShowText, HolderName DESC", {{2, false}, {1, true}}},
        {"ShowText DESC, SequenceNo, HolderName", {{2, true}, {3, false}, {1, false}}},
        {"SequenceNo DESC", {{3, true}}},
        {"StartDate, HolderName", {{4, false}, {1, false}}},
        {"StartDate DESC, SequenceNo DESC", {{4, true}, {3, true}}},
        {"Half", {{5, false}}},
        {"Mixed DESC, HolderNo", {{6, true}, {0, false}}},
        {"HolderName", {{1, false}}},
    };
    for (const auto &[sort, keys] : sorts) {
        if (!columns.contains(sort.section(' ', 0, 0).section(',', 0, 0)))
            continue;
        rs.setSort(sort);
        EXPECT_EQ(numbers(rs), expectedOrder(fetched, keys)) << sort.toStdString();
    }
    rs.setSort("");
    EXPECT_EQ(numbers(rs), expectedOrder(fetched, {}));
}

} // namespace

TEST_P(RecordsetSortTest, RowsSortAsTheirValuesCompare)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT HolderNo, HolderName, ShowText, SequenceNo, StartDate, "
                    "SequenceNo * 0.5 AS Half FROM HolderData ORDER BY HolderNo");
    rs.open();
    ASSERT_EQ(rs.recordCount(), int(std::size(kNames)));
    expectSortsAsCompared(rs, {"HolderName", "ShowText", "SequenceNo", "StartDate", "Half"});
}

TEST_P(RecordsetSortTest, RowsChangedAfterTheFetchSortWithTheOthers)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT HolderNo, HolderName, ShowText, SequenceNo, StartDate "
                    "FROM HolderData ORDER BY HolderNo");
    rs.open();
    ASSERT_TRUE(rs.moveTo(8));
    rs.edit();
    rs.setField("HolderName", QStringLiteral("abc"));
    rs.setField("StartDate", QDateTime(QDate(2020, 1, 10), QTime(1, 30, 11)));
    rs.setField("ShowText", QVariant());
    rs.post();
    rs.append();
    rs.setField("HolderNo", "H999");
    rs.setField("HolderName", QStringLiteral("ABC"));
    rs.setField("ShowText", "");
    rs.setField("SequenceNo", -5);
    rs.setField("StartDate", QDateTime(QDate(2010, 1, 10), QTime(0, 30, 10)));
    rs.post();
    // Sorted once before, so that positions and fetch order differ.
    rs.setSort("HolderName DESC");
    rs.setSort("");
    expectSortsAsCompared(rs, {"HolderName", "ShowText", "SequenceNo", "StartDate"});
}

TEST_P(RecordsetSortTest, NumbersAndTextsInOneColumnCompareAsBefore)
{
    if (GetParam() != Engine::SQLite)
        GTEST_SKIP() << "only SQLite gives one column values of several types";
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT HolderNo, HolderName, ShowText, SequenceNo, StartDate, "
                    "SequenceNo * 0.5 AS Half, CASE WHEN SequenceNo % 2 = 0 THEN SequenceNo "
                    "ELSE HolderName END AS Mixed FROM HolderData ORDER BY HolderNo");
    rs.open();
    expectSortsAsCompared(rs, {"Mixed"});
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         RecordsetSortTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
