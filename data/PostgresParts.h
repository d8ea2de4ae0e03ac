#pragma once

// The parts of PostgreSQL's own backend, each in a file of its own.
#include "Backend.h"

#include <libpq-fe.h>

namespace zq::data {

std::unique_ptr<TextCursor> makePostgresTextCursor(Connection &connection,
                                                   PGconn *handle,
                                                   TextRowBuffer &rows);
std::unique_ptr<BulkTarget> makePostgresBulkTarget(PGconn *handle, const BulkSpec &spec);

} // namespace zq::data
