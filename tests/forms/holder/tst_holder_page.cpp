// The holder window's Data page, made when first used: what the window did before it was
// made (listing, row clicks, navigation, deposits, photo) shows on it once the user gets to
// it, by the tab, Add or Edit.
#include "HolderFixture.h"

#include "PictureBox.h"
#include "PictureCodec.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

namespace {

class HolderPageTest : public HolderTest
{
protected:
    // H2 with everything the page shows set apart from the defaults.
    QByteArray fillH2()
    {
        QImage image(24, 30, QImage::Format_RGB32);
        image.fill(QColor(20, 120, 200));
        const QByteArray jpeg = zq::platform::encodeJpeg(image, 70);
        exec({"UPDATE HolderData SET PunchCard = 0, Email = 'ob@site', PIN = '4321', "
              "Deposit02 = '2021-02-03 00:00:00', ExpiredDate = '2031-03-02 00:00:00', "
              "Deposit04 = '250' WHERE HolderNo = 'H2'"});
        zq::data::Recordset rs;
        rs.setConnection(&db());
        rs.setStatement("SELECT * FROM HolderData WHERE HolderNo = 'H2'");
        rs.open();
        rs.edit();
        rs.setField("Photo", jpeg);
        rs.post();
        return jpeg;
    }
    // The click alone, no queued event run after it: what the first paint of the page and
    // the next input find.
    static void clickDataTab(TfrmHolder *w)
    {
        QTabBar *tabs = w->chrome().pcData->tabBar();
        QTest::mouseClick(tabs,
                          Qt::LeftButton,
                          {},
                          tabs->tabRect(w->chrome().pcData->indexOf(w->chrome().tsData)).center());
    }
    void expectH2(TfrmHolder *w, const QByteArray &jpeg)
    {
        EXPECT_EQ(ui(w).edNo->text(), "H2");
        EXPECT_EQ(ui(w).edName->text(), "O'Brien");
        EXPECT_EQ(ui(w).edEmail->text(), "ob@site");
        EXPECT_EQ(ui(w).edPIN->text(), "4321");
        EXPECT_EQ(ui(w).cmbDepartment->currentText(), "D2 : Sales");
        EXPECT_EQ(ui(w).cmbTitle->currentText(), "Clerk");
        EXPECT_EQ(ui(w).dtBirthday->date(), QDate(1990, 5, 4));
        EXPECT_TRUE(ui(w).cbxDeposit02->isChecked());
        EXPECT_EQ(ui(w).dtDeposit02->date(), QDate(2021, 2, 3));
        EXPECT_FALSE(ui(w).cbxDeposit03->isChecked());
        EXPECT_TRUE(ui(w).cbxExpireDate->isChecked());
        EXPECT_EQ(ui(w).dtExpiredDate->date(), QDate(2031, 3, 2));
        EXPECT_EQ(ui(w).cmbDeposit04->currentText(), "250");
        EXPECT_FALSE(ui(w).btnPunchCard->isChecked());
        EXPECT_EQ(w->punchFlag(), 0);
        EXPECT_TRUE(ui(w).imgPhoto->hasPicture());
        EXPECT_EQ(w->currentPhoto(), jpeg);
    }
};

TEST_P(HolderPageTest, TheDataTabShowsTheRowClickedBeforeThePageWasMade)
{
    ZQ_FORM_DB();
    fillSite();
    const QByteArray jpeg = fillH2();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isDataPageBuilt()); // the window opens on the listing
    pick(filterOf(w), "D2 : Sales");
    clickRow(w, "H3");
    clickRow(w, "H2");
    EXPECT_FALSE(w->isDataPageBuilt());
    clickDataTab(w);
    ASSERT_TRUE(w->chrome().tsData->isVisible());
    EXPECT_TRUE(w->isDataPageBuilt());
    expectH2(w, jpeg);
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
    EXPECT_FALSE(w->isModified());
    // Shown as the listing's mode shows them: fields visible, the photo buttons and the
    // empty reissue date hidden, the fields read-only.
    for (QWidget *field : std::initializer_list<QWidget *>{ui(w).edNo,
                                                           ui(w).edName,
                                                           ui(w).cmbDepartment,
                                                           ui(w).dtBirthday,
                                                           ui(w).dtExpiredDate,
                                                           ui(w).imgPhoto,
                                                           ui(w).btnPunchCard})
        EXPECT_TRUE(field->isVisible()) << qPrintable(field->objectName());
    for (QWidget *hidden : std::initializer_list<QWidget *>{
             ui(w).btnOpen, ui(w).btnClear, ui(w).cbxDeposit03, ui(w).dtDeposit03})
        EXPECT_FALSE(hidden->isVisible()) << qPrintable(hidden->objectName());
    EXPECT_TRUE(ui(w).edName->isReadOnly());
    // The grid and the page go on together: the next row shows at once.
    w->chrome().pcData->setCurrentWidget(w->chrome().tsView);
    clickRow(w, "H3");
    EXPECT_EQ(ui(w).edNo->text(), "H3");
    EXPECT_TRUE(w->currentPhoto().isEmpty());
}

TEST_P(HolderPageTest, WhatTheWindowKeepsOfTheHolderShownIsThereBeforeThePage)
{
    ZQ_FORM_DB();
    fillSite();
    const QByteArray jpeg = fillH2();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    pick(filterOf(w), "D2 : Sales");
    clickRow(w, "H2");
    ASSERT_FALSE(w->isDataPageBuilt());
    // The deposit of a holder shown goes to the deposit list, page or not.
    QFile file(w->depositListPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("100\r\n250")); // H1 was shown first
    file.close();
    EXPECT_EQ(w->punchFlag(), 0);
    // The photo a save would store is the shown holder's.
    EXPECT_EQ(w->currentPhoto(), jpeg);
    expectH2(w, jpeg);
}

TEST_P(HolderPageTest, AddAndEditFromTheListingMakeThePageAndSave)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    ASSERT_FALSE(w->isDataPageBuilt());
    click(w, "btnAdd");
    ASSERT_EQ(w->mode(), TfrmHolder::AddMode);
    ASSERT_TRUE(w->chrome().tsData->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), ui(w).edNo);
    EXPECT_EQ(ui(w).edNo->text(), "");
    EXPECT_TRUE(ui(w).btnOpen->isVisible());
    // Keys typed into number and name make the display text (the page's key filter).
    QTest::keyClicks(QApplication::focusWidget(), "H9");
    typeInto(ui(w).edName, "Nina");
    EXPECT_EQ(ui(w).edShowText->text(), "H9 Nina");
    EXPECT_TRUE(w->isModified());
    pick(ui(w).cmbDepartment, "D3 : Lab");
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H9'"), "Nina");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H9'"), "D3");
    delete w;
    QCoreApplication::processEvents();

    auto *w2 = openHolders();
    ASSERT_TRUE(w2);
    clickRow(w2, "H1");
    ASSERT_FALSE(w2->isDataPageBuilt());
    click(w2, "btnEdit");
    ASSERT_EQ(w2->mode(), TfrmHolder::EditMode);
    EXPECT_EQ(ui(w2).edNo->text(), "H1");
    EXPECT_EQ(ui(w2).edName->text(), "Ann Berg");
    EXPECT_EQ(QApplication::focusWidget(), ui(w2).edName);
    EXPECT_FALSE(ui(w2).edName->isReadOnly());
    EXPECT_FALSE(w2->isModified());
    typeInto(ui(w2).edName, "Ann Berg-Lund");
    click(w2, "btnOk");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "Ann Berg-Lund");
    EXPECT_EQ(scalar("SELECT Deposit04 FROM HolderData WHERE HolderNo = 'H1'"), "100");
}

TEST_P(HolderPageTest, NavigationAndRefreshBeforeThePageLeaveItToTheLastHolder)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    pick(filterOf(w), "D2 : Sales");
    click(w, "btnLast");
    click(w, "btnRefresh"); // back to the first department, nothing to save
    EXPECT_EQ(w->departmentFilter(), "D1");
    pick(filterOf(w), "D2 : Sales");
    click(w, "btnNext");
    ASSERT_FALSE(w->isDataPageBuilt());
    EXPECT_FALSE(d.messages().contains("SaveEdit"));
    clickDataTab(w);
    EXPECT_EQ(ui(w).edNo->text(), "H3");
    EXPECT_EQ(ui(w).edName->text(), "Ben 100%");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderPageTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
