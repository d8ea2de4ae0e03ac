// "Change selected…" in the holder window, driven as a user does: rows chosen in the grid's
// viewport with Ctrl and Shift clicks and keys, the command from the menu or the tool bar,
// the dialog's ticks and picks clicked while it is open.
#include "BatchEditDialog.h"
#include "Gestures.h"
#include "HolderFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <functional>

using namespace zq::forms::holder;

namespace {

class BatchWindowTest : public HolderTest
{
protected:
    void SetUp() override
    {
        HolderTest::SetUp();
        d.texts["BatchEditChanged"] = "%1 changed.";
        d.texts["BatchEditElsewhere"] = "%1 changed elsewhere, not written:";
        d.texts["BatchEditCancelled"] = "Cancelled; %1 not reached.";
        d.texts["BatchEditUnchanged"] = "%1 unchanged.";
        d.texts["BatchPreviewHolders"] = "%1 holders";
        d.texts["BatchPreviewField"] = "%1: %2";
    }
    // Every holder listed: the filter's empty item.
    TfrmHolder *openAll(const QString &user = "admin", int rights = 127)
    {
        auto *w = openHolders(user, rights);
        if (w)
            pick(filterOf(w), "");
        return w;
    }
    static int rowOf(TfrmHolder *w, const QString &storedNo)
    {
        for (int i = 0; i < w->listing()->recordCount(); ++i)
            if (zq::data::Recordset::textOf(
                    w->listing()->valueAt(i, w->listing()->fieldIndex("HolderNo")))
                == storedNo)
                return i;
        return -1;
    }
    // A click on holder `storedNo`'s row with `modifiers` held.
    static void clickWith(TfrmHolder *w, const QString &storedNo, Qt::KeyboardModifiers modifiers)
    {
        QTableView *grid = w->chrome().dgView;
        const int row = rowOf(w, storedNo);
        ASSERT_GE(row, 0) << storedNo.toStdString();
        const QModelIndex index = grid->model()->index(row, 1);
        grid->scrollTo(index);
        QTest::mouseClick(
            grid->viewport(), Qt::LeftButton, modifiers, grid->visualRect(index).center());
        QCoreApplication::processEvents();
    }
    static QStringList selectedNumbers(TfrmHolder *w)
    {
        QStringList numbers;
        const int column = w->listing()->fieldIndex("HolderNo");
        for (const QModelIndex &i : w->chrome().dgView->selectionModel()->selectedRows())
            numbers << zq::data::Recordset::textOf(w->listing()->valueAt(i.row(), column));
        numbers.sort();
        return numbers;
    }
    static QString currentNumber(TfrmHolder *w)
    {
        return zq::data::Recordset::textOf(w->listing()->value("HolderNo"));
    }
    static QAction *command(TfrmHolder *w) { return w->chrome().menuItem("mnuBatchEdit"); }
    // Runs `gestures` on the dialog as soon as the command has opened it (the menu's own
    // popup comes first).
    void whenDialogOpens(std::function<void(BatchEditDialog *)> gestures)
    {
        m_sawDialog = false;
        auto *poll = new QTimer(qApp);
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, gestures, tries = 0]() mutable {
            auto *dialog = qobject_cast<BatchEditDialog *>(QApplication::activeModalWidget());
            if (!dialog && ++tries < 2000)
                return;
            poll->deleteLater();
            poll->stop();
            ASSERT_TRUE(dialog);
            m_sawDialog = true;
            QApplication::setActiveWindow(dialog);
            gestures(dialog);
        });
        poll->start();
    }
    static void apply(BatchEditDialog *dialog)
    {
        ASSERT_TRUE(dialog->applyButton()->isEnabled());
        QTest::mouseClick(dialog->applyButton(), Qt::LeftButton);
    }
    QString value(const QString &column, const QString &key)
    {
        return scalar("SELECT " + column
                      + " FROM HolderData WHERE HolderNo = " + Connection::quoted(key));
    }
    bool m_sawDialog = false;
};

TEST_P(BatchWindowTest, RowsAreChosenWithTheUsualGesturesAndTheCommandFollows)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openAll();
    ASSERT_TRUE(w);
    ASSERT_TRUE(command(w));
    QToolButton *button = w->chrome().button("btnBatchEdit");
    ASSERT_TRUE(button);

    clickRow(w, "H1");
    EXPECT_EQ(selectedNumbers(w), QStringList{"H1"});
    EXPECT_FALSE(command(w)->isEnabled());
    clickWith(w, "H3", Qt::ControlModifier);
    EXPECT_EQ(selectedNumbers(w), (QStringList{"H1", "H3"}));
    EXPECT_EQ(currentNumber(w), "H3"); // the click moves the current holder as ever
    EXPECT_EQ(ui(w).edName->text(), "Ben 100%");
    EXPECT_TRUE(command(w)->isEnabled());
    EXPECT_TRUE(button->isEnabled());
    // Ctrl+click again takes a row out.
    clickWith(w, "H1", Qt::ControlModifier);
    EXPECT_EQ(selectedNumbers(w), QStringList{"H3"});
    EXPECT_FALSE(command(w)->isEnabled());
    // Shift+click: the range from the anchor.
    clickRow(w, "H2");
    clickWith(w, "H4", Qt::ShiftModifier);
    EXPECT_EQ(selectedNumbers(w), (QStringList{"H2", "H3", "H4"}));
    // Shift+Up from there narrows it, keys going to the grid that has the focus.
    ASSERT_EQ(QApplication::focusWidget(), w->chrome().dgView);
    QTest::keyClick(w->chrome().dgView, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(selectedNumbers(w), (QStringList{"H2", "H3"}));
    QTest::keyClick(w->chrome().dgView, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selectedNumbers(w), (QStringList{"H1", "H2", "H3", "H4"}));
    // A plain click is one holder again.
    clickRow(w, "H2");
    EXPECT_EQ(selectedNumbers(w), QStringList{"H2"});
    EXPECT_EQ(ui(w).edName->text(), "O'Brien");
    EXPECT_FALSE(button->isEnabled());
}

TEST_P(BatchWindowTest, WithoutTheEditRightTheCommandStaysDisabled)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openAll("admin", 127 & ~4);
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    clickWith(w, "H2", Qt::ControlModifier);
    clickWith(w, "H3", Qt::ControlModifier);
    EXPECT_EQ(selectedNumbers(w).size(), 3);
    EXPECT_FALSE(command(w)->isEnabled());
    EXPECT_FALSE(w->chrome().button("btnBatchEdit")->isEnabled());
    // Were the command to run anyway, its dialog is noted and closed.
    bool opened = false;
    const auto closeAnyDialog = [&opened] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            opened = true;
            modal->close();
        }
    };
    QTimer::singleShot(0, closeAnyDialog);
    zq::test::clickMenuItem(w, command(w));
    QTimer::singleShot(0, closeAnyDialog);
    QTest::mouseClick(w->chrome().button("btnBatchEdit"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);
    EXPECT_TRUE(d.auditEntries().isEmpty());
}

TEST_P(BatchWindowTest, ThreeHoldersFromTheMenuGetOnlyTheTickedFieldsAndStaySelected)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y2', 'Contractor')"});
    addHolder("H5  ", "Blank", "D3", ""); // stored with blanks after its number
    auto *w = openAll();
    ASSERT_TRUE(w);
    clickRow(w, "H2");
    clickWith(w, "H4", Qt::ControlModifier);
    clickWith(w, "H5  ", Qt::ControlModifier);
    // Another workstation renames H4 meanwhile: not a field of this change.
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute("UPDATE HolderData SET HolderName = 'Carla' WHERE HolderNo = 'H4'"));

    whenDialogOpens([](BatchEditDialog *dialog) {
        tick(dialog->tick(BatchField::Type), true);
        pick(static_cast<QComboBox *>(dialog->editor(BatchField::Type)), "Contractor");
        tick(dialog->tick(BatchField::PunchCard), true);
        tick(dialog->clearChoice(BatchField::PunchCard), true);
        EXPECT_EQ(dialog->preview().holders, 3);
        EXPECT_EQ(dialog->preview().changing[size_t(BatchField::Type)], 3);
        apply(dialog);
    });
    zq::test::clickMenuItem(w, command(w));
    ASSERT_TRUE(m_sawDialog);

    for (const QString key : {"H2", "H4", "H5  "}) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_EQ(value("TypeNo", key), "Y2");
        EXPECT_EQ(value("PunchCard", key), "0");
        EXPECT_EQ(value("TitleNo", key), "T1");
        EXPECT_EQ(value("StartDate", key), "2024-01-01 00:00:00");
    }
    EXPECT_EQ(value("HolderName", "H4"), "Carla");
    EXPECT_EQ(value("TypeNo", "H1"), "Y1");
    EXPECT_EQ(value("PunchCard", "H3"), "1");
    EXPECT_EQ(
        d.auditEntries(),
        (QStringList{"BasicDataHolderI|E H2", "BasicDataHolderI|E H4", "BasicDataHolderI|E H5"}));
    EXPECT_EQ(d.messages().last(), "3 changed.");
    // The listing is read again: the same holders chosen, the same one current.
    EXPECT_EQ(selectedNumbers(w), (QStringList{"H2", "H4", "H5  "}));
    EXPECT_EQ(currentNumber(w), "H5  ");
    EXPECT_EQ(w->listing()->text("TypeName"), "Contractor");
    EXPECT_EQ(w->mode(), TfrmHolder::ViewMode);
}

TEST_P(BatchWindowTest, AHolderChangedElsewhereIsNamedAndLeftAsTheOtherStoredHim)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openAll();
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    clickWith(w, "H3", Qt::ShiftModifier);
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute(
        "UPDATE HolderData SET ExpiredDate = '2029-09-09 00:00:00' WHERE HolderNo = 'H2'"));
    whenDialogOpens([](BatchEditDialog *dialog) {
        tick(dialog->tick(BatchField::ExpiredDate), true);
        apply(dialog);
    });
    QTest::mouseClick(w->chrome().button("btnBatchEdit"), Qt::LeftButton);
    ASSERT_TRUE(m_sawDialog);
    const QString told = d.messages().last();
    EXPECT_TRUE(told.startsWith("2 changed.\n1 changed elsewhere, not written:\n"))
        << told.toStdString();
    EXPECT_TRUE(told.contains("H2 : O'Brien")) << told.toStdString();
    EXPECT_EQ(value("ExpiredDate", "H2"), "2029-09-09 00:00:00");
    EXPECT_NE(value("ExpiredDate", "H1"), "");
    EXPECT_EQ(d.auditEntries().size(), 2);
}

TEST_P(BatchWindowTest, AHolderOfADepartmentTheUserMayNotSeeCannotBeReached)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openAll("op");
    ASSERT_TRUE(w);
    ASSERT_LT(rowOf(w, "H1"), 0); // D1's holder is not listed for him
    clickRow(w, "H2");
    QTest::keyClick(w->chrome().dgView, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selectedNumbers(w), (QStringList{"H2", "H3", "H4"}));
    QStringList offered;
    whenDialogOpens([&offered](BatchEditDialog *dialog) {
        tick(dialog->tick(BatchField::Department), true);
        offered = comboItems(static_cast<QComboBox *>(dialog->editor(BatchField::Department)));
        pick(static_cast<QComboBox *>(dialog->editor(BatchField::Department)), "D3 : Lab");
        apply(dialog);
    });
    zq::test::clickMenuItem(w, command(w));
    ASSERT_TRUE(m_sawDialog);
    EXPECT_EQ(offered, (QStringList{"D2 : Sales", "D3 : Lab"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE DepartmentNo = 'D3'"), 3);
    EXPECT_EQ(value("DepartmentNo", "H1"), "D1");
}

TEST_P(BatchWindowTest, CancelInTheProgressWindowKeepsAWholePrefix)
{
    ZQ_FORM_DB();
    fillSite();
    ASSERT_TRUE(db().begin());
    for (int i = 1; i <= 150; ++i)
        addHolder(QString("N%1").arg(i, 3, 10, QLatin1Char('0')), "Many", "D2", "");
    ASSERT_TRUE(db().commit());
    auto *w = openAll();
    ASSERT_TRUE(w);
    clickRow(w, "N001");
    QTest::keyClick(w->chrome().dgView, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(selectedNumbers(w).size(), 154);
    d.cancelAfterSteps = 50;
    whenDialogOpens([](BatchEditDialog *dialog) {
        tick(dialog->tick(BatchField::Deposit03), true);
        apply(dialog);
    });
    zq::test::clickMenuItem(w, command(w));
    ASSERT_TRUE(m_sawDialog);
    EXPECT_EQ(d.count("ShowProcessForm"), 1);
    // The first 50 holders of the listing, every one of them, and nothing after them.
    const int written = count("SELECT COUNT(*) FROM HolderData WHERE Deposit03 IS NOT NULL");
    EXPECT_EQ(written, 50);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE Deposit03 IS NOT NULL AND HolderNo "
                    "< 'N047'"),
              50);
    EXPECT_EQ(d.auditEntries().size(), written);
    EXPECT_EQ(d.messages().last(), "50 changed.\nCancelled; 104 not reached.");
    EXPECT_EQ(selectedNumbers(w).size(), 154);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         BatchWindowTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
