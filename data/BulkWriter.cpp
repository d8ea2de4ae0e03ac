#include "BulkWriter.h"

#include "Backend.h"
#include "Connection.h"

#include <optional>

namespace zq::data {

namespace {

// Appends without QByteArray::append()'s general path, which costs more than the copy of a
// short value; the buffer keeps its capacity between batches.
inline void appendBytes(QByteArray &out, const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    const qsizetype at = out.size();
    if (out.capacity() < at + size)
        out.reserve(qMax<qsizetype>(2 * out.capacity(), at + size));
    out.resize(at + size);
    memcpy(out.data() + at, data, size_t(size));
}

// One value of COPY's text format: backslash, tab and line ends escaped; every other byte
// stands as it is (the connection's client encoding is UTF-8).
void appendCopyText(QByteArray &out, QByteArrayView utf8)
{
    const char *p = utf8.data();
    const char *end = p + utf8.size();
    const char *run = p;
    for (; p < end; ++p) {
        const char c = *p;
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r')
            continue;
        appendBytes(out, run, p - run);
        out.append('\\');
        out.append(c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\');
        run = p + 1;
    }
    appendBytes(out, run, end - run);
}

} // namespace

// The rows as they are collected, and the state of their writing; where they go is the
// connection's backend's business.
struct BulkWriter::Private
{
    Connection *connection = nullptr;
    BulkSpec spec;
    BulkRows pending;
    std::unique_ptr<BulkTarget> target;
    qsizetype written = 0;
    QString error;
    bool ended = false;
    // The rows sent and not yet answered; the outcome of an answer taken while the
    // connection closed.
    qsizetype sentRows = 0;
    std::optional<bool> answered;
    QMetaObject::Connection closing;

    void release()
    {
        if (!target)
            return;
        // The connection may not close with an answer outstanding, nor take another command.
        if (target->isWriting()) {
            QString lastError;
            answered = target->takeAnswer(lastError);
            if (!*answered)
                error = lastError;
        }
        target->release();
        target.reset();
    }
    void separate()
    {
        if (pending.copyText && pending.rowStarted)
            pending.bytes.append('\t');
        pending.rowStarted = true;
    }
};

BulkWriter::BulkWriter(Connection *connection,
                       const QString &table,
                       const QStringList &columns,
                       const QString &key)
    : d(std::make_unique<Private>())
{
    d->connection = connection;
    d->spec = BulkSpec{table, columns, key};
}

BulkWriter::~BulkWriter()
{
    QObject::disconnect(d->closing);
    d->release();
}

bool BulkWriter::prepare()
{
    QObject::disconnect(d->closing);
    d->release();
    d->error.clear();
    Connection *c = d->connection;
    if (!c || !c->isConnected()) {
        d->error = QStringLiteral("Not connected.");
        return false;
    }
    d->target = c->backend().bulkTarget(d->spec, d->error);
    if (!d->target)
        return false;
    // A statement left open would keep SQLite's file from closing.
    d->closing = QObject::connect(c, &Connection::closing, c, [p = d.get()] { p->release(); });
    clear();
    d->pending.copyText = d->target->copyText();
    d->pending.integersAsText = d->target->integersAsText();
    return true;
}

bool BulkWriter::isPrepared() const
{
    return d->target && d->target->isPrepared();
}

void BulkWriter::addText(QByteArrayView utf8)
{
    BulkRows &p = d->pending;
    d->separate();
    if (p.copyText) {
        appendCopyText(p.bytes, utf8);
    } else {
        p.values.push_back(BulkRows::Value{p.bytes.size(), utf8.size(), 0, false});
        appendBytes(p.bytes, utf8.data(), utf8.size());
    }
}

void BulkWriter::addNull()
{
    BulkRows &p = d->pending;
    d->separate();
    if (p.copyText)
        p.bytes.append("\\N", 2);
    else
        p.values.push_back(BulkRows::Value{});
}

void BulkWriter::addInteger(qint64 value)
{
    BulkRows &p = d->pending;
    if (p.copyText || p.integersAsText) {
        const QByteArray text = QByteArray::number(value);
        addText(text);
        return;
    }
    d->separate();
    p.values.push_back(BulkRows::Value{0, 0, value, true});
}

void BulkWriter::endRow()
{
    if (d->pending.copyText)
        d->pending.bytes.append('\n');
    d->pending.rowStarted = false;
    ++d->pending.rows;
}

qsizetype BulkWriter::pendingRows() const
{
    return d->pending.rows;
}

void BulkWriter::clear()
{
    d->pending.bytes.truncate(0); // keeps its memory for the next rows
    d->pending.values.clear();
    d->pending.rows = 0;
    d->pending.rowStarted = false;
}

bool BulkWriter::write()
{
    return send() && finishWrite();
}

bool BulkWriter::send()
{
    finishWrite();
    d->written = 0;
    d->error.clear();
    d->ended = false;
    bool ok = true;
    if (d->pending.rows > 0) {
        if (d->target) {
            ok = d->target->send(d->pending, d->written, d->error, d->ended);
            if (ok && d->target->isWriting())
                d->sentRows = d->pending.rows;
        } else {
            d->error = QStringLiteral("Not connected.");
            ok = false;
        }
    }
    clear();
    return ok;
}

bool BulkWriter::isWriting() const
{
    return (d->target && d->target->isWriting()) || d->answered.has_value();
}

bool BulkWriter::finishWrite()
{
    bool ok = true;
    if (d->answered) {
        ok = *d->answered;
        d->answered.reset();
    } else if (d->target && d->target->isWriting()) {
        ok = d->target->takeAnswer(d->error);
    } else {
        return true;
    }
    if (ok)
        d->written = d->sentRows;
    d->sentRows = 0;
    return ok;
}

qsizetype BulkWriter::writtenRows() const
{
    return d->written;
}

QString BulkWriter::errorText() const
{
    return d->error;
}

bool BulkWriter::transactionEnded() const
{
    return d->ended;
}

} // namespace zq::data
