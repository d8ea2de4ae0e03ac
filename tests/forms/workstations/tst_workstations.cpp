// Each window pattern with a second workstation: the window works on the module connection,
// a second connection to the same database stands for the other workstation and writes
// between the moment the window showed a record and the moment the user saves or deletes it.
#include "FormTest.h"

#include "Connection.h"
#include "Exports.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TfrmDepartment.h"
#include "TfrmDepartmentView.h"
#include "TfrmHolder.h"
#include "TfrmOccupationTitle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {
constexpr int Yes = 6, No = 7;
const QString kChanged = "RecordChangedElsewhere";
} // namespace

class WorkstationsTest : public zq::test::FormTest
{
protected:
    // The other workstation's statement, committed at once.
    void elsewhere(const QString &sql)
    {
        ASSERT_TRUE(m_other && m_other->execute(sql)) << sql.toStdString();
    }
    static void click(QWidget *window, const QString &name)
    {
        auto *button = window->findChild<QAbstractButton *>(name);
        ASSERT_TRUE(button && button->isVisible() && button->isEnabled()) << name.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // Replaces the text of `edit` as the user does: focus, select all, type.
    static void type(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), text);
    }
    std::unique_ptr<Connection> m_other;
};

#define ZQ_TWO_WORKSTATIONS() \
    ZQ_FORM_DB(); \
    m_other = m_db->openAnother(); \
    ASSERT_TRUE(m_other->isConnected())

TEST_P(WorkstationsTest, TitleSavedOverAChangeElsewhereIsRefusedAndKeepsTheInput)
{
    ZQ_TWO_WORKSTATIONS();
    exec({"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T1', 'Clerk', "
          "'c')"});
    auto *w = open<TfrmOccupationTitle>(WindowKind::OccupationTitle);
    ASSERT_TRUE(w);
    elsewhere("UPDATE OccupationTitle SET TitleName = 'Officer' WHERE TitleNo = 'T1'");

    click(w, "btnEdit");
    type(w->edTitleName, "Manager");
    click(w, "btnOk");
    EXPECT_TRUE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
    EXPECT_EQ(w->edTitleName->text(), "Manager");
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle"), "Officer");

    // Refresh, dropping the input, shows the other workstation's version; a change of
    // another field is then saved without touching theirs.
    d.messageBoxAnswers = {No};
    click(w, "btnRefresh");
    EXPECT_EQ(w->edTitleName->text(), "Officer");
    elsewhere("UPDATE OccupationTitle SET TitleName = 'Chief' WHERE TitleNo = 'T1'");
    click(w, "btnEdit");
    type(w->edDescription, "new");
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle"), "Chief");
    EXPECT_EQ(scalar("SELECT Description FROM OccupationTitle"), "new");
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataOccupationTitleI|E T1"});
}

TEST_P(WorkstationsTest, TitleChangedOrDeletedElsewhereIsNotDeleted)
{
    ZQ_TWO_WORKSTATIONS();
    exec({"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T1', 'Clerk', "
          "'c')",
          "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T2', 'Guard', "
          "'g')"});
    auto *w = open<TfrmOccupationTitle>(WindowKind::OccupationTitle);
    ASSERT_TRUE(w);
    elsewhere("UPDATE OccupationTitle SET Description = 'changed' WHERE TitleNo = 'T1'");
    d.messageBoxAnswers = {Yes};
    click(w, "btnDelete");
    EXPECT_EQ(d.messages(), (QStringList{"DeleteRecord", kChanged}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle WHERE TitleNo = 'T1'"), 1);
    EXPECT_TRUE(d.auditEntries().isEmpty());
}

TEST_P(WorkstationsTest, DepartmentSaveAndTreeMoveOverAChangeElsewhereAreRefused)
{
    ZQ_TWO_WORKSTATIONS();
    exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D1', "
          "'Head', '')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D2', "
          "'Sales', 'D1')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D3', 'Lab', "
          "'')"});
    for (const char *dep : {"D1", "D2", "D3"})
        exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', '%1')")
                  .arg(dep)});
    auto *w = open<TfrmDepartment>(WindowKind::Department);
    ASSERT_TRUE(w);
    ASSERT_EQ(w->edNo->text(), "D1");
    elsewhere("UPDATE DepartmentData SET DepartmentName = 'Board' WHERE DepartmentNo = 'D1'");
    click(w, "btnEdit");
    type(w->edName, "Top");
    click(w, "btnOk");
    EXPECT_TRUE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
    EXPECT_EQ(w->edName->text(), "Top");
    EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = 'D1'"),
              "Board");
    EXPECT_TRUE(d.auditEntries().isEmpty());

    // The tree showed D2 under D1; the other workstation moved it under D3 meanwhile.
    TfrmDepartmentView view(true);
    view.rebuild();
    elsewhere("UPDATE DepartmentData SET UnderNo = 'D3' WHERE DepartmentNo = 'D2'");
    EXPECT_FALSE(view.dropNode(view.findNumber("D2"), view.trvDept->topLevelItem(0)));
    EXPECT_FALSE(view.changed());
    EXPECT_EQ(d.messages().last(), kChanged);
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "D3");
    // Refreshed, the move goes through.
    view.rebuild();
    EXPECT_TRUE(view.dropNode(view.findNumber("D2"), view.trvDept->topLevelItem(0)));
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "");
}

class HolderWorkstationsTest : public WorkstationsTest
{
protected:
    TfrmHolder *openHolders()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Head')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
              "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
              "INSERT INTO HolderData (HolderNo, HolderName, Email, DepartmentNo, TitleNo, TypeNo, "
              "Birthday, StartDate) VALUES ('H1', 'Ann', 'ann@site', 'D1', 'T1', 'Y1', "
              "'1990-05-04 00:00:00', '2024-01-01 00:00:00')",
              "INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (1, 'a', 1)",
              "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1001, 'H1', 1)"});
        return open<TfrmHolder>(WindowKind::Holder);
    }
};

TEST_P(HolderWorkstationsTest, EditsOfDifferentFieldsBothStayAndTheSameFieldIsRefused)
{
    ZQ_TWO_WORKSTATIONS();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    ASSERT_EQ(w->holder().number, "H1");
    elsewhere("UPDATE HolderData SET HolderName = 'Anna' WHERE HolderNo = 'H1'");

    // The window still shows "Ann"; the e-mail is saved and the other name stays.
    click(w, "btnEdit");
    type(w->findChild<QLineEdit *>("edEmail"), "ann@new");
    click(w, "btnOk");
    EXPECT_FALSE(d.messages().contains(kChanged));
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData"), "Anna");
    EXPECT_EQ(scalar("SELECT Email FROM HolderData"), "ann@new");
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|E H1"});

    // Now both change the e-mail: the window is told and keeps its text.
    elsewhere("UPDATE HolderData SET Email = 'anna@other' WHERE HolderNo = 'H1'");
    type(w->findChild<QLineEdit *>("edEmail"), "ann@mine");
    click(w, "btnOk");
    EXPECT_TRUE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
    EXPECT_EQ(w->findChild<QLineEdit *>("edEmail")->text(), "ann@mine");
    EXPECT_EQ(scalar("SELECT Email FROM HolderData"), "anna@other");
    EXPECT_EQ(d.auditEntries().size(), 1);
}

TEST_P(HolderWorkstationsTest, AHolderChangedElsewhereKeepsHisCardsAndRow)
{
    ZQ_TWO_WORKSTATIONS();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    elsewhere("UPDATE HolderData SET Email = 'moved@site' WHERE HolderNo = 'H1'");
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    EXPECT_EQ(d.messages(), (QStringList{"DeleteRecord", kChanged}));
    EXPECT_EQ(d.count("DeviceCardDelete"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardData WHERE HolderNo = 'H1' AND CardFlag = 1"), 1);
    EXPECT_TRUE(d.auditEntries().isEmpty());

    // Deleted elsewhere while shown: told the same way.
    click(w, "btnRefresh");
    elsewhere("DELETE FROM HolderData WHERE HolderNo = 'H1'");
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    EXPECT_EQ(d.messages().last(), kChanged);
    EXPECT_EQ(d.count("DeviceCardDelete"), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         WorkstationsTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderWorkstationsTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
