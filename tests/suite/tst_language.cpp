#include "SuiteHost.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

using zq::test::ModalDriver;
using zq::test::suiteEntry;
using zq::test::SuiteHost;
using zq::test::SuiteLib;

namespace {

const QByteArray kEnglish = R"([Messages]
Saved=Saved.
OnlyEnglish=English only
Confirm=Delete this holder?
[Functions]
Yes=Yes
Search=Search
Question=Please confirm
[TfrmHolder]
Caption=Holders
lbName=Name
btnSave=Save
btnSave.Hint=Store the holder
edName.Placeholder=Family name
gbCard=Card
tabCard=Card page
Message.Saved=Holder saved.
)";

const QByteArray kChinese = R"([Messages]
Saved=已儲存。
Confirm=刪除此持卡人？
[Functions]
Yes=是
No=否
[TfrmHolder]
Caption=持卡人
lbName=姓名
Message.Saved=持卡人已儲存。
)";

class SuiteLanguageTest : public testing::Test
{
protected:
    void SetUp() override
    {
        host.writeLanguageFile("en.ini", kEnglish);
        host.writeLanguageFile("zh_TW.ini", kChinese);
    }

    void useLanguage(const char *language)
    {
        host.language = language;
        ASSERT_TRUE(host.init());
    }

    SuiteHost host;
    GetStringFn message = suiteEntry<GetStringFn>(SuiteLib::Language, "GetMessageString");
    GetStringFn function = suiteEntry<GetStringFn>(SuiteLib::Language, "GetFunctionString");
};

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TEST_F(SuiteLanguageTest, TextsFallBackToEnglishThenToTheKey)
{
    useLanguage("zh_TW");
    EXPECT_EQ(text(message("Saved")), "已儲存。");
    EXPECT_EQ(text(message("SAVED")), "已儲存。");
    EXPECT_EQ(text(message("OnlyEnglish")), "English only");
    EXPECT_EQ(text(message("NoSuchKey")), "NoSuchKey");
    EXPECT_EQ(text(message(nullptr)), "");
    EXPECT_EQ(text(function("Yes")), "是");
    EXPECT_EQ(text(function("Search")), "Search");
    // Messages and functions are separate sections.
    EXPECT_EQ(text(function("Confirm")), "Confirm");

    useLanguage("en");
    EXPECT_EQ(text(message("Saved")), "Saved.");
    EXPECT_EQ(text(function("No")), "No");

    useLanguage("fr"); // no file: English stands in
    EXPECT_EQ(text(message("Confirm")), "Delete this holder?");
}

TEST_F(SuiteLanguageTest, AWindowMayWordMessagesItsOwnWayUntilTheLanguageIsReselected)
{
    useLanguage("zh_TW");
    auto selectForm = suiteEntry<SelectFormLanguageFn>(SuiteLib::Language, "SelectFormLanguage");
    auto select = suiteEntry<SelectLanguageFn>(SuiteLib::Language, "SelectLanguage");
    QWidget window;
    window.setProperty("zq.formClass", "TfrmHolder");

    selectForm(&window, "ZQBasic");
    EXPECT_EQ(text(message("Saved")), "持卡人已儲存。");
    EXPECT_EQ(text(message("Confirm")), "刪除此持卡人？");
    select("ZQBasic");
    EXPECT_EQ(text(message("Saved")), "已儲存。");
}

TEST_F(SuiteLanguageTest, SetupFormLanguageTextsTheWindowByClassAndObjectName)
{
    useLanguage("zh_TW");
    auto setup = suiteEntry<SetupFormLanguageFn>(SuiteLib::Language, "SetupFormLanguage");

    QWidget window;
    window.setProperty("zq.formClass", "TfrmHolder");
    window.setWindowTitle("untitled");
    auto *name = new QLabel("orig", &window);
    name->setObjectName("lbName");
    auto *save = new QPushButton("orig", &window);
    save->setObjectName("btnSave");
    auto *edit = new QLineEdit("typed", &window);
    edit->setObjectName("edName");
    auto *group = new QGroupBox("orig", &window);
    group->setObjectName("gbCard");
    auto *tabs = new QTabWidget(&window);
    auto *page = new QWidget;
    page->setObjectName("tabCard");
    tabs->addTab(page, "orig");
    auto *keep = new QLabel("keep", &window);
    keep->setObjectName("lbKeep");
    auto *unnamed = new QPushButton("unnamed", &window);

    setup(&window, "ZQBasic");
    EXPECT_EQ(window.windowTitle(), "持卡人");
    EXPECT_EQ(name->text(), "姓名");
    EXPECT_EQ(save->text(), "Save");
    EXPECT_EQ(save->toolTip(), "Store the holder");
    EXPECT_EQ(edit->text(), "typed");
    EXPECT_EQ(edit->placeholderText(), "Family name");
    EXPECT_EQ(group->title(), "Card");
    EXPECT_EQ(tabs->tabText(0), "Card page");
    EXPECT_EQ(keep->text(), "keep");
    EXPECT_EQ(unnamed->text(), "unnamed");
}

TEST_F(SuiteLanguageTest, MessageBoxAnswersWithTheButtonPressed)
{
    useLanguage("zh_TW");
    auto show = suiteEntry<ShowMessageBoxFn>(SuiteLib::Language, "ShowMessageBox");

    const auto press = [](QMessageBox::StandardButton button, QString *seen) {
        return ModalDriver::on<QMessageBox>("zqMessageBox", [button, seen](QMessageBox *box) {
            *seen = box->windowTitle() + '|' + box->text() + '|'
                    + box->button(QMessageBox::Yes)->text() + '|'
                    + box->button(QMessageBox::No)->text();
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            EXPECT_EQ(box->button(QMessageBox::Cancel), nullptr);
            box->button(button)->click();
        });
    };

    QString seen;
    {
        ModalDriver driver(press(QMessageBox::Yes, &seen));
        EXPECT_EQ(show("Confirm", "Question", 36), 6);
        EXPECT_TRUE(driver.acted());
    }
    EXPECT_EQ(seen, "Please confirm|刪除此持卡人？|是|否");
    {
        ModalDriver driver(press(QMessageBox::No, &seen));
        EXPECT_EQ(show("Confirm", "Question", 36), 7);
        EXPECT_TRUE(driver.acted());
    }
    {
        // Escape answers Cancel where the style has one.
        ModalDriver driver(ModalDriver::on<QMessageBox>(
            "zqMessageBox", [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }));
        EXPECT_EQ(show("Confirm", "Question", 3), 2);
        EXPECT_TRUE(driver.acted());
    }
}
