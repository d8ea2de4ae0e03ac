#pragma once

#include <QString>

struct HostOptions;

/// What keeps the host from using the site of `options`, as a sentence for the terminal:
/// a site folder that cannot be created or written, an SQLite file that is not a database,
/// a PostgreSQL server that does not answer. "" when nothing does. Needs a
/// `QCoreApplication` but no display, so that these errors are told without one.
QString siteProblem(const HostOptions &options);
