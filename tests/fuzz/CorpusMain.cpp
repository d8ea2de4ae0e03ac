// The regression run of the normal build: feeds every file of a target's corpus folder (the
// seeds and every input that once failed) to the target, one after the other.
//   tst_fuzzcorpus TARGET FOLDER
#include "FuzzTargets.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s TARGET FOLDER\n", argv[0]);
        return 2;
    }
    const char *name = argv[1];
    const QString folder = QString::fromLocal8Bit(argv[2]);
    zq::fuzz::setUp(argc, argv);
    const zq::fuzz::Target *target = zq::fuzz::findTarget(name);
    if (!target) {
        std::fprintf(stderr, "no fuzz target %s\n", name);
        return 2;
    }
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no corpus in %s\n", argv[2]);
        return 1;
    }
    for (const QString &file : files) {
        QFile input(QDir(folder).filePath(file));
        if (!input.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(input.fileName()));
            return 1;
        }
        std::printf("%s: %s\n", name, qPrintable(file));
        std::fflush(stdout);
        target->run(input.readAll());
    }
    std::printf("%s: %lld inputs\n", name, static_cast<long long>(files.size()));
    return 0;
}
