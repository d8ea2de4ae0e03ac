// The holder list of the generated site rendered to PDF by the report engine, through the
// utilities library's ShowReport as the host calls it, on SQLite and on PostgreSQL. In the
// same iteration a bare QPdfWriter draws the same texts row by row with QPainter::drawText
// (the anchor). Reports pages per second of both, `speed_ratio` (report pages/s over anchor
// pages/s) and the peak resident memory, which stays flat when pages are streamed out as
// they fill.
#include "BenchSite.h"
#include "BenchSupport.h"
#include "ServiceAbi.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using zq::bench::Engine;
using Clock = std::chrono::steady_clock;

const char *const kHolderList
    = " SELECT T2.DepartmentName,T3.TitleName,T4.TypeName,T1.* "
      "   FROM UserRightDept T5, OccupationType T4,OccupationTitle T3,           "
      "        DepartmentData T2,HolderData T1                 "
      "  WHERE T1.DepartmentNo = T2.DepartmentNo               "
      "    AND T1.TitleNo = T3.TitleNo                         "
      "    AND T1.TypeNo  = T4.TypeNo                          "
      " AND T5.DepartmentNo = T1.DepartmentNo  "
      " AND T5.UserID = 'admin'          "
      " ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName       ";

double peakMegabytes()
{
    return double(zq::bench::peakKiB()) / 1024.0;
}

QTemporaryDir &dir()
{
    static QTemporaryDir d;
    return d;
}

ShowReportFn showReport()
{
    static void *library = dlopen(ZQ_LIB_UTILITY, RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<ShowReportFn>(dlsym(library, "ShowReport")) : nullptr;
}

// Points the utilities library at `connection`, as the host does once at start.
bool startUtilities(zq::data::Connection &connection)
{
    static void *library = dlopen(ZQ_LIB_UTILITY, RTLD_NOW | RTLD_LOCAL);
    auto init = library ? reinterpret_cast<int32_t (*)(const ZQSuiteContext *)>(
                    dlsym(library, "ZQSuiteInit"))
                        : nullptr;
    static const QByteArray out = QFile::encodeName(dir().filePath(QStringLiteral("out")));
    const ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                                 &connection,
                                 "",
                                 "admin",
                                 "en",
                                 ZQ_LANG_DIR,
                                 ZQ_REPORT_DIR,
                                 out.constData()};
    return init && init(&context);
}

int countPages(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Searched in the bytes, once through: QString::count() with a regular expression checks
    // the whole text again at every match, which is quadratic in the pages (hours at a
    // million holders).
    const QByteArray pdf = file.readAll();
    const auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
    const auto isWord = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    };
    int pages = 0;
    for (qsizetype at = pdf.indexOf("/Type"); at >= 0; at = pdf.indexOf("/Type", at + 1)) {
        qsizetype p = at + 5;
        while (p < pdf.size() && isSpace(pdf.at(p)))
            ++p;
        if (!pdf.mid(p, 5).startsWith("/Page"))
            continue;
        p += 5;
        if (p >= pdf.size() || (pdf.at(p) != 's' && !isWord(pdf.at(p))))
            ++pages;
    }
    return pages;
}

// The bare job: the list's eight texts of each row drawn at their columns' places, and the
// department's line where it changes and at the top of each page, with the template's font,
// page, margins and row height. The rows go on the room the report leaves them between its
// header, column headings and footer, a new page when the next line does not fit, so that
// both put the same rows on each page and pages per second compare the same work. Returns
// the pages.
int bareList(zq::data::Connection &c, const QString &path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QPdfWriter writer(&file);
    writer.setResolution(600);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(10, 12, 10, 10), QPageLayout::Millimeter);
    QPainter painter(&writer);
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK TC")});
    font.setPointSizeF(7.5);
    painter.setFont(font);
    const double mm = writer.width()
                      / writer.pageLayout().paintRect(QPageLayout::Millimeter).width();
    const double rowHeight = 4.6 * mm;
    const double groupHeight = 1.5 * rowHeight;
    // Below the page header (9 mm and 2 mm of space) and the column headings; above the
    // page footer (6 mm and 2 mm).
    const double top = (9 + 2 + 4.6 + 1.5) * mm;
    const double bottom = writer.height() - (6 + 2) * mm;
    const double ascent = QFontMetricsF(font, &writer).ascent();
    const double widths[] = {19, 30, 22, 20, 20, 39, 20, 20};
    const char *fields[] = {"HolderNo",
                            "HolderName",
                            "TitleName",
                            "TypeName",
                            "ShowText",
                            "Email",
                            "StartDate",
                            "ExpiredDate"};
    QSqlQuery q(c.database());
    q.setForwardOnly(true);
    q.exec(QString::fromLatin1(kHolderList));
    int columns[8];
    for (int i = 0; i < 8; ++i)
        columns[i] = q.record().indexOf(QLatin1String(fields[i]));
    const int departmentName = q.record().indexOf(QLatin1String("DepartmentName"));
    const int departmentNo = q.record().indexOf(QLatin1String("DepartmentNo"));
    int pages = 0;
    double y = bottom;
    QString department;
    QString groupLine;
    auto drawGroupLine = [&] {
        painter.drawText(QPointF(0, y + ascent), groupLine);
        y += groupHeight;
    };
    while (q.next()) {
        const QString name = q.value(departmentName).toString();
        const bool changed = pages == 0 || name != department;
        if (changed) {
            department = name;
            groupLine = QStringLiteral("Department: %1   (%2)")
                            .arg(name, q.value(departmentNo).toString());
        }
        if (pages == 0 || y + (changed ? groupHeight : 0) + rowHeight > bottom) {
            if (pages > 0)
                writer.newPage();
            ++pages;
            y = top;
            drawGroupLine();
        } else if (changed) {
            drawGroupLine();
        }
        double x = 0;
        for (int i = 0; i < 8; ++i) {
            QString text = q.value(columns[i]).toString();
            if (i >= 6)
                text.truncate(10);
            painter.drawText(QPointF(x, y + ascent), text);
            x += widths[i] * mm;
        }
        y += rowHeight;
    }
    painter.end();
    return pages;
}

void HolderListToPdf(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    zq::bench::SiteCopy site(engine);
    if (!site.isValid()) {
        state.SkipWithError(qPrintable(site.error()));
        return;
    }
    const ShowReportFn show = showReport();
    if (!show || !startUtilities(site.connection())) {
        state.SkipWithError("the utilities library did not start");
        return;
    }
    const double peakBefore = peakMegabytes();
    const QDir out(dir().filePath(QStringLiteral("out")));
    const QString bare = dir().filePath(QStringLiteral("bare.pdf"));
    int pages = 0, barePages = 0;
    double seconds = 0, bareSeconds = 0, cpu = 0, bareCpu = 0;
    qint64 bytes = 0;
    double peak = 0;
    double grown = 0, anchorGrown = 0;
    zq::bench::Paired paired;
    for (auto _ : state) {
        QDir(out).removeRecursively();
        zq::bench::resetPeak();
        const double anchorResident = peakMegabytes();
        const zq::bench::CpuClock anchorClock(&site.connection());
        auto start = Clock::now();
        barePages = bareList(site.connection(), bare);
        const double anchor = zq::bench::secondsSince(start);
        const double anchorCpu = anchorClock.seconds();
        anchorGrown = std::max(anchorGrown, peakMegabytes() - anchorResident);
        bareSeconds += anchor;
        zq::bench::resetPeak();
        const double resident = peakMegabytes();
        const zq::bench::CpuClock clock(&site.connection());
        start = Clock::now();
        show("HolderData.frf", kHolderList);
        const double t = zq::bench::secondsSince(start);
        const double used = clock.seconds();
        paired.addCpu(anchorCpu, used);
        cpu += used;
        bareCpu += anchorCpu;
        seconds += t;
        state.SetIterationTime(t);
        paired.add(anchor, t);
        // Read before the pages are counted, which holds the whole file.
        peak = std::max(peak, peakMegabytes());
        grown = std::max(grown, peakMegabytes() - resident);
        const QString pdf = out.filePath(QStringLiteral("HolderData-1.pdf"));
        pages = countPages(pdf);
        bytes = QFileInfo(pdf).size();
    }
    paired.report(state);
    // ZQ_BENCH_REPORT_KEEP names a folder that keeps the last report and anchor, to look at.
    const QString keep = qEnvironmentVariable("ZQ_BENCH_REPORT_KEEP");
    if (!keep.isEmpty() && QDir().mkpath(keep)) {
        const QString name = QString::fromLatin1(zq::bench::engineName(engine));
        QFile::remove(keep + QStringLiteral("/report-%1.pdf").arg(name));
        QFile::copy(out.filePath(QStringLiteral("HolderData-1.pdf")),
                    keep + QStringLiteral("/report-%1.pdf").arg(name));
        QFile::remove(keep + QStringLiteral("/anchor-%1.pdf").arg(name));
        QFile::copy(bare, keep + QStringLiteral("/anchor-%1.pdf").arg(name));
    }
    const double n = double(state.iterations());
    const double rate = seconds > 0 ? pages * n / seconds : 0;
    const double bareRate = bareSeconds > 0 ? barePages * n / bareSeconds : 0;
    state.counters["pages"] = pages;
    state.counters["pages/s"] = rate;
    state.counters["anchor_pages"] = barePages;
    state.counters["anchor_pages/s"] = bareRate;
    state.counters["speed_ratio"] = bareRate > 0 ? rate / bareRate : 0;
    // Pages per CPU second against the anchor's: the steadier figure on a shared machine.
    if (bareCpu > 0 && cpu > 0)
        state.counters["cpu_speed_ratio"] = (double(pages) / cpu) / (double(barePages) / bareCpu);
    state.counters["pdf_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["peak_MB_before"] = peakBefore;
    state.counters["peak_MB"] = peak;
    // How far the resident memory rose above where it stood when the job began.
    state.counters["grown_MB"] = grown;
    state.counters["anchor_grown_MB"] = anchorGrown;
}

} // namespace

int main(int argc, char **argv)
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL})
        benchmark::RegisterBenchmark(
            (std::string("HolderListToPdf/") + zq::bench::engineName(engine)).c_str(),
            [engine](benchmark::State &s) { HolderListToPdf(s, engine); })
            ->Unit(benchmark::kSecond)
            ->UseManualTime()
            ->Iterations(zq::bench::iterations(2));
    return zq::bench::runBenchmarks(argc, argv);
}
