// The holder search dialog driven by real events, alone and opened from the holder window.
#include "HolderFixture.h"

#include "Exports.h"
#include "TfrmHolderSearch.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <functional>

namespace {

// The dialog shown without a window around it: the test reads its criteria after OK/Cancel.
class HolderSearchDialogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        zq::test::ServiceDouble::instance().reset();
        const auto h = zq::test::ServiceDouble::handles();
        SetGlobalFunction(h[0], h[1], h[2], h[3], h[4], h[5]);
        dialog = std::make_unique<TfrmHolderSearch>();
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        QCoreApplication::processEvents();
    }
    static void clickInto(QWidget *w)
    {
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2));
    }
    static void keys(const QString &text) { QTest::keyClicks(QApplication::focusWidget(), text); }
    std::unique_ptr<TfrmHolderSearch> dialog;
};

TEST_F(HolderSearchDialogTest, OpensOnTheNumberAndFollowsTheFieldTypedInto)
{
    EXPECT_TRUE(dialog->rbtnHolderNo->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), dialog->edtHolderNo);
    EXPECT_EQ(dialog->size(), QSize(440, 171));
    // Tab to the name field selects its radio button.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dialog->edtHolderName);
    EXPECT_TRUE(dialog->rbtnHolderName->isChecked());
    keys("  Ann  ");
    QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->numberCriterion(), "");
    EXPECT_EQ(dialog->nameCriterion(), "Ann");
    EXPECT_EQ(dialog->edtHolderName->text(), "Ann"); // trimmed in place
}

TEST_F(HolderSearchDialogTest, TheChosenRadioDecidesAndAnEmptyChoiceGivesNothing)
{
    clickInto(dialog->edtHolderName);
    keys("Ann");
    QTest::mouseClick(dialog->rbtnHolderNo, Qt::LeftButton);
    EXPECT_TRUE(dialog->rbtnHolderNo->isChecked());
    QTest::keyClick(dialog->btnOk, Qt::Key_Space);
    EXPECT_EQ(dialog->numberCriterion(), "");
    EXPECT_EQ(dialog->nameCriterion(), "");
}

TEST_F(HolderSearchDialogTest, BlanksOnlyCountAsEmpty)
{
    keys("    ");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // OK is the default button
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->numberCriterion(), "");
    EXPECT_EQ(dialog->nameCriterion(), "");
}

TEST_F(HolderSearchDialogTest, TheFieldsKeepTheirLimitsAgainstTypingAndPaste)
{
    keys("H12345678901234");
    EXPECT_EQ(dialog->edtHolderNo->text(), "H123456789");
    clickInto(dialog->edtHolderName);
    QGuiApplication::clipboard()->setText(QString(10000, QLatin1Char('n')));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(dialog->edtHolderName->text().size(), 40);
    EXPECT_TRUE(dialog->rbtnHolderName->isChecked());
    QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    EXPECT_EQ(dialog->nameCriterion(), QString(40, QLatin1Char('n')));
}

TEST_F(HolderSearchDialogTest, CancelAndEscapeGiveNoCriterion)
{
    keys("H1");
    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(dialog->numberCriterion(), "");
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    clickInto(dialog->edtHolderName);
    keys("Ann");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->nameCriterion(), "");
}

class HolderSearchTest : public HolderTest
{
protected:
    // Clicks Search and, once the dialog is up, runs `inDialog` on it.
    void search(TfrmHolder *w, const std::function<void(TfrmHolderSearch *)> &inDialog)
    {
        bool seen = false;
        QTimer::singleShot(0, w, [&] {
            auto *dialog = qobject_cast<TfrmHolderSearch *>(QApplication::activeModalWidget());
            seen = dialog != nullptr;
            if (dialog) {
                // Offscreen, a modal dialog is not made active by being shown.
                QApplication::setActiveWindow(dialog);
                QCoreApplication::processEvents();
                inDialog(dialog);
                if (dialog->isVisible()) {
                    ADD_FAILURE() << "the dialog stayed open";
                    dialog->reject();
                }
            } else if (QWidget *other = QApplication::activeModalWidget()) {
                other->close();
            }
        });
        click(w, "btnSearch");
        EXPECT_TRUE(seen);
    }
};

TEST_P(HolderSearchTest, ANumberTypedAndEnterFindsTheHolder)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    search(w, [](TfrmHolderSearch *dialog) {
        EXPECT_EQ(QApplication::focusWidget(), dialog->edtHolderNo);
        QTest::keyClicks(QApplication::focusWidget(), " H4 ");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    EXPECT_EQ(w->departmentFilter(), "D3");
    EXPECT_EQ(ui(w).edNo->text(), "H4");
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
}

// The hit of a search from the listing, before the Data page was ever made, is the holder
// the page shows when the user turns to it.
TEST_P(HolderSearchTest, AHitFoundBeforeTheDataPageIsMadeIsTheOneItShows)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    search(w, [](TfrmHolderSearch *) {
        QTest::keyClicks(QApplication::focusWidget(), "H4");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    ASSERT_FALSE(w->isDataPageBuilt());
    EXPECT_EQ(w->departmentFilter(), "D3");
    QTabBar *tabs = w->chrome().pcData->tabBar();
    QTest::mouseClick(tabs,
                      Qt::LeftButton,
                      {},
                      tabs->tabRect(w->chrome().pcData->indexOf(w->chrome().tsData)).center());
    ASSERT_TRUE(w->isDataPageBuilt());
    EXPECT_EQ(ui(w).edNo->text(), "H4");
    EXPECT_EQ(ui(w).edName->text(), "Carl");
    EXPECT_EQ(ui(w).cmbDepartment->currentText(), "D3 : Lab");
    // A name found by LIKE, with the page made: shown at once.
    w->chrome().pcData->setCurrentWidget(w->chrome().tsView);
    search(w, [](TfrmHolderSearch *dialog) {
        QTest::mouseClick(dialog->rbtnHolderName, Qt::LeftButton);
        QTest::mouseClick(dialog->edtHolderName, Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), "Brie");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    EXPECT_EQ(w->listing()->recordCount(), 1);
    EXPECT_EQ(ui(w).edNo->text(), "H2");
}

TEST_P(HolderSearchTest, BlanksOrCancelRunNoSearch)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    const QString statement = w->listing()->statement();
    search(w, [](TfrmHolderSearch *dialog) {
        QTest::keyClicks(QApplication::focusWidget(), "   ");
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    search(w, [](TfrmHolderSearch *dialog) {
        QTest::keyClicks(QApplication::focusWidget(), "H4");
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(w->listing()->statement(), statement);
    EXPECT_EQ(w->departmentFilter(), "D1");
    EXPECT_EQ(ui(w).edNo->text(), "H1");
}

TEST_P(HolderSearchTest, SearchIsRefusedWhileEditing)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    click(w, "btnEdit");
    ASSERT_EQ(w->mode(), TfrmHolder::EditMode);
    bool dialog = false;
    QTimer::singleShot(0, w, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            dialog = true;
            modal->close();
        }
    });
    click(w, "btnSearch");
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog);
    EXPECT_EQ(d.sounds().last(), "Error");
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderSearchTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
