#pragma once

#include "Connection.h"
#include "ModuleState.h"
#include "ServiceDouble.h"
#include "TestDatabase.h"

#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

namespace zq::test {

/// A window test: the service double bound through SetGlobalFunction, a fresh database per
/// test handed in with SetADOConnection, and helpers to open windows through the exports.
class FormTest : public testing::TestWithParam<zq::data::Engine>
{
protected:
    void SetUp() override;
    void TearDown() override;

    /// Opens a fresh database and hands it to the module; false when the engine is missing.
    bool openDatabase(bool withSchema = true);
    zq::data::Connection &db() { return m_db->connection(); }
    void exec(const QStringList &statements) { m_db->exec(statements); }
    /// One value of the first row of `sql` as text.
    QString scalar(const QString &sql);
    int count(const QString &sql) { return scalar(sql).toInt(); }

    /// Runs the export that opens `kind` with `rights` and returns its window, shown and
    /// active (nullptr when none was opened).
    template<typename Window>
    Window *open(zq::module::WindowKind kind, int rights = 127)
    {
        return qobject_cast<Window *>(openKind(kind, rights));
    }
    QWidget *openKind(zq::module::WindowKind kind, int rights);

    /// Makes the database refuse `events` on `table` ("INSERT", "UPDATE" or "DELETE",
    /// several joined by " OR ") through a trigger: at once, or only at COMMIT.
    void refuseWrites(const QString &table, const QString &events, bool atCommit = false);
    /// Cuts the module connection's PostgreSQL link from another session; false on SQLite.
    bool cutLink();

    ServiceDouble &d = ServiceDouble::instance();
    std::unique_ptr<TestDatabase> m_db;
};

} // namespace zq::test

#define ZQ_FORM_DB() \
    if (!openDatabase()) { \
        if (::zq::test::postgresRequired()) \
            FAIL() << m_db->skipReason().toStdString(); \
        GTEST_SKIP() << m_db->skipReason().toStdString(); \
    }
