// Card label printing: the statements by orientation, the holder window's batch box and
// department filter, the stored batch list (and a damaged one), the empty-listing stop.
#include "BatchList.h"
#include "FormTest.h"
#include "LabelSite.h"
#include "PrintStatements.h"
#include "Recordset.h"
#include "TfrmHolder.h"
#include "TfrmPrintOption.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace zq::forms;
using zq::module::WindowKind;
using zq::test::columnOf;

class PrintOptionTest : public zq::test::FormTest
{
protected:
    TfrmHolder *openHolders()
    {
        exec(zq::test::labelSiteStatements());
        return open<TfrmHolder>(WindowKind::Holder);
    }
    TfrmPrintOption *printWindow()
    {
        return qobject_cast<TfrmPrintOption *>(zq::module::createWindow(WindowKind::PrintOption));
    }
    void storeBatch(const QString &value)
    {
        QFile f(d.programPath + "ZQMain.ini");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[ZQHolderLabel]\nBrowseHolder=" + value.toUtf8() + "\n");
    }
    /// Prints with the orientation and returns the holders of the statement handed over.
    QStringList print(bool vertical, QString *templateFile = nullptr)
    {
        QPointer<TfrmPrintOption> w = printWindow();
        EXPECT_TRUE(w);
        if (!w)
            return {};
        QTest::mouseClick(vertical ? w->rabV : w->rabH, Qt::LeftButton, {}, QPoint(6, 6));
        EXPECT_TRUE((vertical ? w->rabV : w->rabH)->isChecked());
        const int before = d.count("ShowReport");
        QTest::mouseClick(w->btnPrintLabel, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(w) << "the window closes after printing";
        if (d.count("ShowReport") == before)
            return {"<no report>"};
        const Call call = d.callsNamed("ShowReport").last();
        if (templateFile)
            *templateFile = call.args.value(0);
        m_lastStatement = call.args.value(1);
        return columnOf(db(), m_lastStatement);
    }
    QString m_lastStatement;
    using Call = zq::test::Call;
};

TEST_P(PrintOptionTest, ListingFilterPicksPunchCardHoldersWithEveryRowPresent)
{
    ZQ_FORM_DB();
    auto *h = openHolders();
    ASSERT_TRUE(h);
    ASSERT_EQ(h->departmentFilter(), "D1");
    QString tpl;
    EXPECT_EQ(print(true, &tpl), QStringList{"H1"}); // H8's type is missing
    EXPECT_EQ(tpl, "HolderCardLabelV.frf");
    EXPECT_EQ(d.callsNamed("SelectReportLanguage").value(0).args, QStringList{"ZQBasic"});

    h->setDepartmentFilter("");
    // H3 no punch card, H5 title, H6 department missing; H7's type has no portrait picture.
    EXPECT_EQ(print(true), (QStringList{"H1", "H2", "H4"}));
    EXPECT_EQ(print(false, &tpl), (QStringList{"H1", "H2", "H4", "H7"}));
    EXPECT_EQ(tpl, "HolderCardLabelH.frf");
    EXPECT_EQ(columnOf(db(), m_lastStatement, "PicNo"), (QStringList{"P2", "P2", "P2", "P2"}));

    h->setDepartmentFilter("D3");
    EXPECT_EQ(print(false), (QStringList{"H4", "H7"}));
}

TEST_P(PrintOptionTest, CheckedBatchBoxPrintsTheStoredListWhateverTheFilter)
{
    ZQ_FORM_DB();
    auto *h = openHolders();
    ASSERT_TRUE(h);
    storeBatch(zq::forms::batch::batchText({"H7", "H3", "H2", "H4", "H6"}));
    h->findChild<QCheckBox *>("chkBatch")->setChecked(true);
    h->setDepartmentFilter("D1");
    EXPECT_EQ(print(true), (QStringList{"H2", "H4"})); // ordered by department, holder
    EXPECT_EQ(print(false), (QStringList{"H2", "H4", "H7"}));

    // Unchecked: the filter again.
    h->findChild<QCheckBox *>("chkBatch")->setChecked(false);
    EXPECT_EQ(print(true), QStringList{"H1"});
}

TEST_P(PrintOptionTest, CheckedBoxWithoutStoredValueUsesTheFilterAndADamagedValueIsTold)
{
    ZQ_FORM_DB();
    auto *h = openHolders();
    ASSERT_TRUE(h);
    h->findChild<QCheckBox *>("chkBatch")->setChecked(true);
    h->setDepartmentFilter("D2");
    EXPECT_EQ(print(true), QStringList{"H2"}); // no ZQMain.ini at all

    // A stored value that does not read back as a list is told, and nothing is printed:
    // falling back to the filter would print a different set of holders.
    for (const QString value :
         {"( 'H1') OR 1=1 --", "( 'H1',''); DELETE FROM HolderData; --", "( 'A"}) {
        storeBatch(value);
        d.calls.clear();
        QPointer<TfrmPrintOption> w = printWindow();
        ASSERT_TRUE(w);
        QTest::mouseClick(w->btnPrintLabel, Qt::LeftButton);
        EXPECT_EQ(d.count("ShowReport"), 0) << value.toStdString();
        EXPECT_EQ(d.messages(), QStringList{"BatchListUnreadable"});
        EXPECT_TRUE(w) << "the window stays for another choice";
        delete w;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 8);
    // Without the batch box the list plays no part.
    h->findChild<QCheckBox *>("chkBatch")->setChecked(false);
    EXPECT_EQ(print(true), QStringList{"H2"});
}

TEST_P(PrintOptionTest, AllFilterPrintsEveryDepartmentAndIsClearedInTheHolderWindow)
{
    ZQ_FORM_DB();
    auto *h = openHolders();
    ASSERT_TRUE(h);
    h->setDepartmentFilter("ALL");
    EXPECT_EQ(print(false), (QStringList{"H1", "H2", "H4", "H7"}));
    EXPECT_EQ(h->departmentFilter(), "");
    EXPECT_FALSE(m_lastStatement.contains("'ALL'"));
}

TEST_P(PrintOptionTest, EmptyListingPrintsNothingAndTheWindowStays)
{
    ZQ_FORM_DB();
    auto *h = openHolders();
    ASSERT_TRUE(h);
    h->listing()->close();
    QPointer<TfrmPrintOption> w = printWindow();
    ASSERT_TRUE(w);
    QTest::mouseClick(w->btnPrintLabel, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w);
    EXPECT_EQ(d.count("ShowReport"), 0);
    QTest::mouseClick(w->btnExit, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(w);
}

TEST_P(PrintOptionTest, CardLabelButtonOpensTheWindowModally)
{
    ZQ_FORM_DB();
    auto *h = openHolders();
    ASSERT_TRUE(h);
    bool seen = false;
    QTimer::singleShot(0, h, [&] {
        auto *w = qobject_cast<TfrmPrintOption *>(QApplication::activeModalWidget());
        seen = w && w->rabV->isChecked() && w->isModal();
        if (w)
            QTest::mouseClick(w->btnPrintLabel, Qt::LeftButton);
        else if (QWidget *other = QApplication::activeModalWidget())
            other->close();
    });
    h->btnLabelClick(); // the holder window keeps its label button hidden
    EXPECT_TRUE(seen);
    ASSERT_EQ(d.count("ShowReport"), 1);
    EXPECT_EQ(columnOf(db(), d.callsNamed("ShowReport")[0].args[1]), QStringList{"H1"});
    EXPECT_TRUE(d.callsNamed("SetupFormLanguage").last().args.value(0).contains("frmPrintOption"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         PrintOptionTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

TEST(LabelStatements, BaseStatementsAndAppendedPieces)
{
    using zq::forms::print::labelJob;
    const QString v = labelJob(true, false, "", "").statement;
    const QString hz = labelJob(false, false, "", "").statement;
    const QString order = "ORDER BY HolderData.DepartmentNo,HolderData.HolderNo ";
    ASSERT_TRUE(v.endsWith(" " + order));
    EXPECT_EQ(v.size() - order.size() - 1, 473);
    EXPECT_EQ(hz.size() - order.size(), 473);
    EXPECT_TRUE(v.contains("OccupationType.PicNoV = CardPicture.PicNo"));
    EXPECT_TRUE(hz.contains("OccupationType.PicNoH = CardPicture.PicNo"));
    EXPECT_TRUE(
        labelJob(true, false, "", "D'1")
            .statement.endsWith("PunchCard = 1    AND HolderData.DepartmentNo = 'D''1'  " + order));
    EXPECT_TRUE(
        labelJob(false, false, "", "D1")
            .statement.endsWith("PunchCard = 1 AND HolderData.DepartmentNo = 'D1' " + order));
    EXPECT_TRUE(
        labelJob(true, true, "( 'a','')", "D1")
            .statement.endsWith("PunchCard = 1   AND HolderData.HolderNo IN ( 'a','') " + order));
    // A checked box with no list falls back to the filter.
    EXPECT_TRUE(labelJob(false, true, "", "D1").statement.contains("DepartmentNo = 'D1'"));
}
