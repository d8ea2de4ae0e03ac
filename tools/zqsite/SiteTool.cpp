#include "SiteTool.h"

#include "Connection.h"
#include "SiteAccess.h"
#include "SiteDatabase.h"
#include "SiteSetup.h"

#include <QFile>
#include <QFileInfo>

using zq::data::Connection;
namespace site = zq::site;

namespace {

// KEY=BITS with a key as the right tables hold them and bits 1..255.
bool readRight(const QString &text, QString &key, int &bits)
{
    const qsizetype eq = text.indexOf(u'=');
    if (eq <= 0)
        return false;
    key = text.left(eq);
    bool number = false;
    bits = text.mid(eq + 1).toInt(&number);
    if (!number || bits <= 0 || bits > 255 || key.size() > 40)
        return false;
    for (const QChar c : key)
        if (!(c.isLetterOrNumber() && c.unicode() < 128))
            return false;
    return true;
}

} // namespace

SiteTool::SiteTool(const SiteOptions &options, std::FILE *out, std::FILE *err)
    : m_options(options)
    , m_out(out)
    , m_err(err)
{}

void SiteTool::print(const QString &line)
{
    std::fputs(line.toUtf8().constData(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

int SiteTool::fail(const QString &why)
{
    std::fprintf(m_err, "zqsite: %s\n", why.toUtf8().constData());
    std::fflush(m_err);
    return NothingDone;
}

int SiteTool::run()
{
    switch (m_options.command) {
    case SiteOptions::Command::Init:
        return init();
    case SiteOptions::Command::AddUser:
        return addUser();
    case SiteOptions::Command::Grant:
        return grant();
    case SiteOptions::Command::Check:
        return check();
    }
    return NothingDone;
}

int SiteTool::init()
{
    site::SiteAddress address;
    QString why;
    if (!site::resolveSite(
            m_options.dbFile, m_options.conninfo, m_options.conninfoFile, address, why))
        return fail(why);
    why = site::userIdProblem(m_options.supervisor);
    if (!why.isEmpty())
        return fail(why);
    // The user's own site folder is made here (0700); a folder named with --db must exist.
    if (!address.isPostgres() && m_options.dbFile.isEmpty()) {
        why = site::ownershipProblem(site::defaultSiteFolder(), QStringLiteral("site folder"));
        if (why.isEmpty())
            why = site::makePrivateFolder(site::defaultSiteFolder());
        if (!why.isEmpty())
            return fail(why);
    }
    Connection connection;
    bool created = false;
    if (!site::openSiteDatabase(connection, address, true, created, why))
        return fail(why);
    site::InitOptions init;
    init.supervisor = m_options.supervisor;
    init.demo = m_options.demo;
    init.replace = m_options.force;
    const bool replacing = site::holdsSite(connection);
    if (!site::initSite(connection, init, why)) {
        connection.close();
        if (created)
            QFile::remove(address.sqliteFile);
        return fail(QStringLiteral("%1: %2").arg(address.shown(), why));
    }
    print(QStringLiteral("%1 site %2: every table, supervisor %3%4")
              .arg(replacing ? QStringLiteral("replaced the") : QStringLiteral("made the"),
                   address.shown(),
                   m_options.supervisor,
                   m_options.demo ? QStringLiteral(", the demo site") : QString()));
    return Done;
}

int SiteTool::addUser()
{
    site::SiteAddress address;
    QString why = site::userIdProblem(m_options.user);
    if (!why.isEmpty())
        return fail(why);
    if (!site::resolveSite(
            m_options.dbFile, m_options.conninfo, m_options.conninfoFile, address, why))
        return fail(why);
    Connection connection;
    bool created = false;
    if (!site::openSiteDatabase(connection, address, false, created, why))
        return fail(why);
    if (!connection.hasTable(QStringLiteral("UserData")))
        return fail(
            QStringLiteral("%1 holds no site (zqsite init makes one)").arg(address.shown()));
    if (!site::addUser(connection, m_options.user, m_options.name, m_options.makeSupervisor, why))
        return fail(why);
    print(QStringLiteral("added user %1%2")
              .arg(m_options.user,
                   m_options.makeSupervisor ? QStringLiteral(" (supervisor)") : QString()));
    return Done;
}

int SiteTool::grant()
{
    struct Grant
    {
        QString key;
        int bits;
    };
    QList<Grant> grants;
    const int transfer = (m_options.importRight ? site::kImportRightBit : 0)
                         | (m_options.exportRight ? site::kExportRightBit : 0);
    if (transfer != 0)
        grants.append({QString::fromLatin1(site::kTransferRightKey), transfer});
    for (const QString &r : m_options.rights) {
        Grant g;
        if (!readRight(r, g.key, g.bits))
            return fail(
                QStringLiteral("--right \"%1\": KEY=BITS, a right key and a number 1-255").arg(r));
        grants.append(g);
    }
    site::SiteAddress address;
    QString why;
    if (!site::resolveSite(
            m_options.dbFile, m_options.conninfo, m_options.conninfoFile, address, why))
        return fail(why);
    Connection connection;
    bool created = false;
    if (!site::openSiteDatabase(connection, address, false, created, why))
        return fail(why);
    if (!connection.hasTable(QStringLiteral("UserProgramRight")))
        return fail(
            QStringLiteral("%1 holds no site (zqsite init makes one)").arg(address.shown()));
    // Every grant of the command or none.
    if (!connection.begin())
        return fail(connection.errors().value(0).text);
    QStringList done;
    bool ok = true;
    for (const Grant &g : std::as_const(grants)) {
        ok = site::grantProgramRight(connection, m_options.user, g.key, g.bits, why);
        if (!ok)
            break;
        done << QStringLiteral("%1 %2").arg(g.key).arg(g.bits);
    }
    for (qsizetype i = 0; ok && i < m_options.departments.size(); ++i) {
        ok = site::grantDepartment(connection, m_options.user, m_options.departments.at(i), why);
        done << QStringLiteral("department %1").arg(m_options.departments.at(i));
    }
    if (!ok) {
        connection.rollback();
        return fail(why + QStringLiteral("; nothing was granted"));
    }
    if (!connection.commit())
        return fail(connection.errors().value(0).text);
    print(QStringLiteral("granted %1: %2").arg(m_options.user, done.join(QLatin1String(", "))));
    return Done;
}

int SiteTool::check()
{
    site::SiteAddress address;
    QString why;
    if (!site::resolveSite(
            m_options.dbFile, m_options.conninfo, m_options.conninfoFile, address, why))
        return fail(why);
    Connection connection;
    bool created = false;
    if (!site::openSiteDatabase(connection, address, false, created, why))
        return fail(why);
    print(QStringLiteral("site: %1").arg(address.shown()));
    const site::SiteReport report = site::checkSite(connection, m_options.user);
    for (const QString &line : report.lines)
        print(line);
    int problems = report.problems;
    if (!address.isPostgres()) {
        const QString warning = site::accessWarning(QFileInfo(address.sqliteFile).absolutePath(),
                                                    address.sqliteFile);
        if (!warning.isEmpty()) {
            print(QStringLiteral("access: ") + warning);
            ++problems;
        } else {
            print(QStringLiteral("access: the owner's alone"));
        }
    }
    print(problems == 0 ? QStringLiteral("ok") : QStringLiteral("problems: %1").arg(problems));
    return problems == 0 ? Done : ProblemsFound;
}
