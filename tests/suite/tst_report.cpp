// The report engine of the utilities library, driven through ShowReport with the templates the
// host ships, on a small site of both engines. What comes out is read back with pdftotext.
#include "Connection.h"
#include "SuiteHost.h"
#include "TestDatabase.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTimer>

#include <gtest/gtest.h>

using zq::data::Connection;
using zq::data::Engine;
using zq::test::suiteEntry;
using zq::test::SuiteHost;
using zq::test::SuiteLib;

namespace {

// The holder list as the holder report window asks for it, for a supervisor.
const char *const kHolderList
    = " SELECT T2.DepartmentName,T3.TitleName,T4.TypeName,T1.* "
      "   FROM UserRightDept T5, OccupationType T4,OccupationTitle T3,           "
      "        DepartmentData T2,HolderData T1                 "
      "  WHERE T1.DepartmentNo = T2.DepartmentNo               "
      "    AND T1.TitleNo = T3.TitleNo                         "
      "    AND T1.TypeNo  = T4.TypeNo                          "
      " AND T5.DepartmentNo = T1.DepartmentNo  "
      " ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName       ";

QString labelStatement(const QString &side)
{
    return QStringLiteral(
               "SELECT DepartmentData.DepartmentName,OccupationTitle.TitleName,"
               "OccupationType.TypeName,OccupationType.PicNo%1,HolderData.*,CardPicture.GBPhoto, "
               "CardPicture.PicNo FROM OccupationType ,OccupationTitle , DepartmentData ,"
               "HolderData ,CardPicture WHERE HolderData.DepartmentNo = "
               "DepartmentData.DepartmentNo "
               "AND (HolderData.TitleNo = OccupationTitle.TitleNo AND OccupationType.PicNo%1 = "
               "CardPicture.PicNo) AND HolderData.TypeNo  = OccupationType.TypeNo AND "
               "HolderData.PunchCard = 1 ORDER BY HolderData.DepartmentNo,HolderData.HolderNo ")
        .arg(side);
}

QByteArray jpeg(const QSize &size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::white, 8));
    painter.drawEllipse(image.rect().adjusted(20, 20, -20, -20));
    painter.end();
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return data;
}

int pdfPages(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
    return int(QString::fromLatin1(pdf).count(page));
}

class ReportTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<zq::test::TestDatabase>(GetParam());
        if (!m_db->isAvailable()) {
            if (zq::test::postgresRequired())
                FAIL() << m_db->skipReason().toStdString();
            GTEST_SKIP() << m_db->skipReason().toStdString();
        }
        m_pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        host.connection = &m_db->connection();
        host.reportOutDir = QFile::encodeName(host.path("out"));
        copyFolder(QStringLiteral(ZQ_REPORT_TEMPLATES), host.path("reports"));
        copyFolder(QStringLiteral(ZQ_LANGUAGE_FILES), host.path("lang"));
        ASSERT_TRUE(host.init());
        report = suiteEntry<ShowReportFn>(SuiteLib::Utility, "ShowReport");
    }

    static void copyFolder(const QString &from, const QString &to)
    {
        QDir().mkpath(to);
        for (const QString &name : QDir(from).entryList(QDir::Files))
            QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name));
    }

    void exec(const QStringList &statements) { m_db->exec(statements); }

    // Departments D1 (Chinese name) and D2, a department D3 nobody has rights to, two titles,
    // two types with their card pictures; `holders` holders alternate between D1 and D2.
    void fillSite(int holders)
    {
        using zq::test::insertRow;
        exec({insertRow("DepartmentData", {"DepartmentNo", "DepartmentName"}, {"D1", "研發部"}),
              insertRow("DepartmentData", {"DepartmentNo", "DepartmentName"}, {"D2", "Sales"}),
              insertRow("DepartmentData", {"DepartmentNo", "DepartmentName"}, {"D3", "Hidden"}),
              insertRow("UserRightDept", {"UserID", "DepartmentNo"}, {"admin", "D1"}),
              insertRow("UserRightDept", {"UserID", "DepartmentNo"}, {"admin", "D2"}),
              insertRow("OccupationTitle", {"TitleNo", "TitleName"}, {"T1", "工程師"}),
              insertRow("OccupationTitle", {"TitleNo", "TitleName"}, {"T2", "Clerk"}),
              insertRow("OccupationType",
                        {"TypeNo", "TypeName", "PicNoV", "PicNoH"},
                        {"Y1", "Staff", "PV", "PH"}),
              insertRow("OccupationType",
                        {"TypeNo", "TypeName", "PicNoV", "PicNoH"},
                        {"Y2", "Visitor", "PV", "PH"})});
        insertPicture("PV", jpeg(QSize(540, 856), QColor(0x2a, 0x6f, 0x97)));
        insertPicture("PH", jpeg(QSize(856, 540), QColor(0x97, 0x4a, 0x2a)));
        for (int i = 0; i < holders; ++i) {
            const QString number = QStringLiteral("H%1").arg(i, 4, 10, QLatin1Char('0'));
            const QString name = i % 3 == 0 ? QStringLiteral("陳美玲%1").arg(i)
                                            : QStringLiteral("Holder O'Neil %1").arg(i);
            exec({insertRow("HolderData",
                            {"HolderNo",
                             "HolderName",
                             "DepartmentNo",
                             "TitleNo",
                             "TypeNo",
                             "PunchCard",
                             "Email",
                             "StartDate"},
                            {number,
                             name,
                             i % 2 ? "D2" : "D1",
                             i % 2 ? "T2" : "T1",
                             i % 2 ? "Y2" : "Y1",
                             1,
                             QStringLiteral("h%1@example.com").arg(i),
                             "2024-03-01 00:00:00"})});
        }
    }

    void insertPicture(const QString &number, const QByteArray &data)
    {
        QSqlQuery q(m_db->connection().database());
        ASSERT_TRUE(
            q.prepare("INSERT INTO CardPicture (PicNo, PicName, GBPhoto) VALUES (?, ?, ?)"));
        q.addBindValue(number);
        q.addBindValue(number);
        q.addBindValue(data);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }

    void setPhoto(const QString &holder, const QByteArray &data)
    {
        QSqlQuery q(m_db->connection().database());
        ASSERT_TRUE(q.prepare("UPDATE HolderData SET Photo = ? WHERE HolderNo = ?"));
        q.addBindValue(data);
        q.addBindValue(holder);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }

    QStringList outputs() const
    {
        return QDir(host.path("out")).entryList(QDir::Files, QDir::Name);
    }

    QByteArray pdf(const QString &name) const
    {
        QFile file(QDir(host.path("out")).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The text of the PDF, CJK compatibility forms folded to the ideographs they stand for.
    QString text(const QString &name) const
    {
        if (m_pdftotext.isEmpty())
            return QString();
        QProcess process;
        process.start(m_pdftotext,
                      {QStringLiteral("-layout"),
                       QDir(host.path("out")).filePath(name),
                       QStringLiteral("-")});
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput())
            .normalized(QString::NormalizationForm_KC);
    }

    bool canReadText() const { return !m_pdftotext.isEmpty(); }

    SuiteHost host;
    ShowReportFn report = nullptr;

private:
    std::unique_ptr<zq::test::TestDatabase> m_db;
    QString m_pdftotext;
};

#define REQUIRE_PDFTOTEXT() \
    if (!canReadText()) { \
        if (zq::test::postgresRequired()) \
            FAIL() << "pdftotext (poppler-utils) is not installed"; \
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed"; \
    }

TEST_P(ReportTest, HolderListKeepsEveryRowAcrossPagesGroupedByDepartment)
{
    REQUIRE_PDFTOTEXT();
    fillSite(150);
    report("HolderData.frf", kHolderList);

    ASSERT_EQ(outputs(), QStringList{"HolderData-1.pdf"});
    const QByteArray data = pdf("HolderData-1.pdf");
    EXPECT_TRUE(data.startsWith("%PDF"));
    const int pages = pdfPages(data);
    // 150 lines of about 4.6 mm and two departments do not fit on two A4 pages, nor need five.
    EXPECT_GE(pages, 3);
    EXPECT_LE(pages, 4);

    const QString printed = text("HolderData-1.pdf");
    EXPECT_TRUE(printed.contains(QStringLiteral("Page 1 of %1").arg(pages)));
    EXPECT_TRUE(printed.contains(QStringLiteral("Page %1 of %1").arg(pages)));
    EXPECT_FALSE(printed.contains(QStringLiteral("Page %1 of").arg(pages + 1)));
    EXPECT_TRUE(printed.contains(QStringLiteral("Holder list")));
    EXPECT_TRUE(printed.contains(QStringLiteral("Printed ")));
    EXPECT_TRUE(printed.contains(QStringLiteral("研發部")));
    EXPECT_TRUE(printed.contains(QStringLiteral("陳美玲3")));
    EXPECT_TRUE(printed.contains(QStringLiteral("工程師")));
    EXPECT_TRUE(printed.contains(QStringLiteral("2024-03-01")));
    EXPECT_FALSE(printed.contains(QStringLiteral("Hidden")));
    for (int i = 0; i < 150; ++i) {
        const QString number = QStringLiteral("H%1").arg(i, 4, 10, QLatin1Char('0'));
        EXPECT_EQ(printed.count(QRegularExpression(QStringLiteral("\\b%1\\b").arg(number))), 1)
            << number.toStdString();
    }
    // Each department's heading comes once when it starts and again on every page it goes on.
    const qsizetype headings = printed.count(QStringLiteral("Department: "));
    EXPECT_GE(headings, 2);
    EXPECT_LE(headings, pages + 1);
}

TEST_P(ReportTest, HolderListFollowsTheReportLanguage)
{
    REQUIRE_PDFTOTEXT();
    fillSite(4);
    host.language = "zh_TW";
    ASSERT_TRUE(host.init());
    report("HolderData.frf", kHolderList);

    ASSERT_EQ(outputs(), QStringList{"HolderData-1.pdf"});
    const QString printed = text("HolderData-1.pdf");
    EXPECT_TRUE(printed.contains(QStringLiteral("持卡人清單")));
    EXPECT_TRUE(printed.contains(QStringLiteral("第 1 頁,共 1 頁"))) << printed.toStdString();
    EXPECT_TRUE(printed.contains(QStringLiteral("部門: 研發部")));
}

TEST_P(ReportTest, CardSheetsHoldNineCardsAPageInBothOrientations)
{
    REQUIRE_PDFTOTEXT();
    fillSite(11);
    setPhoto("H0000", jpeg(QSize(300, 380), Qt::darkGreen));
    exec({"UPDATE HolderData SET PunchCard = 0 WHERE HolderNo = 'H0010'"});

    for (const char *side : {"V", "H"}) {
        SCOPED_TRACE(side);
        const QString name = QStringLiteral("HolderCardLabel%1").arg(QLatin1String(side));
        report(QString(name + ".frf").toUtf8().constData(),
               labelStatement(side).toUtf8().constData());
        const QString file = name + QStringLiteral("-1.pdf");
        const QByteArray data = pdf(file);
        ASSERT_TRUE(data.startsWith("%PDF"));
        EXPECT_EQ(pdfPages(data), 2); // ten punch-card holders, nine to a sheet
        const QString printed = text(file);
        EXPECT_TRUE(printed.contains(QStringLiteral("Page 2 of 2")));
        EXPECT_TRUE(printed.contains(QStringLiteral("陳美玲0")));
        EXPECT_TRUE(printed.contains(QStringLiteral("H0009")));
        EXPECT_FALSE(printed.contains(QStringLiteral("H0010")));
        EXPECT_TRUE(printed.contains(QStringLiteral("工程師")));
        EXPECT_TRUE(printed.contains(QStringLiteral("Sales")));
        // Holders without a photo get the placeholder; the one with a photo does not.
        EXPECT_EQ(printed.count(QStringLiteral("No photo")), 9);
        // The card picture is embedded once per sheet at most, not once per card.
        const qsizetype images = QString::fromLatin1(data).count(QStringLiteral("/Subtype /Image"));
        EXPECT_GE(images, 2);
        EXPECT_LE(images, 4);
    }
}

TEST_P(ReportTest, AnEmptyResultPrintsOnePageSayingSo)
{
    REQUIRE_PDFTOTEXT();
    fillSite(0);
    report("HolderData.frf", kHolderList);
    report("HolderCardLabelV.frf", labelStatement("V").toUtf8().constData());

    ASSERT_EQ(outputs(), QStringList({"HolderCardLabelV-1.pdf", "HolderData-1.pdf"}));
    for (const QString &file : outputs()) {
        EXPECT_EQ(pdfPages(pdf(file)), 1) << file.toStdString();
        EXPECT_TRUE(text(file).contains(QStringLiteral("No rows"))) << file.toStdString();
    }
}

TEST_P(ReportTest, EachReportGetsAFileOfItsOwn)
{
    fillSite(2);
    report("HolderData.frf", kHolderList);
    report("HolderData.frf", kHolderList);
    report("holderdata.FRF", kHolderList); // found without regard to case

    QStringList written = outputs();
    written.sort(Qt::CaseInsensitive);
    EXPECT_EQ(written, QStringList({"HolderData-1.pdf", "holderdata-1.pdf", "HolderData-2.pdf"}));
    for (const QString &file : written)
        EXPECT_EQ(pdfPages(pdf(file)), 1) << file.toStdString();
}

TEST_P(ReportTest, NothingIsWrittenWithoutTemplateOrRows)
{
    fillSite(2);
    QFile broken(host.path("reports/Broken.frf"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("[Report]\nKind = List\nColumns = 3\n[Column]\nText = {HolderNo}\n");
    broken.close();

    report("Missing.frf", kHolderList);
    report("Broken.frf", kHolderList);
    report("../reports/HolderData.frf.bak", kHolderList);
    report("HolderData.frf", "SELECT * FROM NoSuchTable");
    report("HolderData.frf", "SELECT * FROM HolderData; DELETE FROM HolderData");
    report("HolderData.frf", nullptr);

    EXPECT_EQ(outputs(), QStringList());
    EXPECT_TRUE(host.connection && static_cast<Connection *>(host.connection)->isConnected());
    QSqlQuery q(static_cast<Connection *>(host.connection)->database());
    ASSERT_TRUE(q.exec("SELECT COUNT(*) FROM HolderData") && q.next());
    EXPECT_EQ(q.value(0).toInt(), 2);
}

// Without an output folder the report opens in the print preview; its Save as PDF writes the
// same document to the file the user names, adding the missing suffix.
TEST_P(ReportTest, PreviewSavesThePdfTheUserNames)
{
    REQUIRE_PDFTOTEXT();
    fillSite(3);
    host.reportOutDir.clear();
    ASSERT_TRUE(host.init());
    const QString chosen = QDir(host.path("out")).filePath(QStringLiteral("saved list"));
    QDir().mkpath(host.path("out"));
    int step = 0;
    bool previewed = false;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (step == 0 && modal->objectName() == QLatin1String("frmReportPreview")) {
            previewed = true;
            auto *save = modal->findChild<QAction *>(QStringLiteral("actSaveAsPdf"));
            if (!save) {
                modal->close();
                return;
            }
            // Queued: the file dialog's own loop must not run inside this tick.
            QMetaObject::invokeMethod(save, &QAction::trigger, Qt::QueuedConnection);
            step = 1;
        } else if (step == 1) {
            // The dialog may still be filling in its proposed name: accept only once the
            // chosen one has stuck.
            if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                if (dialog->selectedFiles().value(0) != chosen) {
                    dialog->setDirectory(QFileInfo(chosen).path());
                    // Typed, as a user would: selectFile() does not replace a proposed
                    // name in a dialog that has been shown before.
                    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                        name->setText(QFileInfo(chosen).fileName());
                } else {
                    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
                    step = 2;
                }
            }
        } else if (step == 2 && modal->objectName() == QLatin1String("frmReportPreview")) {
            modal->close();
            step = 3;
        }
    });
    timer.start();
    QTimer guard;
    guard.setSingleShot(false); // every modal window still open, one by one
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(20000);
    report("HolderData.frf", kHolderList);
    timer.stop();

    EXPECT_TRUE(previewed);
    EXPECT_EQ(step, 3);
    ASSERT_EQ(outputs(), QStringList({"saved list.pdf"}));
    EXPECT_EQ(pdfPages(pdf("saved list.pdf")), 1);
    EXPECT_TRUE(text("saved list.pdf").contains(QStringLiteral("H0001")));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ReportTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
