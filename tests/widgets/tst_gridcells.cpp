// The grids' cell painter draws the same pixels as the style's default item painter: a grid of
// awkward holder rows painted both ways, in every state a grid is seen in, must not differ by
// one pixel; the cells it draws in fewer steps are really drawn that way.
#include "Connection.h"
#include "GridCellPainter.h"
#include "GridHeader.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "TestDatabase.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>

#include <functional>

#include <gtest/gtest.h>

using namespace zq::data;
using namespace zq::widgets;

class GridCellsTest : public testing::TestWithParam<Engine>
{
};

namespace {

// Number, name, display text, e-mail, description: blanks after and before, NULL and '',
// quotes, another script, a text too long for its column, a line break, letters that reach
// above and below the line.
const QList<QStringList> kRows{
    {"H1  ", "Lena Lin", "", "lena@example.com", "ordinary"},
    {"H2", "  leading blanks", "trailing   ", "", "NULL"},
    {"H3", "O'Brien \"Q\"", "gyp|[]{}", "x@y", "\u9673\u5927\u6587 \u6e2c\u8a66"},
    {"H4",
     "A name far too long for its column here",
     "WWWWWWWWWWWWWWWW",
     "a.very.long.address.of.mail@example.com",
     "two\nlines"},
    {"H5", "\u00c5ngstr\u00f6m \u00c9mile", "fi ffl", "", ""},
    {"H6", "x", "staff of", "if elf", "tab\there"},
    {"H7", "chief f", "Jeff ff", "of f", "a f"},
    {"H8", "Lena Lin", "trailing   ", "lena@example.com", "ordinary"},
};

void fill(zq::test::TestDatabase &db)
{
    QSqlQuery q(db.connection().database());
    ASSERT_TRUE(q.prepare("INSERT INTO HolderData (HolderNo, HolderName, ShowText, Email, "
                          "Description, StartDate) VALUES (?, ?, ?, ?, ?, ?)"));
    for (const QStringList &row : kRows) {
        for (int i = 0; i < row.size(); ++i)
            q.addBindValue(row.at(i) == QLatin1String("NULL") ? QVariant() : QVariant(row.at(i)));
        q.addBindValue(QStringLiteral("2024-02-29 00:00:00"));
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
}

struct Grid
{
    Recordset rs;
    RecordsetModel model;
    QTableView view;

    GridCellPainter *painter() const
    {
        return qobject_cast<GridCellPainter *>(view.itemDelegate());
    }

    QImage paint(bool quick)
    {
        painter()->setQuickCells(quick);
        return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

void expectSame(const QImage &quick, const QImage &reference)
{
    ASSERT_EQ(quick.size(), reference.size());
    int differing = 0;
    QPoint first;
    for (int y = 0; y < quick.height(); ++y)
        for (int x = 0; x < quick.width(); ++x)
            if (quick.pixel(x, y) != reference.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);
    EXPECT_EQ(differing, 0) << "first at " << first.x() << "," << first.y();
}

struct State
{
    const char *name;
    std::function<void(QTableView &)> apply;
    bool quickCells; // some cells are drawn in fewer steps
};

const QList<State> kStates{
    {"plain", [](QTableView &) {}, true},
    {"current row selected, grid focused",
     [](QTableView &v) {
         v.setFocus();
         v.selectionModel()->setCurrentIndex(v.model()->index(2, 1),
                                             QItemSelectionModel::ClearAndSelect
                                                 | QItemSelectionModel::Rows);
     },
     true},
    {"no alternate rows", [](QTableView &v) { v.setAlternatingRowColors(false); }, true},
    {"disabled", [](QTableView &v) { v.setEnabled(false); }, true},
    {"narrow columns",
     [](QTableView &v) {
         for (int c = 0; c < v.model()->columnCount(); ++c)
             v.setColumnWidth(c, 23 + 7 * c);
     },
     true},
    {"columns a pixel either side of a text's width",
     [](QTableView &v) {
         const int text = v.fontMetrics().horizontalAdvance(QStringLiteral("Lena Lin"));
         v.setColumnWidth(1, text + 6);
         v.setColumnWidth(2, text + 5);
         v.setColumnWidth(3, text + 7);
     },
     true},
    {"bold larger font",
     [](QTableView &v) {
         QFont f = v.font();
         f.setBold(true);
         f.setPointSize(f.pointSize() + 3);
         v.setFont(f);
     },
     true},
    {"rows lower than the text",
     [](QTableView &v) {
         QFont f = v.font();
         f.setPointSize(20);
         v.setFont(f);
         v.verticalHeader()->setMinimumSectionSize(10);
         v.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
         v.verticalHeader()->setDefaultSectionSize(18);
         ASSERT_EQ(v.rowHeight(0), 18);
     },
     true},
    {"italic, the last letters reaching past their advance",
     [](QTableView &v) {
         QFont f = v.font();
         f.setItalic(true);
         v.setFont(f);
     },
     true},
    {"no word wrap", [](QTableView &v) { v.setWordWrap(false); }, true},
    {"own text colour",
     [](QTableView &v) {
         QPalette p = v.palette();
         p.setColor(QPalette::Text, Qt::darkRed);
         p.setColor(QPalette::AlternateBase, QColor(230, 240, 255));
         v.setPalette(p);
     },
     true},
    {"right to left", [](QTableView &v) { v.setLayoutDirection(Qt::RightToLeft); }, false},
};

} // namespace

TEST_P(GridCellsTest, CellsLookAsTheStylePaintsThemInEveryState)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    for (const State &state : kStates) {
        SCOPED_TRACE(state.name);
        Grid g;
        g.rs.setConnection(&db.connection());
        g.rs.setStatement("SELECT HolderNo, HolderName, ShowText, Email, Description, StartDate "
                          "FROM HolderData ORDER BY HolderNo");
        g.rs.open();
        g.model.setRecordset(&g.rs);
        g.model.attach(&g.view);
        ASSERT_NE(g.painter(), nullptr);
        g.view.setAlternatingRowColors(true);
        g.view.verticalHeader()->setDefaultSectionSize(22);
        g.view.resize(640, 220);
        g.view.show();
        QApplication::processEvents();
        state.apply(g.view);
        QApplication::processEvents();

        const QImage reference = g.paint(false);
        const int before = g.painter()->quickCells();
        expectSame(g.paint(true), reference);
        EXPECT_EQ(g.painter()->quickCells() > before, state.quickCells);
        // Painted again from the texts kept, and after a column and the font changed.
        expectSame(g.paint(true), reference);
        g.view.setColumnWidth(1, g.view.columnWidth(1) - 17);
        QFont smaller = g.view.font();
        smaller.setPointSize(smaller.pointSize() - 1);
        g.view.horizontalHeader()->setFont(smaller);
        QApplication::processEvents();
        expectSame(g.paint(true), g.paint(false));
        g.view.setFont(smaller);
        QApplication::processEvents();
        expectSame(g.paint(true), g.paint(false));
    }
}

TEST_P(GridCellsTest, AWindowsOwnCellPainterStays)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT HolderNo FROM HolderData");
    rs.open();
    RecordsetModel model;
    model.setRecordset(&rs);
    QTableView view;
    class Centred : public QStyledItemDelegate
    {
        using QStyledItemDelegate::QStyledItemDelegate;
    };
    auto *own = new Centred(&view);
    view.setItemDelegate(own);
    model.attach(&view);
    EXPECT_EQ(view.itemDelegate(), own);
}

// The row-number header measures as the default one, listing after listing and whatever
// changes the measure.
TEST_P(GridCellsTest, RowNumbersMeasureAsTheDefaultHeader)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    ASSERT_TRUE(db.connection().begin());
    QSqlQuery q(db.connection().database());
    ASSERT_TRUE(q.prepare("INSERT INTO HolderData (HolderNo) VALUES (?)"));
    for (int i = 0; i < 1200; ++i) {
        q.addBindValue(QStringLiteral("N%1").arg(i, 4, 10, QLatin1Char('0')));
        ASSERT_TRUE(q.exec());
    }
    ASSERT_TRUE(db.connection().commit());
    Recordset rs;
    rs.setConnection(&db.connection());
    RecordsetModel model;
    model.setRecordset(&rs);
    QTableView plain, remembering;
    remembering.setVerticalHeader(new GridHeader(Qt::Vertical, &remembering));
    for (QTableView *v : {&plain, &remembering}) {
        v->setModel(&model);
        v->resize(400, 300);
        v->show();
    }
    struct Step
    {
        const char *name;
        const char *sql;
        std::function<void(QHeaderView &)> change;
    };
    const QList<Step> steps{
        {"1,200 rows", "SELECT HolderNo FROM HolderData ORDER BY HolderNo", nullptr},
        {"9 rows", "SELECT HolderNo FROM HolderData WHERE HolderNo < 'N0009'", nullptr},
        {"150 rows", "SELECT HolderNo FROM HolderData WHERE HolderNo < 'N0150'", nullptr},
        {"no rows", "SELECT HolderNo FROM HolderData WHERE 1 = 0", nullptr},
        {"1,200 rows again", "SELECT HolderNo FROM HolderData ORDER BY HolderNo", nullptr},
        {"larger font",
         "SELECT HolderNo FROM HolderData ORDER BY HolderNo",
         [](QHeaderView &h) {
             QFont f = h.font();
             f.setPointSize(f.pointSize() + 5);
             h.setFont(f);
         }},
        {"sort indicator",
         "SELECT HolderNo FROM HolderData WHERE HolderNo < 'N0150'",
         [](QHeaderView &h) { h.setSortIndicatorShown(true); }},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        rs.setStatement(QString::fromLatin1(step.sql));
        rs.open();
        if (step.change) {
            step.change(*plain.verticalHeader());
            step.change(*remembering.verticalHeader());
        }
        QApplication::processEvents();
        EXPECT_EQ(remembering.verticalHeader()->sizeHint(), plain.verticalHeader()->sizeHint());
        EXPECT_EQ(remembering.verticalHeader()->width(), plain.verticalHeader()->width());
    }
}

// Headers share what they measured only with headers that measure alike: one under a style
// sheet, one in another font, one with a sort indicator each measure as their own default
// header does, whichever of them measured the same row numbers first.
TEST(GridHeaderSharing, EachHeaderMeasuresAsItsDefaultOneWhoeverMeasuredFirst)
{
    QStandardItemModel model(150, 1);
    struct Pair
    {
        const char *name;
        std::function<void(QWidget &, QHeaderView &)> setUp;
    };
    const QList<Pair> pairs{
        {"plain", nullptr},
        {"style sheet",
         [](QWidget &parent, QHeaderView &) {
             parent.setStyleSheet("QHeaderView::section { padding: 2px 17px; }");
         }},
        {"larger font",
         [](QWidget &, QHeaderView &h) {
             QFont f = h.font();
             f.setPointSize(f.pointSize() + 4);
             h.setFont(f);
         }},
        {"sort indicator", [](QWidget &, QHeaderView &h) { h.setSortIndicatorShown(true); }},
        {"plain again", nullptr},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Pair &pair : pairs) {
            SCOPED_TRACE(std::string(pair.name) + (round ? " (second round)" : ""));
            QWidget parentPlain, parentRemembering;
            QTableView plain(&parentPlain), remembering(&parentRemembering);
            remembering.setVerticalHeader(new GridHeader(Qt::Vertical, &remembering));
            for (QTableView *v : {&plain, &remembering}) {
                if (pair.setUp)
                    pair.setUp(*v->parentWidget(), *v->verticalHeader());
                v->setModel(&model);
                v->resize(300, 200);
                v->parentWidget()->show();
            }
            QApplication::processEvents();
            EXPECT_EQ(remembering.verticalHeader()->sizeHint(), plain.verticalHeader()->sizeHint());
            EXPECT_EQ(remembering.verticalHeader()->sectionSizeHint(149),
                      plain.verticalHeader()->sectionSizeHint(149));
        }
    }
    // Under the application's style sheet every widget has the same style, and a rule may
    // pick out one grid: the styled grid measured first, then one the rule leaves alone.
    qApp->setStyleSheet("QTableView#styled QHeaderView::section { padding: 2px 17px; }");
    for (const char *name : {"styled", "other", "styled"}) {
        SCOPED_TRACE(name);
        QTableView plain, remembering;
        remembering.setVerticalHeader(new GridHeader(Qt::Vertical, &remembering));
        for (QTableView *v : {&plain, &remembering}) {
            v->setObjectName(name);
            v->setModel(&model);
            v->resize(300, 200);
            v->show();
        }
        QApplication::processEvents();
        EXPECT_EQ(remembering.verticalHeader()->sizeHint(), plain.verticalHeader()->sizeHint());
    }
    qApp->setStyleSheet(QString());
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         GridCellsTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
