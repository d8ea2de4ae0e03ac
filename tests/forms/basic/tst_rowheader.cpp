// The grids' row header remembers its size hint; after every kind of change it must still
// measure what Qt's own header measures, or the numbers would be clipped or the grid shifted.
#include "RowHeader.h"

#include <QApplication>
#include <QFont>
#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

using zq::forms::RowHeader;

namespace {

struct Pair
{
    QStandardItemModel model;
    QTableView remembered, plain;
    RowHeader *header = new RowHeader;

    Pair()
    {
        remembered.setVerticalHeader(header);
        remembered.setModel(&model);
        plain.setModel(&model);
        model.setColumnCount(2);
        for (QTableView *v : {&remembered, &plain}) {
            v->resize(300, 400);
            v->show();
        }
    }
    void rows(int n) { model.setRowCount(n); }
    // Both views go through a resize, as a window does when its scroll bar appears.
    void settle()
    {
        for (QTableView *v : {&remembered, &plain})
            v->resize(v->width() + 7, v->height());
        QApplication::processEvents();
    }
};

struct Step
{
    const char *name;
    std::function<void(Pair &)> change;
};

void PrintTo(const Step &step, std::ostream *os)
{
    *os << step.name;
}

class RowHeaderTest : public ::testing::TestWithParam<Step>
{
};

TEST_P(RowHeaderTest, MeasuresAsQtsOwnHeaderAfterTheChange)
{
    Pair p;
    p.rows(120);
    p.settle();
    ASSERT_EQ(p.header->sizeHint(), p.plain.verticalHeader()->sizeHint());
    GetParam().change(p);
    p.settle();
    EXPECT_EQ(p.header->sizeHint(), p.plain.verticalHeader()->sizeHint());
    // And again, once the remembered hint is the one answered.
    p.settle();
    EXPECT_EQ(p.header->sizeHint(), p.plain.verticalHeader()->sizeHint());
    EXPECT_EQ(p.header->sizeHint().width(), p.remembered.verticalHeader()->width());
}

const Step kSteps[] = {
    {"FromNumbersOfThreeDigitsToFour", [](Pair &p) { p.rows(1000); }},
    {"DownToOneDigit", [](Pair &p) { p.rows(7); }},
    {"NoRowsAtAll", [](Pair &p) { p.rows(0); }},
    {"ARowInsertedAtTheTop", [](Pair &p) { p.model.insertRow(0); }},
    {"ALongLabelOnOneRow",
     [](Pair &p) {
         p.model.setHeaderData(3, Qt::Vertical, QStringLiteral("A much longer label"));
     }},
    {"TheSameNumberOfRowsWithOtherLabels",
     [](Pair &p) {
         QStringList labels;
         for (int i = 0; i < 120; ++i)
             labels << QStringLiteral("Row %1").arg(i);
         p.model.setVerticalHeaderLabels(labels);
     }},
    {"TheLastRowsHidden",
     [](Pair &p) {
         p.model.setHeaderData(119, Qt::Vertical, QStringLiteral("Wide wide wide"));
         for (QTableView *v : {&p.remembered, &p.plain})
             v->verticalHeader()->setSectionHidden(119, true);
     }},
    {"ALargerFont",
     [](Pair &p) {
         for (QTableView *v : {&p.remembered, &p.plain}) {
             QFont f = v->verticalHeader()->font();
             f.setPointSize(f.pointSize() * 2);
             v->verticalHeader()->setFont(f);
         }
     }},
    {"AStyleSheetWithWidePadding",
     [](Pair &p) {
         for (QTableView *v : {&p.remembered, &p.plain})
             v->setStyleSheet(QStringLiteral("QHeaderView::section { padding: 0 30px; }"));
     }},
    {"AnotherModelOfTheSameSize",
     [](Pair &p) {
         auto *other = new QStandardItemModel(120, 2, &p.remembered);
         other->setHeaderData(0, Qt::Vertical, QStringLiteral("Another, wider label"));
         p.remembered.setModel(other);
         p.plain.setModel(other);
     }},
};

INSTANTIATE_TEST_SUITE_P(Changes,
                         RowHeaderTest,
                         ::testing::ValuesIn(kSteps),
                         [](const ::testing::TestParamInfo<Step> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
