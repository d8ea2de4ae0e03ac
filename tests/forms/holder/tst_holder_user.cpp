// The holder window as a user drives it: clicks on the tool bar and the grid, keys to the
// focused field, paste, picks in drop-downs; with data as other tools write it.
#include "HolderFixture.h"

#include "Helpers.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

class HolderUserTest : public HolderTest
{
protected:
    // H5 stored with trailing blanks, as older imports write it; one card filed under each form.
    TfrmHolder *openWithBlankNumber()
    {
        fillSite();
        addHolder("H5  ", "Blank", "D1", "");
        exec({"INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (5001, 'H5', 1)",
              "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (5002, 'H5  ', 1)"});
        auto *w = openHolders();
        if (w)
            clickRow(w, "H5  ");
        return w;
    }
};

TEST_P(HolderUserTest, AStoredNumberWithTrailingBlanksIsEditedInPlace)
{
    ZQ_FORM_DB();
    auto *w = openWithBlankNumber();
    ASSERT_TRUE(w);
    ASSERT_EQ(w->edNo->text(), "H5");
    click(w, "btnEdit");
    ASSERT_EQ(w->mode(), TfrmHolder::EditMode);
    typeInto(w->edName, "Blank Two");
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H5  '"), "Blank Two");
    // The key stays as stored, so the cards filed under it still find their holder.
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H5'"), 0);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|E H5"});
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
    EXPECT_EQ(w->edName->text(), "Blank Two");
}

TEST_P(HolderUserTest, TrailingBlanksDoNotMakeANewNumber)
{
    ZQ_FORM_DB();
    auto *w = openWithBlankNumber();
    ASSERT_TRUE(w);
    click(w, "btnAdd");
    typeInto(w->edNo, "H5");
    typeInto(w->edName, "Twin");
    click(w, "btnOk");
    EXPECT_EQ(d.messages(), QStringList{"HolderNoDouble  H5 : Blank  "});
    EXPECT_EQ(w->mode(), TfrmHolder::AddMode);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Twin'"), 0);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    // Quotes, pattern characters and a backslash are numbers like any other.
    for (const QString &number : {QStringLiteral("H'5"),
                                  QStringLiteral("H%"),
                                  QStringLiteral("H_"),
                                  QStringLiteral("H\\5")}) {
        typeInto(w->edNo, "  " + number + "  ");
        typeInto(w->edName, "Odd");
        click(w, "btnOk");
        EXPECT_EQ(
            count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = " + Connection::quoted(number)),
            1)
            << number.toStdString();
        click(w, "btnAdd");
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 9);
}

TEST_P(HolderUserTest, AStoredNumberWithTrailingBlanksIsDeletedWithItsCards)
{
    ZQ_FORM_DB();
    auto *w = openWithBlankNumber();
    ASSERT_TRUE(w);
    w->chrome().dgView->setFocus();
    d.messageBoxAnswers = {Yes, 7}; // delete, keep the cards unassigned
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Blank'"), 0);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM CardData WHERE CardNo IN (5001, 5002) AND HolderNo IS NULL "
              "AND CardFlag = 0"),
        2);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|D H5"});
}

TEST_P(HolderUserTest, ADeletionThatRemovesNoRowIsNotRecorded)
{
    ZQ_FORM_DB();
    auto *w = openWithBlankNumber();
    ASSERT_TRUE(w);
    // Another workstation renumbers the holder after he was listed here.
    exec({"UPDATE HolderData SET HolderNo = 'H6' WHERE HolderNo = 'H5  '"});
    d.messageBoxAnswers = {Yes, 7};
    click(w, "btnDelete");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H6'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardData WHERE HolderNo IS NOT NULL"), 2);
    EXPECT_EQ(d.sounds().last(), "Error");
}

TEST_P(HolderUserTest, ADeviceWithoutANumberIsSkippedAndNamed)
{
    ZQ_FORM_DB();
    fillSite();
    // SQLite keeps any text in a numeric column; PostgreSQL's numeric holds NaN.
    const QString bad = GetParam() == zq::data::Engine::SQLite ? "'x7'" : "'NaN'";
    exec({"INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (1, 'a', 1)",
          "INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (" + bad
              + ", 'b', 1)",
          "INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (3, 'c', 1)",
          "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1001, 'H1', 1)",
          "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1002, 'H1', 1)"});
    auto *w = openHolders();
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    QStringList calls;
    for (const auto &c : d.callsNamed("DeviceCardDelete"))
        calls << c.args.join("/");
    EXPECT_EQ(calls, (QStringList{"1/1001", "3/1001", "1/1002", "3/1002"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardData"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1'"), 0);
    const auto boxes = d.callsNamed("ShowMessageBox");
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_TRUE(boxes.last().args.value(0).startsWith("DeviceNoNotNumber  "));
    EXPECT_TRUE(boxes.last().args.value(0).contains(
        GetParam() == zq::data::Engine::SQLite ? "x7" : "NaN", Qt::CaseInsensitive));
    EXPECT_EQ(boxes.last().args.value(2), "16");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderUserTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
