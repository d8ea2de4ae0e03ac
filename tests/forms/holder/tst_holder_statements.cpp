// The holder listings' statements and the deposit list file, without a window.
#include "DepositList.h"
#include "HolderStatements.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq::forms::holder;
using zq::data::Dialect;
using zq::data::Engine;

TEST(HolderStatements, SequenceNoOnlyWhereTheListingCarriesIt)
{
    EXPECT_TRUE(filterListing("", true, "u").contains("T1.SequenceNo"));
    EXPECT_TRUE(filterListing("D1", false, "u").contains("T1.SequenceNo"));
    EXPECT_FALSE(filterListing("", false, "u").contains("T1.SequenceNo"));
    EXPECT_FALSE(reloadListing("").contains("T1.SequenceNo"));
    EXPECT_FALSE(reloadListing("D1").contains("T1.SequenceNo"));
    EXPECT_FALSE(likeListing("x", true, Dialect::of(Engine::SQLite)).contains("T1.SequenceNo"));
    EXPECT_TRUE(filterListing("", false, "u").contains("UserRightDept T5"));
    EXPECT_EQ(P4().size(), 84);
    for (const QString &piece : {P1(), P2(), P3(), P4S(), P5()})
        EXPECT_EQ(piece.size(), 98);
}

TEST(HolderStatements, TypedTextStaysInsideItsLiteral)
{
    EXPECT_TRUE(filterListing("D'1", false, "u").contains("T1.DepartmentNo = 'D''1'"));
    EXPECT_TRUE(filterListing("", false, "o'k").contains("T5.UserID = 'o''k'"));
    EXPECT_TRUE(exactSearch("O'Brien", false).contains("HolderName = 'O''Brien'"));
    const QString like = likeListing("50%_x'", true, Dialect::of(Engine::SQLite));
    EXPECT_TRUE(like.contains("LIKE '%50!%!_x''%' ESCAPE '!'")) << like.toStdString();
    EXPECT_TRUE(
        likeListing("a", false, Dialect::of(Engine::PostgreSQL)).contains("T1.HolderName ILIKE"));
    EXPECT_TRUE(printListing("ALL").endsWith(" ORDER BY T1.DepartmentNo,T1.HolderNo "));
    EXPECT_TRUE(printListing("D1").contains("AND T1.DepartmentNo = 'D1'"));
}

TEST(DepositList, RoundTripSortedWithCrLf)
{
    QTemporaryDir dir;
    DepositList list(dir.filePath("ZQDeposit.ini"));
    EXPECT_TRUE(list.load().isEmpty()); // missing file
    QStringList items;
    EXPECT_TRUE(list.store(items, "  500 "));
    EXPECT_TRUE(list.store(items, "100"));
    EXPECT_TRUE(list.store(items, "500"));
    EXPECT_TRUE(list.store(items, "   "));
    QFile f(list.path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("100\r\n500"));
    f.close();
    EXPECT_EQ(list.load(), (QStringList{"100", "500"}));
    EXPECT_TRUE(list.remove(items, " 100 "));
    EXPECT_EQ(list.load(), QStringList{"500"});
}

TEST(DisplayText, NumberBlankNameCutAfterSixteen)
{
    EXPECT_EQ(displayText("H1", "Ann"), "H1 Ann");
    EXPECT_EQ(displayText("H0001", "Alexandra Smith"), "H0001 Alexandra "); // 16 characters
    EXPECT_EQ(displayText("", ""), " ");
}
