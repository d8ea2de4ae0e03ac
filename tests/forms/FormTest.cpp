#include "FormTest.h"

#include "Exports.h"
#include "Helpers.h"
#include "MaintenanceWindow.h"
#include "Recordset.h"

#include <QApplication>
#include <QSqlError>
#include <QSqlQuery>

namespace zq::test {

void FormTest::SetUp()
{
    d.reset();
    zq::forms::MaintenanceWindow::setScreenSizeOverride(QSize(1280, 1024));
    const auto h = ServiceDouble::handles();
    SetGlobalFunction(h[0], h[1], h[2], h[3], h[4], h[5]);
}

void FormTest::TearDown()
{
    for (auto &w : zq::module::state().registry)
        if (w)
            delete w.data();
    QCoreApplication::processEvents();
    zq::forms::MaintenanceWindow::setScreenSizeOverride(QSize());
    zq::data::setModuleConnection(nullptr);
    m_db.reset();
}

bool FormTest::openDatabase(bool withSchema)
{
    m_db = std::make_unique<TestDatabase>(GetParam(), withSchema);
    if (!m_db->isAvailable())
        return false;
    exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', 'A', 1)"});
    EXPECT_EQ(SetADOConnection(&db()), 1);
    return true;
}

QString FormTest::scalar(const QString &sql)
{
    zq::data::Recordset rs;
    rs.setConnection(&db());
    rs.setStatement(sql);
    rs.open();
    return rs.isEmpty() ? QString() : zq::data::Recordset::textOf(rs.valueAt(0, 0));
}

void FormTest::refuseWrites(const QString &table, const QString &events, bool atCommit)
{
    // Trigger bodies are not statements the data layer runs, so they go in directly.
    QSqlDatabase sql = db().database();
    auto run = [&](const QString &statement) {
        QSqlQuery q(sql);
        ASSERT_TRUE(q.exec(statement))
            << statement.toStdString() << ": " << q.lastError().text().toStdString();
    };
    const QStringList list = events.split(QStringLiteral(" OR "));
    const QString name = QStringLiteral("zq_refuse_") + table.toLower();
    if (GetParam() == zq::data::Engine::PostgreSQL) {
        const QString trigger = name + QLatin1Char('_') + list.join(QLatin1Char('_')).toLower();
        run("CREATE OR REPLACE FUNCTION zq_refuse() RETURNS trigger LANGUAGE plpgsql AS "
            "$$ BEGIN RAISE EXCEPTION 'refused by the site'; END $$");
        if (atCommit)
            run(QStringLiteral("CREATE CONSTRAINT TRIGGER %1 AFTER %2 ON %3 DEFERRABLE INITIALLY "
                               "DEFERRED FOR EACH ROW EXECUTE FUNCTION zq_refuse()")
                    .arg(trigger, events, table));
        else
            run(QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW EXECUTE FUNCTION "
                               "zq_refuse()")
                    .arg(trigger, events, table));
        return;
    }
    for (const QString &event : list) {
        const QString trigger = name + QLatin1Char('_') + event.toLower();
        if (!atCommit) {
            run(QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 BEGIN SELECT RAISE(ABORT, "
                               "'refused by the site'); END")
                    .arg(trigger, event, table));
            continue;
        }
        // A dangling reference whose check waits for the COMMIT.
        run("CREATE TABLE IF NOT EXISTS zq_refuse_parent (x INTEGER PRIMARY KEY)");
        run("CREATE TABLE IF NOT EXISTS zq_refuse_child (x INTEGER REFERENCES "
            "zq_refuse_parent(x) DEFERRABLE INITIALLY DEFERRED)");
        run(QStringLiteral("CREATE TRIGGER %1 AFTER %2 ON %3 BEGIN INSERT INTO zq_refuse_child "
                           "VALUES (1); END")
                .arg(trigger, event, table));
        run("PRAGMA foreign_keys = ON");
    }
}

bool FormTest::cutLink()
{
    if (GetParam() != zq::data::Engine::PostgreSQL)
        return false;
    QSqlQuery q(db().database());
    if (!q.exec("SELECT pg_backend_pid()") || !q.next())
        return false;
    const QString pid = q.value(0).toString();
    auto other = m_db->openAnother();
    return other->execute("SELECT pg_terminate_backend(" + pid + ")");
}

QWidget *FormTest::openKind(zq::module::WindowKind kind, int rights)
{
    using namespace zq::module;
    d.rights[rightKey(kind)] = rights;
    typedef int32_t (*Export)();
    static const Export exports[] = {ShowDepartmentForm,
                                     ShowOccupationTitleForm,
                                     ShowOccupationTypeForm,
                                     ShowHolderForm,
                                     ShowHolderReport,
                                     HolderImportExport};
    if (int(kind) >= ExportedKinds)
        return nullptr;
    if (exports[int(kind)]() != 1)
        return nullptr;
    QWidget *w = state().registry[int(kind)];
    if (w) {
        w->show();
        QApplication::setActiveWindow(w);
        QCoreApplication::processEvents();
    }
    return w;
}

} // namespace zq::test
