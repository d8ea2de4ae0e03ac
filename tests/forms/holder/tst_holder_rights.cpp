// Gestures on the holder window stand for commands and need the commands' rights bits.
#include "HolderFixture.h"

#include "Gestures.h"

namespace {

class HolderRightsTest : public HolderTest
{
};

TEST_P(HolderRightsTest, GridGesturesNeedTheEditAndDeleteRights)
{
    ZQ_FORM_DB();
    fillSite();
    addHolder("H6", "Dora", "D1", "");
    auto *w = openHolders("admin", 127 & ~4 & ~8);
    ASSERT_TRUE(w);
    QTableView *grid = w->chrome().dgView;
    zq::test::doubleClickRow(grid, 1);
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
    ASSERT_EQ(QApplication::focusWidget(), grid);
    d.messageBoxAnswers = {Yes, Yes};
    zq::test::pressKey(Qt::Key_Delete);
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 5);
    EXPECT_TRUE(d.auditEntries().isEmpty());
}

TEST_P(HolderRightsTest, WithoutTheOkRightLeavingAChangedHolderDoesNotSave)
{
    ZQ_FORM_DB();
    fillSite();
    addHolder("H6", "Dora", "D1", "");
    auto *w = openHolders("admin", 127 & ~16);
    ASSERT_TRUE(w);
    click(w, "btnEdit");
    ASSERT_EQ(w->mode(), TfrmHolder::EditMode);
    typeInto(ui(w).edName, "Changed");
    d.messageBoxAnswers = {Yes};
    zq::test::pressKey(Qt::Key_PageDown);
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Changed'"), 0);
    EXPECT_TRUE(d.auditEntries().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderRightsTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
