#include "Helpers.h"

#include "Caught.h"
#include "Connection.h"
#include "Recordset.h"

#include <QPointer>

namespace zq::data {

namespace {
QPointer<Connection> g_moduleConnection;
}

void setModuleConnection(Connection *connection)
{
    g_moduleConnection = connection;
}

Connection *moduleConnection()
{
    return g_moduleConnection.data();
}

int RunQuery(Recordset *query, const QString &statement, int mode)
{
    if (!query)
        return 0;
    Connection *connection = nullptr;
    try {
        query->close();
        if (statement.isEmpty())
            return 0;
        connection = query->connection();
        if (!connection || !connection->ensureOpen())
            return 0;
        query->setStatement(statement);
        query->setPrepared(true);
        if (mode == 0)
            query->open();
        else if (mode == 1)
            query->execute();
        return 1;
    } catch (...) {
        logCaught(lcData(), "RunQuery");
        try {
            query->close();
            if (connection) {
                for (const DbErrorItem &e : connection->errors()) {
                    if (e.nativeCode == 0) {
                        connection->closeLostLink();
                        break;
                    }
                }
            }
        } catch (...) {
            logCaught(lcData(), "RunQuery: closing after a failure");
        }
        return 0;
    }
}

int CheckConnection()
{
    try {
        Recordset probe;
        probe.setConnection(moduleConnection());
        // No table: a site without the optional ones answers as well, so a 0 means that
        // the link itself is gone.
        const int result = RunQuery(&probe, QStringLiteral(" SELECT 1 "), 0);
        probe.close();
        return result;
    } catch (...) {
        logCaught(lcData(), "CheckConnection");
        return 0;
    }
}

bool WriteInTransaction(Connection *connection, const std::function<void()> &write)
{
    try {
        if (!connection || !connection->begin())
            return false;
        write();
        if (connection->commit())
            return true;
    } catch (...) {
        logCaught(lcData(), "WriteInTransaction");
    }
    // The caller tells a conflict from other failures by the errors of the write, which the
    // rollback and the probe would otherwise replace.
    const QList<DbErrorItem> failure = connection->errors();
    if (connection->inTransaction())
        connection->rollback();
    CheckConnection();
    if (!failure.isEmpty())
        connection->setErrors(failure);
    return false;
}

bool LocateRecord(Recordset *dataSet, const QString &field, const QString &value)
{
    if (!dataSet || !dataSet->isOpen() || dataSet->isEmpty())
        return false;
    const int column = dataSet->fieldIndex(field);
    dataSet->first();
    if (column < 0)
        return false;
    for (int row = 0; row < dataSet->recordCount(); ++row) {
        if (Recordset::textOf(dataSet->valueAt(row, column)) == value) {
            dataSet->moveTo(row);
            return true;
        }
    }
    return false;
}

void OpenTableOrdered(Recordset *query, const QString &table, const QString &field)
{
    query->close();
    query->setStatement(QStringLiteral("Select * From ") + table + QStringLiteral(" Order By ")
                        + field);
    query->open();
}

void OpenQueryText(Recordset *query, const QString &statement)
{
    query->setStatement(statement);
    query->open();
}

QString TextBeforeSeparator(const QString &text, const QString &separator)
{
    const qsizetype at = text.indexOf(separator);
    if (at < 0)
        return text;
    return text.left(at).trimmed();
}

void BindFormDataSets(QObject *window, int mode)
{
    if (!window)
        return;
    const QList<Recordset *> sets = window->findChildren<Recordset *>();
    for (Recordset *rs : sets) {
        try {
            rs->close();
            rs->setConnection(mode == 0 ? moduleConnection() : nullptr);
        } catch (...) {
            logCaught(lcData(), "BindFormDataSets");
        }
    }
}

} // namespace zq::data
