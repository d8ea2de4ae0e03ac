// The holder window as a user drives it: clicks on the tool bar and the grid, keys to the
// focused field, paste, picks in drop-downs; with data as other tools write it.
#include "HolderFixture.h"

#include "FileDialogs.h"
#include "Helpers.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDateEdit>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>

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
    ASSERT_EQ(ui(w).edNo->text(), "H5");
    click(w, "btnEdit");
    ASSERT_EQ(w->mode(), TfrmHolder::EditMode);
    typeInto(ui(w).edName, "Blank Two");
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H5  '"), "Blank Two");
    // The key stays as stored, so the cards filed under it still find their holder.
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H5'"), 0);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|E H5"});
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
    EXPECT_EQ(ui(w).edName->text(), "Blank Two");
}

TEST_P(HolderUserTest, TrailingBlanksDoNotMakeANewNumber)
{
    ZQ_FORM_DB();
    auto *w = openWithBlankNumber();
    ASSERT_TRUE(w);
    click(w, "btnAdd");
    typeInto(ui(w).edNo, "H5");
    typeInto(ui(w).edName, "Twin");
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
        typeInto(ui(w).edNo, "  " + number + "  ");
        typeInto(ui(w).edName, "Odd");
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

// The holder numbers of the rows `statement` gives.
QStringList numbersOf(zq::data::Connection &db, const QString &statement)
{
    zq::data::Recordset rs;
    rs.setConnection(&db);
    rs.setStatement(statement);
    rs.open();
    QStringList numbers;
    for (int row = 0; row < rs.recordCount(); ++row)
        numbers
            << zq::data::Recordset::textOf(rs.valueAt(row, rs.fieldIndex("HolderNo"))).trimmed();
    numbers.sort();
    return numbers;
}

QStringList listed(TfrmHolder *w)
{
    QStringList numbers;
    for (int row = 0; row < w->listing()->recordCount(); ++row)
        numbers << zq::data::Recordset::textOf(
                       w->listing()->valueAt(row, w->listing()->fieldIndex("HolderNo")))
                       .trimmed();
    numbers.sort();
    return numbers;
}

TEST_P(HolderUserTest, AnOperatorsSearchSaveAndPrintKeepToHisDepartments)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders("op");
    ASSERT_TRUE(w);
    // A letter in every name: his departments' holders only.
    w->searchFor("", "e");
    EXPECT_EQ(listed(w), (QStringList{"H2", "H3"}));
    EXPECT_EQ(filterOf(w)->currentIndex(), 0);

    // The printed list of all departments.
    pick(filterOf(w), "");
    EXPECT_EQ(listed(w), (QStringList{"H2", "H3", "H4"}));
    click(w, "btnOutput");
    const auto reports = d.callsNamed("ShowReport");
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(numbersOf(db(), reports.first().args.value(1)), (QStringList{"H2", "H3", "H4"}));

    // A save whose listing falls back to all departments.
    click(w, "btnAdd");
    typeInto(ui(w).edNo, "H7");
    typeInto(ui(w).edName, "Seven");
    ui(w).cmbDepartment->setCurrentIndex(-1); // no department, as other paths can leave it
    click(w, "btnOk");
    EXPECT_EQ(w->departmentFilter(), "");
    EXPECT_FALSE(listed(w).contains("H1"));
}

TEST_P(HolderUserTest, AHolderOfADepartmentNotListedKeepsItOnSave)
{
    ZQ_FORM_DB();
    fillSite();
    addHolder("H8", "Gone", "D9", ""); // his department row was removed by another tool
    auto *w = openHolders();
    ASSERT_TRUE(w);
    pick(filterOf(w), "");
    clickRow(w, "H8"); // every holder is listed, those without a department too
    EXPECT_EQ(ui(w).cmbDepartment->currentIndex(), -1);
    click(w, "btnEdit");
    typeInto(ui(w).edName, "Still here");
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H8'"), "Still here");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H8'"), "D9");
}

TEST_P(HolderUserTest, AnExactHitWithoutADepartmentIsShownOnTheEmptyFilter)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    // Written by another workstation after the window filled in missing departments.
    addHolder("H8  ", "Nobody", "", "");
    w->searchFor("H8", "");
    EXPECT_EQ(filterOf(w)->currentIndex(), 0);
    EXPECT_EQ(ui(w).edNo->text(), "H8");
    EXPECT_EQ(ui(w).edName->text(), "Nobody");
    // Only to those who see every department.
    delete w;
    QCoreApplication::processEvents();
    auto *w2 = openHolders("op");
    ASSERT_TRUE(w2);
    const QStringList before = listed(w2);
    w2->searchFor("H8", "");
    EXPECT_EQ(listed(w2), before);
    EXPECT_NE(ui(w2).edNo->text(), "H8");
}

TEST_P(HolderUserTest, AnEmptyOrUnreadableDateIsNoDate)
{
    ZQ_FORM_DB();
    if (GetParam() != zq::data::Engine::SQLite)
        GTEST_SKIP() << "a PostgreSQL timestamp column holds no text";
    fillSite();
    exec({"UPDATE HolderData SET ExpiredDate = '', Deposit02 = 'soon', Deposit03 = '' "
          "WHERE HolderNo = 'H1'"});
    auto *w = openHolders();
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    EXPECT_FALSE(ui(w).cbxExpireDate->isChecked());
    EXPECT_FALSE(ui(w).cbxDeposit02->isChecked());
    EXPECT_FALSE(ui(w).cbxDeposit03->isChecked());
    // A save leaves the dates the operator did not touch as they are; one he ticked off is
    // stored as none.
    click(w, "btnEdit");
    typeInto(ui(w).edDescription, "dated");
    click(w, "btnOk");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1' AND ExpiredDate = '' "
                    "AND Deposit02 = 'soon' AND Deposit03 = ''"),
              1);
    tick(ui(w).cbxDeposit02, true);
    click(w, "btnOk");
    tick(ui(w).cbxDeposit02, false);
    click(w, "btnOk");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1' AND Deposit02 IS NULL"),
              1);
}

// Each holder shows his own dates: one without a date shows today's and an unticked box,
// whatever the holder shown before him had.
TEST_P(HolderUserTest, EachHolderShowsHisOwnDatesAndBoxes)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"UPDATE HolderData SET ExpiredDate = '2031-03-02 00:00:00', "
          "Deposit01 = '2020-01-02 00:00:00', Deposit02 = '2021-02-03 00:00:00', "
          "Deposit03 = '2022-03-04 00:00:00' WHERE HolderNo = 'H2'",
          "UPDATE HolderData SET Birthday = NULL, StartDate = NULL WHERE HolderNo = 'H3'"});
    auto *w = openHolders();
    ASSERT_TRUE(w);
    pick(filterOf(w), "D2 : Sales");
    const QDate today = QDate::currentDate();
    struct Field
    {
        const char *name;
        QDateEdit *date;
        QCheckBox *box;
        QDate h2;
    };
    const Field fields[] = {
        {"Birthday", ui(w).dtBirthday, nullptr, QDate(1990, 5, 4)},
        {"StartDate", ui(w).dtStartDate, nullptr, QDate(2024, 1, 1)},
        {"ExpiredDate", ui(w).dtExpiredDate, ui(w).cbxExpireDate, QDate(2031, 3, 2)},
        {"Deposit01", ui(w).dtDeposit01, nullptr, QDate(2020, 1, 2)},
        {"Deposit02", ui(w).dtDeposit02, ui(w).cbxDeposit02, QDate(2021, 2, 3)},
        {"Deposit03", ui(w).dtDeposit03, ui(w).cbxDeposit03, QDate(2022, 3, 4)},
    };
    // H3's birthday and start date were filled in with today's when the window opened.
    for (const char *holder : {"H2", "H3", "H2", "H3"}) {
        clickRow(w, holder);
        const bool dated = QLatin1String(holder) == QLatin1String("H2");
        for (const Field &f : fields) {
            SCOPED_TRACE(std::string(holder) + " " + f.name);
            EXPECT_EQ(f.date->date(), dated ? f.h2 : today);
            if (f.box) {
                EXPECT_EQ(f.box->isChecked(), dated);
            }
        }
    }
    EXPECT_FALSE(w->isModified());
}

TEST_P(HolderUserTest, BackspaceInTheDepositComboRemovesTheText)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    clickRow(w, "H1"); // deposit "100", now in the list file
    click(w, "btnEdit");
    QTest::mouseClick(ui(w).cmbDeposit04->lineEdit(), Qt::LeftButton);
    ASSERT_TRUE(QApplication::focusWidget());
    ASSERT_EQ(ui(w).cmbDeposit04->currentText(), "100");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(ui(w).cmbDeposit04->currentText(), "");
    EXPECT_EQ(ui(w).cmbDeposit04->count(), 0);
    EXPECT_TRUE(w->isModified());
    QFile file(w->depositListPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray());
}

TEST_P(HolderUserTest, TheDepositListIsSortedMatchedWithoutCaseAndReadFromBig5)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"UPDATE HolderData SET Deposit04 = 'a100' WHERE HolderNo = 'H1'"});
    {
        QFile file(d.programPath + "ZQDeposit.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("b200\r\n\xa9\xe3\xaa\xf7\r\nA100"); // Big5, from an older installation
    }
    auto *w = openHolders();
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    // "a100" shown is the list's "A100": nothing is added.
    EXPECT_EQ(comboItems(ui(w).cmbDeposit04).mid(0, 2), (QStringList{"A100", "b200"}));
    EXPECT_EQ(ui(w).cmbDeposit04->count(), 3);
    EXPECT_TRUE(comboItems(ui(w).cmbDeposit04).contains(QString::fromUtf8("押金")));
}

TEST_P(HolderUserTest, ThePinTakesOnlyDigitsWhateverThePath)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    click(w, "btnEdit");
    QTest::mouseClick(ui(w).edPIN, Qt::LeftButton);
    QWidget *pin = QApplication::focusWidget();
    ASSERT_EQ(pin, ui(w).edPIN);
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText("12ab");
    QTest::keyClick(pin, Qt::Key_V, Qt::ControlModifier);
    clipboard->setText(" 7 8");
    QTest::keyClick(pin, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(ui(w).edPIN->text(), "");
    clipboard->setText("567890");
    QTest::keyClick(pin, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui(w).edPIN->text(), "5678");
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT PIN FROM HolderData WHERE HolderNo = 'H1'"), "5678");
}

TEST_P(HolderUserTest, TenThousandPastedCharactersInEveryFieldAreCutToItsLimit)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    click(w, "btnAdd");
    QGuiApplication::clipboard()->setText(QString(10000, QLatin1Char('7')));
    const QList<QWidget *> fields{ui(w).edNo,
                                  ui(w).edName,
                                  ui(w).edShowText,
                                  ui(w).edEmail,
                                  ui(w).edPIN,
                                  ui(w).edDefinable1,
                                  ui(w).edDefinable2,
                                  ui(w).edDescription,
                                  ui(w).cmbDeposit04->lineEdit()};
    for (QWidget *field : fields) {
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    }
    EXPECT_EQ(ui(w).edNo->text().size(), 10);
    EXPECT_EQ(ui(w).edPIN->text().size(), 4);
    EXPECT_EQ(ui(w).cmbDeposit04->currentText().size(), 40);
    click(w, "btnOk");
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
    const QString no = QString(10, QLatin1Char('7'));
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = '" + no + "'").size(), 40);
    EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = '" + no + "'").size(), 30);
    EXPECT_EQ(scalar("SELECT Deposit04 FROM HolderData WHERE HolderNo = '" + no + "'").size(), 40);
}

TEST_P(HolderUserTest, APhotoFileThatIsNoPictureIsRefused)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    const QString path = d.programPath + "photo.jpg";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, 'x'));
    }
    zq::platform::setFileDialogAnswer([&](const QString &, const QString &) { return path; });
    click(w, "btnEdit");
    QTest::mouseClick(ui(w).btnOpen, Qt::LeftButton);
    zq::platform::setFileDialogAnswer({});
    EXPECT_TRUE(w->currentPhoto().isEmpty());
    EXPECT_EQ(d.sounds().last(), "Error");
    click(w, "btnOk");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1' AND Photo IS NULL"), 1);
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderUserTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
