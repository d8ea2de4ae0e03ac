// The batch change dialog as a user drives it: ticks and choices clicked, items picked from
// the drop-downs, dates typed; the preview line follows every gesture.
#include "BatchEditDialog.h"
#include "HolderFixture.h"
#include "HolderStatements.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

using namespace zq::forms::holder;

namespace {

class BatchDialogTest : public HolderTest
{
protected:
    void SetUp() override
    {
        HolderTest::SetUp();
        d.texts["BatchPreviewHolders"] = "%1 holders";
        d.texts["BatchPreviewField"] = "%1: %2";
    }
    // Shown and active, as a dialog opened by a click is.
    static void showActive(QDialog &dialog)
    {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
    std::vector<BatchHolder> listAll()
    {
        m_listing = std::make_unique<zq::data::Recordset>();
        m_listing->setConnection(&db());
        m_listing->setStatement(filterListing(QString(), true, QString()));
        m_listing->open();
        QList<int> rows;
        for (int i = 0; i < m_listing->recordCount(); ++i)
            rows << i;
        return batchHolders(*m_listing, rows);
    }
    static BatchCodes codes()
    {
        BatchCodes c;
        c.departmentNumbers = QStringList{"D2", "D3"};
        c.departmentItems = QStringList{"D2 : Sales", "D3 : Lab"};
        c.titleNumbers = QStringList{"T1"};
        c.titleItems = QStringList{"Clerk"};
        c.typeNumbers = QStringList{"Y1", "Y2"};
        c.typeItems = QStringList{"Staff", "Contractor"};
        return c;
    }
    // A click on the year, then the digits typed over it: each full section moves on to the
    // next.
    static void typeDate(QDateEdit *date, const QString &digits)
    {
        QTest::mouseClick(date, Qt::LeftButton, {}, QPoint(6, date->height() / 2));
        QTest::mouseDClick(date, Qt::LeftButton, {}, QPoint(6, date->height() / 2));
        QTest::keyClicks(QApplication::focusWidget(), digits);
    }
    std::unique_ptr<zq::data::Recordset> m_listing;
};

TEST_P(BatchDialogTest, TicksPicksAndChoicesMakeTheChangeThePreviewCountsIt)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y2', 'Contractor')",
          "UPDATE HolderData SET ExpiredDate = '2030-01-01 00:00:00' WHERE HolderNo = 'H2'"});
    const auto holders = listAll();
    ASSERT_EQ(holders.size(), 4u);
    BatchEditDialog dialog(holders, codes());
    showActive(dialog);

    // Nothing ticked: nothing to apply, every editor closed.
    EXPECT_FALSE(dialog.applyButton()->isEnabled());
    EXPECT_FALSE(dialog.editor(BatchField::Department)->isEnabled());
    EXPECT_EQ(dialog.previewLabel()->text().section('\n', 0, 0), "4 holders");

    tick(dialog.tick(BatchField::Department), true);
    ASSERT_TRUE(dialog.editor(BatchField::Department)->isEnabled());
    pick(static_cast<QComboBox *>(dialog.editor(BatchField::Department)), "D3 : Lab");
    EXPECT_TRUE(dialog.applyButton()->isEnabled());
    EXPECT_EQ(dialog.preview().changing[size_t(BatchField::Department)], 3); // H4 is in D3
    EXPECT_TRUE(dialog.previewLabel()->text().contains("Department: 3"))
        << dialog.previewLabel()->text().toStdString();

    // Clearing the expiry changes only the holder that has one.
    tick(dialog.tick(BatchField::ExpiredDate), true);
    tick(dialog.clearChoice(BatchField::ExpiredDate), true);
    EXPECT_FALSE(dialog.editor(BatchField::ExpiredDate)->isEnabled());
    EXPECT_EQ(dialog.preview().changing[size_t(BatchField::ExpiredDate)], 1);

    // Punch card "no": every holder of the site punches.
    tick(dialog.tick(BatchField::PunchCard), true);
    tick(dialog.clearChoice(BatchField::PunchCard), true);
    EXPECT_EQ(dialog.preview().changing[size_t(BatchField::PunchCard)], 4);

    // A start date typed into its field: the holders start on 2024-01-01 already.
    tick(dialog.tick(BatchField::StartDate), true);
    auto *start = static_cast<QDateEdit *>(dialog.editor(BatchField::StartDate));
    start->setDisplayFormat("yyyy-MM-dd");
    typeDate(start, "20240101");
    EXPECT_EQ(start->date(), QDate(2024, 1, 1));
    EXPECT_EQ(dialog.preview().changing[size_t(BatchField::StartDate)], 0);

    // Unticking a field takes it out of the change and the preview.
    tick(dialog.tick(BatchField::Department), false);
    EXPECT_FALSE(dialog.previewLabel()->text().contains("Department"));

    const BatchChange c = dialog.change();
    EXPECT_FALSE(c.isTicked(BatchField::Department));
    EXPECT_TRUE(c.isTicked(BatchField::ExpiredDate));
    EXPECT_TRUE(c.value(BatchField::ExpiredDate).toDate().isNull());
    EXPECT_EQ(c.value(BatchField::PunchCard).toInt(), 0);
    EXPECT_EQ(c.value(BatchField::StartDate).toDate(), QDate(2024, 1, 1));
    EXPECT_FALSE(c.isTicked(BatchField::Title));

    QTest::mouseClick(dialog.applyButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_P(BatchDialogTest, DatesStayWithinTheRangeASiteStores)
{
    ZQ_FORM_DB();
    fillSite();
    const auto holders = listAll();
    BatchEditDialog dialog(holders, codes());
    showActive(dialog);
    tick(dialog.tick(BatchField::Deposit01), true);
    auto *date = static_cast<QDateEdit *>(dialog.editor(BatchField::Deposit01));
    date->setDisplayFormat("yyyy-MM-dd");
    typeDate(date, "18991231");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_GE(date->date(), firstBatchDate());
    EXPECT_LE(date->date(), lastBatchDate());
    EXPECT_FALSE(dialog.change().invalidField());
    EXPECT_TRUE(dialog.applyButton()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         BatchDialogTest,
                         testing::Values(zq::data::Engine::SQLite),
                         zq::test::engineName);

} // namespace
