#pragma once

// The parts of an Office Open XML archive as the workbook reader takes them in: located and
// judged by their sizes before anything is unpacked, and the large ones (the sheet, the
// shared strings) parsed by expat, whose events are handed on as they come.
#include <QByteArrayView>
#include <QString>
#include <QXmlStreamReader>

#include <expat.h>
#include <unzip.h>

namespace zq::platform {

// Bytes the parser may take in without an element starting or ending: a cell of kCellChars
// characters, each written as a character reference, stays far below.
constexpr qint64 kTokenLimit = 1LL << 20;
constexpr int kChunk = 64 * 1024;

// Makes `name` the archive's current part, open for unpacking, once its unpacked size
// (`size`) is within `limit` and its compression ratio is believable. False with `error`
// set otherwise; `missing` tells a part that is not there apart.
bool openZipPart(
    unzFile zip, const QString &name, qint64 limit, qint64 &size, QString &error, bool *missing);

// What a part's parser finds, in document order. A starting element's name is its local
// name, without its namespace; an ending one's is as the parser gives it (see
// ExpatPart::localName), for the handlers that need it only. Texts are UTF-8, a text node
// in as many pieces as the parser likes.
class XmlEvents
{
public:
    virtual ~XmlEvents() = default;
    virtual void startElement(QByteArrayView name, const char **attributes) = 0;
    virtual void endElement(const char *name) = 0;
    virtual void characters(QByteArrayView text) = 0;
};

// One part parsed as it is unpacked, a chunk at a time. A handler may pause the parse
// (parse() returns after the event) or fail it with a reason. Document type declarations
// are refused before anything in them is read, so no entity is defined, expanded or
// fetched; memory stays bounded by the chunk and kTokenLimit.
class ExpatPart
{
public:
    enum class Result { Paused, Ended, Failed };

    ExpatPart(unzFile zip, qint64 limit);
    ~ExpatPart();
    ExpatPart(const ExpatPart &) = delete;
    ExpatPart &operator=(const ExpatPart &) = delete;

    bool open(const QString &name, XmlEvents *events, QString &error, bool *missing = nullptr);
    // Parses on until a handler pauses, the document ends or the part fails.
    Result parse();
    // From a handler.
    void pause();
    void fail(const QString &reason);

    bool failed() const { return !m_error.isEmpty(); }
    QString errorText() const { return m_error; }
    int progress() const;

    // The local name of an element's name as the parser gives it.
    static QByteArrayView localName(const char *name);

private:
    static void XMLCALL onStart(void *self, const XML_Char *name, const XML_Char **attributes);
    static void XMLCALL onEnd(void *self, const XML_Char *name);
    static void XMLCALL onText(void *self, const XML_Char *text, int length);
    static void XMLCALL onDoctype(void *self,
                                  const XML_Char *name,
                                  const XML_Char *systemId,
                                  const XML_Char *publicId,
                                  int hasInternalSubset);
    void expatError();
    void closePart();

    unzFile m_zip;
    qint64 m_limit;
    XML_Parser m_parser = nullptr;
    XmlEvents *m_events = nullptr;
    QString m_name;
    QString m_error;
    qint64 m_size = 0;
    qint64 m_read = 0;
    qint64 m_fed = 0; // since an element last started or ended
    bool m_final = false;
    bool m_suspended = false;
    bool m_open = false;
};

namespace xlsx {

// One part of the archive as a stream of XML tokens.
class XmlPart
{
public:
    XmlPart(unzFile zip, qint64 limit)
        : m_zip(zip)
        , m_limit(limit)
    {}
    ~XmlPart() { closePart(); }

    /// False with `error` set when the part is missing, cannot be unpacked or would unpack
    /// beyond its bounds; `missing` tells the first case apart.
    bool open(const QString &name, QString &error, bool *missing = nullptr)
    {
        closePart();
        m_xml.clear();
        m_read = 0;
        m_fed = 0;
        m_end = false;
        m_done = false;
        m_error.clear();
        m_name = name;
        if (!openZipPart(m_zip, name, m_limit, m_size, error, missing))
            return false;
        m_open = true;
        return true;
    }

    /// The next token; Invalid at a damaged, oversized, truncated or refused part
    /// (`failed()`), or after the end of the document.
    QXmlStreamReader::TokenType next()
    {
        if (m_done)
            return QXmlStreamReader::Invalid;
        for (;;) {
            const QXmlStreamReader::TokenType t = m_xml.readNext();
            if (t == QXmlStreamReader::DTD) {
                m_error = QStringLiteral("%1 holds a document type declaration, which no "
                                         "workbook has; it is not read")
                              .arg(m_name);
                return QXmlStreamReader::Invalid;
            }
            if (t != QXmlStreamReader::Invalid) {
                m_fed = 0;
                m_done = t == QXmlStreamReader::EndDocument;
                return t;
            }
            if (m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError || m_end
                || !m_error.isEmpty())
                return t;
            feed();
        }
    }

    bool failed() const
    {
        return !m_error.isEmpty()
               || (m_xml.hasError() && m_xml.error() != QXmlStreamReader::NoError);
    }
    QString errorText() const
    {
        if (!m_error.isEmpty())
            return m_error;
        if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
            return QStringLiteral("%1 ends in the middle").arg(m_name);
        return QStringLiteral("%1: %2 (line %3)")
            .arg(m_name, m_xml.errorString())
            .arg(m_xml.lineNumber());
    }
    /// Marks the part as failed with a reason of the caller's.
    void fail(const QString &reason) { m_error = QStringLiteral("%1: %2").arg(m_name, reason); }

    QXmlStreamReader &xml() { return m_xml; }
    int progress() const
    {
        return m_size > 0 ? int(qMin<qint64>(1000, m_read * 1000 / m_size)) : 0;
    }

private:
    void feed()
    {
        if (m_fed > kTokenLimit) {
            m_error = QStringLiteral("%1 holds an element or text of more than %2 MB")
                          .arg(m_name)
                          .arg(kTokenLimit >> 20);
            return;
        }
        QByteArray chunk(kChunk, Qt::Uninitialized);
        const int n = unzReadCurrentFile(m_zip, chunk.data(), unsigned(chunk.size()));
        if (n < 0) {
            m_error = QStringLiteral("%1 is damaged (unpack error %2)").arg(m_name).arg(n);
            return;
        }
        if (n == 0) {
            m_end = true;
            m_open = false;
            if (unzCloseCurrentFile(m_zip) == UNZ_CRCERROR)
                m_error = QStringLiteral("%1 is damaged (its checksum does not match)").arg(m_name);
            return;
        }
        m_read += n;
        m_fed += n;
        if (m_read > m_limit) {
            m_error = QStringLiteral("%1 unpacks to more than %2 MB")
                          .arg(m_name)
                          .arg(m_limit >> 20);
            return;
        }
        chunk.truncate(n);
        m_xml.addData(chunk);
    }

    void closePart()
    {
        if (m_open)
            unzCloseCurrentFile(m_zip);
        m_open = false;
    }

    unzFile m_zip;
    qint64 m_limit;
    QXmlStreamReader m_xml;
    QString m_name;
    QString m_error;
    qint64 m_size = 0;
    qint64 m_read = 0;
    qint64 m_fed = 0;    // since the last token
    bool m_end = false;  // of the unpacked bytes
    bool m_done = false; // past the end of the document
    bool m_open = false;
};

} // namespace xlsx

} // namespace zq::platform
