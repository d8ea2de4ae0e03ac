#pragma once

// Runs the programs as their real binaries without a display, under the umask a desktop
// session has (022), so that every mode a test reads is the program's own doing.
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <sys/stat.h>

namespace zq::test {

struct ProgramRun
{
    int status = -1;
    QString out;
    QString err;
};

inline ProgramRun runProgram(const QString &binary,
                             const QStringList &args,
                             const QStringList &environment = {},
                             bool display = false)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ZQ_PG_CONNINFO"})
        env.remove(QString::fromLatin1(name));
    if (display)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LC_ALL", "C");
    for (const QString &pair : environment)
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    p.setProcessEnvironment(env);
    const mode_t before = ::umask(022);
    p.start(binary, args);
    ::umask(before);
    ProgramRun run;
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

/// The permission bits of `path` (not following a link), or -1.
inline int modeOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace zq::test
