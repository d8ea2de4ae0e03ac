// A site whose database refuses some holders, as a site's own trigger would.
#pragma once

#include "FormTest.h"
#include "HolderImport.h"

#include <QSqlQuery>

namespace zq::test {

class RefusingSiteTest : public FormTest
{
protected:
    // What an import decided, line by line and in total, in a form two runs compare by.
    static QStringList refusalTexts(const zq::transfer::HolderImport &import)
    {
        QStringList texts;
        for (const zq::transfer::Refusal &r : import.refusals())
            texts << QStringLiteral("%1|%2|%3|%4|%5")
                         .arg(r.line)
                         .arg(r.holderNo, zq::transfer::refusalCode(r.reason), r.column, r.detail);
        return texts;
    }
    static QList<int> outcomeCounts(const zq::transfer::HolderImport &import)
    {
        using Outcome = zq::transfer::HolderImport::Outcome;
        QList<int> counts;
        for (const auto outcome : {Outcome::Ignored,
                                   Outcome::Inserted,
                                   Outcome::Updated,
                                   Outcome::Kept,
                                   Outcome::Failed})
            counts << import.count(outcome);
        return counts;
    }

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
