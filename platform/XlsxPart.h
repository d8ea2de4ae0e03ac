#pragma once

// The parts of an Office Open XML archive as the workbook reader takes them in: located and
// judged by their sizes before anything is unpacked, and the large ones (the sheet, the
// shared strings) parsed by expat, whose events are handed on as they come.
#include <QByteArrayView>
#include <QString>

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

} // namespace zq::platform
