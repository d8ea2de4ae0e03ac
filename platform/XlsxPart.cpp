#include "XlsxPart.h"

#include <cstring>

namespace zq::platform {

namespace {

// Sheets compress about ten to one; a part that claims a thousand to one is a zip bomb.
constexpr qint64 kRatioCheckFrom = 16LL << 20;
constexpr qint64 kMaxRatio = 200;
// Expat's names are "namespace<separator>local name".
constexpr XML_Char kNamespaceSeparator = '\x01';

} // namespace

bool openZipPart(
    unzFile zip, const QString &name, qint64 limit, qint64 &size, QString &error, bool *missing)
{
    if (missing)
        *missing = false;
    const QByteArray n = name.toUtf8();
    if (unzLocateFile(zip, n.constData(), 2) != UNZ_OK) {
        if (missing)
            *missing = true;
        error = QStringLiteral("the workbook has no part %1").arg(name);
        return false;
    }
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        error = QStringLiteral("the part %1 cannot be unpacked").arg(name);
        return false;
    }
    // The archive's directory gives the unpacked size, and the unpacking stops there: a
    // part can be judged before any of it is unpacked.
    size = qint64(info.uncompressed_size);
    if (size > limit || size < 0) {
        error = QStringLiteral("the part %1 unpacks to %2 MB, more than the %3 MB a "
                               "workbook part may have")
                    .arg(name)
                    .arg(size >> 20)
                    .arg(limit >> 20);
        return false;
    }
    if (size >= kRatioCheckFrom && info.compression_method != 0
        && size / qMax<qint64>(1, qint64(info.compressed_size)) > kMaxRatio) {
        error = QStringLiteral("the part %1 unpacks from %2 KB to %3 MB: no workbook "
                               "compresses that much (a zip bomb)")
                    .arg(name)
                    .arg(qint64(info.compressed_size) >> 10)
                    .arg(size >> 20);
        return false;
    }
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        error = QStringLiteral("the part %1 cannot be unpacked").arg(name);
        return false;
    }
    return true;
}

ExpatPart::ExpatPart(unzFile zip, qint64 limit)
    : m_zip(zip)
    , m_limit(limit)
{}

ExpatPart::~ExpatPart()
{
    closePart();
    if (m_parser)
        XML_ParserFree(m_parser);
}

bool ExpatPart::open(const QString &name, XmlEvents *events, QString &error, bool *missing)
{
    closePart();
    if (m_parser)
        XML_ParserFree(m_parser);
    m_parser = nullptr;
    m_events = events;
    m_name = name;
    m_error.clear();
    m_read = 0;
    m_fed = 0;
    m_final = false;
    m_suspended = false;
    if (!openZipPart(m_zip, name, m_limit, m_size, error, missing))
        return false;
    m_open = true;
    // The encoding is the part's own (its byte-order mark or declaration).
    m_parser = XML_ParserCreateNS(nullptr, kNamespaceSeparator);
    if (!m_parser) {
        error = QStringLiteral("the part %1 cannot be read (out of memory)").arg(name);
        return false;
    }
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &ExpatPart::onStart, &ExpatPart::onEnd);
    XML_SetCharacterDataHandler(m_parser, &ExpatPart::onText);
    XML_SetStartDoctypeDeclHandler(m_parser, &ExpatPart::onDoctype);
    return true;
}

ExpatPart::Result ExpatPart::parse()
{
    if (!m_parser || failed())
        return Result::Failed;
    for (;;) {
        XML_Status status;
        if (m_suspended) {
            m_suspended = false;
            status = XML_ResumeParser(m_parser);
        } else {
            if (m_final)
                return Result::Ended;
            if (m_fed > kTokenLimit) {
                m_error = QStringLiteral("%1 holds an element or text of more than %2 MB")
                              .arg(m_name)
                              .arg(kTokenLimit >> 20);
                return Result::Failed;
            }
            void *buffer = XML_GetBuffer(m_parser, kChunk);
            if (!buffer) {
                m_error = QStringLiteral("%1 cannot be read (out of memory)").arg(m_name);
                return Result::Failed;
            }
            const int n = unzReadCurrentFile(m_zip, buffer, unsigned(kChunk));
            if (n < 0) {
                m_error = QStringLiteral("%1 is damaged (unpack error %2)").arg(m_name).arg(n);
                return Result::Failed;
            }
            if (n == 0) {
                m_final = true;
                m_open = false;
                if (unzCloseCurrentFile(m_zip) == UNZ_CRCERROR) {
                    m_error = QStringLiteral("%1 is damaged (its checksum does not match)")
                                  .arg(m_name);
                    return Result::Failed;
                }
            }
            m_read += n;
            m_fed += n;
            if (m_read > m_limit) {
                m_error = QStringLiteral("%1 unpacks to more than %2 MB")
                              .arg(m_name)
                              .arg(m_limit >> 20);
                return Result::Failed;
            }
            status = XML_ParseBuffer(m_parser, n, n == 0);
        }
        if (status == XML_STATUS_SUSPENDED) {
            m_suspended = true;
            return Result::Paused;
        }
        if (status == XML_STATUS_ERROR) {
            if (!failed())
                expatError();
            return Result::Failed;
        }
        if (failed())
            return Result::Failed;
        if (m_final)
            return Result::Ended;
    }
}

void ExpatPart::pause()
{
    XML_ParsingStatus status;
    XML_GetParsingStatus(m_parser, &status);
    if (status.parsing == XML_PARSING)
        XML_StopParser(m_parser, XML_TRUE);
}

void ExpatPart::fail(const QString &reason)
{
    if (!failed())
        m_error = QStringLiteral("%1: %2").arg(m_name, reason);
    XML_ParsingStatus status;
    XML_GetParsingStatus(m_parser, &status);
    if (status.parsing == XML_PARSING || status.parsing == XML_SUSPENDED)
        XML_StopParser(m_parser, XML_FALSE);
}

int ExpatPart::progress() const
{
    return m_size > 0 ? int(qMin<qint64>(1000, m_read * 1000 / m_size)) : 0;
}

QByteArrayView ExpatPart::localName(const char *name)
{
    const char *local = std::strrchr(name, kNamespaceSeparator);
    return QByteArrayView(local ? local + 1 : name);
}

void ExpatPart::onStart(void *self, const XML_Char *name, const XML_Char **attributes)
{
    auto *part = static_cast<ExpatPart *>(self);
    part->m_fed = 0;
    part->m_events->startElement(localName(name), attributes);
}

void ExpatPart::onEnd(void *self, const XML_Char *name)
{
    auto *part = static_cast<ExpatPart *>(self);
    part->m_fed = 0;
    part->m_events->endElement(name);
}

void ExpatPart::onText(void *self, const XML_Char *text, int length)
{
    static_cast<ExpatPart *>(self)->m_events->characters(QByteArrayView(text, length));
}

void ExpatPart::onDoctype(void *self, const XML_Char *, const XML_Char *, const XML_Char *, int)
{
    auto *part = static_cast<ExpatPart *>(self);
    part->m_error = QStringLiteral("%1 holds a document type declaration, which no workbook "
                                   "has; it is not read")
                        .arg(part->m_name);
    XML_StopParser(part->m_parser, XML_FALSE);
}

void ExpatPart::expatError()
{
    const XML_Error code = XML_GetErrorCode(m_parser);
    if (code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN
        || code == XML_ERROR_PARTIAL_CHAR || code == XML_ERROR_UNCLOSED_CDATA_SECTION) {
        m_error = QStringLiteral("%1 ends in the middle").arg(m_name);
        return;
    }
    m_error = QStringLiteral("%1: %2 (line %3)")
                  .arg(m_name, QString::fromUtf8(XML_ErrorString(code)))
                  .arg(qulonglong(XML_GetCurrentLineNumber(m_parser)));
}

void ExpatPart::closePart()
{
    if (m_open)
        unzCloseCurrentFile(m_zip);
    m_open = false;
}

} // namespace zq::platform
