#pragma once
// The shared strings of a workbook and the text of its elements, as the sheet reader takes
// them in: bounded in memory and in the characters of each cell.
#include "WorkbookSheet.h"
#include "XlsxPart.h"

#include <QString>

#include <string>
#include <vector>

namespace zq::platform::xlsx {

// What the shared strings may fill: characters (two bytes each) and one offset per string,
// and how many there may be (100,000 holders of thirteen different texts make 1.3 million).
constexpr qint64 kSharedStringsMemory = 64LL << 20;
constexpr size_t kSharedStringsCount = 4u << 20;
// Characters of one cell before its escapes are undone ("_x000D_" stands for one).
constexpr qsizetype kRawCellChars = qsizetype(kCellChars) * 7 + 7;

/// Why a text is refused: longer than a cell holds.
QString tooLong();
/// UTF-16 code units of UTF-8 text: one per character, two beyond the basic plane.
qsizetype utf16Length(QByteArrayView text);

// The shared strings in one block of characters: a table of a million short strings costs
// their characters and an offset each, not an object each.
class StringTable
{
public:
    bool append(const QString &text)
    {
        if (memory() + text.size() * 2 + qint64(sizeof(quint32)) > kSharedStringsMemory)
            return false;
        m_text += text;
        m_ends.push_back(quint32(m_text.size()));
        return true;
    }
    QString at(qsizetype i) const
    {
        if (i < 0 || i >= qsizetype(m_ends.size()))
            return QString();
        const qsizetype start = i == 0 ? 0 : qsizetype(m_ends[size_t(i - 1)]);
        return m_text.mid(start, qsizetype(m_ends[size_t(i)]) - start);
    }
    size_t size() const { return m_ends.size(); }
    void squeeze() { m_text.squeeze(); }

private:
    qint64 memory() const
    {
        return qint64(m_text.size()) * 2 + qint64(m_ends.size() * sizeof(quint32));
    }
    QString m_text;
    std::vector<quint32> m_ends; // the budget keeps the characters below 2^32
};

// The text of one element as it is parsed, its children's included; left out are phonetic
// runs, whose text is not the cell's. Its length is judged at the end of each text node, as
// a cell's whole text may not be longer than kRawCellChars.
class ElementText
{
public:
    enum class Step { Going, Done, TooLong };

    void begin()
    {
        m_bytes.clear();
        m_depth = 1;
        m_skip = 0;
        m_units = 0;
        m_node = 0;
    }
    Step start(QByteArrayView name)
    {
        if (!endNode())
            return Step::TooLong;
        ++m_depth;
        if (m_skip > 0 || name == "rPh")
            ++m_skip;
        return Step::Going;
    }
    Step end()
    {
        if (!endNode())
            return Step::TooLong;
        --m_depth;
        if (m_skip > 0)
            --m_skip;
        return m_depth == 0 ? Step::Done : Step::Going;
    }
    void characters(QByteArrayView text)
    {
        if (m_skip > 0)
            return;
        m_bytes.append(text.data(), size_t(text.size()));
        m_node += utf16Length(text);
    }
    /// The text once Done, its escapes undone; false when it is longer than a cell holds.
    bool take(QString &text) const
    {
        text = QString::fromUtf8(m_bytes.data(), qsizetype(m_bytes.size()));
        if (text.contains(QLatin1String("_x")))
            text = unescapedText(text);
        return text.size() <= kCellChars;
    }

private:
    bool endNode()
    {
        m_units += m_node;
        m_node = 0;
        return m_units <= kRawCellChars;
    }

    std::string m_bytes;
    int m_depth = 0;
    int m_skip = 0;
    qsizetype m_units = 0; // of the text nodes ended
    qsizetype m_node = 0;  // of the text node going on
};

// The shared strings part into the table, item by item: the texts of an item's runs joined.
class SharedStrings : public XmlEvents
{
public:
    SharedStrings(ExpatPart &part, StringTable &table)
        : m_part(part)
        , m_table(table)
    {}

    void startElement(QByteArrayView name, const char **) override
    {
        if (m_part.failed())
            return;
        if (m_inText) {
            if (m_text.start(name) == ElementText::Step::TooLong)
                m_part.fail(tooLong());
        } else if (name == "si") {
            m_inItem = true;
            m_current.clear();
        } else if (name == "rPh" || m_skip > 0) {
            ++m_skip;
        } else if (m_inItem && name == "t") {
            m_text.begin();
            m_inText = true;
        }
    }

    void endElement(const char *name) override
    {
        if (m_part.failed())
            return;
        if (m_inText) {
            const ElementText::Step step = m_text.end();
            if (step == ElementText::Step::TooLong)
                return m_part.fail(tooLong());
            if (step == ElementText::Step::Going)
                return;
            m_inText = false;
            QString piece;
            if (!m_text.take(piece))
                return m_part.fail(tooLong());
            m_current += piece;
            if (m_current.size() > kCellChars)
                m_part.fail(QStringLiteral("a shared string of more than %L1 characters, more "
                                           "than a cell holds")
                                .arg(kCellChars));
        } else if (m_skip > 0) {
            --m_skip;
        } else if (ExpatPart::localName(name) == "si") {
            if (m_table.size() >= kSharedStringsCount)
                return m_part.fail(QStringLiteral("there are more than %L1 shared strings")
                                       .arg(qulonglong(kSharedStringsCount)));
            if (!m_table.append(m_current))
                return m_part.fail(QStringLiteral("the shared strings fill more than %1 MB")
                                       .arg(kSharedStringsMemory >> 20));
            m_inItem = false;
        }
    }

    void characters(QByteArrayView text) override
    {
        if (m_inText)
            m_text.characters(text);
    }

private:
    ExpatPart &m_part;
    StringTable &m_table;
    ElementText m_text;
    QString m_current;
    bool m_inItem = false;
    bool m_inText = false;
    int m_skip = 0; // inside phonetic runs, whose text is not the cell's
};

} // namespace zq::platform::xlsx
