#pragma once

#include "ServiceAbi.h"

#include <QByteArray>
#include <QString>

class QWidget;

namespace zq::data {
class Connection;
}

namespace zq::suite {

/// This library's copy of what the host handed to ZQSuiteInit. Folders end with '/'
/// (reportOutDir only when set); everything is empty before the host called in.
struct HostContext
{
    bool initialised = false;
    zq::data::Connection *connection = nullptr;
    QString siteFolder;
    QString loginUserId;
    QString language;
    QString langFolder;
    QString reportFolder;
    QString reportOutDir;
};

const HostContext &host();

/// Copies `context` for the library's later calls. Returns 1 when taken, 0 when the
/// context is missing or of another version (the previous copy then stays).
int32_t storeHostContext(const ZQSuiteContext *context);

/// UTF-8 text of a C argument; a null pointer reads as "".
QString fromC(const char *text);

/// Stores `text` in `slot` and returns its bytes, which stay valid until the slot is
/// written again.
const char *keepText(QByteArray &slot, const QString &text);

/// True when widgets can be created (a QApplication runs).
bool widgetsAvailable();

/// The window dialogs of the suite belong to: the active window, else none.
QWidget *dialogParent();

} // namespace zq::suite
