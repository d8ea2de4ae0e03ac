// The first worksheet of a legacy (.xls) workbook, read by the helper program zqxlsread in a
// process of its own: the legacy format's library reads past its buffers on crafted files,
// so it never runs in this process. The helper is limited in memory and processor time and
// given a deadline; its rows come back over a pipe, bounded in size, and are checked here
// before any is used.
#include "WorkbookSheet.h"

#include "xlsread/XlsFrames.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>

#include <atomic>
#include <cstring>

#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <sys/resource.h>

namespace zq::platform {

namespace {

constexpr rlim_t kHelperMemory = 512ULL << 20;
constexpr rlim_t kHelperSeconds = 20;
std::atomic<int> helperDeadlineMs{30000};
// Far above what 65,536 rows of holders take.
constexpr qsizetype kOutputLimit = 64 << 20;

QString folderOf(const char *file)
{
    return QFileInfo(QFile::decodeName(file)).absolutePath() + QLatin1Char('/');
}

// The helper: named by ZQ_XLS_READER, else next to the library holding this code (the
// plug-in, in the build's library folder or the package's private one), else in the folder
// of the project's data library, which a program holding this code itself links.
QString helperPath(QString &error)
{
    const QByteArray named = qgetenv("ZQ_XLS_READER");
    if (!named.isEmpty())
        return QFile::decodeName(named);
    QStringList folders;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&helperPath), &info) != 0 && info.dli_fname)
        folders << folderOf(info.dli_fname);
    if (void *data = dlopen("libzqdata.so", RTLD_LAZY | RTLD_NOLOAD)) {
        link_map *map = nullptr;
        if (dlinfo(data, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
            folders << folderOf(map->l_name);
        dlclose(data);
    }
    folders.removeDuplicates();
    for (const QString &folder : std::as_const(folders)) {
        const QString path = folder + QStringLiteral("zqxlsread");
        if (QFileInfo(path).isExecutable())
            return path;
    }
    error = QStringLiteral("the legacy workbook reader zqxlsread is missing (looked in %1)")
                .arg(folders.join(QStringLiteral(", ")));
    return QString();
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Runs in the child between fork and exec: only async-signal-safe calls.
void limitHelper()
{
    // A helper of a sanitizer build (built with this code) reserves terabytes of address
    // space for its shadow memory: only its processor time is limited then.
    if (!kSanitized) {
        const rlimit memory{kHelperMemory, kHelperMemory};
        setrlimit(RLIMIT_AS, &memory);
    }
    const rlimit cpu{kHelperSeconds, kHelperSeconds + 1};
    setrlimit(RLIMIT_CPU, &cpu);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    setrlimit(RLIMIT_FSIZE, &none);
}

// Reads the frames of the helper's answer, every length checked against what is left.
class FrameCursor
{
public:
    FrameCursor(const QByteArray &data, qsizetype at)
        : m_data(data)
        , m_at(at)
    {}
    bool has(qsizetype n) const { return n >= 0 && m_data.size() - m_at >= n; }
    quint8 byte() { return quint8(m_data.at(m_at++)); }
    quint16 u16()
    {
        const quint16 v = quint16(byte());
        return quint16(v | (quint16(byte()) << 8));
    }
    quint32 u32()
    {
        quint32 v = 0;
        for (int i = 0; i < 4; ++i)
            v |= quint32(byte()) << (8 * i);
        return v;
    }
    const char *take(qsizetype n)
    {
        const char *p = m_data.constData() + m_at;
        m_at += n;
        return p;
    }
    qsizetype at() const { return m_at; }

private:
    const QByteArray &m_data;
    qsizetype m_at;
};

class XlsSheet : public WorkbookReader::Sheet
{
public:
    bool open(const QString &path, QString &error) override
    {
        const QString helper = helperPath(error);
        if (helper.isEmpty())
            return false;
        QByteArray out;
        if (!run(helper, path, out, error))
            return false;
        return index(out, error);
    }

    bool rewind(QString &) override
    {
        m_next = 0;
        return true;
    }

    int progress() const override
    {
        return m_rows.isEmpty() ? 1000 : int(qint64(m_next) * 1000 / m_rows.size());
    }

    bool nextRow(int &row, QStringList &cells, QString &error) override
    {
        cells.clear();
        if (m_next >= m_rows.size())
            return false;
        FrameCursor in(m_data, m_rows.at(m_next++));
        in.byte();
        row = int(in.u32());
        const int count = in.u16();
        for (int i = 0; i < count; ++i) {
            const int column = in.u16();
            const char kind = char(in.byte());
            const qsizetype size = in.u32();
            const char *bytes = in.take(size);
            while (cells.size() <= column)
                cells.append(QString());
            cells[column] = cellText(kind, bytes, size);
        }
        return true;
    }

private:
    bool run(const QString &helper, const QString &path, QByteArray &out, QString &error)
    {
        QProcess process;
        process.setProgram(helper);
        process.setArguments({path});
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.setChildProcessModifier(&limitHelper);
        process.start(QIODevice::ReadOnly);
        if (!process.waitForStarted(10000)) {
            error = QStringLiteral("the legacy workbook reader %1 cannot be started: %2")
                        .arg(helper, process.errorString());
            return false;
        }
        const int deadline = helperDeadlineMs;
        QElapsedTimer clock;
        clock.start();
        const auto stop = [&](const QString &why) {
            process.kill();
            process.waitForFinished(5000);
            error = why;
            return false;
        };
        while (process.state() != QProcess::NotRunning) {
            const qint64 left = deadline - clock.elapsed();
            if (left <= 0)
                return stop(QStringLiteral("reading the legacy workbook took longer than %1 "
                                           "seconds and was stopped")
                                .arg(deadline / 1000.0));
            if (!process.waitForReadyRead(int(left)))
                process.waitForFinished(int(qMax<qint64>(1, qMin<qint64>(left, 100))));
            out += process.readAllStandardOutput();
            if (out.size() > kOutputLimit)
                return stop(QStringLiteral("the legacy workbook holds more than %1 MB of cells")
                                .arg(kOutputLimit >> 20));
        }
        out += process.readAllStandardOutput();
        if (process.exitStatus() == QProcess::CrashExit) {
            // On a crash the exit code is the signal that ended the helper.
            error = process.exitCode() == SIGXCPU || process.exitCode() == SIGKILL
                        ? QStringLiteral("reading the legacy workbook took too long and was "
                                         "stopped")
                        : QStringLiteral("the legacy workbook is damaged: its reader stopped "
                                         "on it (signal %1)")
                              .arg(process.exitCode());
            return false;
        }
        if (out.size() > kOutputLimit) {
            error = QStringLiteral("the legacy workbook holds more than %1 MB of cells")
                        .arg(kOutputLimit >> 20);
            return false;
        }
        return true;
    }

    // Checks every frame of the answer and notes where each row starts.
    bool index(const QByteArray &out, QString &error)
    {
        const QString garbled = QStringLiteral("the legacy workbook reader gave an answer that "
                                               "cannot be read");
        FrameCursor in(out, 0);
        qint64 lastRow = -1;
        for (;;) {
            if (!in.has(1)) {
                error = QStringLiteral("the legacy workbook reader stopped before the end of "
                                       "the sheet");
                return false;
            }
            const qsizetype start = in.at();
            const char tag = char(in.byte());
            if (tag == xls::kEnd)
                break;
            if (tag == xls::kError) {
                const qsizetype size = in.has(4) ? qsizetype(in.u32()) : -1;
                if (!in.has(size) || size > 4096) {
                    error = garbled;
                    return false;
                }
                const char *bytes = in.take(size);
                error = QString::fromUtf8(bytes, size);
                return false;
            }
            if (tag != xls::kRow || !in.has(6)) {
                error = garbled;
                return false;
            }
            const quint32 row = in.u32();
            const int count = in.u16();
            if (row >= xls::kMaxRows || qint64(row) <= lastRow || count == 0) {
                error = garbled;
                return false;
            }
            int lastColumn = -1;
            for (int i = 0; i < count; ++i) {
                if (!in.has(7)) {
                    error = garbled;
                    return false;
                }
                const int column = in.u16();
                const char kind = char(in.byte());
                const qsizetype size = in.u32();
                const bool known = (kind == xls::kNumber && size == 8)
                                   || ((kind == xls::kText || kind == xls::kDate) && size > 0);
                if (column >= int(xls::kMaxColumns) || column <= lastColumn || !known
                    || !in.has(size)) {
                    error = garbled;
                    return false;
                }
                const char *bytes = in.take(size);
                if (kind == xls::kText && QString::fromUtf8(bytes, size).size() > kCellChars) {
                    error = QStringLiteral("cell %1 of row %2 holds more than %L3 characters, "
                                           "more than a cell holds")
                                .arg(column + 1)
                                .arg(row + 1)
                                .arg(kCellChars);
                    return false;
                }
                lastColumn = column;
            }
            lastRow = row;
            m_rows.append(start);
        }
        m_data = out;
        return true;
    }

    QString cellText(char kind, const char *bytes, qsizetype size) const
    {
        if (kind == xls::kNumber) {
            double number = 0;
            std::memcpy(&number, bytes, sizeof number);
            return numberText(number);
        }
        const QString text = QString::fromUtf8(bytes, size);
        if (kind == xls::kDate) {
            const QDate day = QDate::fromString(text.left(10), Qt::ISODate);
            if (day.isValid())
                return QLocale::c().toString(day, dateFormat) + text.mid(10);
        }
        return text;
    }

    QByteArray m_data;
    QList<qsizetype> m_rows;
    qsizetype m_next = 0;
};

} // namespace

void WorkbookReader::setLegacyDeadline(int milliseconds)
{
    helperDeadlineMs = milliseconds;
}

std::unique_ptr<WorkbookReader::Sheet> makeXlsSheet()
{
    return std::make_unique<XlsSheet>();
}

} // namespace zq::platform
