#include "Connection.h"
#include "Exports.h"
#include "Helpers.h"
#include "ModuleState.h"
#include "ServiceDouble.h"
#include "TestDatabase.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <gtest/gtest.h>

using namespace zq::module;
using zq::data::Engine;
using zq::test::ServiceDouble;

namespace {

void closeAll()
{
    for (auto &w : state().registry)
        if (w)
            delete w.data();
    QCoreApplication::processEvents();
}

int windowsOfClass(const QString &formClass)
{
    int n = 0;
    for (QWidget *w : QApplication::allWidgets())
        if (w->property("zq.formClass").toString() == formClass)
            ++n;
    return n;
}

class ModuleTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        ServiceDouble::instance().reset();
        const auto h = ServiceDouble::handles();
        ASSERT_NE(h[0], 0);
        ASSERT_EQ(SetGlobalFunction(h[0], h[1], h[2], h[3], h[4], h[5]), 1);
    }
    void TearDown() override
    {
        closeAll();
        qApp->setProperty("zq.mdiArea", QVariant());
        zq::data::setModuleConnection(nullptr);
    }
    ServiceDouble &d = ServiceDouble::instance();
};

} // namespace

TEST_P(ModuleTest, WindowsOpenOnceAndCountWhileTheyExist)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    ASSERT_EQ(SetADOConnection(&db.connection()), 1);
    EXPECT_EQ(CheckFormStatus(), 0);

    EXPECT_EQ(ShowOccupationTitleForm(), 1);
    EXPECT_EQ(ShowOccupationTitleForm(), 1);
    EXPECT_EQ(windowsOfClass("TfrmOccupationTitle"), 1);
    EXPECT_EQ(CheckFormStatus(), 1);
    EXPECT_EQ(d.callsNamed("GetProgramRight").value(1).args.value(0), "BasicDataOccupationTitleI");

    EXPECT_EQ(ShowHolderForm(), 1);
    state().registry[int(WindowKind::OccupationTitle)]->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(CheckFormStatus(), 1);
    state().registry[int(WindowKind::Holder)]->close();
    QTRY_COMPARE(CheckFormStatus(), 0);
    EXPECT_EQ(windowsOfClass("TfrmOccupationTitle"), 0);
    EXPECT_TRUE(d.sounds().contains("Open"));
}

TEST_P(ModuleTest, ARefusedRightShowsTheMessageAndOpensNothing)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    SetADOConnection(&db.connection());
    d.rights["BasicDataHolderI"] = 0;
    d.rights["BasicDataDepartmentI"] = 5;
    EXPECT_EQ(ShowHolderForm(), 1);
    EXPECT_EQ(d.messages(), QStringList{"NoProgramRight"});
    EXPECT_EQ(d.callsNamed("ShowMessageBox").first().args,
              (QStringList{"NoProgramRight", "SystemMessage", "0"}));
    EXPECT_EQ(CheckFormStatus(), 0);
    EXPECT_EQ(state().lastRight, 0);

    EXPECT_EQ(ShowDepartmentForm(), 1);
    EXPECT_EQ(state().lastRight, 5); // each export stores its own key's value
    EXPECT_EQ(CheckFormStatus(), 1);
    EXPECT_EQ(ShowHolderForm(), 1);
    EXPECT_EQ(state().lastRight, 0);
    EXPECT_FALSE(state().registry[int(WindowKind::Holder)]);
}

TEST_P(ModuleTest, SubWindowsAreNotCounted)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    SetADOConnection(&db.connection());
    QWidget *pictures = createWindow(WindowKind::LabelPic);
    ASSERT_TRUE(pictures);
    EXPECT_EQ(state().flags[int(WindowKind::LabelPic)], 1);
    EXPECT_EQ(CheckFormStatus(), 0);
    delete pictures;
    EXPECT_EQ(state().flags[int(WindowKind::LabelPic)], 0);

    // The batch window's pointer outlives it; only the flag decides.
    QWidget *batch = createWindow(WindowKind::BatchShow);
    delete batch;
    EXPECT_EQ(state().flags[int(WindowKind::BatchShow)], 0);
    EXPECT_EQ(CheckFormStatus(), 0);
}

TEST_P(ModuleTest, SetGlobalFunctionResetsTheFlags)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    SetADOConnection(&db.connection());
    ShowOccupationTypeForm();
    EXPECT_EQ(CheckFormStatus(), 1);
    const auto h = ServiceDouble::handles();
    SetGlobalFunction(h[0], h[1], h[2], h[3], h[4], h[5]);
    EXPECT_EQ(CheckFormStatus(), 0);
}

TEST_P(ModuleTest, SetADOConnectionOpensListsTablesAndProbes)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.connection().close();
    EXPECT_EQ(SetADOConnection(&db.connection()), 1);
    EXPECT_TRUE(db.connection().isConnected());
    EXPECT_TRUE(tableExists("userrightdevice"));
    EXPECT_TRUE(tableExists("HolderData"));

    // The probe's table missing: still 1, the list follows the database.
    db.exec({"DROP TABLE UserData", "DROP TABLE UserRightDevice"});
    EXPECT_EQ(SetADOConnection(&db.connection()), 1);
    EXPECT_FALSE(tableExists("UserRightDevice"));
    EXPECT_TRUE(db.connection().isConnected());
}

TEST(ModuleConnection, ThatCannotOpenGivesZero)
{
    zq::data::Connection c;
    c.setSQLiteFile("/nonexistent-folder/deeper/site.db");
    EXPECT_EQ(SetADOConnection(&c), 0);
    EXPECT_EQ(SetADOConnection(nullptr), 0);
    zq::data::setModuleConnection(nullptr);
}

TEST(ModuleHandles, InvalidHandlesBindNothingAndNothingCrashes)
{
    EXPECT_EQ(SetGlobalFunction(0, 1, 32, 17, 5, 0), 1);
    EXPECT_EQ(ShowHolderForm(), 1); // no right service: answered as no right
    EXPECT_EQ(CheckFormStatus(), 0);
    EXPECT_EQ(state().lastRight, 0);
}

TEST_P(ModuleTest, WindowsBecomeDocumentWindowsOfTheHost)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    SetADOConnection(&db.connection());
    QMdiArea area;
    qApp->setProperty("zq.mdiArea", QVariant::fromValue<QObject *>(&area));
    area.show();
    ASSERT_EQ(ShowOccupationTitleForm(), 1);
    ASSERT_EQ(area.subWindowList().size(), 1);
    EXPECT_EQ(area.subWindowList().first()->widget(),
              state().registry[int(WindowKind::OccupationTitle)].data());
    area.subWindowList().first()->close();
    QTRY_COMPARE(CheckFormStatus(), 0);
    QTRY_COMPARE(area.subWindowList().size(), 0);
    EXPECT_TRUE(d.sounds().contains("Close"));
}

// The first document window opens in the middle of the host's area; each next one a title
// bar lower and to the right of the one before, whose title stays in sight; a window that
// would leave the area starts the cascade again at its top left corner.
TEST_P(ModuleTest, DocumentWindowsCascade)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    SetADOConnection(&db.connection());
    QMdiArea area;
    qApp->setProperty("zq.mdiArea", QVariant::fromValue<QObject *>(&area));
    area.resize(1280, 960);
    area.show();
    ASSERT_EQ(ShowDepartmentForm(), 1);
    ASSERT_EQ(ShowOccupationTitleForm(), 1);
    ASSERT_EQ(ShowOccupationTypeForm(), 1);
    const QList<QMdiSubWindow *> subs = area.subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(subs.size(), 3);
    const QRect first = subs[0]->geometry();
    EXPECT_NEAR(first.center().x(), area.viewport()->rect().center().x(), 1);
    const int title = subs[0]->height() - subs[0]->widget()->height();
    EXPECT_GT(title, 10);
    EXPECT_EQ(subs[1]->pos(), first.topLeft() + QPoint(title, title));
    EXPECT_EQ(subs[2]->pos(), subs[1]->pos() + QPoint(title, title));

    area.resize(1000, 760);
    ASSERT_EQ(ShowHolderForm(), 1);
    EXPECT_EQ(area.subWindowList(QMdiArea::CreationOrder).last()->pos(), QPoint(0, 0));
    for (QMdiSubWindow *sub : area.subWindowList())
        sub->close();
    QTRY_COMPARE(CheckFormStatus(), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ModuleTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
