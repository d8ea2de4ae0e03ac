// The command line of `zqtransfer sync-ldap`.
#include "ToolOptions.h"

#include "SiteDatabase.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// The password from a file only its owner may read, or from the environment; never from
// the command line, where every user of the machine sees it.
bool readPassword(const QString &file, QByteArray &password, QString &why)
{
    if (file.isEmpty()) {
        password = qgetenv("ZQ_LDAP_PASSWORD");
        if (password.isEmpty())
            why = QStringLiteral(
                "no password: --password-file FILE (mode 0600) or ZQ_LDAP_PASSWORD");
        return !password.isEmpty();
    }
    struct stat st
    {
    };
    const QByteArray name = QFile::encodeName(file);
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = QStringLiteral("cannot read the password file %1").arg(file);
        return false;
    }
    if (st.st_mode & 077) {
        why = QStringLiteral("the password file %1 may be read by others (mode %2): chmod 600 %1")
                  .arg(file)
                  .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
        return false;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read the password file %1: %2").arg(file, f.errorString());
        return false;
    }
    password = f.readAll();
    // One line end after the password is the editor's, not the password's.
    if (password.endsWith('\n'))
        password.chop(1);
    if (password.endsWith('\r'))
        password.chop(1);
    // An empty password makes a simple bind anonymous: the server would let anybody in.
    if (password.isEmpty())
        why = QStringLiteral("the password file %1 is empty").arg(file);
    return !password.isEmpty();
}

bool readScope(const QString &text, SyncOptions &sync, QString &why)
{
    const qsizetype eq = text.indexOf(u'=');
    const QString kind = text.left(eq);
    const QString value = eq < 0 ? QString() : text.mid(eq + 1);
    if (kind == QLatin1String("prefix") && !value.isEmpty()) {
        sync.scopePrefix = value;
        return true;
    }
    if (kind == QLatin1String("departments") && !value.isEmpty()) {
        for (const QString &d : value.split(u',')) {
            if (d.trimmed().isEmpty()) {
                why = QStringLiteral("--scope \"%1\": an empty department").arg(text);
                return false;
            }
            sync.scopeDepartments << d.trimmed();
        }
        return true;
    }
    why = QStringLiteral("--scope \"%1\": departments=NO-OR-NAME[,...] or prefix=TEXT").arg(text);
    return false;
}

struct SyncFlags
{
    QCommandLineOption uri{"uri", "", "URI"};
    QCommandLineOption startTls{"starttls", ""};
    QCommandLineOption caFile{"ca-file", "", "FILE"};
    QCommandLineOption base{"base", "", "DN"};
    QCommandLineOption filter{"filter", "", "FILTER"};
    QCommandLineOption bindDn{"bind-dn", "", "DN"};
    QCommandLineOption passwordFile{"password-file", "", "FILE"};
    QCommandLineOption map{"map", "", "ATTRIBUTE=COLUMN"};
    QCommandLineOption missing{"missing", "", "report|disable"};
    QCommandLineOption scope{"scope", "", "SCOPE"};
    QCommandLineOption dryRun{"dry-run", ""};
    QCommandLineOption refusals{"refusals", "", "FILE.csv"};
    QCommandLineOption progress{"progress", ""};
    QCommandLineOption db{"db", "", "FILE"};
    QCommandLineOption pg{"pg", "", "CONNINFO"};
    QCommandLineOption pgFile{"pg-file", "", "FILE"};
    QCommandLineOption user{"user", "", "ID"};
    QCommandLineOption holder{"holder", "", "NO"};
};

// The directory half of the options; false and `text` on the first mistake.
bool readDirectory(const QCommandLineParser &p, const SyncFlags &f, SyncOptions &s, QString &text)
{
    s.ldap.uri = p.value(f.uri);
    const bool ldaps = s.ldap.uri.startsWith(QLatin1String("ldaps://"), Qt::CaseInsensitive);
    if (!ldaps && !s.ldap.uri.startsWith(QLatin1String("ldap://"), Qt::CaseInsensitive)) {
        text = QStringLiteral("--uri ldap://HOST[:PORT] or ldaps://HOST[:PORT] is required");
        return false;
    }
    s.ldap.startTls = p.isSet(f.startTls);
    if (s.ldap.startTls && ldaps) {
        text = QStringLiteral("--starttls is for ldap:// (ldaps:// is TLS from the start)");
        return false;
    }
    s.ldap.caFile = p.value(f.caFile);
    if (p.isSet(f.caFile) && !QFileInfo(s.ldap.caFile).isReadable()) {
        text = QStringLiteral("cannot read the CA file %1").arg(s.ldap.caFile);
        return false;
    }
    s.base = p.value(f.base);
    s.ldap.bindDn = p.value(f.bindDn);
    if (s.base.isEmpty() || s.ldap.bindDn.isEmpty()) {
        text = QStringLiteral("--base DN and --bind-dn DN are required");
        return false;
    }
    if (p.isSet(f.filter))
        s.filter = p.value(f.filter);
    if (s.filter.isEmpty()) {
        text = QStringLiteral("--filter needs a filter such as (objectClass=inetOrgPerson)");
        return false;
    }
    for (const QString &m : p.values(f.map))
        if (!s.map.apply(m, text))
            return false;
    return readPassword(p.value(f.passwordFile), s.ldap.password, text);
}

// What is done with holders the directory no longer has.
bool readMissing(const QCommandLineParser &p, const SyncFlags &f, SyncOptions &s, QString &text)
{
    const QString missing = p.value(f.missing);
    if (missing == QLatin1String("report"))
        s.missing = SyncOptions::Missing::Report;
    else if (missing == QLatin1String("disable"))
        s.missing = SyncOptions::Missing::Disable;
    else if (p.isSet(f.missing)) {
        text = QStringLiteral("--missing \"%1\": report or disable").arg(missing);
        return false;
    }
    if (p.values(f.scope).size() > 1) {
        text = QStringLiteral("--scope is given once: departments=... or prefix=...");
        return false;
    }
    if (p.isSet(f.scope) && !readScope(p.value(f.scope), s, text))
        return false;
    s.holder = p.value(f.holder).trimmed();
    if (p.isSet(f.holder) && s.holder.isEmpty()) {
        text = QStringLiteral("--holder needs a holder number");
        return false;
    }
    // One person read tells nothing about the others.
    if (!s.holder.isEmpty() && s.missing != SyncOptions::Missing::Ignore) {
        text = QStringLiteral("--holder reads one person: --missing needs the whole directory");
        return false;
    }
    // Holders kept by hand must never be touched: the directory's part of the site is
    // named, never assumed to be all of it.
    if (s.missing != SyncOptions::Missing::Ignore && !p.isSet(f.scope)) {
        text = QStringLiteral("--missing needs --scope departments=... or prefix=...: the "
                              "holders that belong to the directory");
        return false;
    }
    return true;
}

} // namespace

ParseResult parseSyncOptions(const QStringList &arguments, ToolOptions &options, QString &text)
{
    for (const QString &a : arguments)
        if (a == QLatin1String("--password") || a.startsWith(QLatin1String("--password="))
            || a == QLatin1String("-w")) {
            text = QStringLiteral("the password is never taken from the command line: "
                                  "--password-file FILE (mode 0600) or ZQ_LDAP_PASSWORD");
            return ParseResult::Error;
        }
    QCommandLineParser p;
    const SyncFlags f;
    p.addOptions({f.uri,
                  f.startTls,
                  f.caFile,
                  f.base,
                  f.filter,
                  f.bindDn,
                  f.passwordFile,
                  f.map,
                  f.missing,
                  f.scope,
                  f.dryRun,
                  f.refusals,
                  f.progress,
                  f.db,
                  f.pg,
                  f.pgFile,
                  f.user,
                  f.holder});
    if (!p.parse(arguments)) {
        text = p.errorText();
        return ParseResult::Error;
    }
    if (p.positionalArguments().size() != 1) {
        text = QStringLiteral(
            "sync-ldap takes no file: zqtransfer sync-ldap --uri ... (see --help)");
        return ParseResult::Error;
    }
    options.command = ToolOptions::Command::SyncLdap;
    SyncOptions &s = options.sync;
    if (!readDirectory(p, f, s, text) || !readMissing(p, f, s, text))
        return ParseResult::Error;
    zq::site::SiteAddress site;
    if (!zq::site::resolveSite(p.value(f.db), p.value(f.pg), p.value(f.pgFile), site, text))
        return ParseResult::Error;
    options.pgConnInfo = site.conninfo;
    options.dbFile = site.sqliteFile;
    options.user = p.value(f.user);
    if (options.user.isEmpty()) {
        text = QStringLiteral("--user ID is required: the user whose rights apply");
        return ParseResult::Error;
    }
    options.refusals = p.value(f.refusals);
    if (p.isSet(f.refusals) && options.refusals.isEmpty()) {
        text = QStringLiteral("--refusals needs a file name");
        return ParseResult::Error;
    }
    options.dryRun = s.dryRun = p.isSet(f.dryRun);
    options.progress = s.progress = p.isSet(f.progress);
    s.userId = options.user;
    return ParseResult::Run;
}

QString syncHelpText()
{
    return QStringLiteral(
        "zqtransfer sync-ldap --uri ldap://HOST[:PORT]|ldaps://HOST[:PORT] [--starttls]\n"
        "    [--ca-file FILE] --base DN [--filter FILTER] --bind-dn DN --password-file FILE\n"
        "    [--map ATTRIBUTE=COLUMN ...] [--missing report|disable --scope SCOPE]\n"
        "    [--holder NO] [--dry-run] [--refusals FILE.csv] [--progress]\n"
        "    [--db FILE | --pg CONNINFO | --pg-file FILE] --user ID\n"
        "  Syncs the people of a company directory into the holders, by the rules of the file\n"
        "  import with --overwrite: entries are judged and refused alike (the refusal report\n"
        "  adds each entry's DN), codes are created by name, audit entries are written, and a\n"
        "  holder whose mapped values are unchanged is not written at all. Columns the map\n"
        "  does not carry keep their stored values.\n"
        "  --filter is passed to the server as given (default (objectClass=inetOrgPerson));\n"
        "  entries are read 500 a page with the simple paged results control. --holder NO\n"
        "  syncs the one person whose number attribute equals NO (escaped into the filter).\n"
        "  The map: employeeNumber=HolderNo, cn (else displayName)=HolderName, mail=Email,\n"
        "  departmentNumber (else ou)=DepartmentName, title=OccupationTitle,\n"
        "  employeeType=OccupationType. --map ATTRIBUTE=COLUMN replaces a column's attributes\n"
        "  (a second one for the same column is its fallback); columns: HolderNo, HolderName,\n"
        "  Email, Birthday, StartDate, ExpiredDate, Definable1, Definable2, Description,\n"
        "  DepartmentName, OccupationTitle, OccupationType, PIN, and Photo (e.g.\n"
        "  jpegPhoto=Photo: checked as a loaded photo, JPEG kept, bitmaps converted);\n"
        "  --map -=COLUMN leaves a column out. A multi-valued attribute gives its first value.\n"
        "  --missing report lists the holders in --scope that the directory no longer has;\n"
        "  --missing disable also sets their Enabled to 0 (nothing is deleted). --scope\n"
        "  departments=NO-OR-NAME[,...] or prefix=TEXT (the start of the holder numbers).\n"
        "  The password comes from --password-file (readable by its owner only) or from\n"
        "  ZQ_LDAP_PASSWORD, never from the command line. ldaps:// and --starttls verify the\n"
        "  server's certificate against the system's CA store, or --ca-file.");
}
