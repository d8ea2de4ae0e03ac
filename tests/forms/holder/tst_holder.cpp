// The holder window through its widgets: code tables, department visibility, listings,
// search, the display text, deposits, key filters, punch card, photo and saving.
#include "FormTest.h"

#include "Connection.h"
#include "Exports.h"
#include "Helpers.h"
#include "PictureBox.h"
#include "Recordset.h"
#include "TfrmHolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {
constexpr int Yes = 6;
}

class HolderTest : public zq::test::FormTest
{
protected:
    void fillSite()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Head')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', 'Sales')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', 'Lab')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
              "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
              "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Operator', 0)",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D2')",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D3')"});
        addHolder("H1", "Ann Berg", "D1", "100");
        addHolder("H2", "O'Brien", "D2", "");
        addHolder("H3", "Ben 100%", "D2", "");
        addHolder("H4", "Carl", "D3", "");
    }
    void addHolder(const QString &no, const QString &name, const QString &dept, const QString &deposit)
    {
        exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, PunchCard, "
              "Birthday, StartDate, Deposit04) VALUES ("
              + Connection::quoted(no) + ", " + Connection::quoted(name) + ", " + Connection::quoted(dept)
              + ", 'T1', 'Y1', 1, '1990-05-04 00:00:00', '2024-01-01 00:00:00', "
              + Connection::quoted(deposit) + ")"});
    }
    TfrmHolder *openHolders(const QString &user = "admin", int rights = 127)
    {
        d.loginUser = user;
        return open<TfrmHolder>(WindowKind::Holder, rights);
    }
    static QStringList comboItems(QComboBox *c)
    {
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        return items;
    }
};

TEST_P(HolderTest, EmptyCodeTablesGetTheirDefaultRowAndHoldersMoveToIt)
{
    ZQ_FORM_DB();
    exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo) VALUES ('H1', 'a', '')",
          "INSERT INTO HolderData (HolderNo, HolderName) VALUES ('H2', 'b')"});
    auto *w = openHolders();
    ASSERT_TRUE(w);
    EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = '1'"),
              "DefineDepartmentN #1"); // cut to fit the column
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = '1'"), "DefineTitleName #1");
    EXPECT_EQ(scalar("SELECT TypeName FROM OccupationType WHERE TypeNo = '1'"), "DefineTypeName #1");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE DepartmentNo = '1' AND TitleNo = '1' "
                    "AND TypeNo = '1'"),
              2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE Birthday IS NULL OR StartDate IS NULL"), 0);
    EXPECT_EQ(w->listing()->recordCount(), 2); // the filter is on its first real department
    EXPECT_EQ(w->chrome().panel1->text(), QString(QChar(0x3000)) + "2");
}

TEST_P(HolderTest, AnOperatorSeesHisDepartmentsOnly)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders("op");
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isSupervisor());
    EXPECT_EQ(comboItems(w->cmbDept), (QStringList{"", "D2 : Sales", "D3 : Lab"}));
    EXPECT_EQ(comboItems(w->cmbDepartment), (QStringList{"D2 : Sales", "D3 : Lab"}));
    EXPECT_EQ(w->cmbDept->currentIndex(), 1);
    EXPECT_EQ(w->departmentFilter(), "D2");
    EXPECT_TRUE(w->listing()->hasField("SequenceNo"));
    // All of his departments: no SequenceNo in that listing.
    w->cmbDept->setCurrentIndex(0);
    w->cmbDeptCloseUp();
    EXPECT_EQ(w->listing()->recordCount(), 3);
    EXPECT_FALSE(w->listing()->hasField("SequenceNo"));
    // A holder of another department (found by LIKE over all) has no department shown.
    w->searchFor("", "n");
    ASSERT_TRUE(zq::data::LocateRecord(w->listing(), "HolderNo", "H1"));
    EXPECT_EQ(w->cmbDepartment->currentIndex(), -1);
}

TEST_P(HolderTest, WithoutDepartmentRightsEveryoneSeesAll)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"DROP TABLE UserRightDept"});
    SetADOConnection(&db());
    auto *w = openHolders("op");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->cmbDept->count(), 4);
    w->cmbDept->setCurrentIndex(0);
    w->cmbDeptCloseUp();
    EXPECT_EQ(w->listing()->recordCount(), 4);
    EXPECT_TRUE(w->listing()->hasField("SequenceNo"));
}

TEST_P(HolderTest, ExactSearchMovesTheFilterAndLikeSearchesEverywhere)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->departmentFilter(), "D1");
    w->searchFor("H4", "");
    EXPECT_EQ(w->departmentFilter(), "D3");
    EXPECT_EQ(w->edNo->text(), "H4");

    w->searchFor("", "O'Brien"); // exact, with a quote
    EXPECT_EQ(w->departmentFilter(), "D2");
    EXPECT_EQ(w->edNo->text(), "H2");

    w->searchFor("", "100%"); // LIKE; the percent sign is no wildcard
    EXPECT_EQ(w->cmbDept->currentIndex(), 0);
    EXPECT_EQ(w->listing()->recordCount(), 1);
    EXPECT_EQ(w->edNo->text(), "H3");

    w->searchFor("H", "");
    EXPECT_EQ(w->listing()->recordCount(), 4);
    w->searchFor("", "'; DROP TABLE HolderData; --");
    EXPECT_EQ(w->listing()->recordCount(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 4);
}

TEST_P(HolderTest, AnExactHitOutsideTheUsersDepartmentsChangesNothing)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders("op");
    ASSERT_TRUE(w);
    const int before = w->listing()->recordCount();
    w->searchFor("H1", "");
    EXPECT_EQ(w->departmentFilter(), "D2");
    EXPECT_EQ(w->listing()->recordCount(), before);
}

TEST_P(HolderTest, TheDisplayTextFollowsNumberAndNameUntilTypedInto)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    w->btnAddClick();
    QTest::keyClicks(w->edNo, "H0009");
    QTest::keyClicks(w->edName, "Alexandra Smith");
    EXPECT_EQ(w->edShowText->text(), "H0009 Alexandra ");
    w->edShowText->clear();
    QTest::keyClicks(w->edShowText, "Own");
    QTest::keyClicks(w->edName, "son");
    EXPECT_EQ(w->edShowText->text(), "Own");
    // PIN takes digits only.
    QTest::keyClicks(w->edPIN, "1a2 b3");
    EXPECT_EQ(w->edPIN->text(), "123");
}

TEST_P(HolderTest, DepositTextsGoToTheListFileAtOnce)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    QFile file(w->depositListPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)); // H1's "100" was shown
    EXPECT_EQ(file.readAll(), QByteArray("100"));
    file.close();
    w->cmbDeposit04->setEditText("100");
    QTest::keyClick(w->cmbDeposit04->lineEdit(), Qt::Key_Backspace);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray());
    file.close();
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
    EXPECT_EQ(scalar("SELECT Deposit04 FROM HolderData WHERE HolderNo = 'H1'"), "100");
}

TEST_P(HolderTest, ThePunchToggleSpringsBackInViewMode)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->btnPunchCard->isChecked());
    w->btnPunchCard->setChecked(false); // as a click toggles it
    w->btnPunchCardClick();
    EXPECT_TRUE(w->btnPunchCard->isChecked());
    EXPECT_EQ(w->punchFlag(), 1);
    EXPECT_EQ(d.sounds().last(), "Error");
    w->btnEditClick();
    w->btnPunchCard->click();
    EXPECT_EQ(w->punchFlag(), 0);
    EXPECT_TRUE(w->isModified());
}

TEST_P(HolderTest, APhotoThatIsNotJpegShowsNothingAndIsNotSavedBack)
{
    ZQ_FORM_DB();
    fillSite();
    zq::data::Recordset rs;
    rs.setConnection(&db());
    rs.setStatement("SELECT * FROM HolderData WHERE HolderNo = 'H1'");
    rs.open();
    rs.edit();
    rs.setField("Photo", QByteArray("BM this is no JPEG"));
    rs.post();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->imgPhoto->hasPicture());
    EXPECT_TRUE(w->currentPhoto().isEmpty());
    w->btnEditClick();
    w->edDescription->setText("changed");
    w->btnOkClick();
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1' AND Photo IS NULL"), 1);
}

TEST_P(HolderTest, InsertAndUpdateAreAuditedAndPositioned)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    w->btnAddClick();
    w->edNo->setText("H1");
    w->edName->setText("Twin");
    w->btnOkClick();
    ASSERT_EQ(d.messages().size(), 1);
    EXPECT_EQ(d.messages().first(), "HolderNoDouble  H1 : Ann Berg  ");
    EXPECT_EQ(w->mode(), TfrmHolder::AddMode);

    w->edNo->setText(" H9 ");
    w->edName->setText("Nina");
    w->cmbDepartment->setCurrentIndex(2); // D3
    w->cbxExpireDate->setChecked(true);
    w->btnOkClick();
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|A H9"});
    EXPECT_EQ(w->departmentFilter(), "D3");
    EXPECT_EQ(w->edNo->text(), "H9");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H9'"), "D3");
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'H9'"), "1");
    EXPECT_FALSE(scalar("SELECT ExpiredDate FROM HolderData WHERE HolderNo = 'H9'").isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H9' AND Deposit02 IS NULL"), 1);

    w->btnEditClick();
    w->edName->setText("Nina B");
    w->btnOkClick();
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H9'"), "Nina B");
    EXPECT_EQ(d.auditEntries().last(), "BasicDataHolderI|E H9");

    // Leaving a changed holder asks; No drops the change.
    w->edName->setText("dropped");
    d.messageBoxAnswers = {7};
    w->btnFirstClick();
    EXPECT_EQ(d.messages().last(), "SaveEdit");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H9'"), "Nina B");
}

INSTANTIATE_TEST_SUITE_P(Engines, HolderTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
