// The batch list value of ZQMain.ini: its text, the well-formed test and the file itself.
#include "BatchList.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq::forms::batch;

TEST(BatchText, StartsWithParenBlankAndEndsWithTheEmptyItem)
{
    EXPECT_EQ(batchText({}), "( '')");
    EXPECT_EQ(batchText({"H1", "H2"}), "( 'H1','H2','')");
    EXPECT_EQ(batchText({"O'B"}), "( 'O''B','')");
    for (const QStringList &numbers : {QStringList{}, QStringList{"a"}, QStringList{"x'),('y"}})
        EXPECT_TRUE(isWellFormedBatch(batchText(numbers))) << batchText(numbers).toStdString();
}

TEST(BatchText, OnlyWellFormedValueListsAreAccepted)
{
    for (const char *good :
         {"( '')", "('')", "( 'H1','H2','')", "( 'H1' , 'H2' ,'')  ", "( 'it''s','')", "( ' ','')"})
        EXPECT_TRUE(isWellFormedBatch(QString::fromUtf8(good))) << good;
    for (const char *bad : {"",
                            " ",
                            "()",
                            "( 'H1')",
                            "( 'H1','')x",
                            "( 'H1',''",
                            "( 'H1' 'H2','')",
                            "( 'H1',,'')",
                            "( 'H1','') OR 1=1 --",
                            "( 'H1',''); DROP TABLE HolderData; --",
                            "( H1,'')",
                            "( 'H1,'')",
                            "'H1',''",
                            "( 'H1','');",
                            "(( 'H1',''))",
                            "( 'H1','' )) OR (1=1"})
        EXPECT_FALSE(isWellFormedBatch(QString::fromUtf8(bad))) << bad;
}

TEST(BatchFile, WritingKeepsEverythingElseOfTheFile)
{
    QTemporaryDir dir;
    const QString file = settingsFile(dir.path() + "/");
    EXPECT_TRUE(file.endsWith("/ZQMain.ini"));
    EXPECT_EQ(readBatchList(file), ""); // no file
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("; suite settings\n"
                "[Main]\n"
                "; the site\n"
                "Site=North gate\n"
                "[ZQHolderLabel]\n"
                "Printer=Label 1\n"
                "BrowseHolder=( 'OLD','')\n"
                "[Other]\n"
                "Key=Value with = sign\n");
    }
    EXPECT_EQ(readBatchList(file), "( 'OLD','')");
    ASSERT_TRUE(writeBatchList(file, batchText({"H1", "H2"})));
    EXPECT_EQ(readBatchList(file), "( 'H1','H2','')");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    for (const char *kept : {"; suite settings",
                             "[Main]",
                             "; the site",
                             "Site=North gate",
                             "Printer=Label 1",
                             "[Other]",
                             "Key=Value with = sign"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(kept))) << kept << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains("OLD"));
    EXPECT_EQ(text.count("BrowseHolder"), 1);
}

TEST(BatchFile, NewFileAndDamagedValues)
{
    QTemporaryDir dir;
    const QString file = settingsFile(dir.path() + "/");
    ASSERT_TRUE(writeBatchList(file, batchText({})));
    EXPECT_EQ(readBatchList(file), "( '')");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[zqholderlabel]\nbrowseholder=( 'H1') OR 1=1 --\n");
    }
    EXPECT_EQ(readBatchList(file), "");
    // Section and key match without regard to case, as in any INI file of the suite.
    ASSERT_TRUE(writeBatchList(file, "( 'H9','')"));
    EXPECT_EQ(readBatchList(file), "( 'H9','')");
}

TEST(BatchFile, AValueThatWouldBreakItsLineIsRefusedAndADamagedFileIsTold)
{
    QTemporaryDir dir;
    const QString file = settingsFile(dir.path() + "/");
    ASSERT_TRUE(writeBatchList(file, batchText({"H1"})));
    const QString before = [&] {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }();
    for (const QString number : {"Evil\r\n[Evil]\r\nKey=1", "A\nB", "A\rB", "Tab\tbed"}) {
        EXPECT_FALSE(writeBatchList(file, batchText({"H2", number}))) << number.toStdString();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(f.readAll()), before) << "the stored list stays";
    }
    bool damaged = true;
    EXPECT_EQ(readBatchList(file, &damaged), "( 'H1','')");
    EXPECT_FALSE(damaged);
    // What a writer without that check left behind: the value ends at the line break.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[ZQHolderLabel]\r\nBrowseHolder=( 'Evil\r\n[Evil]\r\nKey=1','')\r\n");
    }
    EXPECT_EQ(readBatchList(file, &damaged), "");
    EXPECT_TRUE(damaged);
    QFile::remove(file);
    EXPECT_EQ(readBatchList(file, &damaged), "");
    EXPECT_FALSE(damaged) << "no file is no batch, not a damaged one";
}
