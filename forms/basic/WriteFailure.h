#pragma once

namespace zq::data {
class Connection;
}

namespace zq::forms {

/// What a window tells the user after a save, delete or move that wrote nothing.
enum class WriteFailure { Conflict, LinkLost, DiskFull, Busy, Other };

/// Reads the failure from `connection`'s errors (as `WriteInTransaction` or a throwing write
/// left them) and tells the user: the record was changed on another workstation, the link
/// to the database was lost, the database's disk is full, the database is locked by another
/// workstation longer than the wait allows (each as a message with the error sound), or, for
/// any other failure, the error sound alone.
WriteFailure tellWriteFailure(zq::data::Connection *connection);
/// The same for a row found gone (deleted on another workstation) before the write.
void tellConflict();

} // namespace zq::forms
