// One change written to 10,000 selected holders of the generated site, on SQLite and on
// PostgreSQL: the expiry of the first 10,000 holders set through the batch writer (guarded
// per holder, one audit entry each through the suite as the host loads it, the progress
// window open) against the anchor, a bare guarded UPDATE of the same rows with the values
// read, prepared once and run in one transaction. Both run in turn inside every iteration,
// each on a listing read again just before it (not timed), so that both write 10,000 rows.
//
// The preview: the time from a click on a field's tick in the dialog over 10,000 holders to
// the preview line updated (`ms`), with `all_fields_ms` for the preview of every field
// ticked and `holders_ms` for taking the 10,000 holders off the window's listing.
#include "BatchEdit.h"
#include "BatchEditDialog.h"
#include "BatchEditRun.h"
#include "BenchSite.h"
#include "BenchSupport.h"
#include "Connection.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "SuiteLoader.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using zq::bench::Engine;
using zq::bench::SiteCopy;
using zq::data::Connection;
using namespace zq::forms::holder;
using Clock = std::chrono::steady_clock;

constexpr int kSelected = 10000;

SiteCopy *site(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return nullptr;
    SiteCopy &s = zq::bench::sharedSite(engine);
    if (!s.isValid()) {
        state.SkipWithError(qPrintable(s.error()));
        return nullptr;
    }
    return &s;
}

// The suite bound to the site's connection, as the host binds it: audit entries go to the
// site's ProgramRunEdit table.
void bindSuite(SiteCopy &s)
{
    static SuiteLoader suite;
    static QTemporaryDir folder;
    static const QByteArray path = folder.path().toUtf8() + '/';
    const ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                                 &s.connection(),
                                 path.constData(),
                                 "admin",
                                 "en",
                                 ZQ_LANG_DIR,
                                 "",
                                 ""};
    if (!suite.loadSuite(QString(), context))
        std::fprintf(stderr, "suite: %s\n", qPrintable(suite.error()));
    intptr_t handles[6];
    suite.handles(handles);
    zq::services::bind(handles);
}

// The first 10,000 holders of the window's listing of every holder.
std::vector<BatchHolder> selected(Connection &c, std::unique_ptr<zq::data::Recordset> &listing)
{
    listing = std::make_unique<zq::data::Recordset>();
    listing->setConnection(&c);
    listing->setStatement(filterListing(QString(), true, QString())
                          + QStringLiteral(" LIMIT %1").arg(kSelected));
    listing->open();
    QList<int> rows;
    for (int i = 0; i < listing->recordCount(); ++i)
        rows << i;
    return batchHolders(*listing, rows);
}

// The anchor: every row updated while it holds the expiry read, one prepared statement, one
// transaction. The rows it changed.
int bareGuardedUpdate(Connection &c, const std::vector<BatchHolder> &holders, const QDate &day)
{
    const bool sqlite = c.engine() == Engine::SQLite;
    const int expiry = int(BatchField::ExpiredDate);
    c.begin();
    int changed = 0;
    {
        QSqlQuery q(c.database());
        q.prepare(sqlite ? QStringLiteral("UPDATE HolderData SET ExpiredDate = ? WHERE HolderNo "
                                          "= ? AND datetime(ExpiredDate) IS ?")
                         : QStringLiteral("UPDATE HolderData SET ExpiredDate = ? WHERE HolderNo "
                                          "= ? AND date_trunc('second', ExpiredDate) IS NOT "
                                          "DISTINCT FROM CAST(? AS timestamp)"));
        const QString text = Connection::dateTimeText(day.startOfDay());
        for (const BatchHolder &h : holders) {
            const QVariant &shown = h.shown[size_t(expiry)];
            q.bindValue(0, text);
            q.bindValue(1, h.key);
            q.bindValue(2,
                        shown.isNull() ? QVariant(QMetaType(QMetaType::QString))
                                       : QVariant(Connection::dateTimeText(shown.toDateTime())));
            if (q.exec())
                changed += q.numRowsAffected();
        }
    }
    c.commit();
    return changed;
}

void BatchExpiry(benchmark::State &state, Engine engine)
{
    SiteCopy *s = site(state, engine);
    if (!s)
        return;
    bindSuite(*s);
    Connection &c = s->connection();
    zq::bench::Paired paired;
    std::unique_ptr<zq::data::Recordset> listing;
    QDate day(2031, 1, 1);
    for (auto _ : state) {
        auto holders = selected(c, listing);
        const zq::bench::CpuClock anchorClock(&c);
        auto start = Clock::now();
        const int bare = bareGuardedUpdate(c, holders, day = day.addDays(1));
        const double anchor = zq::bench::secondsSince(start);
        const double anchorCpu = anchorClock.seconds();

        holders = selected(c, listing);
        BatchChange change;
        change.set(BatchField::ExpiredDate, day = day.addDays(1));
        const zq::bench::CpuClock clock(&c);
        start = Clock::now();
        BatchWriter writer(&c);
        const BatchOutcome out = applyWithProgress(writer, holders, change);
        const double t = zq::bench::secondsSince(start);
        state.SetIterationTime(t);
        paired.add(anchor, t);
        paired.addCpu(anchorCpu, clock.seconds());
        if (bare != kSelected || out.written != kSelected) {
            state.SkipWithError("not every selected holder was written");
            return;
        }
    }
    state.counters["holders"] = kSelected;
    paired.report(state);
}

void BatchPreviewClick(benchmark::State &state, Engine engine)
{
    SiteCopy *s = site(state, engine);
    if (!s)
        return;
    bindSuite(*s);
    std::unique_ptr<zq::data::Recordset> listing;
    auto start = Clock::now();
    const auto holders = selected(s->connection(), listing);
    // The rows only: what the window takes off a listing it holds already.
    start = Clock::now();
    QList<int> rows;
    for (int i = 0; i < listing->recordCount(); ++i)
        rows << i;
    const auto taken = batchHolders(*listing, rows);
    state.counters["holders_ms"] = zq::bench::secondsSince(start) * 1000.0;

    BatchChange all;
    all.set(BatchField::Department, "1");
    all.set(BatchField::Title, "1");
    all.set(BatchField::Type, "1");
    all.set(BatchField::PunchCard, 0);
    for (const BatchField f : {BatchField::StartDate,
                               BatchField::ExpiredDate,
                               BatchField::Deposit01,
                               BatchField::Deposit02,
                               BatchField::Deposit03})
        all.set(f, QDate(2031, 5, 5));
    start = Clock::now();
    benchmark::DoNotOptimize(previewBatch(taken, all));
    state.counters["all_fields_ms"] = zq::bench::secondsSince(start) * 1000.0;

    BatchCodes codes;
    codes.departmentNumbers = codes.titleNumbers = codes.typeNumbers = QStringList{"1"};
    codes.departmentItems = codes.titleItems = codes.typeItems = QStringList{"1 : One"};
    BatchEditDialog dialog(taken, codes);
    dialog.show();
    QCoreApplication::processEvents();
    QCheckBox *tick = dialog.tick(BatchField::ExpiredDate);
    for (auto _ : state) {
        start = Clock::now();
        QTest::mouseClick(tick, Qt::LeftButton, {}, QPoint(6, tick->height() / 2));
        state.SetIterationTime(zq::bench::secondsSince(start));
    }
    state.counters["holders"] = dialog.preview().holders;
}

} // namespace

int main(int argc, char **argv)
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL}) {
        const std::string e = zq::bench::engineName(engine);
        zq::bench::addTimed("BatchExpiry/" + e,
                            [engine](benchmark::State &s) { BatchExpiry(s, engine); });
        zq::bench::addTimed(
            "BatchPreviewClick/" + e,
            [engine](benchmark::State &s) { BatchPreviewClick(s, engine); },
            10);
    }
    return zq::bench::runBenchmarks(argc, argv);
}
