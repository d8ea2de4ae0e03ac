// The holder window on the generated site (100,000 holders unless ZQ_BENCH_HOLDERS says
// otherwise), on SQLite and on PostgreSQL, each measurement next to the statements the
// window sends run bare through a forward-only QSqlQuery to the last row in the same run
// (reading every value): `ratio` is window / bare over all iterations (`ratio_min`,
// `ratio_max` of single iterations) and `cpu_ratio` the same for CPU time, this process's and
// the PostgreSQL session's. The bare run and the window alternate inside every iteration so
// that both see the same caches. `painted` is the share of the window's iterations in which
// the grid painted before the time was taken: what the user waits for is on the screen.
//
// The peak memory of the all-holders listing is measured in a fresh process (this program
// started again with --peak): VmHWM once the window shows its first department, and again
// once it lists every holder. `peak_MB` is the process's high-water mark, `listing_MB` the
// growth that the all-holders listing added to it.
#include "BenchSite.h"
#include "BenchSupport.h"
#include "Connection.h"
#include "Exports.h"
#include "Helpers.h"
#include "HolderStatements.h"
#include "ModuleState.h"
#include "Recordset.h"
#include "SiteGenerator.h"
#include "TfrmHolder.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <dlfcn.h>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace {

const char *g_user = zq::bench::kSupervisorUser;

} // namespace

// The few sibling entries the window needs; every other entry stays unbound, which the
// module treats as a no-op.
extern "C" __attribute__((visibility("default"))) const char *GetLoginUserID()
{
    return g_user;
}

extern "C" __attribute__((visibility("default"))) int32_t GetProgramRight(const char *)
{
    return 127;
}

// Every question is answered Yes: the deletion asks twice.
extern "C" __attribute__((visibility("default"))) int32_t ShowMessageBox(const char *,
                                                                         const char *,
                                                                         int32_t)
{
    return 6;
}

namespace {
int g_deviceCalls = 0;
}

// The device library is not part of the measurement: a call is counted and returns.
extern "C" __attribute__((visibility("default"))) void DeviceCardDelete(int32_t, int32_t)
{
    ++g_deviceCalls;
}

extern "C" __attribute__((visibility("default"))) const char *GetProgramPath()
{
    static const QByteArray path = [] {
        static QTemporaryDir dir;
        return QFile::encodeName(dir.path()) + '/';
    }();
    return path.constData();
}

namespace {

namespace st = zq::forms::holder;
using zq::data::Connection;
using zq::forms::TfrmHolder;
using Clock = std::chrono::steady_clock;

constexpr double kMiB = 1024.0 * 1024.0;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void bindModule(Connection *connection)
{
    const auto self = reinterpret_cast<intptr_t>(dlopen(nullptr, RTLD_NOW));
    SetGlobalFunction(self, self, self, self, self, self);
    SetADOConnection(connection);
}

using zq::bench::Engine;

// One copy of the site per engine, shared by the benchmarks of the run; the module is bound
// to the engine of the benchmark that asks.
zq::bench::SiteCopy *g_site = nullptr;

Connection *useSite(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return nullptr;
    zq::bench::SiteCopy &s = zq::bench::sharedSite(engine);
    if (!s.isValid()) {
        state.SkipWithError(qPrintable(s.error()));
        return nullptr;
    }
    g_site = &s;
    bindModule(&s.connection());
    return &s.connection();
}

// The baseline: the statement through the driver alone, every value of every row read.
int bareRows(Connection *c, const QString &sql)
{
    QSqlQuery q(c->database());
    q.setForwardOnly(true);
    q.exec(sql);
    const int columns = q.record().count();
    int rows = 0;
    while (q.next()) {
        for (int i = 0; i < columns; ++i)
            benchmark::DoNotOptimize(q.value(i));
        ++rows;
    }
    return rows;
}

TfrmHolder *openWindow(const char *user)
{
    g_user = user;
    ShowHolderForm();
    auto *w = qobject_cast<TfrmHolder *>(
        zq::module::state().registry[int(zq::module::WindowKind::Holder)].data());
    QCoreApplication::processEvents();
    return w;
}

void closeWindow(TfrmHolder *w)
{
    delete w;
    QCoreApplication::processEvents();
}

// A control of the window by its name, as the user finds it on the screen.
template<typename T>
T *control(TfrmHolder *w, const char *name)
{
    return w->findChild<T *>(QString::fromLatin1(name));
}

void listDepartmentIndex(TfrmHolder *w, int index)
{
    control<QComboBox>(w, "cmbDept")->setCurrentIndex(index);
    w->cmbDeptCloseUp();
    QCoreApplication::processEvents();
}

// CPU seconds at the scheduler's grain: this process (all its threads), and on PostgreSQL the
// server session of `c`, where the statements of both the bare run and the window execute.
// The tick counts of /proc/PID/stat are too coarse for runs of a few milliseconds.
class SessionCpu
{
public:
    explicit SessionCpu(Connection *c)
    {
        if (c->engine() != zq::data::Engine::PostgreSQL)
            return;
        QSqlQuery q(c->database());
        if (q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next())
            m_schedstat = QStringLiteral("/proc/%1/schedstat").arg(q.value(0).toLongLong());
    }

    double now() const
    {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        double seconds = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
        if (!m_schedstat.isEmpty()) {
            QFile f(m_schedstat);
            if (f.open(QIODevice::ReadOnly))
                seconds += f.readAll().split(' ').value(0).toDouble() / 1e9;
        }
        return seconds;
    }

private:
    QString m_schedstat;
};

// Counts the paints of holder grids: the window's time is taken only once its grid showed
// the rows.
class GridPaints : public QObject
{
public:
    GridPaints() { qApp->installEventFilter(this); }
    ~GridPaints() override { qApp->removeEventFilter(this); }
    int take() { return std::exchange(m_count, 0); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            auto *w = qobject_cast<QWidget *>(watched);
            auto *grid = w ? qobject_cast<QTableView *>(w->parentWidget()) : nullptr;
            if (grid && grid->viewport() == w && grid->window()->inherits("zq::forms::TfrmHolder"))
                ++m_count;
        }
        return false;
    }

private:
    int m_count = 0;
};

// The bare statements and the window's work of one benchmark, iteration by iteration.
class Pairs
{
public:
    explicit Pairs(Connection *c)
        : m_cpu(c)
    {}

    // Runs `statements` bare; its seconds.
    double bare(Connection *c, const QStringList &statements)
    {
        const double cpu = m_cpu.now();
        const auto start = Clock::now();
        for (const QString &sql : statements)
            bareRows(c, sql);
        m_bareSeconds = secondsSince(start);
        m_bareCpu = m_cpu.now() - cpu;
        return m_bareSeconds;
    }

    // Runs the window's `work` timed, after the bare run of the iteration; its seconds.
    double window(benchmark::State &state, const std::function<void()> &work)
    {
        m_paints.take();
        const double cpu = m_cpu.now();
        const auto start = Clock::now();
        work();
        const double t = secondsSince(start);
        const double used = m_cpu.now() - cpu;
        state.SetIterationTime(t);
        m_paired.add(m_bareSeconds, t);
        m_paired.addCpu(m_bareCpu, used);
        m_bare += m_bareSeconds;
        m_window += t;
        if (m_paints.take() > 0)
            ++m_painted;
        ++m_count;
        return t;
    }

    void report(benchmark::State &state, int rows) const
    {
        m_paired.report(state);
        state.counters["bare_ms"] = m_count ? m_bare / m_count * 1000.0 : 0.0;
        state.counters["rows"] = rows;
        state.counters["painted"] = m_count ? double(m_painted) / m_count : 0.0;
    }

    double bareTotal() const { return m_bare; }

private:
    SessionCpu m_cpu;
    GridPaints m_paints;
    zq::bench::Paired m_paired;
    double m_bareSeconds = 0, m_bareCpu = 0;
    double m_bare = 0, m_window = 0;
    int m_painted = 0, m_count = 0;
};

// The window's creation fills in missing birthdays and start dates; on a site without any
// these statements still read the whole table. `fill_ms` is their bare cost, part of the
// window's time and not of the listing's.
double fillSeconds(Connection *c)
{
    const auto start = Clock::now();
    for (const char *column : {"Birthday", "StartDate"}) {
        QSqlQuery q(c->database());
        q.prepare(QStringLiteral("UPDATE HolderData SET %1 = ? WHERE %1 IS NULL")
                      .arg(QLatin1String(column)));
        q.addBindValue(Connection::dateTimeText(QDate::currentDate().startOfDay()));
        q.exec();
    }
    return secondsSince(start);
}

// A window opened and closed once before the measurement: the first window of a process
// also loads fonts and styles, which the host has done long before it opens this one.
void warmUp(const char *user)
{
    closeWindow(openWindow(user));
}

// Create + show up to the first department's listing painted in the grid.
void HolderWindowOpen(benchmark::State &state, Engine engine, const char *user)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    const bool supervisor = user == zq::bench::kSupervisorUser;
    const QString first = st::filterListing(zq::bench::departmentNo(0), supervisor, user);
    warmUp(user);
    Pairs pairs(c);
    double fill = 0;
    int rows = 0;
    for (auto _ : state) {
        fill += fillSeconds(c);
        pairs.bare(c, {first});
        TfrmHolder *w = nullptr;
        pairs.window(state, [&] { w = openWindow(user); });
        rows = w ? w->listing()->recordCount() : -1;
        closeWindow(w);
    }
    pairs.report(state, rows);
    state.counters["fill_ms"] = fill / double(state.iterations()) * 1000.0;
}

// The supervisor picks the empty department entry: every holder.
void AllHoldersListing(benchmark::State &state, Engine engine)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    const QString all = st::filterListing(QString(), true, zq::bench::kSupervisorUser);
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    Pairs pairs(c);
    int rows = 0;
    for (auto _ : state) {
        pairs.bare(c, {all});
        pairs.window(state, [w] { listDepartmentIndex(w, 0); });
        rows = w->listing()->recordCount();
        listDepartmentIndex(w, 1);
    }
    pairs.report(state, rows);
    closeWindow(w);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--peak"),
                 QString::fromLatin1(zq::bench::engineName(engine)),
                 g_site->location()});
    child.waitForFinished(-1);
    const QList<QByteArray> kB = child.readAllStandardOutput().trimmed().split(' ');
    if (kB.size() == 2) {
        state.counters["peak_MB"] = kB.at(1).toDouble() / 1024.0;
        state.counters["listing_MB"] = (kB.at(1).toDouble() - kB.at(0).toDouble()) / 1024.0;
    } else {
        state.SkipWithError("the peak-memory process failed");
    }
}

// The listing layer alone: the window's statement opened in a Recordset (every row fetched
// and kept), without the window around it.
void RecordsetListing(benchmark::State &state, Engine engine, bool all)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    const QString sql = st::filterListing(
        all ? QString() : zq::bench::departmentNo(0), true, g_user);
    Pairs pairs(c);
    int rows = 0;
    for (auto _ : state) {
        pairs.bare(c, {sql});
        pairs.window(state, [&] {
            zq::data::Recordset rs;
            rs.setConnection(c);
            rs.setStatement(sql);
            rs.open();
            rows = rs.recordCount();
        });
    }
    pairs.report(state, rows);
    state.counters.erase("painted");
}

// The photo look-up of the holder shown on the Data page.
QString photoLookup(const QString &no)
{
    return QStringLiteral(" SELECT HolderNo,Photo FROM HolderData WHERE HolderNo = ")
           + Connection::quoted(no) + QStringLiteral(" ");
}

// The number search that hits: the window lists the holder's department, moves to the
// holder and shows him. The statements it needs are the exact lookup, the department
// listing and the holder's photo by key.
void ExactSearchHit(benchmark::State &state, Engine engine)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    Pairs pairs(c);
    int k = 0;
    int rows = 0;
    for (auto _ : state) {
        const int holder = (54321 + 7919 * k++) % zq::bench::siteHolders();
        const QString no = zq::bench::holderNo(holder);
        const QString listing = st::filterListing(
            zq::bench::departmentNo(holder % zq::bench::kDepartments), true, g_user);
        pairs.bare(c, {st::exactSearch(no, true), listing, photoLookup(no)});
        pairs.window(state, [&] {
            w->searchFor(no, QString());
            QCoreApplication::processEvents();
        });
        rows = w->listing()->recordCount();
        if (w->listing()->text(QStringLiteral("HolderNo")) != no || w->holder().number != no)
            state.SkipWithError("the search did not reach the holder");
    }
    pairs.report(state, rows);
    closeWindow(w);
}

// A name fragment without an exact hit: the LIKE listing over every holder (1,111 rows),
// and the photo of the first.
void LikeSearch(benchmark::State &state, Engine engine)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    const QString fragment = QStringLiteral("name 99");
    QStringList statements{st::exactSearch(fragment, false),
                           st::likeListing(fragment, false, zq::data::Dialect::of(engine))};
    {
        QSqlQuery first(c->database());
        first.exec(statements.last());
        statements << photoLookup(first.next() ? first.value(0).toString() : QString());
    }
    Pairs pairs(c);
    int rows = 0;
    for (auto _ : state) {
        pairs.bare(c, statements);
        pairs.window(state, [&] {
            w->searchFor(QString(), fragment);
            QCoreApplication::processEvents();
        });
        rows = w->listing()->recordCount();
    }
    pairs.report(state, rows);
    closeWindow(w);
}

// Page by page from the first to the last of the 100,000 rows, each page painted.
void ScrollAllHolders(benchmark::State &state, Engine engine)
{
    if (!useSite(state, engine))
        return;
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    listDepartmentIndex(w, 0);
    QTableView *grid = w->chrome().dgView;
    QScrollBar *bar = grid->verticalScrollBar();
    int pages = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        pages = 0;
        bar->setValue(0);
        grid->viewport()->repaint();
        while (bar->value() < bar->maximum()) {
            bar->setValue(bar->value() + bar->pageStep());
            grid->viewport()->repaint();
            ++pages;
        }
        seconds = secondsSince(start);
        state.SetIterationTime(seconds);
    }
    const QModelIndex last = grid->indexAt(QPoint(1, grid->viewport()->height() - 2));
    state.counters["rows"] = w->listing()->recordCount();
    state.counters["pages"] = pages;
    state.counters["ms_per_page"] = pages > 0 ? seconds * 1000.0 / pages : 0.0;
    state.counters["last_row_shown"] = last.isValid() ? last.row() + 1 : -1;
    state.counters["grid_widgets"] = grid->viewport()->findChildren<QWidget *>().size();
    closeWindow(w);
}

// The listing's reload inside a save or a deletion: from the listing's close to its open
// (the grid's reset included, as the window's model handles the same signal first).
class ReloadClock
{
public:
    explicit ReloadClock(zq::data::Recordset *listing)
    {
        QObject::connect(listing, &zq::data::Recordset::rowsReset, listing, [this, listing] {
            if (!listing->isOpen())
                m_closed = Clock::now();
            else
                m_last = std::chrono::duration<double>(Clock::now() - m_closed).count();
        });
    }
    // The last reload's seconds, cleared for the next.
    double take() { return std::exchange(m_last, 0.0); }

private:
    Clock::time_point m_closed = Clock::now();
    double m_last = 0;
};

// One save or deletion per iteration: the bare listing statement run first, then the
// window's action timed with its reload.
class WriteTimer
{
public:
    WriteTimer(TfrmHolder *w, Connection *c)
        : m_clock(w->listing())
        , m_pairs(c)
    {}

    // The action's preparation has run: a reload it caused is not the action's.
    void prepared() { m_clock.take(); }

    void run(benchmark::State &state,
             Connection *c,
             const QString &bareSql,
             const std::function<void()> &action)
    {
        m_pairs.bare(c, {bareSql});
        m_pairs.window(state, [&] {
            action();
            QCoreApplication::processEvents();
        });
        m_reload += m_clock.take();
    }

    void report(benchmark::State &state, int rows) const
    {
        m_pairs.report(state, rows);
        state.counters["reload_ms"] = m_reload / double(state.iterations()) * 1000.0;
        state.counters["reload_ratio"] = m_reload / m_pairs.bareTotal();
    }

private:
    ReloadClock m_clock;
    Pairs m_pairs;
    double m_reload = 0;
};

// Fills the Data page of an added holder: department `department` (-1 for none), the first
// title and type.
void fillNewHolder(TfrmHolder *w, const QString &number, int department)
{
    w->btnAddClick();
    control<QLineEdit>(w, "edNo")->setText(number);
    control<QLineEdit>(w, "edName")->setText(QStringLiteral("bench ") + number);
    control<QComboBox>(w, "cmbDepartment")->setCurrentIndex(department < 0 ? -1 : department);
    if (department < 0)
        control<QComboBox>(w, "cmbDepartment")->setEditText(QString());
    control<QComboBox>(w, "cmbTitle")->setCurrentIndex(0);
    control<QComboBox>(w, "cmbType")->setCurrentIndex(0);
}

// OK on a new holder: the duplicate test, the insert, the reload of the listing the filter
// moves to and the move to the new row. `department` 0 reloads that department's 1,000
// rows; -1 (a holder without a department) leaves the filter on every holder, so the save
// reloads all 100,000. `bare_ms` is the reload statement alone.
void SaveInsert(benchmark::State &state, Engine engine, int department)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    WriteTimer timer(w, c);
    const QString reloadSql = st::reloadListing(
        department < 0 ? QString() : zq::bench::departmentNo(department));
    int k = 0;
    int rows = 0;
    for (auto _ : state) {
        const QString number = QStringLiteral("BI%1-%2")
                                   .arg(department + 1)
                                   .arg(k++, 6, 10, QLatin1Char('0'));
        fillNewHolder(w, number, department);
        timer.prepared();
        timer.run(state, c, reloadSql, [w] { w->btnOkClick(); });
        rows = w->listing()->recordCount();
        if (w->isModified() || rows == 0)
            state.SkipWithError("the insert did not complete");
    }
    timer.report(state, rows);
    closeWindow(w);
}

// Edit + OK on a listed holder: the update in its transaction and the listing run again
// (`moved` false: the filter is the holder's department) or moved from every holder to the
// holder's department (`moved` true).
void SaveUpdate(benchmark::State &state, Engine engine, bool moved)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    WriteTimer timer(w, c);
    const QString department = zq::bench::departmentNo(1);
    const QString reloadSql = st::reloadListing(department);
    int k = 0;
    int rows = 0;
    for (auto _ : state) {
        listDepartmentIndex(w, moved ? 0 : 2);
        // Holders 1, 101, 201, ... belong to the second department.
        const QString number = zq::bench::holderNo(1 + 100 * (k++ % 900));
        zq::data::LocateRecord(w->listing(), QStringLiteral("HolderNo"), number);
        QCoreApplication::processEvents();
        w->btnEditClick();
        control<QLineEdit>(w, "edDescription")->setText(QStringLiteral("edited %1").arg(k));
        timer.prepared();
        timer.run(state, c, reloadSql, [w] { w->btnOkClick(); });
        rows = w->listing()->recordCount();
        if (w->listing()->text(QStringLiteral("HolderNo")) != number
            || w->listing()->text(QStringLiteral("DepartmentNo")).trimmed() != department)
            state.SkipWithError("the update did not return to the holder");
        w->btnEditClick();
    }
    timer.report(state, rows);
    closeWindow(w);
}

// Delete with both questions answered Yes: each of the holder's 2 cards taken off the 20
// enabled devices (40 device calls), then the card rows and the holder deleted in one
// transaction and the department's listing run again. `bare_ms` is that listing alone.
void DeleteHolder(benchmark::State &state, Engine engine)
{
    Connection *c = useSite(state, engine);
    if (!c)
        return;
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    WriteTimer timer(w, c);
    const QString department = zq::bench::departmentNo(3);
    const QString listing = st::filterListing(department, true, g_user);
    listDepartmentIndex(w, 4);
    int k = 0;
    int rows = 0, calls = 0;
    for (auto _ : state) {
        const QString number = zq::bench::holderNo(3 + 100 * k++);
        zq::data::LocateRecord(w->listing(), QStringLiteral("HolderNo"), number);
        QCoreApplication::processEvents();
        timer.prepared();
        if (w->listing()->text(QStringLiteral("HolderNo")) != number)
            state.SkipWithError("the holder to delete is not listed");
        g_deviceCalls = 0;
        timer.run(state, c, listing, [w] { w->btnDeleteClick(); });
        calls = g_deviceCalls;
        rows = w->listing()->recordCount();
        QSqlQuery left(c->database());
        left.exec(QStringLiteral("SELECT COUNT(*) FROM CardData WHERE HolderNo = ")
                  + Connection::quoted(number));
        if (!left.next() || left.value(0).toInt() != 0)
            state.SkipWithError("the holder's cards were not deleted");
    }
    timer.report(state, rows);
    state.counters["device_calls"] = calls;
    closeWindow(w);
}

// The --peak process: prints the high-water marks before and after the all-holders listing.
int peakProcess(const QString &engine, const QString &location)
{
    Connection c;
    if (engine == QLatin1String(zq::bench::engineName(Engine::SQLite)))
        c.setSQLiteFile(location);
    else
        c.setPostgres(location);
    if (!c.open())
        return 1;
    bindModule(&c);
    TfrmHolder *w = openWindow(zq::bench::kSupervisorUser);
    if (!w)
        return 1;
    const long before = zq::bench::peakKiB();
    listDepartmentIndex(w, 0);
    const long after = zq::bench::peakKiB();
    if (w->listing()->recordCount() != zq::bench::siteHolders())
        return 1;
    std::printf("%ld %ld\n", before, after);
    return 0;
}

// Each benchmark once per engine: name, function, iterations.
void registerAll()
{
    using Fn = std::function<void(benchmark::State &, Engine)>;
    const std::vector<std::tuple<std::string, Fn, int>> all{
        {"HolderWindowOpen/supervisor",
         [](benchmark::State &s, Engine e) { HolderWindowOpen(s, e, zq::bench::kSupervisorUser); },
         10},
        {"HolderWindowOpen/operator",
         [](benchmark::State &s, Engine e) { HolderWindowOpen(s, e, zq::bench::kOperatorUser); },
         10},
        {"AllHoldersListing", AllHoldersListing, 3},
        {"RecordsetListing/all_holders",
         [](benchmark::State &s, Engine e) { RecordsetListing(s, e, true); },
         5},
        {"RecordsetListing/first_department",
         [](benchmark::State &s, Engine e) { RecordsetListing(s, e, false); },
         20},
        {"ExactSearchHit", ExactSearchHit, 20},
        {"LikeSearch", LikeSearch, 10},
        {"SaveInsert/department", [](benchmark::State &s, Engine e) { SaveInsert(s, e, 0); }, 20},
        {"SaveInsert/all_holders", [](benchmark::State &s, Engine e) { SaveInsert(s, e, -1); }, 3},
        {"SaveUpdate/same_department",
         [](benchmark::State &s, Engine e) { SaveUpdate(s, e, false); },
         20},
        {"SaveUpdate/moved_from_all",
         [](benchmark::State &s, Engine e) { SaveUpdate(s, e, true); },
         3},
        {"DeleteHolder", DeleteHolder, 20},
        {"ScrollAllHolders", ScrollAllHolders, 1},
    };
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL})
        for (const auto &[name, fn, count] : all)
            benchmark::RegisterBenchmark((name + "/" + zq::bench::engineName(engine)).c_str(),
                                         [fn = fn, engine](benchmark::State &s) { fn(s, engine); })
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(zq::bench::iterations(count));
}

} // namespace

int main(int argc, char **argv)
{
    registerAll();
    return zq::bench::runBenchmarks(argc, argv, [](int argc, char **argv) {
        if (argc == 4 && qstrcmp(argv[1], "--peak") == 0)
            return peakProcess(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        return -1;
    });
}
