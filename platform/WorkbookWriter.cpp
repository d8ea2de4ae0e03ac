#include "WorkbookWriter.h"

#include "WorkbookSheet.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

namespace zq::platform {

struct WorkbookWriter::State
{
    QTemporaryDir dir;
    QByteArray tmpdir;
    QByteArray file;
    lxw_workbook *workbook = nullptr;
    lxw_worksheet *sheet = nullptr;
    lxw_worksheet *selected = nullptr;
    int lastRow = 0;

    // The library frees a workbook only by writing it; an unsaved one is written into the
    // temporary folder, which goes with it.
    ~State()
    {
        if (workbook)
            workbook_close(workbook);
    }
};

WorkbookWriter::WorkbookWriter() = default;

WorkbookWriter::~WorkbookWriter() = default;

bool WorkbookWriter::create()
{
    close();
    m_error.clear();
    auto state = std::make_unique<State>();
    if (!state->dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the workbook: ")
                  + state->dir.errorString();
        return false;
    }
    state->tmpdir = QFile::encodeName(state->dir.path());
    state->file = QFile::encodeName(state->dir.filePath(QStringLiteral("book.xlsx")));
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = state->tmpdir.data();
    options.use_zip64 = LXW_TRUE;
    state->workbook = workbook_new_opt(state->file.constData(), &options);
    if (!state->workbook) {
        m_error = QStringLiteral("the workbook cannot be created");
        return false;
    }
    state->sheet = workbook_add_worksheet(state->workbook, nullptr);
    if (!state->sheet) {
        m_error = QStringLiteral("the worksheet cannot be created");
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool WorkbookWriter::selectFirstSheet()
{
    if (!m_state) {
        m_error = QStringLiteral("no workbook");
        return false;
    }
    m_state->selected = m_state->sheet;
    return true;
}

bool WorkbookWriter::setCell(const QString &address, const QString &text)
{
    const QByteArray name = address.trimmed().toUpper().toLatin1();
    qsizetype letters = 0;
    while (letters < name.size() && name.at(letters) >= 'A' && name.at(letters) <= 'Z')
        ++letters;
    bool ok = letters > 0 && letters <= 3 && letters < name.size();
    const long long rowNumber = ok ? name.mid(letters).toLongLong(&ok) : 0;
    if (!ok || rowNumber < 1 || rowNumber > LXW_ROW_MAX) {
        m_error = QStringLiteral("invalid cell address %1").arg(address);
        return false;
    }
    return setCell(
        int(lxw_name_to_row(name.constData())), int(lxw_name_to_col(name.constData())), text);
}

bool WorkbookWriter::setCell(int row, int column, const QString &text)
{
    // The library escapes control characters but writes a text that reads like an escape,
    // a NUL (which ends its C string) and U+FFFF as they are: the reader would change the
    // first, lose the rest of the second and fail on the third.
    return write(row, column, escapedText(text).toUtf8());
}

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether escapedText() would change the text of these bytes: a control character but tab
// and line feed, U+FFFE or U+FFFF (EF BF BE, EF BF BF), or an underscore that starts what
// reads like an escape ("_xHHHH_").
bool needsEscape(QByteArrayView utf8)
{
    const char *p = utf8.data();
    const qsizetype n = utf8.size();
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = uchar(p[i]);
        if (c >= 0x20 && c != '_' && c != 0xEF)
            continue;
        if (c < 0x20 && c != '\t' && c != '\n')
            return true;
        if (c == '_' && i + 6 < n && p[i + 1] == 'x' && isHexDigit(p[i + 2]) && isHexDigit(p[i + 3])
            && isHexDigit(p[i + 4]) && isHexDigit(p[i + 5]) && p[i + 6] == '_')
            return true;
        if (c == 0xEF && i + 2 < n && uchar(p[i + 1]) == 0xBF
            && (uchar(p[i + 2]) == 0xBE || uchar(p[i + 2]) == 0xBF))
            return true;
    }
    return false;
}

} // namespace

bool WorkbookWriter::setCellUtf8(int row, int column, QByteArrayView utf8)
{
    if (needsEscape(utf8))
        return setCell(row, column, QString::fromUtf8(utf8));
    return write(row, column, utf8);
}

bool WorkbookWriter::write(int row, int column, QByteArrayView utf8)
{
    if (!m_state || !m_state->selected) {
        m_error = QStringLiteral("no worksheet selected");
        return false;
    }
    if (row < m_state->lastRow) {
        m_error = QStringLiteral("row %1 comes after row %2")
                      .arg(row + 1)
                      .arg(m_state->lastRow + 1);
        return false;
    }
    const lxw_error result = utf8.isEmpty() ? LXW_NO_ERROR
                                            : worksheet_write_string(m_state->selected,
                                                                     lxw_row_t(row),
                                                                     lxw_col_t(column),
                                                                     utf8.data(),
                                                                     nullptr);
    if (result != LXW_NO_ERROR) {
        m_error = QString::fromUtf8(lxw_strerror(result));
        return false;
    }
    m_state->lastRow = row;
    return true;
}

bool WorkbookWriter::saveAs(const QString &path)
{
    if (!m_state) {
        m_error = QStringLiteral("no workbook");
        return false;
    }
    lxw_workbook *workbook = m_state->workbook;
    m_state->workbook = nullptr;
    const lxw_error result = workbook_close(workbook);
    if (result != LXW_NO_ERROR) {
        m_error = QString::fromUtf8(lxw_strerror(result));
        m_state.reset();
        return false;
    }
    QFile written(QFile::decodeName(m_state->file));
    QSaveFile target(path);
    const bool replaces = QFileInfo::exists(path);
    if (!written.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly)) {
        m_error = written.isOpen() ? target.errorString() : written.errorString();
        m_state.reset();
        return false;
    }
    // A workbook of holders carries PINs: a new one is its owner's alone, a replaced one
    // keeps its mode.
    if (!replaces)
        target.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    bool ok = true;
    while (ok && !written.atEnd()) {
        const QByteArray chunk = written.read(1 << 20);
        ok = !chunk.isEmpty() && target.write(chunk) == chunk.size();
    }
    if (!ok || !target.commit()) {
        m_error = target.errorString();
        target.cancelWriting();
        m_state.reset();
        return false;
    }
    m_state.reset();
    return true;
}

void WorkbookWriter::close()
{
    m_state.reset();
}

} // namespace zq::platform
