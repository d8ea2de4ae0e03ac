// Holders with every awkward value go out through the export and come back through the
// import, text files with each separator and workbooks, in column orders drawn at random
// (fixed seed) and set through the Format panel by mouse.
#include "FormTest.h"

#include "FileDialogs.h"
#include "FormatPanel.h"
#include "TfrmHolderImportExport.h"
#include "TransferFormat.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <random>

using namespace zq::forms;
using zq::module::WindowKind;

namespace {

// The columns as the database holds them; the dates as their day or "<null>".
const QStringList kColumns{"HolderNo",
                           "HolderName",
                           "Email",
                           "Birthday",
                           "StartDate",
                           "ExpiredDate",
                           "Definable1",
                           "Definable2",
                           "Description",
                           "DepartmentNo",
                           "TitleNo",
                           "TypeNo",
                           "PIN"};
const QString kCodes = QStringLiteral("123456789ABCD");
const QString kNull = QStringLiteral("<null>");

// Texts that break naive files: separators, quotes, line ends, tabs, leading zeros, wide
// characters; "<null>" stands for NULL.
const QStringList kAwkward{"Lee, Ann",
                           "say \"hi\"",
                           "\"quoted\" first",
                           "two\r\nlines",
                           "cr\ronly",
                           "lf\nonly",
                           "tab\there",
                           "semi;colon:colon",
                           "007",
                           "陳大文",
                           "",
                           kNull,
                           "\"",
                           "plain"};

bool isDate(int column)
{
    return column >= 3 && column <= 5;
}

} // namespace

class RoundTripTest : public zq::test::FormTest
{
protected:
    void TearDown() override
    {
        zq::platform::setFileChoiceAnswer({});
        FormTest::TearDown();
    }

    void fillSite(std::mt19937 &random, int holders)
    {
        exec(
            {"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales, "
             "East')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', '\"Q\" Lab')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', '研發部')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk; senior')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T2', '0042')",
             "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff: day')",
             "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y2', '訪客')"});
        const auto pick = [&](const QStringList &from) {
            return from.at(int(random() % from.size()));
        };
        const QStringList days{kNull,
                               "1899-12-31",
                               "1901-01-01",
                               "1949-12-31",
                               "1950-01-01",
                               "2005-03-04",
                               "2038-01-19"};
        QStringList statements;
        for (int i = 0; i < holders; ++i) {
            QStringList values;
            // Numbers keep their leading zeros and may be wide; never a control character.
            values << (i % 3 == 0 ? QString("陳%1").arg(i, 3, 10, QChar('0'))
                                  : QString("%1").arg(i, 5, 10, QChar('0')));
            for (int c = 1; c < kColumns.size(); ++c) {
                QString v;
                if (isDate(c))
                    v = pick(days);
                else if (c == 9)
                    v = pick({"D1", "D2", "D3"});
                else if (c == 10)
                    v = pick({"T1", "T2"});
                else if (c == 11)
                    v = pick({"Y1", "Y2"});
                else if (c == 12)
                    v = pick({"0012", "", kNull, "1,2", "\"9"});
                else
                    v = pick(kAwkward);
                values << v;
            }
            QStringList literals;
            for (int c = 0; c < values.size(); ++c) {
                const QString &v = values.at(c);
                literals << (v == kNull  ? QStringLiteral("NULL")
                             : isDate(c) ? zq::data::Connection::quoted(v + " 00:00:00")
                                         : zq::data::Connection::quoted(v));
            }
            statements << "INSERT INTO HolderData (" + kColumns.join(", ")
                              + ", PunchCard, SequenceNo) VALUES (" + literals.join(", ") + ", 1, "
                              + QString::number(i + 1) + ")";
        }
        exec(statements);
    }

    // Every holder as the database holds it, keyed by number.
    QMap<QString, QStringList> holders()
    {
        QMap<QString, QStringList> rows;
        QSqlQuery q(db().database());
        EXPECT_TRUE(q.exec("SELECT " + kColumns.join(", ") + " FROM HolderData"));
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < kColumns.size(); ++c) {
                const QVariant v = q.value(c);
                if (v.isNull())
                    row << kNull;
                else if (isDate(c))
                    row << v.toString().left(10);
                else
                    row << v.toString();
            }
            rows.insert(row.first(), row);
        }
        return rows;
    }

    // What an import with `order` stores for a holder that was `before`: the columns of the
    // order come back (text NULL as empty text), the others take their defaults (a new
    // holder starts today, without birthday or expiry).
    static QStringList expected(const QStringList &before, const QString &order)
    {
        QStringList row;
        const QString today = QDate::currentDate().toString("yyyy-MM-dd");
        for (int c = 0; c < kColumns.size(); ++c) {
            const bool carried = order.contains(kCodes.at(c));
            const QString &v = before.at(c);
            if (isDate(c))
                row << (carried ? v : kCodes.at(c) == u'5' ? today : kNull);
            else
                row << (carried && v != kNull ? v : QString());
        }
        return row;
    }

    // Sets the Format panel to `order` as an operator would: caption clicks to select, Up
    // presses to move, clicks on the box to uncheck.
    void setOrder(FormatPanel *panel, const QString &order)
    {
        for (int k = 0; k < order.size(); ++k) {
            const int row = panel->rowOf(order.at(k));
            QTest::mouseClick(panel->rowBox(row), Qt::LeftButton, {}, QPoint(60, 8));
            for (int i = row; i > k; --i)
                QTest::mouseClick(panel->btnUp, Qt::LeftButton);
        }
        for (int row = 0; row < panel->order().rowCount(); ++row)
            if (panel->rowBox(row)->isChecked() != (row < order.size()))
                QTest::mouseClick(panel->rowBox(row), Qt::LeftButton, {}, QPoint(8, 8));
        ASSERT_EQ(panel->columnOrder(), order);
    }

    void chooseItem(QComboBox *combo, int index)
    {
        combo->showPopup();
        QAbstractItemView *view = combo->view();
        QTRY_VERIFY(view->isVisible());
        const QRect rect = view->visualRect(view->model()->index(index, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_COMPARE(combo->currentIndex(), index);
    }

    void answer(const QString &path, int type)
    {
        zq::platform::setFileChoiceAnswer([path, type](zq::platform::FileChoice &c) {
            c.fileType = type;
            return path;
        });
    }

    // Exports everything with `order`, empties the table, imports the file back and
    // compares every holder.
    void roundTrip(TfrmHolderImportExport *w,
                   const QString &order,
                   int fileType,
                   int separator,
                   const QMap<QString, QStringList> &before)
    {
        SCOPED_TRACE(QString("order %1, type %2, separator %3")
                         .arg(order)
                         .arg(fileType)
                         .arg(separator)
                         .toStdString());
        w->pcData->setCurrentWidget(w->tsExport);
        setOrder(w->gbFormat, order);
        const QString path = m_db->folder() + (fileType == 1 ? "/trip.xlsx" : "/trip.txt");
        answer(path, fileType);
        QTest::mouseClick(w->btnExportFile, Qt::LeftButton);
        QTRY_VERIFY(w->pcData->isEnabled());
        if (fileType == 0)
            chooseItem(w->cbxExportSpaceChar, separator);
        d.calls.clear();
        QTest::mouseClick(w->btnExport, Qt::LeftButton);
        ASSERT_EQ(d.messages(), QStringList{"ExportComplete"});
        exec({"DELETE FROM HolderData"});

        w->pcData->setCurrentWidget(w->tsImport);
        answer(path, fileType);
        QTest::mouseClick(w->btnImportFile, Qt::LeftButton);
        QTRY_VERIFY(w->pcData->isEnabled());
        if (fileType == 0)
            chooseItem(w->cbxSpaceChar, separator);
        d.calls.clear();
        QTest::mouseClick(w->btnImport, Qt::LeftButton);
        ASSERT_EQ(d.messages(), QStringList{"ImportComplete"});
        const QMap<QString, QStringList> after = holders();
        EXPECT_EQ(after.size(), before.size());
        for (auto it = before.begin(); it != before.end(); ++it)
            EXPECT_EQ(after.value(it.key()), expected(it.value(), order)) << it.key().toStdString();
        // Put the holders back as they were for the next order.
        exec({"DELETE FROM HolderData"});
    }

    void refill(const QMap<QString, QStringList> &rows)
    {
        QStringList statements;
        for (const QStringList &row : rows) {
            QStringList literals;
            for (int c = 0; c < row.size(); ++c)
                literals << (row.at(c) == kNull ? QStringLiteral("NULL")
                             : isDate(c) ? zq::data::Connection::quoted(row.at(c) + " 00:00:00")
                                         : zq::data::Connection::quoted(row.at(c)));
            statements << "INSERT INTO HolderData (" + kColumns.join(", ") + ", PunchCard) VALUES ("
                              + literals.join(", ") + ", 1)";
        }
        exec(statements);
    }

    // A random column order: HolderNo and a random choice of the others, shuffled.
    static QString randomOrder(std::mt19937 &random)
    {
        QString codes = kCodes.mid(1);
        std::shuffle(codes.begin(), codes.end(), random);
        QString order = codes.left(int(random() % codes.size()) + 1) + u'1';
        std::shuffle(order.begin(), order.end(), random);
        return order;
    }
};

TEST_P(RoundTripTest, TextFilesBringBackEveryAwkwardValueInRandomOrders)
{
    ZQ_FORM_DB();
    std::mt19937 random(4180);
    fillSite(random, 40);
    const QMap<QString, QStringList> before = holders();
    ASSERT_EQ(before.size(), 40);
    auto *w = open<TfrmHolderImportExport>(WindowKind::HolderImportExport);
    ASSERT_TRUE(w);
    ASSERT_EQ(w->cbxSpaceChar->count(), 4);
    for (int round = 0; round < 4; ++round) {
        const QString order = round == 0 ? kCodes : randomOrder(random);
        roundTrip(w, order, 0, round % 4, before);
        if (HasFatalFailure())
            return;
        refill(before);
    }
}

TEST_P(RoundTripTest, WorkbooksBringBackEveryAwkwardValueInRandomOrders)
{
    ZQ_FORM_DB();
    std::mt19937 random(1904);
    fillSite(random, 30);
    QMap<QString, QStringList> before = holders();
    auto *w = open<TfrmHolderImportExport>(WindowKind::HolderImportExport);
    ASSERT_TRUE(w);
    for (int round = 0; round < 3; ++round) {
        roundTrip(w, round == 0 ? kCodes : randomOrder(random), 1, 0, before);
        if (HasFatalFailure())
            return;
        refill(before);
    }
}

TEST_P(RoundTripTest, AWorkbookWhoseFirstColumnIsEmptyForEveryHolderKeepsItsLastColumn)
{
    ZQ_FORM_DB();
    std::mt19937 random(26);
    fillSite(random, 12);
    exec({"UPDATE HolderData SET Email = NULL", "UPDATE HolderData SET PIN = '0099'"});
    const QMap<QString, QStringList> before = holders();
    auto *w = open<TfrmHolderImportExport>(WindowKind::HolderImportExport);
    ASSERT_TRUE(w);
    // E-mail first (empty everywhere), PIN last: the PIN must come back.
    roundTrip(w, "3124567D", 1, 0, before);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         RoundTripTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
