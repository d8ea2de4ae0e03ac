// The holder report window: department list and report rows by the supervisor rule, the
// one-department scope and the output right.
#include "FormTest.h"
#include "Gestures.h"
#include "LabelSite.h"
#include "PrintStatements.h"
#include "TfrmHolderReport.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace zq::forms;
using zq::module::WindowKind;
using zq::test::columnOf;

class HolderReportTest : public zq::test::FormTest
{
protected:
    TfrmHolderReport *openReport(const QString &user, int rights = 127)
    {
        exec(zq::test::labelSiteStatements());
        d.loginUser = user;
        return open<TfrmHolderReport>(WindowKind::HolderReport, rights);
    }
    void chooseItem(QComboBox *combo, int index)
    {
        combo->showPopup();
        QAbstractItemView *view = combo->view();
        QTRY_VERIFY(view->isVisible());
        const QRect rect = view->visualRect(view->model()->index(index, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_COMPARE(combo->currentIndex(), index);
    }
    static QStringList items(QComboBox *c)
    {
        QStringList list;
        for (int i = 0; i < c->count(); ++i)
            list << c->itemText(i);
        return list;
    }
    /// The holders of the report last handed to ShowReport.
    QStringList reported()
    {
        const auto calls = d.callsNamed("ShowReport");
        if (calls.isEmpty())
            return {"<no report>"};
        EXPECT_EQ(calls.last().args.value(0), "HolderData.frf");
        return columnOf(db(), calls.last().args.value(1));
    }
};

TEST_P(HolderReportTest, SupervisorListsEveryHolderOnceAndEveryDepartment)
{
    ZQ_FORM_DB();
    exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo) "
          "VALUES ('H9', 'Ivy', 'D4', 'T1', 'Y1')"});
    auto *w = openReport("admin");
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->isSupervisor());
    // D1 has two rights rows, D4 none: each is offered once all the same.
    EXPECT_EQ(items(w->edDepartment), (QStringList{"Head", "Sales", "Lab", "Store"}));
    EXPECT_EQ(w->edDepartment->currentIndex(), 0);
    EXPECT_TRUE(w->rbAll->isChecked());
    EXPECT_TRUE(w->btnView->isEnabled());

    QTest::mouseClick(w->btnView, Qt::LeftButton);
    // Inner joins drop H5 (title), H6 (department), H8 (type); the report keeps
    // non-punch-card holders and does not need card pictures; H1 once, H9 of D4 too.
    EXPECT_EQ(reported(), (QStringList{"H1", "H2", "H3", "H4", "H7", "H9"}));
    EXPECT_EQ(d.callsNamed("SelectReportLanguage").value(0).args, QStringList{"ZQBasic"});
    EXPECT_TRUE(d.sounds().contains("Ok"));
    EXPECT_TRUE(w->isVisible()); // stays open for further reports

    // Picking a department does not change the scope; only the radio button does.
    chooseItem(w->edDepartment, 3);
    EXPECT_TRUE(w->rbAll->isChecked());
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(reported().size(), 6);
    QTest::mouseClick(w->rbDepartment, Qt::LeftButton);
    ASSERT_TRUE(w->rbDepartment->isChecked());
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(reported(), QStringList{"H9"});
    chooseItem(w->edDepartment, 2);
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(reported(), (QStringList{"H4", "H7"}));
}

TEST_P(HolderReportTest, OperatorSeesOnlyHisDepartmentsInBothScopes)
{
    ZQ_FORM_DB();
    auto *w = openReport("op");
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isSupervisor());
    EXPECT_EQ(items(w->edDepartment), (QStringList{"Sales", "Lab"}));
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(reported(), (QStringList{"H2", "H3", "H4", "H7"}));

    QTest::mouseClick(w->rbDepartment, Qt::LeftButton, {}, QPoint(6, 6));
    ASSERT_TRUE(w->rbDepartment->isChecked());
    zq::test::pickItem(w->edDepartment, 0);
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(reported(), (QStringList{"H2", "H3"}));

    // A department outside his rights is not found by name: no report at all.
    const int before = d.count("ShowReport");
    w->edDepartment->addItem("Head");
    zq::test::pickItem(w->edDepartment, 2);
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(d.count("ShowReport"), before);
}

TEST_P(HolderReportTest, WithoutTheOutputBitNothingCanBeReported)
{
    ZQ_FORM_DB();
    auto *w = openReport("admin", 127 & ~0x40);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->btnView->isEnabled());
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    w->btnViewClick(); // and the handler itself refuses, whatever calls it
    EXPECT_EQ(d.count("ShowReport"), 0);
}

TEST_P(HolderReportTest, UserWithoutUserDataRowIsNoSupervisorAndQuotesStayInside)
{
    ZQ_FORM_DB();
    exec({"INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('o''k', 'D3')"});
    auto *w = openReport("o'k");
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isSupervisor());
    EXPECT_EQ(items(w->edDepartment), QStringList{"Lab"});
    QTest::mouseClick(w->btnView, Qt::LeftButton);
    EXPECT_EQ(reported(), (QStringList{"H4", "H7"}));
}

TEST_P(HolderReportTest, ClosingClearsTheOpenFlag)
{
    ZQ_FORM_DB();
    auto *w = openReport("admin");
    ASSERT_TRUE(w);
    EXPECT_EQ(zq::module::state().flags[int(WindowKind::HolderReport)], 1);
    QTest::mouseClick(w->btnClose, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(zq::module::state().flags[int(WindowKind::HolderReport)], 0);
    EXPECT_TRUE(d.sounds().contains("Close"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderReportTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

TEST(HolderReportStatements, PiecesAsTheReportEngineGetsThem)
{
    using namespace zq::forms::print;
    EXPECT_EQ(userStatement("a'b"), " Select * From UserData WHERE UserID = 'a''b' ");
    // A supervisor's statements do not join the rights rows at all.
    for (const QString &sup : {holderReport("", true, "u"),
                               holderReport("D1", true, "u"),
                               reportDepartmentList(true, "u"),
                               reportDepartmentLookup(true, "u")})
        EXPECT_FALSE(sup.contains("UserRightDept")) << sup.toStdString();
    EXPECT_TRUE(holderReport("", true, "u")
                    .endsWith("    AND T1.TypeNo  = T4.TypeNo                           ORDER BY "
                              "T1.DepartmentNo,T1.HolderNo,T1.HolderName       "));
    EXPECT_TRUE(holderReport("D'1", false, "u")
                    .contains("    AND T1.DepartmentNo = 'D''1'     AND T1.TitleNo = T3.TitleNo"));
    EXPECT_TRUE(holderReport("", false, "u").contains(" AND T5.UserID = 'u'           ORDER BY"));
    EXPECT_TRUE(reportDepartmentList(false, "u")
                    .endsWith("    AND T2.UserID = 'u'            ORDER BY T1.DepartmentNo"));
}
