#include "DirectoryServer.h"

#include <QFile>
#include <QProcess>
#include <QUuid>

namespace {
QString env(const char *name)
{
    return qEnvironmentVariable(name);
}
} // namespace

DirectoryServer::DirectoryServer()
{
    if (env("ZQ_TEST_LDAP").isEmpty() || !m_dir.isValid())
        return;
    // The tool's file ends with a line end, as an editor leaves it; the command-line tools
    // take the whole file as the password.
    for (const auto &[name, text] : {std::pair{passwordFile(), secret().toUtf8() + '\n'},
                                     std::pair{managerFile(), secret().toUtf8()}}) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return;
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    m_base = QStringLiteral("ou=t%1,%2")
                 .arg(QUuid::createUuid().toString(QUuid::Id128).left(12),
                      env("ZQ_TEST_LDAP_SUFFIX"));
    m_available = add(QStringLiteral("dn: BASE\nobjectClass: organizationalUnit\nou: %1\n")
                          .arg(m_base.section(u',', 0, 0).mid(3)));
}

DirectoryServer::~DirectoryServer()
{
    if (!m_available)
        return;
    QProcess p;
    p.start(QStringLiteral("ldapdelete"),
            {"-x",
             "-r",
             "-H",
             plainUri(),
             "-D",
             env("ZQ_TEST_LDAP_MANAGER"),
             "-y",
             managerFile(),
             m_base});
    p.waitForFinished(30000);
}

QString DirectoryServer::plainUri() const
{
    return env("ZQ_TEST_LDAP");
}
QString DirectoryServer::tlsUri() const
{
    return env("ZQ_TEST_LDAPS");
}
QString DirectoryServer::caFile() const
{
    return env("ZQ_TEST_LDAP_CA");
}
QString DirectoryServer::readerDn() const
{
    return env("ZQ_TEST_LDAP_READER");
}
QString DirectoryServer::limitedDn() const
{
    return env("ZQ_TEST_LDAP_LIMITED");
}
QString DirectoryServer::secret() const
{
    return env("ZQ_TEST_LDAP_SECRET");
}

bool DirectoryServer::add(const QString &ldif, QString *output) const
{
    return run(QStringLiteral("ldapadd"), ldif, output);
}

bool DirectoryServer::modify(const QString &ldif, QString *output) const
{
    return run(QStringLiteral("ldapmodify"), ldif, output);
}

bool DirectoryServer::run(const QString &program, const QString &ldif, QString *output) const
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program,
            {"-x", "-H", plainUri(), "-D", env("ZQ_TEST_LDAP_MANAGER"), "-y", managerFile()});
    QString text = ldif;
    text.replace(QStringLiteral("BASE"), m_base);
    p.write(text.toUtf8());
    p.closeWriteChannel();
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit
                    && p.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return ok;
}
