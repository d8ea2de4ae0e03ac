#pragma once

#include "SiteOptions.h"

#include <cstdio>

/// One run of zqsite: opens (or, for init, creates) the site database and carries out the
/// command, all or nothing. Writes what it did to `out` and at most one line saying why
/// to `err`.
class SiteTool
{
public:
    enum { Done = 0, ProblemsFound = 1, NothingDone = 2 };

    SiteTool(const SiteOptions &options, std::FILE *out, std::FILE *err);
    int run();

private:
    int init();
    int addUser();
    int grant();
    int check();
    int fail(const QString &why);
    void print(const QString &line);

    SiteOptions m_options;
    std::FILE *m_out;
    std::FILE *m_err;
};
