// A site whose database refuses some holders, as a site's own trigger would.
#pragma once

#include "FormTest.h"

#include <QSqlQuery>

namespace zq::test {

class RefusingSiteTest : public FormTest
{
protected:
    // Holders named "Refused" are refused by the database on insert and on update.
    void refuseByTrigger()
    {
        if (GetParam() == zq::data::Engine::SQLite) {
            // A trigger body holds statements of its own, which the connection's single
            // statement guard would refuse: it goes to the driver directly.
            for (const char *event : {"INSERT", "UPDATE"}) {
                QSqlQuery q(db().database());
                ASSERT_TRUE(q.exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON "
                                                  "HolderData WHEN NEW.HolderName = 'Refused' "
                                                  "BEGIN SELECT RAISE(ABORT, 'refused name'); END")
                                       .arg(QLatin1String(event))));
            }
            return;
        }
        exec({"CREATE FUNCTION refuse_name() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
              "NEW.HolderName = 'Refused' THEN RAISE EXCEPTION 'refused name'; END IF; RETURN "
              "NEW; END $$",
              "CREATE TRIGGER refuse_name BEFORE INSERT OR UPDATE ON HolderData FOR EACH ROW "
              "EXECUTE FUNCTION refuse_name()"});
    }
};

} // namespace zq::test
