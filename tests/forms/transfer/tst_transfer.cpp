// The import/export window on both engines: what an export writes, what an import stores,
// the file choices and the Format panel driven by the mouse.
#include "FormTest.h"

#include "FileDialogs.h"
#include "FormatPanel.h"
#include "TfrmHolderImportExport.h"
#include "TransferFormat.h"
#include "WorkbookReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

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
        return open<TfrmHolderImportExport>(WindowKind::HolderImportExport, rights);
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

    void importFile(TfrmHolderImportExport *w, const QString &path, int type = 0)
    {
        answer(path, type);
        w->pcData->setCurrentWidget(w->tsImport);
        w->btnImportFileClick();
        w->btnImportClick();
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
    w->btnExportClick();
    EXPECT_EQ(d.messages(), QStringList{"ExportComplete"});
    const QStringList lines = exportedLines(w->exportPath());
    ASSERT_EQ(lines.size(), 2) << "H3's department is unknown";
    EXPECT_EQ(lines.at(0),
              "H1,陳大文,chan@example.com," + day(2005, 3, 4) + "," + day(2024, 1, 1) + ","
                  + day(2026, 12, 31) + ",d1,d2,first,Sales,Clerk,Staff,1234,");
    EXPECT_EQ(lines.at(1),
              "H2,Bo,," + day(1899, 12, 30) + "," + day(1899, 12, 30) + "," + day(1899, 12, 30)
                  + ",,,,Lab,Clerk,Staff,,");
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
    w->btnExportFileClick();
    EXPECT_EQ(w->exportPath(), folder() + "holders.xlsx");
    w->btnExportClick();
    ASSERT_EQ(d.messages(), QStringList{"ExportComplete"});
    zq::platform::WorkbookReader book;
    ASSERT_TRUE(book.open(w->exportPath()));
    EXPECT_EQ(book.usedRowCount(), 2);
    EXPECT_EQ(book.usedColumnCount(), 13);
    QString text;
    ASSERT_TRUE(book.cellText("B1", text));
    EXPECT_EQ(text, "陳大文");
    book.close();

    exec({"DELETE FROM HolderData"});
    w->cbxSpaceChar->setCurrentIndex(1); // a workbook always splits at commas
    importFile(w, w->exportPath(), 1);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 2);
    EXPECT_EQ(scalar("SELECT ExpiredDate FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2026-12-31");
    EXPECT_EQ(scalar("SELECT TypeNo FROM HolderData WHERE HolderNo = 'H1'"), "Y1");

    // The same file chosen as a text file is read as text lines: nothing matches.
    exec({"DELETE FROM HolderData"});
    importFile(w, w->exportPath(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 0);
}

TEST_P(TransferTest, ScopesFollowDepartmentRightsAndThePunchCardFlag)
{
    ZQ_FORM_DB();
    fillSite();
    d.loginUser = "op";
    auto *w = openWindow();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->cbxDepartment->count(), 1);
    w->btnExportClick();
    EXPECT_EQ(exportedLines(w->exportPath()).size(), 1) << "op holds only D2";

    d.loginUser = "admin";
    w->chkPunchCard->setChecked(true);
    w->btnExportClick();
    ASSERT_EQ(exportedLines(w->exportPath()).size(), 1);
    EXPECT_TRUE(exportedLines(w->exportPath()).at(0).startsWith("H1,"));

    w->chkPunchCard->setChecked(false);
    w->rbDepartment->setChecked(true);
    w->cbxDepartment->setCurrentText("Lab");
    w->btnExportClick();
    ASSERT_EQ(exportedLines(w->exportPath()).size(), 1);
    EXPECT_TRUE(exportedLines(w->exportPath()).at(0).startsWith("H2,"));
    w->chkPunchCard->setChecked(true);
    d.calls.clear();
    w->btnExportClick();
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
        w->btnExportFileClick();
        EXPECT_EQ(w->exportPath(), folder() + row.path) << row.chosen;
        EXPECT_FALSE(w->pcData->isEnabled());
        QTest::qWait(550);
        EXPECT_TRUE(w->pcData->isEnabled()) << "the timer gives the tabs back";
    }
    answer(QString(), 0);
    w->btnExportFileClick();
    EXPECT_EQ(w->exportPath(), folder() + "list.txt") << "cancel keeps the path";
    EXPECT_EQ(w->saveDialog().fileName, TfrmHolderImportExport::defaultPath());
    w->btnExportPathClick();
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
    w->btnExportClick();
    w->btnExportClick();
    EXPECT_EQ(exportedLines(w->exportPath()).size(), 2);
}

TEST_P(TransferTest, OverwritingWithNumberAndNameOnlyEmptiesTheOtherColumns)
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
    for (const char *column : {"Email",
                               "Definable1",
                               "Definable2",
                               "Description",
                               "PIN",
                               "DepartmentNo",
                               "TitleNo",
                               "TypeNo"})
        EXPECT_EQ(scalar(QString("SELECT %1 FROM HolderData WHERE HolderNo = 'H1'").arg(column)),
                  "")
            << column;
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'H1'").left(10), today);
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
    w->btnImportFileClick();
    w->btnImportClick();
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

INSTANTIATE_TEST_SUITE_P(Engines,
                         TransferTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
