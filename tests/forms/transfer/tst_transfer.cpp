// The import/export window on both engines: what an export writes, what an import stores,
// the file choices and the Format panel driven by the mouse.
#include "FormTest.h"

#include "FileDialogs.h"
#include "FormatPanel.h"
#include "HolderImport.h"
#include "TfrmHolderImportExport.h"
#include "TransferFormat.h"
#include "WorkbookReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString day(int y, int m, int d)
{
    return zq::transfer::dateText(QDate(y, m, d).startOfDay(), zq::transfer::transferDateFormat());
}

} // namespace

class TransferTest : public zq::test::FormTest
{
protected:
    void TearDown() override
    {
        zq::platform::setFileChoiceAnswer({});
        FormTest::TearDown();
    }

    void fillSite()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', 'Lab')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
              "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'D1')",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'D2')",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D2')",
              "INSERT INTO HolderData (HolderNo, HolderName, Email, Birthday, StartDate, "
              "ExpiredDate, Definable1, Definable2, Description, DepartmentNo, TitleNo, TypeNo, "
              "PIN, PunchCard, SequenceNo) VALUES ('H1', '陳大文', 'chan@example.com', "
              "'2005-03-04 00:00:00', '2024-01-01 00:00:00', '2026-12-31 00:00:00', 'd1', 'd2', "
              "'first', 'D1', 'T1', 'Y1', '1234', 1, 7)",
              "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
              "PunchCard, SequenceNo) VALUES ('H2', 'Bo', 'D2', 'T1', 'Y1', 0, 7)",
              "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo) "
              "VALUES ('H3', 'Lost', 'D9', 'T1', 'Y1')"});
    }

    TfrmHolderImportExport *openWindow(int rights = 127)
    {
        auto *w = open<TfrmHolderImportExport>(WindowKind::HolderImportExport, rights);
        // The pause after a file choice is half a second; the tests wait for it as a user
        // does, only shorter.
        if (w)
            w->tmrTime->setInterval(20);
        return w;
    }

    // Answers the next file dialog with `name` in `folder` and file type `type`.
    void answer(const QString &path, int type)
    {
        zq::platform::setFileChoiceAnswer([path, type](zq::platform::FileChoice &c) {
            c.fileType = type;
            return path;
        });
    }

    QStringList exportedLines(const QString &path)
    {
        return QString::fromUtf8(readFile(path)).split("\r\n", Qt::SkipEmptyParts);
    }

    // Brings up the page that holds `button` by its tab, then clicks the button, as a user
    // does; a button that is hidden or disabled at that moment fails the test.
    void press(TfrmHolderImportExport *w, QPushButton *button)
    {
        QWidget *page = button;
        while (page && w->pcData->indexOf(page) < 0)
            page = page->parentWidget();
        // After a file choice the pages stay disabled for a moment, which swallows the
        // second click of a double-click; a user waits until they are live again.
        ASSERT_TRUE(QTest::qWaitFor([w] { return w->pcData->isEnabled(); }, 2000));
        if (page && w->pcData->currentWidget() != page) {
            QTabBar *tabs = w->pcData->tabBar();
            QTest::mouseClick(
                tabs, Qt::LeftButton, {}, tabs->tabRect(w->pcData->indexOf(page)).center());
            ASSERT_EQ(w->pcData->currentWidget(), page) << "the tab did not take the click";
        }
        ASSERT_TRUE(button->isVisible()) << qPrintable(button->objectName());
        ASSERT_TRUE(button->isEnabled()) << qPrintable(button->objectName());
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void importFile(TfrmHolderImportExport *w, const QString &path, int type = 0)
    {
        answer(path, type);
        press(w, w->btnImportFile);
        press(w, w->btnImport);
    }

    QString folder() { return m_db->folder() + "/"; }
};

TEST_P(TransferTest, ATextExportWritesTheInitialLayoutAndReadsBackUnchanged)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->exportPath(), TfrmHolderImportExport::defaultPath());
    press(w, w->btnExport);
    EXPECT_EQ(d.messages(), QStringList{"ExportComplete"});
    const QStringList lines = exportedLines(w->exportPath());
    ASSERT_EQ(lines.size(), 3) << "H3's department is unknown: its name is empty";
    EXPECT_EQ(lines.at(0),
              "H1,陳大文,chan@example.com," + day(2005, 3, 4) + "," + day(2024, 1, 1) + ","
                  + day(2026, 12, 31) + ",d1,d2,first,Sales,Clerk,Staff,1234,");
    EXPECT_EQ(lines.at(1),
              "H2,Bo,," + day(1899, 12, 30) + "," + day(1899, 12, 30) + "," + day(1899, 12, 30)
                  + ",,,,Lab,Clerk,Staff,,");
    EXPECT_EQ(lines.at(2),
              "H3,Lost,," + day(1899, 12, 30) + "," + day(1899, 12, 30) + "," + day(1899, 12, 30)
                  + ",,,,,Clerk,Staff,,");
    EXPECT_FALSE(readFile(w->exportPath()).startsWith("\xEF\xBB\xBF"));

    exec({"DELETE FROM HolderData"});
    importFile(w, w->exportPath());
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "陳大文");
    EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2005-03-04");
    EXPECT_EQ(scalar("SELECT PIN FROM HolderData WHERE HolderNo = 'H1'"), "1234");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H2'"), "D2");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H2' AND Birthday IS NULL"),
              1)
        << "an empty date goes out as the zero date and comes back empty";
    EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'H2'"), "");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 2);
}

TEST_P(TransferTest, AWorkbookExportReadsBackUnchanged)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    answer(folder() + "holders", 1);
    press(w, w->btnExportFile);
    EXPECT_EQ(w->exportPath(), folder() + "holders.xlsx");
    press(w, w->btnExport);
    ASSERT_EQ(d.messages(), QStringList{"ExportComplete"});
    zq::platform::WorkbookReader book;
    ASSERT_TRUE(book.open(w->exportPath()));
    EXPECT_EQ(book.usedRowCount(), 3);
    EXPECT_EQ(book.usedColumnCount(), 13);
    QString text;
    ASSERT_TRUE(book.cellText("B1", text));
    EXPECT_EQ(text, "陳大文");
    book.close();

    exec({"DELETE FROM HolderData"});
    w->cbxSpaceChar->setCurrentIndex(1); // a workbook always splits at commas
    importFile(w, w->exportPath(), 1);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3);
    EXPECT_EQ(scalar("SELECT ExpiredDate FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2026-12-31");
    EXPECT_EQ(scalar("SELECT TypeNo FROM HolderData WHERE HolderNo = 'H1'"), "Y1");

    // The same file chosen as a text file is read as text lines: nothing matches.
    exec({"DELETE FROM HolderData"});
    importFile(w, w->exportPath(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 0);
}

TEST_P(TransferTest, AWorkbookWhoseFirstColumnIsEmptyEverywhereKeepsItsLastColumn)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"UPDATE HolderData SET Email = ''"});
    auto *w = openWindow();
    ASSERT_TRUE(w);
    // E-mail first: no holder has one, so the sheet's first column is empty in every row.
    FormatPanel *panel = w->gbFormat;
    QTest::mouseClick(panel->rowBox(2), Qt::LeftButton, {}, QPoint(60, 8));
    panel->btnUp->click();
    panel->btnUp->click();
    ASSERT_EQ(panel->columnOrder(), "312456789ABCD");
    answer(folder() + "holders", 1);
    press(w, w->btnExportFile);
    press(w, w->btnExport);
    ASSERT_EQ(d.messages(), QStringList{"ExportComplete"});

    exec({"UPDATE HolderData SET PIN = '0000', HolderName = 'changed'"});
    w->chkHolderCover->setChecked(true);
    importFile(w, w->exportPath(), 1);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(scalar("SELECT PIN FROM HolderData WHERE HolderNo = 'H1'"), "1234")
        << "the last column of the order is read back";
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "陳大文");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H2'"), "D2");
}

TEST_P(TransferTest, ScopesFollowDepartmentRightsAndThePunchCardFlag)
{
    ZQ_FORM_DB();
    fillSite();
    d.loginUser = "op";
    auto *w = openWindow();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->cbxDepartment->count(), 1);
    press(w, w->btnExport);
    EXPECT_EQ(exportedLines(w->exportPath()).size(), 1) << "op holds only D2";

    d.loginUser = "admin";
    w->chkPunchCard->setChecked(true);
    press(w, w->btnExport);
    ASSERT_EQ(exportedLines(w->exportPath()).size(), 1);
    EXPECT_TRUE(exportedLines(w->exportPath()).at(0).startsWith("H1,"));

    w->chkPunchCard->setChecked(false);
    w->rbDepartment->setChecked(true);
    w->cbxDepartment->setCurrentText("Lab");
    press(w, w->btnExport);
    ASSERT_EQ(exportedLines(w->exportPath()).size(), 1);
    EXPECT_TRUE(exportedLines(w->exportPath()).at(0).startsWith("H2,"));
    w->chkPunchCard->setChecked(true);
    d.calls.clear();
    press(w, w->btnExport);
    EXPECT_EQ(d.messages(), QStringList{"ExportNoData"});
    EXPECT_FALSE(QFile::exists(w->exportPath())) << "the earlier file is gone, none made";
}

TEST_P(TransferTest, FileChoicesAddTheExtensionOfTheChosenType)
{
    ZQ_FORM_DB();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    const struct
    {
        const char *chosen;
        int type;
        const char *path;
    } rows[] = {{"holders", 1, "holders.xlsx"},
                {"data.xls", 0, "data.xls.txt"},
                {"xls-files/book", 1, "xls-files/book"},
                {"plain", 0, "plain.txt"},
                {"list.txt", 0, "list.txt"}};
    for (const auto &row : rows) {
        answer(folder() + row.chosen, row.type);
        press(w, w->btnExportFile);
        EXPECT_EQ(w->exportPath(), folder() + row.path) << row.chosen;
        EXPECT_FALSE(w->pcData->isEnabled());
        QTest::qWait(550);
        EXPECT_TRUE(w->pcData->isEnabled()) << "the timer gives the tabs back";
    }
    answer(QString(), 0);
    press(w, w->btnExportFile);
    EXPECT_EQ(w->exportPath(), folder() + "list.txt") << "cancel keeps the path";
    EXPECT_EQ(w->saveDialog().fileName, TfrmHolderImportExport::defaultPath());
    press(w, w->btnExportPath);
    EXPECT_EQ(w->exportPath(), TfrmHolderImportExport::defaultPath());
    EXPECT_EQ(w->edImportFile->text(), TfrmHolderImportExport::defaultPath());
}

TEST_P(TransferTest, ExportNeedsTheAddEditOrConfirmRight)
{
    ZQ_FORM_DB();
    for (const auto &[rights, enabled] : {std::pair{0x02 | 0x08 | 0x20 | 0x40, false},
                                          std::pair{0x01, true},
                                          std::pair{0x04, true},
                                          std::pair{0x10, true}}) {
        auto *w = openWindow(rights);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->btnExport->isEnabled(), enabled) << rights;
        EXPECT_TRUE(w->btnImport->isEnabled());
        delete w;
    }
}

TEST_P(TransferTest, ASecondExportReplacesTheFile)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    press(w, w->btnExport);
    press(w, w->btnExport);
    EXPECT_EQ(exportedLines(w->exportPath()).size(), 3);
}

TEST_P(TransferTest, OverwritingWithNumberAndNameOnlyKeepsTheOtherColumns)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    w->pcData->setCurrentWidget(w->tsImport);
    for (int row = 2; row < 13; ++row)
        QTest::mouseClick(w->gbFormat->rowBox(row), Qt::LeftButton, {}, QPoint(8, 8));
    const QString path = folder() + "two.txt";
    writeFile(path, "H1,Renamed,\r\nH5,New,\r\n");
    w->chkHolderCover->setChecked(true);
    importFile(w, path);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "Renamed");
    // A sync of numbers and names leaves the rest of each holder as it is stored.
    const QList<QPair<const char *, const char *>> kept{{"Email", "chan@example.com"},
                                                        {"Definable1", "d1"},
                                                        {"Definable2", "d2"},
                                                        {"Description", "first"},
                                                        {"PIN", "1234"},
                                                        {"DepartmentNo", "D1"},
                                                        {"TitleNo", "T1"},
                                                        {"TypeNo", "Y1"}};
    for (const auto &[column, value] : kept)
        EXPECT_EQ(scalar(QString("SELECT %1 FROM HolderData WHERE HolderNo = 'H1'").arg(column)),
                  value)
            << column;
    EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2005-03-04");
    EXPECT_EQ(scalar("SELECT ExpiredDate FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2026-12-31");
    // A new holder starts today, without birthday or expiry.
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(scalar("SELECT StartDate FROM HolderData WHERE HolderNo = 'H5'").left(10), today);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H5' AND Birthday IS NULL "
                    "AND ExpiredDate IS NULL"),
              1);
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'H1'"), "7");
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'H5'"), "4");

    w->chkHolderCover->setChecked(false);
    writeFile(path, "H2,Kept,\r\n");
    importFile(w, path);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H2'"), "Bo");
}

TEST_P(TransferTest, NamesAreLookedUpOrCreatedOnceAndHolderNumbersFoundInTheSnapshot)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    // Columns: number, name, department, title.
    for (int row : {2, 3, 4, 5, 6, 7, 8, 11, 12})
        QTest::mouseClick(w->gbFormat->rowBox(row), Qt::LeftButton, {}, QPoint(8, 8));
    w->pcData->setCurrentWidget(w->tsImport);
    const QString path = folder() + "names.txt";
    writeFile(path,
              "\r\n   \r\n"
              "N1,One,Yard,Clerk,\r\n"
              "N2,Two,Yard,Guard,\r\n"
              "N3,O'Brien,Dock's,Clerk,\r\n"
              "N2,Again,Yard,,\r\n"
              ",Nobody,Ghost,Ghost,\r\n"
              "N4,Too,many,fields,here,\r\n"
              "N5,Long,ThisNameIsFarTooLongForANumber,,\r\n"
              "N6,Last,Sales,,\r\n");
    importFile(w, path);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'Yard' "
                    "AND DepartmentName = 'Yard' AND Description = 'Yard'"),
              1);
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'N2'"), "Yard");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N2'"), "Two");
    EXPECT_EQ(scalar("SELECT TitleNo FROM HolderData WHERE HolderNo = 'N2'"), "Guard");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'N3'"), "Dock's");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N3'"), "O'Brien");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'N6'"), "D1");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'Ghost'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo IN ('N4', 'N5')"), 0);
    // Consecutive sequence numbers after the three holders there were.
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'N1'"), "4");
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'N2'"), "5");
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'N3'"), "6");
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'N6'"), "7");
}

TEST_P(TransferTest, BadFilesEndCleanlyAndStoreNothingWrong)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    w->pcData->setCurrentWidget(w->tsImport);
    answer(folder() + "gone.txt", 0);
    press(w, w->btnImportFile);
    press(w, w->btnImport);
    EXPECT_EQ(d.messages(), QStringList{"The File Does Not Exist!"});

    QByteArray garbage;
    for (int i = 0; i < 200000; ++i)
        garbage += char((i * 7919) % 251);
    const QString path = folder() + "garbage.bin";
    writeFile(path, garbage);
    importFile(w, path, 0);
    importFile(w, path, 1);
    EXPECT_TRUE(d.messages().last().startsWith("Error!! "));
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3);
    EXPECT_TRUE(w->pcData->isEnabled());
    EXPECT_FALSE(w->isBusy());
}

TEST_P(TransferTest, TheFormatPanelTogglesOnTheBoxSelectsOnTheCaptionAndFollowsThePage)
{
    ZQ_FORM_DB();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    FormatPanel *panel = w->gbFormat;
    EXPECT_EQ(panel->order().selected(), 0);
    QTest::mouseClick(panel->rowBox(2), Qt::LeftButton, {}, QPoint(60, 8));
    EXPECT_EQ(panel->order().selected(), 2);
    EXPECT_TRUE(panel->rowBox(2)->isChecked());
    QTest::mouseClick(panel->rowBox(2), Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_FALSE(panel->rowBox(2)->isChecked());
    QTest::mouseClick(panel->rowBox(12), Qt::LeftButton, {}, QPoint(60, 8));
    for (int i = 0; i < 12; ++i)
        panel->btnUp->click();
    EXPECT_EQ(panel->columnOrder(), "D12456789ABC");
    EXPECT_EQ(panel->rowBox(0)->objectName(), "chkPIN");
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->rowBox(0)->y(), panel->rowBox(1)->y() - panel->rowBox(0)->height());
    EXPECT_NE(panel->rowBox(0)->styleSheet(), panel->rowBox(1)->styleSheet());
    w->pcData->setCurrentWidget(w->tsImport);
    EXPECT_EQ(panel->parentWidget(), w->tsImport);
    w->pcData->setCurrentWidget(w->tsExport);
    EXPECT_EQ(panel->parentWidget(), w->tsExport);
}

TEST_P(TransferTest, EmptyTextIsStoredAsEmptyTextAndOnlyEmptyDatesAsNull)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    w->pcData->setCurrentWidget(w->tsImport);
    const QString path = folder() + "empty.txt";
    writeFile(path, ("N1,Name,,," + day(1899, 12, 30) + ",,,,,,,,,\r\n").toUtf8());
    importFile(w, path);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    for (const char *column : {"Email",
                               "Definable1",
                               "Definable2",
                               "Description",
                               "PIN",
                               "DepartmentNo",
                               "TitleNo",
                               "TypeNo"})
        EXPECT_EQ(count(QString("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N1' AND %1 = ''")
                            .arg(column)),
                  1)
            << column;
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N1' AND StartDate IS NULL"),
              1)
        << "the zero date stands for an empty date";
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N1' AND Birthday IS NULL "
                    "AND ExpiredDate IS NULL"),
              1)
        << "an empty birthday or expiry is none";
}

TEST_P(TransferTest, ControlCharactersInNumbersAndCodesRefuseTheLine)
{
    ZQ_FORM_DB();
    fillSite();
    zq::transfer::ImportOptions options;
    options.columnOrder = "12A";
    zq::transfer::HolderImport run(&db(), options);
    ASSERT_TRUE(run.start());
    using O = zq::transfer::HolderImport::Outcome;
    EXPECT_EQ(run.importLine("\"Evil\r\n[Evil]\r\nKey=1\",Name,Sales,"), O::Failed);
    EXPECT_EQ(run.importLine(QString("N\tX,Name,Sales,")), O::Failed);
    EXPECT_EQ(run.importLine("N2,Name,\"Dock\nYard\","), O::Failed);
    EXPECT_EQ(run.importLine(QString("N3,Name,Ba") + QChar(0x7F) + "d,"), O::Failed);
    EXPECT_EQ(run.importLine(QString("N4,Na") + QChar(0) + "me,Sales,"), O::Failed);
    EXPECT_EQ(run.importLine("N5,\"Two\r\nlines\",Sales,"), O::Inserted)
        << "a name is no number or code";
    ASSERT_TRUE(run.finish());
    EXPECT_EQ(run.count(O::Failed), 5);
    EXPECT_EQ(run.storedLines(), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE '%Evil%'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentName LIKE 'Dock%'"), 0)
        << "nothing of a refused line is written";
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N5'"), "Two\r\nlines");
}

class FailingCommit
{
public:
    // Makes the commit of any batch holding the holder BOOM fail, on either engine.
    static void install(zq::test::FormTest *,
                        zq::data::Connection &db,
                        const std::function<void(const QStringList &)> &exec)
    {
        if (db.engine() == zq::data::Engine::SQLite) {
            // A trigger body holds semicolons: past the one-statement guard of exec().
            const auto run = [&db](const QStringList &statements) {
                for (const QString &sql : statements) {
                    QSqlQuery q(db.database());
                    ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
                }
            };
            run({"PRAGMA foreign_keys = ON",
                 "CREATE TABLE zq_parent (id TEXT PRIMARY KEY)",
                 "CREATE TABLE zq_child (id TEXT REFERENCES zq_parent(id) DEFERRABLE "
                 "INITIALLY DEFERRED)",
                 "CREATE TRIGGER zq_boom AFTER INSERT ON HolderData WHEN NEW.HolderNo = 'BOOM' "
                 "BEGIN INSERT INTO zq_child VALUES ('none'); END"});
        } else {
            exec({"CREATE FUNCTION zq_boom() RETURNS trigger AS $$ BEGIN IF NEW.holderno = "
                  "'BOOM' THEN RAISE EXCEPTION 'refused at commit'; END IF; RETURN NULL; END $$ "
                  "LANGUAGE plpgsql",
                  "CREATE CONSTRAINT TRIGGER zq_boom AFTER INSERT ON HolderData DEFERRABLE "
                  "INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION zq_boom()"});
        }
    }
};

TEST_P(TransferTest, AFailedCommitStopsTheImportAndForgetsTheCodesItRolledBack)
{
    ZQ_FORM_DB();
    fillSite();
    FailingCommit::install(this, db(), [this](const QStringList &s) { exec(s); });
    zq::transfer::ImportOptions options;
    options.columnOrder = "12A";
    options.commitEveryMs = 0;
    zq::transfer::HolderImport run(&db(), options);
    ASSERT_TRUE(run.start());
    using O = zq::transfer::HolderImport::Outcome;
    EXPECT_EQ(run.importLine("N1,One,Yard,"), O::Inserted);
    EXPECT_EQ(run.importLine("N2,Two,Yard,"), O::Inserted);
    EXPECT_TRUE(run.canContinue());
    run.importLine("BOOM,Three,Dock,");
    EXPECT_FALSE(run.canContinue());
    EXPECT_FALSE(run.errorText().isEmpty());
    EXPECT_EQ(run.importLine("N4,Four,Yard,"), O::Failed);
    EXPECT_FALSE(run.finish());
    EXPECT_EQ(run.storedLines(), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo IN ('N1', 'N2')"), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo IN ('BOOM', 'N4')"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'Dock'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'Yard'"), 1);
}

TEST_P(TransferTest, TheWindowTellsAFailedCommitWithTheLinesStored)
{
    ZQ_FORM_DB();
    fillSite();
    FailingCommit::install(this, db(), [this](const QStringList &s) { exec(s); });
    d.texts["ImportStoredLines"] = "stored: %1";
    auto *w = openWindow();
    ASSERT_TRUE(w);
    const QString path = folder() + "boom.txt";
    writeFile(path, "N1,One,\r\nBOOM,Two,\r\nN3,Three,\r\n");
    importFile(w, path);
    ASSERT_FALSE(d.messages().isEmpty());
    EXPECT_TRUE(d.messages().last().startsWith("Error!! ")) << d.messages().last().toStdString();
    EXPECT_TRUE(d.messages().last().endsWith("stored: 0")) << d.messages().last().toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo IN ('N1', 'BOOM', 'N3')"), 0)
        << "the batch went as a whole";
    EXPECT_TRUE(w->pcData->isEnabled());
    EXPECT_FALSE(w->isBusy());
}

TEST_P(TransferTest, AnImportCanBeCancelledAndKeepsTheLinesBeforeTheCancel)
{
    ZQ_FORM_DB();
    fillSite();
    d.texts["ImportStoredLines"] = "stored: %1";
    d.cancelAfterSteps = 0;
    auto *w = openWindow();
    ASSERT_TRUE(w);
    const QString path = folder() + "many.txt";
    QByteArray lines;
    for (int i = 0; i < 50; ++i)
        lines += "C" + QByteArray::number(i) + ",Name,\r\n";
    writeFile(path, lines);
    importFile(w, path);
    EXPECT_EQ(d.count("ShowProcessForm"), 1);
    EXPECT_EQ(d.messages().last(), "ImportCancelled\nstored: 1");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE 'C%'"), 1);
    EXPECT_EQ(d.count("CloseProcessForm"), 0) << "a cancelled progress window is gone already";
    EXPECT_TRUE(w->pcData->isEnabled());

    // Without a cancel the progress window goes when the import ends.
    d.cancelAfterSteps = -1;
    d.calls.clear();
    importFile(w, path);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(d.count("CloseProcessForm"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE 'C%'"), 50);
}

TEST_P(TransferTest, AnExportCanBeCancelledAndLeavesNoFile)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    d.cancelAfterSteps = 0;
    for (const int type : {0, 1}) {
        const QString path = folder() + (type == 1 ? "cancel.xlsx" : "cancel.txt");
        answer(path, type);
        press(w, w->btnExportFile);
        d.calls.clear();
        press(w, w->btnExport);
        EXPECT_EQ(d.messages(), QStringList{"ExportCancelled"}) << type;
        EXPECT_EQ(d.count("ShowProcessForm"), 1);
        EXPECT_FALSE(QFile::exists(path)) << type;
        EXPECT_TRUE(w->pcData->isEnabled());
    }
    d.cancelAfterSteps = -1;
    d.calls.clear();
    press(w, w->btnExport);
    EXPECT_EQ(d.messages(), QStringList{"ExportComplete"});
    EXPECT_EQ(d.count("CloseProcessForm"), 1);
}

TEST_P(TransferTest, DepartmentsAnImportCreatesAreGrantedToTheImporterAndEverySupervisor)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Op', 0)",
          "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('boss', 'Boss', 1)",
          "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('other', 'O', 0)"});
    d.loginUser = "op";
    auto *w = openWindow();
    ASSERT_TRUE(w);
    for (int row : {2, 3, 4, 5, 6, 7, 8, 10, 11, 12})
        QTest::mouseClick(w->gbFormat->rowBox(row), Qt::LeftButton, {}, QPoint(8, 8));
    const QString path = folder() + "depts.txt";
    writeFile(path, "N1,One,Yard,\r\nN2,Two,Yard,\r\nN3,Three,Lab,\r\n");
    importFile(w, path);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'N1'"), "Yard");
    QStringList users;
    for (const char *u : {"admin", "boss", "op", "other"})
        if (count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'Yard' AND UserID = "
                  + Connection::quoted(u))
            == 1)
            users << u;
    EXPECT_EQ(users, (QStringList{"admin", "boss", "op"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D2'"), 2)
        << "a department found by name gets no new rows";

    // The operator is now offered the department of the holders he imported.
    delete w;
    w = openWindow();
    ASSERT_TRUE(w);
    EXPECT_GE(w->cbxDepartment->findText("Yard"), 0);
}

TEST_P(TransferTest, ASupervisorIsOfferedEveryDepartmentOnceAndExportsEveryHolderOnce)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', 'Store')",
          "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo) "
          "VALUES ('H4', 'Ivy', 'D3', 'T1', 'Y1')",
          "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D1')"});
    auto *w = openWindow(); // admin, a supervisor with no right on D3
    ASSERT_TRUE(w);
    QStringList names;
    for (int i = 0; i < w->cbxDepartment->count(); ++i)
        names << w->cbxDepartment->itemText(i);
    EXPECT_EQ(names, (QStringList{"Sales", "Lab", "Store"}));
    press(w, w->btnExport);
    QStringList numbers;
    for (const QString &line : exportedLines(w->exportPath()))
        numbers << line.section(',', 0, 0);
    EXPECT_EQ(numbers, (QStringList{"H1", "H2", "H4", "H3"})) << "H3's department is unknown";
    delete w;
    d.loginUser = "op";
    w = openWindow();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->cbxDepartment->count(), 2);
}

TEST_P(TransferTest, FileDialogsProposeThePreviousNameIntact)
{
    ZQ_FORM_DB();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    QStringList proposed;
    zq::platform::setFileChoiceAnswer([&](zq::platform::FileChoice &c) {
        proposed << c.fileName;
        c.fileType = proposed.size() == 1 ? 1 : 0;
        return proposed.size() == 1 ? folder() + "holders" : folder() + "holders.txt";
    });
    press(w, w->btnExportFile);
    EXPECT_EQ(w->exportPath(), folder() + "holders.xlsx");
    press(w, w->btnExportFile);
    press(w, w->btnImportFile);
    press(w, w->btnImportFile);
    ASSERT_EQ(proposed.size(), 4);
    EXPECT_EQ(proposed.at(0), "Holder.txt");
    EXPECT_EQ(proposed.at(1), "holders.xlsx") << "the name as it was written";
    EXPECT_EQ(proposed.at(2), "Holder.txt");
    EXPECT_EQ(proposed.at(3), "holders.txt");
}

TEST_P(TransferTest, HostileTextFilesEndInRefusalsAndLeaveTheWindowIdle)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openWindow();
    ASSERT_TRUE(w);
    for (int row = 2; row < 13; ++row)
        QTest::mouseClick(w->gbFormat->rowBox(row), Qt::LeftButton, {}, QPoint(8, 8));
    const QString path = folder() + "hostile.txt";
    // UTF-16 with a mark, as spreadsheet programs save "Unicode text", tab-separated.
    const QString text = QString::fromUtf8("U1\t陳大文\r\nU2\t\"Lee\tAnn\"\r\n");
    QByteArray utf16("\xFF\xFE");
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    writeFile(path, utf16);
    w->pcData->setCurrentWidget(w->tsImport);
    w->cbxSpaceChar->setCurrentIndex(3);
    importFile(w, path);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'U1'"), "陳大文");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'U2'"), "Lee\tAnn");

    w->cbxSpaceChar->setCurrentIndex(0);
    const int before = count("SELECT COUNT(*) FROM HolderData");
    const QByteArray files[] = {
        QByteArray("M1,Mixed,\rM2,Ends,\nM3,All,\r\n", 27),
        QByteArray("Z1,Nul\0Name,\r\nZ2,Fine,\r\n", 24),
        "Q1,\"never closes,\r\nQ2,Next,\r\n",
        "V1,\xFF\xFE\xFD,\r\n" + QByteArray(3 << 20, 'x') + "\r\nV2,Last,\r\n",
    };
    for (const QByteArray &bytes : files) {
        writeFile(path, bytes);
        importFile(w, path);
        EXPECT_FALSE(w->isBusy());
        EXPECT_TRUE(w->pcData->isEnabled());
    }
    const QStringList stored{"M1", "M2", "M3", "Z2", "Q2", "V2"};
    for (const QString &n : stored)
        EXPECT_EQ(
            count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = " + Connection::quoted(n)), 1)
            << n.toStdString();
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'Q1'"), "\"never closes")
        << "an open quote is read literally";
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), before + int(stored.size()) + 1);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         TransferTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
