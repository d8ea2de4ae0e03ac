// The import page's preview and refusal report driven by the mouse: the preview judges the
// chosen file and writes nothing until its Import is clicked, the page then says how many
// lines were stored and refused, and the refused lines open in a grid that saves as CSV.
#include "FormTest.h"

#include "FileDialogs.h"
#include "FormatPanel.h"
#include "TfrmHolderImportExport.h"
#include "TfrmImportPreview.h"
#include "TfrmImportRefusals.h"
#include "WriteLock.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace zq::forms;
using zq::module::WindowKind;

namespace {

// Runs `act` on the modal dialog of type T once it is shown (the click that opens it does
// not return before it closes); a dialog that never shows fails the test instead of hanging.
template<typename T>
void onModal(std::function<void(T *)> act, bool *ran)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, ran, tries, poll] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            if (dialog->isVisible()) {
                *ran = true;
                act(dialog);
                return;
            }
        }
        if (++*tries > 250) {
            if (QWidget *other = QApplication::activeModalWidget())
                other->close();
            return;
        }
        QTimer::singleShot(20, *poll);
    };
    QTimer::singleShot(0, *poll);
}

void click(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

} // namespace

class ImportWindowTest : public zq::test::FormTest
{
protected:
    void TearDown() override
    {
        zq::platform::setFileChoiceAnswer({});
        FormTest::TearDown();
    }

    void SetUp() override
    {
        FormTest::SetUp();
        d.texts["ImportResult"] = "%1 stored, %2 refused";
        d.texts["RefusedDuplicate"] = "duplicate of line %1";
        d.texts["RefusedEmptyNumber"] = "empty number";
        d.texts["CodeDepartment"] = "Department %1";
    }

    TfrmHolderImportExport *openWithFile(const QByteArray &content)
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales')",
              "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, SequenceNo) "
              "VALUES ('H1', 'First', 'D1', 1)"});
        auto *w = open<TfrmHolderImportExport>(WindowKind::HolderImportExport);
        if (!w)
            return nullptr;
        // Columns: number, name, department.
        for (int row = 2; row < 13; ++row)
            if (row != 9)
                QTest::mouseClick(w->gbFormat->rowBox(row), Qt::LeftButton, {}, QPoint(8, 8));
        const QString path = m_db->folder() + "/holders.txt";
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        f.close();
        w->pcData->setCurrentWidget(w->tsImport);
        zq::platform::setFileChoiceAnswer([path](zq::platform::FileChoice &) { return path; });
        click(w->btnImportFile);
        // The tabs come back once the dialog's timer has run.
        for (int i = 0; i < 100 && !w->pcData->isEnabled(); ++i)
            QTest::qWait(20);
        return w;
    }

    const QByteArray kFile = "H1,Kept,Sales,\r\nN1,New,Yard,\r\n,Nobody,,\r\nN1,Again,,\r\n";
};

TEST_P(ImportWindowTest, ThePreviewShowsWhatTheImportWillDoAndCancelWritesNothing)
{
    ZQ_FORM_DB();
    auto *w = openWithFile(kFile);
    ASSERT_TRUE(w);
    bool ran = false;
    onModal<TfrmImportPreview>(
        [](TfrmImportPreview *p) {
            EXPECT_EQ(p->lblNewCount->text(), "1");
            EXPECT_EQ(p->lblOverwrittenCount->text(), "0");
            EXPECT_EQ(p->lblKeptCount->text(), "1");
            EXPECT_EQ(p->lblRefusedCount->text(), "2");
            ASSERT_EQ(p->lstCodes->count(), 1);
            EXPECT_EQ(p->lstCodes->item(0)->text(), "Department Yard");
            const QAbstractItemModel *m = p->dgRefusals->model();
            ASSERT_EQ(m->rowCount(), 2);
            EXPECT_EQ(m->index(0, 0).data().toString(), "3");
            EXPECT_EQ(m->index(0, 3).data().toString(), "empty number");
            EXPECT_EQ(m->index(1, 1).data().toString(), "N1");
            EXPECT_EQ(m->index(1, 3).data().toString(), "duplicate of line 2");
            click(p->btnPreviewCancel);
        },
        &ran);
    click(w->btnPreview);
    EXPECT_TRUE(ran);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 1);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_FALSE(d.messages().contains("ImportComplete")) << "a preview ends in its dialog";
    EXPECT_FALSE(w->isBusy());

    ran = false;
    onModal<TfrmImportPreview>([](TfrmImportPreview *p) { click(p->btnPreviewImport); }, &ran);
    click(w->btnPreview);
    EXPECT_TRUE(ran);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'N1'"), "Yard");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "First");
    EXPECT_EQ(w->lblImportResult->text(), "1 stored, 2 refused");
}

TEST_P(ImportWindowTest, TheRefusedLinesOpenInAGridThatSavesAsCsv)
{
    ZQ_FORM_DB();
    auto *w = openWithFile(kFile);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->btnRefusals->isEnabled());
    click(w->btnImport);
    EXPECT_EQ(w->lblImportResult->text(), "1 stored, 2 refused");
    ASSERT_TRUE(w->btnRefusals->isEnabled());

    const QString csv = m_db->folder() + "/refused";
    zq::platform::setFileChoiceAnswer([csv](zq::platform::FileChoice &c) {
        EXPECT_TRUE(c.save);
        return csv;
    });
    bool ran = false;
    onModal<TfrmImportRefusals>(
        [](TfrmImportRefusals *list) {
            EXPECT_EQ(list->dgRefusals->model()->rowCount(), 2);
            click(list->btnSaveCsv);
            click(list->btnRefusalsClose);
        },
        &ran);
    click(w->btnRefusals);
    EXPECT_TRUE(ran);
    QFile f(csv + ".csv");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the chosen name gets its extension";
    EXPECT_EQ(f.readAll(),
              "RefusalLine,HolderNo,RefusalCode,RefusalReason\r\n"
              "3,,empty_number,empty number\r\n"
              "4,N1,duplicate,duplicate of line 2\r\n");

    // A list that cannot be written says so.
    zq::platform::setFileChoiceAnswer(
        [this](zq::platform::FileChoice &) { return m_db->folder() + "/no/such/dir/r.csv"; });
    ran = false;
    onModal<TfrmImportRefusals>(
        [](TfrmImportRefusals *list) {
            click(list->btnSaveCsv);
            list->close();
        },
        &ran);
    click(w->btnRefusals);
    EXPECT_TRUE(ran);
    EXPECT_EQ(d.messages().last(), "RefusalsNotSaved");

    // A clean file leaves nothing to list.
    QFile clean(m_db->folder() + "/holders.txt");
    clean.open(QIODevice::WriteOnly);
    clean.write("N7,Clean,Sales,\r\n");
    clean.close();
    click(w->btnImport);
    EXPECT_EQ(w->lblImportResult->text(), "1 stored, 0 refused");
    EXPECT_FALSE(w->btnRefusals->isEnabled());
}

// A file of no holder line is refused as a whole with a message of its own; the file
// chosen stays chosen.
TEST_P(ImportWindowTest, AFileOfNoHolderLineIsRefusedAsAWhole)
{
    ZQ_FORM_DB();
    auto *w = openWithFile("\x01X\r\n\x02@\r\n");
    ASSERT_TRUE(w);
    const QString chosen = w->edImportFile->text();
    click(w->btnImport);
    EXPECT_EQ(d.messages().last(), "ImportFileNotText");
    EXPECT_EQ(w->edImportFile->text(), chosen);
    QFile empty(chosen);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    click(w->btnImport);
    EXPECT_EQ(d.messages().last(), "ImportFileEmpty");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 1);
    EXPECT_FALSE(w->isBusy());
}

// Overwriting from the window is the same engine's overwrite: what the Format panel does not
// carry keeps its stored value.
TEST_P(ImportWindowTest, AnOverwriteKeepsWhatTheFormatPanelDoesNotCarry)
{
    ZQ_FORM_DB();
    auto *w = openWithFile("H1,Renamed,Sales,\r\n");
    ASSERT_TRUE(w);
    exec({"UPDATE HolderData SET Email = 'h1@site', PIN = '77', Birthday = '1970-01-01 00:00:00' "
          "WHERE HolderNo = 'H1'"});
    click(w->chkHolderCover);
    ASSERT_TRUE(w->chkHolderCover->isChecked());
    click(w->btnImport);
    EXPECT_EQ(d.messages().last(), "ImportComplete");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "Renamed");
    EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'H1'"), "h1@site");
    EXPECT_EQ(scalar("SELECT PIN FROM HolderData WHERE HolderNo = 'H1'"), "77");
    EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "1970-01-01");
}

// Another workstation holds the SQLite file past the busy timeout: one message, nothing
// stored, the window usable and its input kept.
TEST_P(ImportWindowTest, AFileHeldByAnotherWriterEndsInOneMessage)
{
    if (GetParam() != zq::data::Engine::SQLite)
        GTEST_SKIP() << "file locks are SQLite's";
    ZQ_FORM_DB();
    auto *w = openWithFile(kFile);
    ASSERT_TRUE(w);
    const QString chosen = w->edImportFile->text();
    zq::test::WriteLock other(m_db->folder() + "/site.db",
                              std::chrono::milliseconds(7000),
                              "INSERT INTO OccupationTitle (TitleNo) VALUES ('T')");
    ASSERT_TRUE(other.held());
    click(w->btnImport);
    EXPECT_TRUE(other.release());
    EXPECT_EQ(d.messages().last(), "DatabaseBusy");
    EXPECT_EQ(d.messages().count("DatabaseBusy"), 1);
    EXPECT_EQ(w->edImportFile->text(), chosen);
    EXPECT_TRUE(w->pcData->isEnabled());
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 1);
    click(w->btnImport);
    EXPECT_EQ(d.messages().last(), "ImportComplete") << "once the lock is gone the file imports";
}

// Holders stored without a title or type, or with codes no table holds, are exported
// all the same, each once, with empty names. (A user limited by rights rows takes the same
// statement; the tool's tests go through it.)
TEST_P(ImportWindowTest, AnExportListsHoldersWithoutCodesOnce)
{
    ZQ_FORM_DB();
    // The login user (admin) is a supervisor in every test site.
    exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo) VALUES "
          "('H2', 'No codes', 'D1', NULL, 'Y9')"});
    auto *w = openWithFile(kFile);
    ASSERT_TRUE(w);
    const QString out = m_db->folder() + "/out.txt";
    w->pcData->setCurrentWidget(w->tsExport);
    zq::platform::setFileChoiceAnswer([out](zq::platform::FileChoice &) { return out; });
    click(w->btnExportFile);
    for (int i = 0; i < 100 && !w->pcData->isEnabled(); ++i)
        QTest::qWait(20);
    click(w->btnExport);
    EXPECT_EQ(d.messages().last(), "ExportComplete");
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // The Format panel of openWithFile: number, name, department.
    EXPECT_EQ(f.readAll(), "H1,First,Sales,\r\nH2,No codes,Sales,\r\n");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportWindowTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
