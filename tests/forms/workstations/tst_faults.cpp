// Faults in the middle of work: the PostgreSQL link cut under a window, an SQLite database
// locked by another workstation, a full disk. Each ends with a message, the window usable,
// nothing half-written, and the next command reaches the database again.
#include "FormTest.h"

#include "Connection.h"
#include "Exports.h"
#include "FileDialogs.h"
#include "Helpers.h"
#include "HolderExport.h"
#include "HolderImport.h"
#include "HolderImportFile.h"
#include "Recordset.h"
#include "Schema.h"
#include "TfrmDepartmentView.h"
#include "TfrmHolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

using namespace zq::forms;
using zq::data::Connection;
using zq::data::Engine;
using zq::module::WindowKind;

namespace {
constexpr int Yes = 6;

void click(QWidget *window, const QString &name)
{
    auto *button = window->findChild<QAbstractButton *>(name);
    ASSERT_TRUE(button && button->isVisible() && button->isEnabled()) << name.toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

void type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), text);
}

const char *const kSite[] = {
    "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D1', 'Head', '')",
    "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D2', 'Sales', "
    "'D1')",
    "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'D1')",
    "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'D2')",
    "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
    "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
    "INSERT INTO HolderData (HolderNo, HolderName, Email, DepartmentNo, TitleNo, TypeNo, Birthday, "
    "StartDate) VALUES ('H1', 'Ann', 'ann@site', 'D1', 'T1', 'Y1', '1990-05-04 00:00:00', "
    "'2024-01-01 00:00:00')",
    "INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (1, 'a', 1)",
    "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1001, 'H1', 1)",
    "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1002, 'H1', 1)",
};

} // namespace

class PostgresFaultTest : public zq::test::FormTest
{
protected:
    void fillSite()
    {
        for (const char *sql : kSite)
            exec({sql});
    }
    // Ends the module connection's server process, as an administrator or a crash would,
    // and waits until it is gone.
    void cutTheLink()
    {
        zq::data::Recordset pid;
        pid.setConnection(&db());
        pid.setStatement("SELECT pg_backend_pid() AS pid");
        pid.open();
        const QString backend = pid.text("pid");
        pid.close();
        auto other = m_db->openAnother();
        ASSERT_TRUE(other->execute("SELECT pg_terminate_backend(" + backend + ")"));
        for (int i = 0; i < 100; ++i) {
            zq::data::Recordset alive;
            alive.setConnection(other.get());
            alive.setStatement("SELECT COUNT(*) AS n FROM pg_stat_activity WHERE pid = " + backend);
            alive.open();
            if (alive.text("n") == "0")
                return;
            QThread::msleep(20);
        }
        FAIL() << "the backend did not end";
    }
    QString elsewhere(const QString &sql)
    {
        auto other = m_db->openAnother();
        zq::data::Recordset rs;
        rs.setConnection(other.get());
        rs.setStatement(sql);
        rs.open();
        return rs.text(rs.fieldName(0));
    }
};

TEST_P(PostgresFaultTest, HolderSaveWithTheLinkCutKeepsTheInputAndTheNextOkSaves)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = open<TfrmHolder>(WindowKind::Holder);
    ASSERT_TRUE(w);
    click(w, "btnEdit");
    type(w->findChild<QLineEdit *>("edEmail"), "ann@new");
    cutTheLink();
    click(w, "btnOk");
    EXPECT_TRUE(d.messages().contains("LinkLost")) << d.messages().join(",").toStdString();
    EXPECT_EQ(w->findChild<QLineEdit *>("edEmail")->text(), "ann@new");
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_EQ(elsewhere("SELECT Email FROM HolderData"), "ann@site");

    // The server is there again: the same OK reconnects and saves, without a restart.
    click(w, "btnOk");
    EXPECT_EQ(elsewhere("SELECT Email FROM HolderData"), "ann@new");
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|E H1"});
    EXPECT_TRUE(db().isConnected());
}

TEST_P(PostgresFaultTest, HolderDeletionCutAfterTheDeviceCallsKeepsHolderAndCards)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = open<TfrmHolder>(WindowKind::Holder);
    ASSERT_TRUE(w);
    // The link goes while the device calls let window messages run, before the database part.
    bool cut = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!cut && d.count("DeviceCardDelete") > 0) {
            cut = true;
            cutTheLink();
        }
    });
    watch.start(0);
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    watch.stop();
    ASSERT_TRUE(cut);
    EXPECT_TRUE(d.messages().contains("LinkLost")) << d.messages().join(",").toStdString();
    EXPECT_EQ(elsewhere("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1'"), "1");
    EXPECT_EQ(elsewhere("SELECT COUNT(*) FROM CardData WHERE HolderNo = 'H1' AND CardFlag = 1"),
              "2");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    // Usable: the listing was read again over a new link, and the deletion goes through.
    EXPECT_EQ(w->holder().number, "H1");
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    EXPECT_EQ(elsewhere("SELECT COUNT(*) FROM HolderData"), "0");
    EXPECT_EQ(elsewhere("SELECT COUNT(*) FROM CardData"), "0");
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|D H1"});
}

TEST_P(PostgresFaultTest, TreeMoveWithTheLinkCutChangesNothingAndTheNextMoveWorks)
{
    ZQ_FORM_DB();
    fillSite();
    SetADOConnection(&db());
    TfrmDepartmentView view(true);
    view.rebuild();
    cutTheLink();
    EXPECT_FALSE(view.dropNode(view.findNumber("D2"), view.trvDept->topLevelItem(0)));
    EXPECT_EQ(d.messages().value(d.messages().size() - 1), "LinkLost");
    EXPECT_EQ(view.findNumber("D2")->parent(), view.findNumber("D1"));
    EXPECT_EQ(elsewhere("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "D1");
    EXPECT_TRUE(view.dropNode(view.findNumber("D2"), view.trvDept->topLevelItem(0)));
    EXPECT_EQ(elsewhere("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "");
}

// An import of 100,000 lines, cut at line 50,000: the batches committed before stay whole,
// the one in work is gone whole, and no line after the cut is written over a new link.
TEST_P(PostgresFaultTest, AnImportCutHalfwayKeepsWholeCommittedBatchesOnly)
{
    ZQ_FORM_DB();
    fillSite();
    QTemporaryDir dir;
    const QString path = dir.filePath("holders.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray text;
        for (int i = 1; i <= 100000; ++i)
            text += QString("N%1,Name %1\r\n").arg(i, 6, 10, QChar('0')).toLatin1();
        file.write(text);
    }
    zq::transfer::ImportOptions options;
    options.columnOrder = "12";
    zq::transfer::HolderImport run(&db(), options);
    ASSERT_TRUE(run.start());
    bool cut = false;
    const auto result = zq::transfer::importFile(
        run, path, zq::transfer::ImportFileKind::Text, [&](qint64 done, qint64 total) {
            if (!cut && done * 2 >= total) {
                cut = true;
                cutTheLink();
            }
            return true;
        });
    ASSERT_TRUE(cut);
    EXPECT_EQ(result.status, zq::transfer::ImportFileResult::Status::Lost);
    // The driver's error is empty after a cut link; the reason is still said.
    EXPECT_FALSE(result.error.isEmpty());

    const int stored = elsewhere("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE 'N%'")
                           .toInt();
    EXPECT_LE(stored, 50001);
    if (stored > 0) {
        // A prefix of the file, every line whole.
        EXPECT_EQ(elsewhere("SELECT MAX(HolderNo) FROM HolderData WHERE HolderNo LIKE 'N%'"),
                  QString("N%1").arg(stored, 6, 10, QChar('0')));
        EXPECT_EQ(elsewhere("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE 'N%' AND "
                            "HolderName = 'Name ' || SUBSTR(HolderNo, 2)")
                      .toInt(),
                  stored);
    }
    // The next command reaches the database again.
    zq::data::Recordset q;
    q.setConnection(&db());
    EXPECT_EQ(zq::data::RunQuery(&q, "SELECT COUNT(*) AS n FROM HolderData", 0), 1);
}

// An export with the link cut fails with the database's message and writes no file; the
// next export connects again.
TEST_P(PostgresFaultTest, AnExportWithTheLinkCutWritesNoFileAndTheNextOneWorks)
{
    ZQ_FORM_DB();
    fillSite();
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    zq::transfer::ExportRequest request;
    request.userId = "admin";
    cutTheLink();
    {
        zq::transfer::HolderExport holders(&db(), request, "12", "yyyy-MM-dd");
        EXPECT_FALSE(holders.open());
        EXPECT_FALSE(holders.errorText().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(path));
    zq::transfer::HolderExport holders(&db(), request, "12", "yyyy-MM-dd");
    ASSERT_TRUE(holders.open()) << holders.errorText().toStdString();
    QString error;
    ASSERT_TRUE(zq::transfer::writeTextFile(holders, path, {}, error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("H1,Ann")) << path.toStdString();
}

// The holder report with the link cut: told, no report; the next one runs.
TEST_P(PostgresFaultTest, AReportWithTheLinkCutIsToldAndTheNextOneRuns)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = open<QWidget>(WindowKind::HolderReport);
    ASSERT_TRUE(w);
    cutTheLink();
    auto *ok = w->findChild<QAbstractButton *>("btnView");
    ASSERT_TRUE(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(d.messages().contains("LinkLost")) << d.messages().join(",").toStdString();
    EXPECT_EQ(d.count("ShowReport"), 0);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(d.count("ShowReport"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         PostgresFaultTest,
                         testing::Values(Engine::PostgreSQL),
                         zq::test::engineName);

class SQLiteFaultTest : public PostgresFaultTest
{
};

// Another workstation holds the write lock longer than the wait: the save gives up with a
// message, the input stays, and once the lock is gone the same OK saves.
TEST_P(SQLiteFaultTest, ASaveWhileAnotherHostHoldsTheLockFailsCleanly)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = open<TfrmHolder>(WindowKind::Holder);
    ASSERT_TRUE(w);
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute("BEGIN IMMEDIATE"));
    ASSERT_TRUE(other->execute("UPDATE OccupationTitle SET TitleName = 'Officer'"));
    click(w, "btnEdit");
    type(w->findChild<QLineEdit *>("edEmail"), "ann@new");
    click(w, "btnOk"); // waits out the busy timeout
    EXPECT_TRUE(d.messages().contains("DatabaseBusy")) << d.messages().join(",").toStdString();
    EXPECT_EQ(w->findChild<QLineEdit *>("edEmail")->text(), "ann@new");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    ASSERT_TRUE(other->execute("COMMIT"));
    click(w, "btnOk");
    EXPECT_EQ(scalar("SELECT Email FROM HolderData"), "ann@new");
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|E H1"});
}

// A 512 KB file system holding a new site database, filled up to its last 16 KB; unmounted
// when it goes. Only root can mount one.
struct SmallDisk
{
    QTemporaryDir dir;
    QString mount = dir.filePath("small");
    bool mounted = false;

    bool make()
    {
        QDir().mkpath(mount);
        mounted = geteuid() == 0
                  && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", mount})
                         == 0;
        return mounted;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute("umount", {"-l", mount});
    }
    QString site() const { return mount + "/site.db"; }
    void fill()
    {
        QFile filler(mount + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        filler.resize(filler.size() > 16 * 1024 ? filler.size() - 16 * 1024 : 0);
    }
};

void createSmallSite(const QString &file)
{
    Connection site;
    site.setSQLiteFile(file);
    ASSERT_TRUE(site.open());
    ASSERT_TRUE(zq::data::createSchema(site));
    for (const char *sql : kSite)
        ASSERT_TRUE(site.execute(sql)) << sql;
    site.close();
}

QString integrityOf(Connection &site)
{
    zq::data::Recordset check;
    check.setConnection(&site);
    if (zq::data::RunQuery(&check, "PRAGMA integrity_check", 0) != 1)
        return "no answer";
    return check.text(check.fieldName(0));
}

// The site database on a file system that fills up during a photo save.
TEST_P(SQLiteFaultTest, APhotoSaveOnAFullDiskFailsCleanlyAndTheDatabaseStaysIntact)
{
    ZQ_FORM_DB();
    SmallDisk disk;
    if (!disk.make())
        GTEST_SKIP() << "no small file system can be mounted here";
    QTemporaryDir &dir = disk.dir;
    const QString mount = disk.mount;
    createSmallSite(disk.site());
    // What is left of the file system is less than the photo needs.
    disk.fill();

    QImage noise(360, 360, QImage::Format_RGB32);
    auto *random = QRandomGenerator::global();
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random->generate());
    const QString photo = dir.filePath("photo.bmp");
    ASSERT_TRUE(noise.save(photo));

    Connection site;
    site.setSQLiteFile(mount + "/site.db");
    ASSERT_TRUE(site.open());
    ASSERT_EQ(SetADOConnection(&site), 1);
    auto *w = open<TfrmHolder>(WindowKind::Holder);
    ASSERT_TRUE(w);
    zq::platform::setFileDialogAnswer([&](const QString &, const QString &) { return photo; });
    click(w, "btnEdit");
    click(w, "btnOpen");
    zq::platform::setFileDialogAnswer({});
    ASSERT_FALSE(w->currentPhoto().isEmpty());
    click(w, "btnOk");
    EXPECT_TRUE(d.messages().contains("DiskFull"))
        << d.messages().join(",").toStdString() << " " << d.sounds().join(",").toStdString() << " "
        << site.errors().value(0).text.toStdString() << " photo " << w->currentPhoto().size();
    EXPECT_EQ(w->mode(), TfrmHolder::EditMode);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    w->close();
    QCoreApplication::processEvents();

    EXPECT_EQ(integrityOf(site), "ok");
    zq::data::Recordset check;
    check.setConnection(&site);
    ASSERT_EQ(zq::data::RunQuery(&check, "SELECT COUNT(*) FROM HolderData WHERE Photo IS NULL", 0),
              1);
    EXPECT_EQ(check.text(check.fieldName(0)), "1");
    SetADOConnection(&db());
    site.close();
}

// An import that fills the disk: it stops with a reason, what it committed before stays whole,
// and the database is intact.
TEST_P(SQLiteFaultTest, AnImportOnAFullDiskStopsWithAReasonAndTheDatabaseStaysIntact)
{
    ZQ_FORM_DB();
    SmallDisk disk;
    if (!disk.make())
        GTEST_SKIP() << "no small file system can be mounted here";
    createSmallSite(disk.site());
    disk.fill();
    QTemporaryDir files;
    const QString path = files.filePath("holders.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray text;
        for (int i = 1; i <= 20000; ++i)
            text += QString("N%1,Name of holder number %1\r\n")
                        .arg(i, 6, 10, QChar('0'))
                        .toLatin1();
        file.write(text);
    }

    Connection site;
    site.setSQLiteFile(disk.site());
    ASSERT_TRUE(site.open());
    zq::transfer::ImportOptions options;
    options.columnOrder = "12";
    zq::transfer::HolderImport run(&site, options);
    ASSERT_TRUE(run.start());
    const auto result = zq::transfer::importFile(
        run, path, zq::transfer::ImportFileKind::Text, [](qint64, qint64) { return true; });
    EXPECT_NE(result.status, zq::transfer::ImportFileResult::Status::Complete);
    EXPECT_FALSE(result.error.isEmpty());

    EXPECT_EQ(integrityOf(site), "ok");
    zq::data::Recordset check;
    check.setConnection(&site);
    ASSERT_EQ(zq::data::RunQuery(&check,
                                 "SELECT COUNT(*) AS n, MAX(HolderNo) AS last FROM HolderData "
                                 "WHERE HolderNo LIKE 'N%'",
                                 0),
              1);
    const int stored = check.text("n").toInt();
    EXPECT_LT(stored, 20000);
    if (stored > 0) { // a prefix of the file
        EXPECT_EQ(check.text("last"), QString("N%1").arg(stored, 6, 10, QChar('0')));
    }
    site.close();
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         SQLiteFaultTest,
                         testing::Values(Engine::SQLite),
                         zq::test::engineName);
