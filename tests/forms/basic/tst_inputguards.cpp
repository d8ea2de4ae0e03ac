// Numbers and codes refuse control characters, typed or pasted: a line break in a number
// would break every file and list that carries it.
#include "FormTest.h"
#include "Gestures.h"

#include "InputGuards.h"
#include "TfrmOccupationTitle.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

using namespace zq::forms;
using zq::module::WindowKind;

namespace {

void paste(const QString &text)
{
    QApplication::clipboard()->setText(text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
}

} // namespace

TEST(InputGuards, PastedTextWithControlCharactersIsRefusedWhole)
{
    QLineEdit edit;
    refuseControlCharacters(&edit);
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    QTRY_VERIFY(edit.hasFocus());
    paste("Evil\r\n[Evil]\r\nKey=1");
    EXPECT_EQ(edit.text(), "");
    paste(QString("A") + QChar(0) + "B");
    EXPECT_EQ(edit.text(), "");
    paste("H\t1");
    EXPECT_EQ(edit.text(), "");
    paste("陳 007");
    EXPECT_EQ(edit.text(), "陳 007");
    QTest::keyClicks(QApplication::focusWidget(), "X");
    EXPECT_EQ(edit.text(), "陳 007X");
}

class InputGuardWindowTest : public zq::test::FormTest
{
};

TEST_P(InputGuardWindowTest, ATitleNumberCannotTakeALineBreak)
{
    ZQ_FORM_DB();
    auto *w = open<TfrmOccupationTitle>(WindowKind::OccupationTitle);
    ASSERT_TRUE(w);
    zq::test::clickButton(w, "btnAdd");
    zq::test::click(w->edTitleNo);
    QTRY_VERIFY(w->edTitleNo->hasFocus());
    paste("T\r\n9");
    EXPECT_EQ(w->edTitleNo->text(), "");
    paste("T9");
    EXPECT_EQ(w->edTitleNo->text(), "T9");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         InputGuardWindowTest,
                         testing::Values(zq::data::Engine::SQLite),
                         zq::test::engineName);
