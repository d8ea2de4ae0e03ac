#include "ToolOptions.h"

#include "SiteDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace {

const QString kCodes = QStringLiteral("123456789ABCD");

// A column order names each column at most once, and only columns of the catalogue.
bool validColumns(const QString &columns)
{
    if (columns.isEmpty() || columns.size() > kCodes.size())
        return false;
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (!kCodes.contains(columns.at(i)) || columns.indexOf(columns.at(i), i + 1) >= 0)
            return false;
    return true;
}

// "," or any other single character that cannot start a quoted value or end a line;
// "\t" and "tab" name the tab.
bool readDelimiter(const QString &text, QChar &delimiter)
{
    if (text == QLatin1String("\\t")
        || text.compare(QLatin1String("tab"), Qt::CaseInsensitive) == 0) {
        delimiter = u'\t';
        return true;
    }
    if (text.size() != 1)
        return false;
    const QChar c = text.at(0);
    if (c == u'"' || c == u'\r' || c == u'\n' || c.isLetterOrNumber() || c == u' ')
        return false;
    delimiter = c;
    return true;
}

} // namespace

ParseResult parseToolOptions(const QStringList &arguments, ToolOptions &options, QString &text)
{
    if (arguments.value(1) == QLatin1String("sync-ldap") && !arguments.contains("--help")
        && !arguments.contains("-h") && !arguments.contains("--version"))
        return parseSyncOptions(arguments, options, text);
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Imports card holders from a text file or workbook into the site database, or exports "
            "them, or syncs them from a company directory, by the rules of the import/export "
            "window: the user's rights, audit entries, codes created by name.\n\n"
            "zqtransfer import FILE [--db FILE | --pg CONNINFO | --pg-file FILE] --user ID\n"
            "                       [--columns 123456789ABCD] [--lang en|zh_TW]\n"
            "                       [--delimiter ,] [--overwrite] [--dry-run] [--refusals "
            "FILE.csv]\n"
            "                       [--progress] [--verbose]\n"
            "zqtransfer export FILE [--db FILE | --pg CONNINFO | --pg-file FILE] --user ID\n"
            "                       [--columns ...] [--lang en|zh_TW]\n"
            "                       [--delimiter ,] [--department NO] [--punch-card-only]\n")
        + syncHelpText()
        + QStringLiteral(
            "\n\nExit status: 0 every line stored (or written), 1 some lines refused or not "
            "stored, 2 nothing stored (or a sync cut short); the reason is one line on stderr "
            "(--verbose adds the database's whole message). Once an import has started, the last "
            "line on stdout holds the counts as JSON, also when it stopped part-way."));
    p.addHelpOption();
    p.addVersionOption();
    p.addPositionalArgument(QStringLiteral("command"),
                            QStringLiteral("import, export or sync-ldap"));
    p.addPositionalArgument(QStringLiteral("file"),
                            QStringLiteral("The holder file (text, .xlsx or .xls)."));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("SQLite site database (default: the host's own "
                                               "site, ZQSite.db in ~/.local/share/ZQHolder)."),
                                QStringLiteral("FILE"));
    const QCommandLineOption pg(QStringLiteral("pg"),
                                QStringLiteral("PostgreSQL site database (libpq key=value; the "
                                               "password in ~/.pgpass or PGPASSFILE, or "
                                               "service=NAME). Default: ZQ_PG_CONNINFO when set."),
                                QStringLiteral("CONNINFO"));
    const QCommandLineOption pgFile(QStringLiteral("pg-file"),
                                    QStringLiteral("Read the PostgreSQL conninfo from FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption lang(QStringLiteral("lang"),
                                  QStringLiteral("Language of the messages and refusal reasons: "
                                                 "en or zh_TW (default en)."),
                                  QStringLiteral("LANG"),
                                  QStringLiteral("en"));
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("The user whose rights apply (UserData.UserID)."),
                                  QStringLiteral("ID"));
    const QCommandLineOption columns(
        QStringLiteral("columns"),
        QStringLiteral("Column order: codes 1-9 and A-D (number, name, e-mail, birthday, start "
                       "date, expiry date, definable 1 and 2, description, department, title, "
                       "type, PIN); default 123456789ABCD."),
        QStringLiteral("CODES"));
    const QCommandLineOption delimiter(
        QStringLiteral("delimiter"),
        QStringLiteral("Field separator of text files (default \",\"; \"tab\" for a tab)."),
        QStringLiteral("CHAR"));
    const QCommandLineOption overwrite(
        QStringLiteral("overwrite"),
        QStringLiteral("Import: overwrite holders that exist, in the columns the file carries; "
                       "the others keep their stored values."));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("Import: change nothing in the database (opened read-only) and print "
                       "what the import would do; the --refusals report is still written, the "
                       "only file a dry run writes."));
    const QCommandLineOption refusals(
        QStringLiteral("refusals"),
        QStringLiteral("Import: write every refused line with its reason to this CSV file."),
        QStringLiteral("FILE.csv"));
    const QCommandLineOption progress(QStringLiteral("progress"),
                                      QStringLiteral("Import: progress lines on stderr."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("After a one-line reason, the database's whole message on stderr."));
    const QCommandLineOption department(
        QStringLiteral("department"),
        QStringLiteral("Export: only this department (its number); default all departments the "
                       "user holds rights on."),
        QStringLiteral("NO"));
    const QCommandLineOption punchCard(QStringLiteral("punch-card-only"),
                                       QStringLiteral("Export: punch-card holders only."));
    p.addOptions({db,
                  pg,
                  pgFile,
                  lang,
                  user,
                  columns,
                  delimiter,
                  overwrite,
                  dryRun,
                  refusals,
                  progress,
                  verbose,
                  department,
                  punchCard});

    if (!p.parse(arguments)) {
        text = p.errorText();
        return ParseResult::Error;
    }
    if (p.isSet(QStringLiteral("help"))) {
        text = p.helpText();
        return ParseResult::Asked;
    }
    if (p.isSet(QStringLiteral("version"))) {
        text = QStringLiteral("zqtransfer ") + QCoreApplication::applicationVersion();
        return ParseResult::Asked;
    }
    const QStringList args = p.positionalArguments();
    if (args.size() != 2) {
        text = QStringLiteral("expected a command and a file: zqtransfer import|export FILE ... "
                              "(see --help)");
        return ParseResult::Error;
    }
    if (args.at(0) == QLatin1String("import"))
        options.command = ToolOptions::Command::Import;
    else if (args.at(0) == QLatin1String("export"))
        options.command = ToolOptions::Command::Export;
    else {
        text = QStringLiteral("unknown command \"%1\": import or export").arg(args.at(0));
        return ParseResult::Error;
    }
    const bool importing = options.command == ToolOptions::Command::Import;
    for (const QCommandLineOption *o : {&overwrite, &dryRun, &refusals, &progress}) {
        if (!importing && p.isSet(*o)) {
            text = QStringLiteral("--%1 belongs to import").arg(o->names().constFirst());
            return ParseResult::Error;
        }
    }
    for (const QCommandLineOption *o : {&department, &punchCard}) {
        if (importing && p.isSet(*o)) {
            text = QStringLiteral("--%1 belongs to export").arg(o->names().constFirst());
            return ParseResult::Error;
        }
    }
    options.file = args.at(1);
    zq::site::SiteAddress site;
    if (!zq::site::resolveSite(p.value(db), p.value(pg), p.value(pgFile), site, text))
        return ParseResult::Error;
    options.pgConnInfo = site.conninfo;
    options.dbFile = site.sqliteFile;
    options.language = p.value(lang);
    if (options.language != QLatin1String("en") && options.language != QLatin1String("zh_TW")) {
        text = QStringLiteral("--lang must be en or zh_TW");
        return ParseResult::Error;
    }
    options.user = p.value(user);
    if (options.user.isEmpty()) {
        text = QStringLiteral("--user ID is required: the user whose rights apply");
        return ParseResult::Error;
    }
    if (p.isSet(columns)) {
        options.columns = p.value(columns).toUpper();
        if (!validColumns(options.columns)) {
            text = QStringLiteral("--columns \"%1\": each of the codes 1-9 and A-D at most once")
                       .arg(p.value(columns));
            return ParseResult::Error;
        }
    }
    if (p.isSet(delimiter) && !readDelimiter(p.value(delimiter), options.delimiter)) {
        text = QStringLiteral("--delimiter \"%1\": one character such as , ; : or tab")
                   .arg(p.value(delimiter));
        return ParseResult::Error;
    }
    options.overwrite = p.isSet(overwrite);
    options.dryRun = p.isSet(dryRun);
    options.progress = p.isSet(progress);
    options.verbose = p.isSet(verbose);
    options.refusals = p.value(refusals);
    if (p.isSet(refusals) && options.refusals.isEmpty()) {
        text = QStringLiteral("--refusals needs a file name");
        return ParseResult::Error;
    }
    options.department = p.value(department);
    if (p.isSet(department) && options.department.isEmpty()) {
        text = QStringLiteral("--department needs a department number");
        return ParseResult::Error;
    }
    options.punchCardOnly = p.isSet(punchCard);
    return ParseResult::Run;
}
