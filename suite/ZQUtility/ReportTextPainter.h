#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QRawFont>
#include <QString>

#include <vector>

class QPainter;
class QPaintDevice;
class QRectF;

namespace zq::suite {

/// One line of text in a box of a report page, in one of the report's fonts: cut short with
/// an ellipsis when it is wider than the box, placed across and up and down the box as its
/// alignment says, exactly where QPainter's aligned drawing of the cut text puts it.
///
/// Most texts of a report are drawn without laying them out as a paragraph: a text whose
/// width is known for sure goes straight to its baseline, a text that comes back (column
/// captions, titles, dates, department lines) is shaped once and its glyphs drawn again, and
/// a text met once whose characters and pairs of neighbours shape as the font's own glyphs
/// side by side is drawn from those, shaped once each, rather than shaped whole.
class ReportTextPainter
{
public:
    /// With `exactLayout` a text is drawn from its string alone: straight at its baseline
    /// when its characters' advances leave a tenth of a left-aligned box free, else by
    /// QPainter's aligned drawing of the cut text (the reference the quick placement is
    /// compared with).
    ReportTextPainter(QPainter *painter,
                      const QPaintDevice *device,
                      const QList<QFont> &fonts,
                      bool exactLayout = false);

    const QFontMetricsF &metrics(int font) const { return m_fonts[font].metrics; }

    /// Draws `text` in `area` (device pixels) in font `font`. `align` holds the horizontal
    /// and vertical alignment; without `elide` a text too wide is drawn whole (and clipped
    /// by the box, as QPainter does).
    void draw(const QRectF &area,
              const QString &text,
              int font,
              Qt::Alignment align,
              const QColor &color,
              bool elide = true);

    /// The painter's font or pen was set elsewhere.
    void forgetPainterState();
    /// The painter's pen was set elsewhere.
    void forgetPen() { m_pen = QColor(); }

private:
    // What the characters of a text tell without shaping it.
    struct Look
    {
        bool plain = false;    // no control or format character, surrogate or mark
        bool primary = false;  // every character drawn in the first font of the list
        bool separate = false; // primary, and every pair of neighbours drawn as two glyphs
        double advances = 0;   // sum of the characters' own advances
        double estimate = 0;   // the same with the kerning of each pair of neighbours
    };
    struct Glyphs
    {
        Look look;
        QList<QGlyphRun> runs;
        double width = 0;  // the line's advance
        double ascent = 0; // of the line's tallest font
    };
    // A character's own advance and whether the first font has it.
    struct Char
    {
        double advance = -1;
        bool primary = false;
    };
    // How a character or a pair of neighbours comes out of shaping: as the font's own glyph
    // (or glyphs) side by side, the pair's first glyph with its kerned advance; or otherwise
    // (a ligature, a glyph of another font, a glyph moved up or down).
    struct Shape
    {
        qint8 known = 0; // 0 not shaped yet, 1 side by side, -1 otherwise
        quint32 glyph = 0;
        float advance = 0;
    };
    static constexpr int kQuickChars = 0x800; // looked up by index rather than hashed
    static constexpr int kQuickPairs = 0x80;
    static constexpr int kSeenSlots = 1 << 14;
    struct Font
    {
        QFont font;
        QFontMetricsF metrics;
        QRawFont primary;
        std::vector<Char> quickChars;
        QHash<char16_t, Char> chars;
        std::vector<float> quickPairs;
        QHash<quint32, double> kerning;
        QHash<QString, Glyphs> shaped;
        // The hashes of texts met once, by slot: a text whose slot holds its hash is met
        // again (or, rarely, shares a hash with one that was; then it is shaped early).
        std::vector<size_t> seen;
        // Characters and pairs as shaping gives them, for texts met once.
        std::vector<Shape> quickShapes;
        std::vector<Shape> quickPairShapes;
        QHash<quint32, Shape> shapes;
        QRawFont shapedFont; // the font of the glyphs shaping gives
        double shapedAscent = -1;
        Glyphs scratch;
    };

    Look look(Font &f, const QString &text) const;
    const Char &character(Font &f, QChar c) const;
    double kerning(Font &f, char16_t left, char16_t right) const;
    QString surelyCut(Font &f, const QString &text, double room) const;
    QString cutFromShapes(Font &f, const QString &text, double room) const;
    bool cutSurelyFits(Font &f, const QString &text, const QString &cut, double room) const;
    const Glyphs *shapedAgain(Font &f, const QString &text, const Look &look);
    Shape shape(Font &f, char16_t left, char16_t right) const;
    const Glyphs *sideBySide(Font &f, const QString &text) const;
    void use(int font, const QColor &color);
    void atBaseline(Font &f, const Glyphs *shaped, const QString &text, double x, double baseline);
    void laidOut(const QRectF &area, const QString &text, Font &f, Qt::Alignment align, bool elide);

    QPainter *m_painter;
    const QPaintDevice *m_device;
    bool m_exact;
    std::vector<Font> m_fonts;
    int m_font = -1;
    QColor m_pen;
};

} // namespace zq::suite
