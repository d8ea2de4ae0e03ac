// The rows a list keeps between counting its pages and painting them come back as they went
// in: texts of every kind and length, group beginnings, rows larger than the pieces the file
// is written and read in, and many rows across those pieces.
#include "ReportSpool.h"

#include <gtest/gtest.h>

#include <functional>

using zq::suite::ReportSpool;

namespace {

struct Row
{
    bool newGroup = false;
    QString groupLine;
    std::vector<QString> cells;
};

struct Case
{
    const char *name;
    std::function<std::vector<Row>()> rows;
};

std::vector<Row> many(int count)
{
    std::vector<Row> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(Row{i % 37 == 0,
                           i % 37 == 0 ? QStringLiteral("Department %1").arg(i) : QString(),
                           {QStringLiteral("H%1").arg(i, 6, 10, QLatin1Char('0')),
                            QString(i % 13, QLatin1Char('x')),
                            QString(),
                            QStringLiteral("holder%1@example.com").arg(i)}});
    return rows;
}

const Case kCases[] = {
    {"one plain row",
     [] {
         return std::vector<Row>{
             {true, QStringLiteral("Sales"), {QStringLiteral("H1"), QStringLiteral("Anna")}}};
     }},
    {"empty texts and a group line left empty",
     [] {
         return std::vector<Row>{{true, QString(), {QString(), QString()}},
                                 {false, QString(), {QString(), QStringLiteral("b")}}};
     }},
    {"no cells",
     [] {
         return std::vector<Row>{{false, QString(), {}}, {true, QStringLiteral("g"), {}}};
     }},
    {"characters outside the first plane, marks, NUL and line breaks",
     [] {
         return std::vector<Row>{{true,
                                  QStringLiteral("研發部 \U0001F600"),
                                  {QStringLiteral("Ame\u0301lie"),
                                   QString(QChar(0)) + QStringLiteral("\n\t\u2026"),
                                   QStringLiteral("歐陽明月")}}};
     }},
    {"a row larger than a piece of the file",
     [] {
         return std::vector<Row>{
             {false, QString(), {QStringLiteral("a")}},
             {true, QString(300000, QChar(0x9673)), {QString(200000, QLatin1Char('W'))}},
             {false, QString(), {QStringLiteral("after")}}};
     }},
    {"many rows across pieces", [] { return many(20000); }},
    {"texts a byte a character beside texts of UTF-16 units",
     [] {
         return std::vector<Row>{
             {true,
              QStringLiteral("\u00e9t\u00e9 \u00ff\u00a0\u00b5"),
              {QStringLiteral("caf\u00e9"),
               QStringLiteral("\u0100"),
               QStringLiteral("a\u00ff\u0101"),
               QString(QChar(0xff)),
               QStringLiteral("plain")}},
             {false, QString(), {QStringLiteral("\u9673\u5927\u6587"), QStringLiteral("x")}}};
     }},
    {"lone surrogates, reversed pairs and a pair cut at the end",
     [] {
         return std::vector<Row>{{true,
                                  QString(QChar(0xdc00)),
                                  {QString(QChar(0xd800)),
                                   QStringLiteral("a") + QChar(0xdc01) + QChar(0xd801) + 'b',
                                   QStringLiteral("end") + QChar(0xd83d),
                                   QString(QChar(0xdfff)) + QStringLiteral("\u00e9")}}};
     }},
    {"lengths either side of each byte more their length takes",
     [] {
         std::vector<Row> rows;
         for (const int n : {63, 64, 65, 127, 128, 8191, 8192, 8193, 16384})
             rows.push_back(Row{n % 2 == 1,
                                QString(n, QLatin1Char('g')),
                                {QString(n, QLatin1Char('a')), QString(n, QChar(0x4e00))}});
         return rows;
     }},
    {"a text the size of a piece",
     [] {
         return std::vector<Row>{{false, QString(), {QString(256 * 1024, QLatin1Char('p'))}},
                                 {true, QStringLiteral("next"), {QString(256 * 1024 - 9, 'q')}},
                                 {false, QString(), {QStringLiteral("last")}}};
     }},
};

TEST(ReportSpool, RowsComeBackAsTheyWentIn)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<Row> rows = c.rows();
        ReportSpool spool;
        ASSERT_TRUE(spool.open());
        for (const Row &row : rows)
            spool.append(row.newGroup, row.groupLine, row.cells);
        ASSERT_TRUE(spool.rewind());
        for (size_t i = 0; i < rows.size(); ++i) {
            ASSERT_TRUE(spool.next()) << "row " << i;
            EXPECT_EQ(spool.newGroup(), rows[i].newGroup) << "row " << i;
            if (rows[i].newGroup) {
                EXPECT_EQ(spool.groupLine(), rows[i].groupLine) << "row " << i;
            }
            EXPECT_EQ(spool.cells(), rows[i].cells) << "row " << i;
        }
        EXPECT_FALSE(spool.next());
        EXPECT_FALSE(spool.failed());
    }
}

TEST(ReportSpool, NoRowsKeptReadsAsNoRows)
{
    ReportSpool spool;
    ASSERT_TRUE(spool.open());
    ASSERT_TRUE(spool.rewind());
    EXPECT_FALSE(spool.next());
    EXPECT_FALSE(spool.failed());
}

} // namespace
