#include "Connection.h"
#include "Recordset.h"
#include "SuiteHost.h"
#include "TestDatabase.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

#include <map>
#include <tuple>

using zq::data::Connection;
using zq::data::Engine;
using zq::data::Recordset;
using zq::test::ModalDriver;
using zq::test::suiteEntry;
using zq::test::SuiteHost;
using zq::test::SuiteLib;

namespace {

QStringList visualOrder(const QTableView &grid)
{
    QStringList order;
    const QHeaderView *header = grid.horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual)
        order << grid.model()->headerData(header->logicalIndex(visual), Qt::Horizontal).toString();
    return order;
}

int widthOf(const QTableView &grid, const QString &headerText)
{
    for (int logical = 0; logical < grid.model()->columnCount(); ++logical) {
        if (grid.model()->headerData(logical, Qt::Horizontal).toString() == headerText)
            return grid.horizontalHeader()->sectionSize(logical);
    }
    return -1;
}

QStringList userIds(Recordset &rows)
{
    QStringList ids;
    for (int row = 0; row < rows.recordCount(); ++row) {
        rows.moveTo(row);
        ids << rows.text("UserID");
    }
    return ids;
}

} // namespace

TEST(SuiteGridLayout, SavedOrderAndWidthsComeBackAndOtherLayoutsStay)
{
    SuiteHost host;
    ASSERT_TRUE(host.init());
    auto save = suiteEntry<GridViewFn>(SuiteLib::Utility, "SetDBGridView");
    auto restore = suiteEntry<GridViewFn>(SuiteLib::Utility, "GetDBGridView");
    const QString file = QDir(host.path("site")).filePath("ZQGridView.ini");
    {
        QFile other(file);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("[frmDepartment.Grid]\nDepartmentNo=1,77\n");
    }

    const QStringList headers{"HolderNo", "Name", "Card No", ""};
    QStandardItemModel model(0, 4);
    model.setHorizontalHeaderLabels(headers);
    QTableView grid;
    grid.setModel(&model);
    QHeaderView *header = grid.horizontalHeader();
    header->moveSection(2, 0); // Card No, HolderNo, Name, ""
    header->moveSection(3, 2); // Card No, HolderNo, "", Name
    const std::map<QString, int> widths{
        {"HolderNo", 150}, {"Name", 110}, {"Card No", 80}, {"", 60}};
    for (int logical = 0; logical < 4; ++logical)
        header->resizeSection(logical, widths.at(headers[logical]));
    save(&grid, "frmHolder.Grid");

    QStandardItemModel sameModel(0, 4);
    sameModel.setHorizontalHeaderLabels(headers);
    QTableView same;
    same.setModel(&sameModel);
    restore(&same, "frmHolder.Grid");
    EXPECT_EQ(visualOrder(same), visualOrder(grid));
    for (const auto &[text, width] : widths)
        EXPECT_EQ(widthOf(same, text), width) << text.toStdString();

    // A grid that lost a column and gained one: the known ones keep their relative order
    // (a position past the end clamps), the new one takes the free place.
    QStandardItemModel changedModel(0, 3);
    changedModel.setHorizontalHeaderLabels({"HolderNo", "Name", "Remark"});
    QTableView changed;
    changed.setModel(&changedModel);
    const int remarkWidth = changed.horizontalHeader()->sectionSize(2);
    restore(&changed, "frmHolder.Grid");
    EXPECT_EQ(visualOrder(changed), QStringList({"Remark", "HolderNo", "Name"}));
    EXPECT_EQ(widthOf(changed, "HolderNo"), 150);
    EXPECT_EQ(widthOf(changed, "Remark"), remarkWidth);

    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(saved.readAll());
    EXPECT_TRUE(content.contains("[frmDepartment.Grid]")) << content.toStdString();
    EXPECT_TRUE(content.contains("DepartmentNo=1,77")) << content.toStdString();
    EXPECT_TRUE(content.contains("HolderNo=1,150")) << content.toStdString();
}

class SuiteSearchTest : public testing::TestWithParam<Engine>
{
protected:
    static std::function<bool()> answer(const QString &field,
                                        const QString &op,
                                        const QString &value,
                                        bool accept = true)
    {
        return ModalDriver::on<QDialog>("frmSearchData", [=](QDialog *dialog) {
            auto *fields = dialog->findChild<QComboBox *>("cbField");
            auto *ops = dialog->findChild<QComboBox *>("cbOperator");
            auto *edit = dialog->findChild<QLineEdit *>("edValue");
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            ASSERT_TRUE(fields && ops && edit && buttons);
            // PostgreSQL reports the names in lower case.
            fields->setCurrentIndex(fields->findText(field, Qt::MatchFixedString));
            EXPECT_GE(fields->currentIndex(), 0) << field.toStdString();
            ops->setCurrentIndex(ops->findText(op));
            EXPECT_GE(ops->currentIndex(), 0) << op.toStdString();
            edit->setText(value);
            buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
    }

    void search(Recordset &rows, const QString &base, const std::function<bool()> &step)
    {
        ModalDriver driver(step);
        show(&rows, base.toUtf8().constData());
        EXPECT_TRUE(driver.acted());
    }

    SuiteHost host;
    ShowSearchDataFormFn show = suiteEntry<ShowSearchDataFormFn>(SuiteLib::Utility,
                                                                 "ShowSearchDataForm");
};

TEST_P(SuiteSearchTest, TheRecordsetIsReopenedOnTheMatchingRowsAndCancelKeepsIt)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    for (const auto &[id, name, supervisor] : {std::tuple{"u1", "O'Brien", 0},
                                               std::tuple{"u2", "Obama", 0},
                                               std::tuple{"u3", "brien", 1},
                                               std::tuple{"u4", "Smith", 0}})
        db.exec({zq::test::insertRow(
            "UserData", {"UserID", "UserName", "Supervisor"}, {id, name, supervisor})});
    host.connection = &db.connection();
    ASSERT_TRUE(host.init());

    // The old condition has to stay bracketed: with a bare AND the OR would let u1 through.
    const QString base = "SELECT UserID, UserName FROM UserData WHERE UserID = "
                         + Connection::quoted("u1") + " OR Supervisor = 1 ORDER BY UserID DESC";
    Recordset rows;
    rows.setConnection(&db.connection());
    rows.setStatement(base);
    rows.open();
    rows.moveTo(1);
    search(rows, base, answer("UserName", "=", "Obama", false));
    EXPECT_EQ(rows.statement(), base);
    EXPECT_EQ(rows.currentRow(), 1);
    EXPECT_EQ(userIds(rows), QStringList({"u3", "u1"}));

    search(rows, base, answer("UserName", "=", "O'Brien"));
    EXPECT_EQ(userIds(rows), QStringList{"u1"});
    search(rows, base, answer("UserName", "LIKE", "BRI"));
    EXPECT_EQ(userIds(rows), QStringList({"u3", "u1"}));
    search(rows, base, answer("UserName", "=", "Obama"));
    EXPECT_TRUE(rows.isOpen());
    EXPECT_EQ(userIds(rows), QStringList());

    // Neither open nor connected: the fields come from a run of the statement, the rows
    // through the host's connection.
    const QString plain = "SELECT UserID, UserName FROM UserData ORDER BY UserID";
    Recordset closed;
    search(closed, plain, answer("UserName", "LIKE", "'b"));
    ASSERT_TRUE(closed.isOpen());
    EXPECT_EQ(userIds(closed), QStringList{"u1"});
    EXPECT_TRUE(db.connection().hasTable("UserData"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         SuiteSearchTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

TEST(SuiteProgress, TheBarAdvancesAndACancelStaysUntilClosed)
{
    SuiteHost host;
    host.writeLanguageFile("en.ini", "[Functions]\nProgress=Working\nCancel=Stop\n");
    ASSERT_TRUE(host.init());
    auto open = suiteEntry<ShowProcessFormFn>(SuiteLib::Utility, "ShowProcessForm");
    auto advance = suiteEntry<IncProcessFormPositionFn>(SuiteLib::Utility,
                                                        "IncProcessFormPosition");
    auto cancelled = suiteEntry<CancelProcessFormFn>(SuiteLib::Utility, "CancelProcessForm");
    auto close = suiteEntry<CloseProcessFormFn>(SuiteLib::Utility, "CloseProcessForm");

    const intptr_t first = open(0, 10, "Copying holders");
    ASSERT_NE(first, 0);
    QPointer<QProgressDialog> firstWindow = ModalDriver::findTopLevel<QProgressDialog>(
        "frmProcess");
    ASSERT_TRUE(firstWindow);
    const intptr_t second = open(0, 3, "Second");
    ASSERT_NE(second, 0);
    EXPECT_NE(second, first);

    EXPECT_EQ(firstWindow->windowTitle(), "Working");
    EXPECT_EQ(firstWindow->labelText(), "Copying holders");
    EXPECT_EQ(firstWindow->maximum(), 10);
    advance(first, 4);
    EXPECT_EQ(firstWindow->value(), 4);
    advance(first, 20);
    EXPECT_EQ(firstWindow->value(), 10);
    EXPECT_EQ(cancelled(first), 0);

    auto *stop = firstWindow->findChild<QPushButton *>();
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->text(), "Stop");
    stop->click();
    EXPECT_EQ(cancelled(first), 1);
    EXPECT_FALSE(firstWindow); // gone with the cancel
    advance(first, 1);
    EXPECT_EQ(cancelled(first), 1);
    EXPECT_EQ(cancelled(second), 0);
    close(first);
    EXPECT_EQ(cancelled(first), 0);

    close(second);
    EXPECT_EQ(ModalDriver::findTopLevel<QProgressDialog>("frmProcess"), nullptr);
    EXPECT_EQ(cancelled(second), 0);
}
