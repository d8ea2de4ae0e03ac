// zqtransfer sync-ldap as its real binary against a real directory server, on both engines:
// the first sync, an unchanged second one that writes nothing, a changed title, people who
// left, failures that write nothing, dry runs, and hostile entries.
#include "Connection.h"
#include "DirectoryServer.h"
#include "PictureCodec.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using zq::data::Engine;

namespace {

struct ToolRun
{
    int status = -1;
    QString out;
    QString err;
    QStringList outLines() const { return out.split('\n', Qt::SkipEmptyParts); }
    QStringList errLines() const { return err.split('\n', Qt::SkipEmptyParts); }
    QJsonObject counts() const
    {
        return QJsonDocument::fromJson(outLines().value(outLines().size() - 1).toUtf8()).object();
    }
};

ToolRun runTool(const QStringList &args, const QMap<QString, QString> &extraEnv = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ZQ_LDAP_PASSWORD"})
        env.remove(QString::fromLatin1(name));
    env.insert("LC_ALL", "C");
    for (auto it = extraEnv.cbegin(); it != extraEnv.cend(); ++it)
        env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    p.start(QString::fromUtf8(ZQ_TRANSFER_BINARY), args);
    ToolRun run;
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    return run;
}

// A loopback port nobody listens on: one the system just handed out and took back.
int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

QByteArray photoJpeg()
{
    QImage image(24, 32, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    return zq::platform::encodeJpeg(image, 80);
}

QByteArray photoBmp()
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

// Five people: one without a number, one with two addresses, one in a department the
// site does not have yet, one with a photo.
QString people()
{
    return QStringLiteral(
               "dn: uid=e001,BASE\nobjectClass: inetOrgPerson\nuid: e001\ncn: 陳大文\nsn: 陳\n"
               "employeeNumber: E001\nmail: chan@example.com\ndepartmentNumber: Sales\n"
               "title: Clerk\nemployeeType: Staff\n\n"
               "dn: uid=e002,BASE\nobjectClass: inetOrgPerson\nuid: e002\ncn: 林美玲\nsn: 林\n"
               "employeeNumber: E002\nmail: lin.first@example.com\nmail: lin.second@example.com\n"
               "departmentNumber: Sales\ntitle: Clerk\nemployeeType: Staff\n\n"
               "dn: uid=nonumber,BASE\nobjectClass: inetOrgPerson\nuid: nonumber\ncn: 王小明\n"
               "sn: 王\nmail: wang@example.com\n\n"
               "dn: uid=e004,BASE\nobjectClass: inetOrgPerson\nuid: e004\ncn: 張志強\nsn: 張\n"
               "employeeNumber: E004\ndepartmentNumber: 物流部\ntitle: 司機\n\n"
               "dn: uid=e005,BASE\nobjectClass: inetOrgPerson\nuid: e005\ncn: 黃淑芬\nsn: 黃\n"
               "employeeNumber: E005\ndepartmentNumber: Sales\njpegPhoto:: %1\n")
        .arg(QString::fromLatin1(photoJpeg().toBase64()));
}

} // namespace

class SyncTest : public testing::TestWithParam<std::tuple<Engine, bool>>
{
protected:
    Engine engine() const { return std::get<0>(GetParam()); }
    bool tls() const { return std::get<1>(GetParam()); }

    void SetUp() override
    {
        m_db = std::make_unique<zq::test::TestDatabase>(engine());
        m_ldap = std::make_unique<DirectoryServer>();
        if (!m_db->isAvailable() || !m_ldap->isAvailable())
            return;
        m_db->exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', 'A', 1)",
                    "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', "
                    "'Sales')",
                    "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
                    "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
                    // Kept by hand, outside the directory's part of the site.
                    "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, Enabled, "
                    "SequenceNo) VALUES ('H1', 'By hand', 'D1', 1, 1)"});
    }

    bool ready()
    {
        if (!m_db->isAvailable() || !m_ldap->isAvailable()) {
            m_skip = !m_db->isAvailable() ? m_db->skipReason()
                                          : QStringLiteral("no directory server for this run");
            return false;
        }
        return true;
    }

    QStringList site() const
    {
        if (engine() == Engine::PostgreSQL)
            return {"--pg", m_db->conninfo()};
        return {"--db", m_db->folder() + "/site.db"};
    }

    QStringList directory() const
    {
        QStringList args{"--uri", tls() ? m_ldap->tlsUri() : m_ldap->plainUri()};
        if (tls())
            args << "--ca-file" << m_ldap->caFile();
        return args << "--base" << m_ldap->base() << "--bind-dn" << m_ldap->readerDn()
                    << "--password-file" << m_ldap->passwordFile();
    }

    ToolRun sync(const QStringList &more = {})
    {
        return runTool(QStringList{"sync-ldap"} + directory() + site()
                       + QStringList{"--user", "admin"} + more);
    }

    QString path(const QString &name) const { return m_db->folder() + "/" + name; }

    QString scalar(const QString &sql)
    {
        zq::data::Recordset rs;
        rs.setConnection(&m_db->connection());
        rs.setStatement(sql);
        rs.open();
        return rs.isEmpty() ? QString() : zq::data::Recordset::textOf(rs.valueAt(0, 0));
    }
    int count(const QString &sql) { return scalar(sql).toInt(); }
    QByteArray photoOf(const QString &number)
    {
        zq::data::Recordset rs;
        rs.setConnection(&m_db->connection());
        rs.setStatement("SELECT Photo FROM HolderData WHERE HolderNo = '" + number + "'");
        rs.open();
        return rs.isEmpty() ? QByteArray() : rs.valueAt(0, 0).toByteArray();
    }

    // Every row of every table, as text, in a fixed order.
    QStringList allRows()
    {
        QStringList rows;
        for (const QString &table : m_db->connection().userTables()) {
            zq::data::Recordset rs;
            rs.setConnection(&m_db->connection());
            rs.setStatement("SELECT * FROM " + table);
            rs.open();
            for (int r = 0; r < rs.recordCount(); ++r) {
                QStringList values{table.toLower()};
                for (int c = 0; c < rs.fieldCount(); ++c)
                    values << zq::data::Recordset::textOf(rs.valueAt(r, c));
                rows << values.join('|');
            }
        }
        rows.sort();
        return rows;
    }

    std::unique_ptr<zq::test::TestDatabase> m_db;
    std::unique_ptr<DirectoryServer> m_ldap;
    QString m_skip;
};

#define ZQ_SYNC_READY() \
    if (!ready()) { \
        if (::zq::test::postgresRequired()) \
            FAIL() << m_skip.toStdString(); \
        GTEST_SKIP() << m_skip.toStdString(); \
    }

TEST_P(SyncTest, FirstSyncStoresEveryValidPersonAndAnUnchangedSecondWritesNothing)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    const ToolRun first = sync({"--refusals", path("refused.csv"), "--map", "jpegPhoto=Photo"});
    // The person without a number is refused; the others are stored.
    EXPECT_EQ(first.status, 1) << first.err.toStdString();
    const QJsonObject c = first.counts();
    EXPECT_EQ(c["entries"].toInt(), 5);
    EXPECT_EQ(c["new"].toInt(), 4);
    EXPECT_EQ(c["refused"].toInt(), 1);
    EXPECT_EQ(c["photos"].toInt(), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 5);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'E001'"), "陳大文");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'E001'"), "D1");
    EXPECT_EQ(scalar("SELECT TitleNo FROM HolderData WHERE HolderNo = 'E001'"), "T1");
    // A multi-valued attribute gives its first value.
    EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'E002'"),
              "lin.first@example.com");
    // A department and a title the site did not have are created by name.
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'E004'"), "物流部");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentName = '物流部'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle WHERE TitleName = '司機'"), 1);
    EXPECT_EQ(first.counts()["codes_created"].toInt(), 2);
    // A JPEG is stored byte for byte.
    EXPECT_EQ(photoOf("E005"), photoJpeg());
    EXPECT_EQ(count("SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry LIKE 'A E%'"), 4);
    // The refusal names the entry by its DN.
    QFile report(path("refused.csv"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(report.readAll()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.at(1).contains("empty_number")) << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(1).contains("uid=nonumber," + m_ldap->base()))
        << lines.at(1).toStdString();

    const QStringList before = allRows();
    const ToolRun second = sync({"--map", "jpegPhoto=Photo"});
    EXPECT_EQ(second.status, 1) << second.err.toStdString();
    EXPECT_EQ(second.counts()["unchanged"].toInt(), 4);
    EXPECT_EQ(second.counts()["stored"].toInt(), 0);
    EXPECT_EQ(second.counts()["photos"].toInt(), 0);
    // Not a row, not an audit entry.
    EXPECT_EQ(allRows(), before);
}

TEST_P(SyncTest, AChangedTitleUpdatesOnlyThatHolderAndKeepsColumnsTheMapDoesNotCarry)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    ASSERT_EQ(sync().status, 1);
    // Set by hand: the map carries neither PIN nor Birthday.
    m_db->exec({"UPDATE HolderData SET PIN = '4711', Birthday = '1980-05-06 00:00:00' WHERE "
                "HolderNo = 'E002'"});
    const QStringList before = allRows();
    ASSERT_TRUE(m_ldap->modify("dn: uid=e002,BASE\nchangetype: modify\nreplace: title\n"
                               "title: 經理\n"));
    const ToolRun run = sync();
    EXPECT_EQ(run.counts()["overwritten"].toInt(), 1) << run.out.toStdString();
    EXPECT_EQ(run.counts()["unchanged"].toInt(), 3);
    EXPECT_EQ(scalar("SELECT TitleNo FROM HolderData WHERE HolderNo = 'E002'"), "經理");
    EXPECT_EQ(scalar("SELECT PIN FROM HolderData WHERE HolderNo = 'E002'"), "4711");
    EXPECT_TRUE(
        scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'E002'").startsWith("1980-05-06"));
    QStringList changed;
    const QStringList after = allRows();
    for (const QString &row : after)
        if (!before.contains(row) && !row.startsWith("programrunedit|"))
            changed << row.section('|', 0, 1);
    changed.sort();
    EXPECT_EQ(changed, (QStringList{"holderdata|E002", "occupationtitle|經理"}))
        << after.join('\n').toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = 'E E002'"), 1);
}

TEST_P(SyncTest, APersonWhoLeftIsReportedThenSwitchedOffWithinTheScopeOnly)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    ASSERT_EQ(sync().status, 1);
    ASSERT_TRUE(m_ldap->modify("dn: uid=e004,BASE\nchangetype: delete\n"));

    const ToolRun report = sync({"--missing", "report", "--scope", "prefix=E"});
    EXPECT_EQ(report.counts()["missing"].toInt(), 1) << report.out.toStdString();
    EXPECT_EQ(report.counts()["disabled"].toInt(), 0);
    EXPECT_TRUE(report.outLines().contains("missing: E004,張志強,enabled"))
        << report.out.toStdString();
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'E004'"), "");

    // A dry run says what it would do and does nothing.
    const QStringList before = allRows();
    const ToolRun dry = sync({"--missing", "disable", "--scope", "prefix=E", "--dry-run"});
    EXPECT_EQ(dry.counts()["disabled"].toInt(), 1);
    EXPECT_TRUE(dry.outLines().contains("would disable: E004"));
    EXPECT_EQ(allRows(), before);

    const ToolRun off = sync({"--missing", "disable", "--scope", "departments=物流部"});
    EXPECT_EQ(off.counts()["disabled"].toInt(), 1)
        << off.out.toStdString() << off.err.toStdString();
    // H1, kept by hand in Sales, is outside every scope given.
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'H1'"), "1");
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'E004'"), "0");
    EXPECT_EQ(count("SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = 'E E004'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'E004'"), 1);

    // Switched off once: a second sync lists it and writes nothing.
    const QStringList settled = allRows();
    const ToolRun again = sync({"--missing", "disable", "--scope", "prefix=E"});
    EXPECT_EQ(again.counts()["missing"].toInt(), 1);
    EXPECT_EQ(again.counts()["disabled"].toInt(), 0);
    EXPECT_EQ(allRows(), settled);
}

TEST_P(SyncTest, ADirectoryThatCannotBeUsedEndsWithStatusTwoOneLineAndNothingWritten)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    QFile wrong(path("wrong"));
    ASSERT_TRUE(wrong.open(QIODevice::WriteOnly));
    wrong.write("not-the-password\n");
    wrong.close();
    wrong.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString deadPort = QString::number(closedPort());
    const QStringList base{"--base", m_ldap->base(), "--bind-dn", m_ldap->readerDn()};
    const QStringList good{"--password-file", m_ldap->passwordFile()};
    const struct
    {
        const char *name;
        QStringList args;
        const char *why;
    } rows[] = {
        {"wrong password",
         QStringList{"--uri", m_ldap->plainUri(), "--password-file", path("wrong")} + base,
         "refused the bind"},
        {"unreachable",
         QStringList{"--uri", "ldap://127.0.0.1:" + deadPort} + base + good,
         "cannot reach"},
        {"certificate not in the system store",
         QStringList{"--uri", m_ldap->tlsUri()} + base + good,
         "does not verify"},
        {"StartTLS against the system store",
         QStringList{"--uri", m_ldap->plainUri(), "--starttls"} + base + good,
         "does not verify"},
        {"no such base",
         QStringList{"--uri",
                     m_ldap->plainUri(),
                     "--base",
                     "ou=nowhere," + m_ldap->base(),
                     "--bind-dn",
                     m_ldap->readerDn()}
             + good,
         "No such object"},
    };
    const QStringList before = allRows();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const ToolRun run = runTool(QStringList{"sync-ldap"} + row.args + site()
                                    + QStringList{"--user", "admin"});
        EXPECT_EQ(run.status, 2);
        ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.errLines().at(0).contains(row.why)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(m_ldap->secret()));
    }
    EXPECT_EQ(allRows(), before);
}

TEST_P(SyncTest, ADryRunJudgesEveryEntryAndChangesNothing)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    const QStringList before = allRows();
    const ToolRun run = sync({"--dry-run", "--map", "jpegPhoto=Photo", "--progress"});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("5 entries read")) << run.err.toStdString();
    EXPECT_TRUE(run.outLines().contains("dry run: nothing was written"));
    EXPECT_EQ(run.counts()["new"].toInt(), 4);
    EXPECT_EQ(run.counts()["refused"].toInt(), 1);
    EXPECT_EQ(run.counts()["photos"].toInt(), 1);
    EXPECT_EQ(allRows(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Engines,
    SyncTest,
    testing::Combine(testing::Values(Engine::SQLite, Engine::PostgreSQL), testing::Bool()),
    [](const testing::TestParamInfo<std::tuple<Engine, bool>> &info) {
        return std::string(std::get<0>(info.param) == Engine::SQLite ? "SQLite" : "PostgreSQL")
               + (std::get<1>(info.param) ? "_ldaps" : "_ldap");
    });

class SyncInputTest : public SyncTest
{
};

TEST_P(SyncInputTest, OneHolderIsSyncedByANumberThatCannotWidenTheFilter)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    const ToolRun one = sync({"--holder", "E002"});
    EXPECT_EQ(one.status, 0) << one.err.toStdString();
    EXPECT_EQ(one.counts()["entries"].toInt(), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'E002'"), 1);
    // A number made of filter syntax is a value, not a pattern or a second condition.
    for (const char *hostile : {"*", "E00*", "E001)(employeeNumber=*"}) {
        SCOPED_TRACE(hostile);
        const ToolRun run = sync({"--holder", QString::fromUtf8(hostile)});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(run.counts()["entries"].toInt(), 0) << run.out.toStdString();
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 2);
}

TEST_P(SyncInputTest, HostileEntriesAreRefusedOneByOneWithTheirDn)
{
    ZQ_SYNC_READY();
    const QString tooLong = QString(41, u'長');
    ASSERT_TRUE(m_ldap->add(
        QStringLiteral(
            "dn: uid=long,BASE\nobjectClass: inetOrgPerson\nuid: long\ncn: %1\nsn: x\n"
            "employeeNumber: L1\n\n"
            "dn: uid=ctl,BASE\nobjectClass: inetOrgPerson\nuid: ctl\ncn: ctl\nsn: x\n"
            "employeeNumber: C1\ndepartmentNumber:: %2\n\n"
            "dn: uid=twin1,BASE\nobjectClass: inetOrgPerson\nuid: twin1\ncn: 雙一\nsn: x\n"
            "employeeNumber: T1\n\n"
            "dn: uid=twin2,BASE\nobjectClass: inetOrgPerson\nuid: twin2\ncn: 雙二\nsn: x\n"
            "employeeNumber: T1\n\n"
            "dn: uid=bmp,BASE\nobjectClass: inetOrgPerson\nuid: bmp\ncn: bmp\nsn: x\n"
            "employeeNumber: B1\njpegPhoto:: %3\n\n"
            "dn: uid=junk,BASE\nobjectClass: inetOrgPerson\nuid: junk\ncn: junk\nsn: x\n"
            "employeeNumber: J1\njpegPhoto:: %4\n")
            .arg(tooLong,
                 QString::fromLatin1(QByteArray("Sales\nLab").toBase64()),
                 QString::fromLatin1(photoBmp().toBase64()),
                 QString::fromLatin1(QByteArray("\xff\xd8 not a picture").toBase64()))));
    const ToolRun run = sync({"--map", "jpegPhoto=Photo", "--refusals", path("refused.csv")});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_EQ(run.counts()["refused"].toInt(), 4) << run.out.toStdString();
    EXPECT_EQ(run.counts()["new"].toInt(), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3); // H1, T1 and B1
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'T1'"), "雙一");
    // A bitmap is converted as a loaded photo is.
    const QByteArray converted = photoOf("B1");
    EXPECT_TRUE(converted.startsWith("\xff\xd8"));
    EXPECT_FALSE(zq::platform::decodeJpeg(converted).isNull());
    QFile report(path("refused.csv"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(report.readAll());
    for (const char *expected : {"too_long",
                                 "control",
                                 "duplicate",
                                 "photo",
                                 "uid=long,",
                                 "uid=ctl,",
                                 "uid=twin2,",
                                 "uid=junk,"})
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected << "\n"
                                                            << text.toStdString();

    // A binary attribute mapped to a text column holds no text.
    const ToolRun binary = sync({"--map", "jpegPhoto=Definable1"});
    EXPECT_EQ(binary.status, 1);
    EXPECT_TRUE(binary.err.contains("not valid UTF-8")) << binary.err.toStdString();
}

TEST_P(SyncInputTest, AnIncompleteReadStoresWhatCameAndLooksForNoOneMissing)
{
    ZQ_SYNC_READY();
    ASSERT_TRUE(m_ldap->add(people()));
    ASSERT_EQ(sync().status, 1);
    ASSERT_TRUE(m_ldap->modify("dn: uid=e004,BASE\nchangetype: delete\n"));
    // A referral to another server is not followed: the people there are unknown.
    QString output;
    ASSERT_TRUE(m_ldap->add("dn: ou=elsewhere,BASE\nobjectClass: referral\n"
                            "objectClass: extensibleObject\nou: elsewhere\n"
                            "ref: ldap://127.0.0.1:1/ou=elsewhere,dc=other\n",
                            &output))
        << output.toStdString();
    const ToolRun referral = sync({"--missing", "disable", "--scope", "prefix=E"});
    EXPECT_EQ(referral.status, 1) << referral.err.toStdString();
    EXPECT_EQ(referral.counts()["referrals"].toInt(), 1);
    EXPECT_TRUE(referral.err.contains("not followed")) << referral.err.toStdString();
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'E004'"), "");

    // The server stops after two entries: they count, and nothing is looked for as missing.
    m_db->exec({"DELETE FROM HolderData WHERE HolderNo <> 'H1'"});
    const ToolRun limited = runTool(QStringList{"sync-ldap",
                                                "--uri",
                                                m_ldap->plainUri(),
                                                "--base",
                                                m_ldap->base(),
                                                "--bind-dn",
                                                m_ldap->limitedDn(),
                                                "--password-file",
                                                m_ldap->passwordFile(),
                                                "--missing",
                                                "disable",
                                                "--scope",
                                                "prefix=H"}
                                    + site() + QStringList{"--user", "admin"});
    EXPECT_EQ(limited.status, 2);
    ASSERT_EQ(limited.errLines().size(), 1) << limited.err.toStdString();
    EXPECT_TRUE(limited.err.contains("limit")) << limited.err.toStdString();
    EXPECT_EQ(limited.counts()["entries"].toInt(), 2);
    EXPECT_EQ(limited.counts()["stored"].toInt() + limited.counts()["refused"].toInt(), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo <> 'H1'"),
              limited.counts()["stored"].toInt());
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'H1'"), "1");
}

TEST_P(SyncInputTest, AServerThatGoesAwayMidPageKeepsWhatWasCommittedAndSaysSo)
{
    ZQ_SYNC_READY();
    QString ldif;
    for (int i = 0; i < 1200; ++i)
        ldif += QStringLiteral("dn: uid=m%1,BASE\nobjectClass: inetOrgPerson\nuid: m%1\n"
                               "cn: 成員 %1\nsn: x\nemployeeNumber: M%2\n\n")
                    .arg(i)
                    .arg(i, 4, 10, QLatin1Char('0'));
    ASSERT_TRUE(m_ldap->add(ldif));
    // A page of 500 of these entries is some 50 KB: the cut falls within the second.
    CuttingRelay relay(QUrl(m_ldap->plainUri()).port(), 75000);
    ASSERT_NE(relay.port(), 0);
    const ToolRun run = runTool(QStringList{"sync-ldap",
                                            "--uri",
                                            QStringLiteral("ldap://127.0.0.1:%1").arg(relay.port()),
                                            "--base",
                                            m_ldap->base(),
                                            "--bind-dn",
                                            m_ldap->readerDn(),
                                            "--password-file",
                                            m_ldap->passwordFile(),
                                            "--missing",
                                            "disable",
                                            "--scope",
                                            "prefix=H"}
                                + site() + QStringList{"--user", "admin"});
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("dropped the connection")) << run.err.toStdString();
    const int entries = run.counts()["entries"].toInt();
    EXPECT_GT(entries, 0) << run.out.toStdString();
    EXPECT_LT(entries, 1200);
    EXPECT_EQ(entries % 500, 0);
    EXPECT_EQ(run.counts()["stored"].toInt(), entries);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE 'M%'"), entries);
    EXPECT_EQ(scalar("SELECT Enabled FROM HolderData WHERE HolderNo = 'H1'"), "1");
}

TEST_P(SyncInputTest, OptionsThatWouldExposeOrEndangerAreRefusedBeforeAnythingHappens)
{
    ZQ_SYNC_READY();
    QFile open(path("open"));
    ASSERT_TRUE(open.open(QIODevice::WriteOnly));
    open.write(m_ldap->secret().toUtf8());
    open.close();
    open.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    const QStringList base{"--uri",
                           m_ldap->plainUri(),
                           "--base",
                           m_ldap->base(),
                           "--bind-dn",
                           m_ldap->readerDn(),
                           "--user",
                           "admin"};
    const QStringList good{"--password-file", m_ldap->passwordFile()};
    const struct
    {
        const char *name;
        QStringList args;
        const char *why;
    } rows[] = {
        {"password on the command line",
         QStringList{"--password", m_ldap->secret()},
         "never taken from the command line"},
        {"password file others may read",
         QStringList{"--password-file", path("open")},
         "may be read by others"},
        {"no password at all", QStringList{}, "no password"},
        {"missing without a scope", good + QStringList{"--missing", "disable"}, "--scope"},
        {"a scope of nothing",
         good + QStringList{"--missing", "report", "--scope", "prefix="},
         "--scope"},
        {"an unknown column", good + QStringList{"--map", "mail=Salary"}, "no column Salary"},
        {"StartTLS over TLS",
         good + QStringList{"--uri", m_ldap->tlsUri(), "--starttls"},
         "--starttls"},
        {"not a directory address", good + QStringList{"--uri", "http://example.com"}, "--uri"},
        {"one holder and missing ones",
         good + QStringList{"--holder", "E1", "--missing", "report", "--scope", "prefix=E"},
         "--holder"},
    };
    const QStringList before = allRows();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const ToolRun run = runTool(QStringList{"sync-ldap"} + base + site() + row.args);
        EXPECT_EQ(run.status, 2);
        ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(row.why))) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(m_ldap->secret()));
    }
    // The environment serves as well as a file.
    ASSERT_TRUE(m_ldap->add(people()));
    const ToolRun byEnv = runTool(QStringList{"sync-ldap"} + base + site(),
                                  {{"ZQ_LDAP_PASSWORD", m_ldap->secret()}});
    EXPECT_EQ(byEnv.counts()["new"].toInt(), 4) << byEnv.err.toStdString();
    EXPECT_NE(allRows(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Engines,
    SyncInputTest,
    testing::Combine(testing::Values(Engine::SQLite, Engine::PostgreSQL), testing::Values(false)),
    [](const testing::TestParamInfo<std::tuple<Engine, bool>> &info) {
        return std::string(std::get<0>(info.param) == Engine::SQLite ? "SQLite" : "PostgreSQL");
    });
