#include "SiteOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

const char *const kUsage
    = "Makes and checks the site database of the card-holder programs without a display.\n\n"
      "zqsite init [SITE] [--demo] [--supervisor ID] [--force]\n"
      "zqsite add-user ID [SITE] [--name TEXT] [--supervisor]\n"
      "zqsite grant ID [SITE] [--import] [--export] [--department NO]... [--right KEY=BITS]...\n"
      "zqsite check [SITE] [--user ID]\n\n"
      "SITE is --db FILE, --pg CONNINFO or --pg-file FILE; without one, the conninfo in "
      "ZQ_PG_CONNINFO, else the user's own site ~/.local/share/ZQHolder/ZQSite.db.\n"
      "init makes the tables and the supervisor user (default admin), with --demo the demo "
      "site as well, all in one transaction; it refuses a database that holds a site unless "
      "--force replaces it. A new SQLite file is made 0600, a new site folder 0700.\n"
      "grant gives the right zqtransfer checks (--import, --export) and department rows; a "
      "right the user holds already is refused.\n"
      "check reports the engine version, missing tables or columns, users, a user's rights, "
      "and a site file or folder that other users can read.\n\n"
      "Exit status: 0 done; 1 check found problems; 2 nothing done (bad input, no database), "
      "the reason in one line on stderr.";

// Every option of every command; which command takes which is in `kShapes`.
struct Declared
{
    QCommandLineOption db{
        QStringLiteral("db"), QStringLiteral("SQLite site database."), QStringLiteral("FILE")};
    QCommandLineOption pg{QStringLiteral("pg"),
                          QStringLiteral("PostgreSQL site database (libpq key=value; keep the "
                                         "password in ~/.pgpass or use service=NAME)."),
                          QStringLiteral("CONNINFO")};
    QCommandLineOption pgFile{QStringLiteral("pg-file"),
                              QStringLiteral("Read the PostgreSQL conninfo from FILE."),
                              QStringLiteral("FILE")};
    QCommandLineOption demo{QStringLiteral("demo"), QStringLiteral("init: add the demo site.")};
    QCommandLineOption force{QStringLiteral("force"),
                             QStringLiteral("init: replace a site that exists.")};
    QCommandLineOption supervisor{
        QStringLiteral("supervisor"),
        QStringLiteral("init: the supervisor's user ID (default admin); add-user: make the user a "
                       "supervisor."),
        QStringLiteral("ID")};
    QCommandLineOption name{QStringLiteral("name"),
                            QStringLiteral("add-user: the user's name."),
                            QStringLiteral("TEXT")};
    QCommandLineOption importRight{
        QStringLiteral("import"),
        QStringLiteral("grant: the right to import holders (zqtransfer import).")};
    QCommandLineOption exportRight{
        QStringLiteral("export"),
        QStringLiteral("grant: the right to export holders (zqtransfer export).")};
    QCommandLineOption department{QStringLiteral("department"),
                                  QStringLiteral("grant: the holders of this department."),
                                  QStringLiteral("NO")};
    QCommandLineOption right{
        QStringLiteral("right"),
        QStringLiteral("grant: right bits of a window (e.g. BasicDataHolderI=127)."),
        QStringLiteral("KEY=BITS")};
    QCommandLineOption user{QStringLiteral("user"),
                            QStringLiteral("check: report this user's rights."),
                            QStringLiteral("ID")};

    QList<const QCommandLineOption *> commandOptions() const
    {
        return {&demo,
                &force,
                &supervisor,
                &name,
                &importRight,
                &exportRight,
                &department,
                &right,
                &user};
    }
};

// A command: its name, how many positional arguments it takes (with itself) and its options.
struct Shape
{
    const char *name;
    SiteOptions::Command command;
    int positional;
    QList<const QCommandLineOption *> allowed;
};

QList<Shape> shapes(const Declared &d)
{
    return {{"init", SiteOptions::Command::Init, 1, {&d.demo, &d.force, &d.supervisor}},
            {"add-user", SiteOptions::Command::AddUser, 2, {&d.name}},
            {"grant",
             SiteOptions::Command::Grant,
             2,
             {&d.importRight, &d.exportRight, &d.department, &d.right}},
            {"check", SiteOptions::Command::Check, 1, {&d.user}}};
}

// The command the positional arguments name, with only its own options; "" or why not.
QString matchCommand(const QCommandLineParser &p, const Declared &d, Shape &found)
{
    const QStringList pos = p.positionalArguments();
    const QString command = pos.value(0);
    bool known = false;
    for (const Shape &s : shapes(d)) {
        if (command == QLatin1String(s.name)) {
            found = s;
            known = true;
        }
    }
    if (!known)
        return command.isEmpty()
                   ? QStringLiteral(
                       "expected a command: init, add-user, grant or check (see --help)")
                   : QStringLiteral("unknown command \"%1\": init, add-user, grant or check")
                         .arg(command);
    if (pos.size() != found.positional)
        return found.positional == 2 ? QStringLiteral("%1 needs one user ID").arg(command)
                                     : QStringLiteral("%1 takes no further arguments: %2")
                                           .arg(command, pos.mid(1).join(u' '));
    for (const QCommandLineOption *o : d.commandOptions())
        if (p.isSet(*o) && !found.allowed.contains(o))
            return QStringLiteral("--%1 does not belong to %2")
                .arg(o->names().constFirst(), command);
    return QString();
}

} // namespace

SiteParse parseSiteOptions(const QStringList &arguments, SiteOptions &options, QString &text)
{
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromUtf8(kUsage));
    p.addHelpOption();
    p.addVersionOption();
    p.addPositionalArgument(QStringLiteral("command"),
                            QStringLiteral("init, add-user, grant or check"));
    const Declared d;
    p.addOptions({d.db, d.pgFile, d.pg});
    for (const QCommandLineOption *o : d.commandOptions())
        p.addOption(*o);
    // --supervisor takes a value for init only; add-user's flag is spelt the same, so the
    // value-less form is taken out before parsing.
    QStringList args = arguments;
    if (args.size() > 1 && args.at(1) == QLatin1String("add-user")
        && args.removeAll(QStringLiteral("--supervisor")) > 0)
        options.makeSupervisor = true;
    if (!p.parse(args)) {
        text = p.errorText();
        return SiteParse::Error;
    }
    if (p.isSet(QStringLiteral("help")) || p.isSet(QStringLiteral("version"))) {
        text = p.isSet(QStringLiteral("help"))
                   ? p.helpText()
                   : QStringLiteral("zqsite ") + QCoreApplication::applicationVersion();
        return SiteParse::Asked;
    }
    Shape shape{};
    text = matchCommand(p, d, shape);
    if (!text.isEmpty())
        return SiteParse::Error;
    options.command = shape.command;
    options.dbFile = p.value(d.db);
    options.conninfo = p.value(d.pg);
    options.conninfoFile = p.value(d.pgFile);
    options.demo = p.isSet(d.demo);
    options.force = p.isSet(d.force);
    if (p.isSet(d.supervisor))
        options.supervisor = p.value(d.supervisor);
    options.user = shape.positional == 2 ? p.positionalArguments().at(1) : p.value(d.user);
    options.name = p.value(d.name);
    options.importRight = p.isSet(d.importRight);
    options.exportRight = p.isSet(d.exportRight);
    options.departments = p.values(d.department);
    options.rights = p.values(d.right);
    if (options.command == SiteOptions::Command::Grant && !options.importRight
        && !options.exportRight && options.departments.isEmpty() && options.rights.isEmpty()) {
        text = QStringLiteral(
            "grant needs --import, --export, --department NO or --right KEY=BITS");
        return SiteParse::Error;
    }
    return SiteParse::Run;
}
