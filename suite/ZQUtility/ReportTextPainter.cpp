#include "ReportTextPainter.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace zq::suite {

namespace {

// Shaped texts kept per font, and texts remembered as seen once: a text is shaped for
// keeping when it comes the second time, so that names and numbers met once cost no more.
constexpr qsizetype kShapedTexts = 2048;
// How far the estimate from advances and pair kerning may be trusted either side of the box
// width; nearer than this the text is measured.
constexpr double kEstimateMargin = 0.01;

// Characters whose drawn width is not their own advance: controls (tabs among them), halves
// of surrogate pairs, marks that combine with their neighbour, and format characters (the
// soft hyphen, joiners, direction marks), which shaping draws with no width or not at all.
bool controlOrMark(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || c.isSurrogate() || c.isMark()
           || c.category() == QChar::Other_Format;
}

// The widths compared as the aligned drawing compares them, in 1/64 pixel.
bool fitsIn(double width, double room)
{
    return std::llround(width * 64) <= qint64(room * 64);
}

} // namespace

ReportTextPainter::ReportTextPainter(QPainter *painter,
                                     const QPaintDevice *device,
                                     const QList<QFont> &fonts,
                                     bool exactLayout)
    : m_painter(painter)
    , m_device(device)
    , m_exact(exactLayout)
{
    m_fonts.reserve(fonts.size());
    for (const QFont &font : fonts) {
        const QFont onDevice(font, device);
        Font f{font, QFontMetricsF(font, device), QRawFont::fromFont(onDevice)};
        f.quickChars.resize(kQuickChars);
        f.quickPairs.assign(kQuickPairs * kQuickPairs, std::nanf(""));
        f.seen.assign(kSeenSlots, 0);
        m_fonts.push_back(std::move(f));
    }
}

void ReportTextPainter::forgetPainterState()
{
    m_font = -1;
    m_pen = QColor();
}

void ReportTextPainter::use(int font, const QColor &color)
{
    if (m_font != font) {
        m_painter->setFont(m_fonts[font].font);
        m_font = font;
    }
    if (m_pen != color) {
        m_painter->setPen(color);
        m_pen = color;
    }
}

const ReportTextPainter::Char &ReportTextPainter::character(Font &f, QChar c) const
{
    const char16_t u = c.unicode();
    Char *known = u < kQuickChars ? &f.quickChars[u] : nullptr;
    if (!known) {
        auto found = f.chars.find(u);
        if (found == f.chars.end())
            found = f.chars.insert(u, Char());
        known = &*found;
    }
    if (known->advance < 0) {
        known->advance = f.metrics.horizontalAdvance(c);
        known->primary = f.primary.supportsCharacter(c);
    }
    return *known;
}

double ReportTextPainter::kerning(Font &f, char16_t left, char16_t right) const
{
    float *quick = left < kQuickPairs && right < kQuickPairs
                       ? &f.quickPairs[left * kQuickPairs + right]
                       : nullptr;
    if (quick && !std::isnan(*quick))
        return *quick;
    const quint32 key = (quint32(left) << 16) | right;
    auto found = f.kerning.constFind(key);
    if (found != f.kerning.constEnd())
        return *found;
    const QChar pair[] = {QChar(left), QChar(right)};
    const double kern = f.metrics.horizontalAdvance(QString(pair, 2))
                        - character(f, QChar(left)).advance - character(f, QChar(right)).advance;
    if (quick)
        *quick = float(kern);
    else
        f.kerning.insert(key, kern);
    return kern;
}

ReportTextPainter::Look ReportTextPainter::look(Font &f, const QString &text) const
{
    Look result;
    char16_t previous = 0;
    bool primary = true;
    bool separate = true;
    for (const QChar c : text) {
        if (controlOrMark(c))
            return result;
        const char16_t u = c.unicode();
        const Char &known = character(f, c);
        result.advances += known.advance;
        if (primary) {
            primary = known.primary;
            if (primary && previous) {
                result.estimate += kerning(f, previous, u);
                // A pair drawn as one glyph (a ligature) makes neither the sum of advances
                // nor a cut between its characters what shaping the whole text gives.
                if (!m_exact)
                    separate = separate && shape(f, previous, u).known == 1;
            }
        }
        previous = u;
    }
    result.plain = true;
    result.primary = primary;
    result.separate = primary && separate;
    result.estimate += result.advances;
    return result;
}

// A text not shaped yet, shaped and kept when it comes the second time.
const ReportTextPainter::Glyphs *ReportTextPainter::shapedAgain(Font &f,
                                                                const QString &text,
                                                                const Look &look)
{
    const size_t hash = qHash(text) | 1;
    size_t &slot = f.seen[hash % kSeenSlots];
    if (slot != hash) {
        slot = hash;
        return nullptr;
    }
    if (f.shaped.size() >= kShapedTexts)
        f.shaped.clear();
    QTextLayout layout(text, f.font, m_device);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e9);
    layout.endLayout();
    Glyphs shaped;
    shaped.look = look;
    shaped.runs = layout.glyphRuns();
    shaped.width = line.horizontalAdvance();
    shaped.ascent = line.ascent();
    return &*f.shaped.insert(text, shaped);
}

// How `left` alone (`right` 0) or followed by `right` comes out of shaping, shaped once.
ReportTextPainter::Shape ReportTextPainter::shape(Font &f, char16_t left, char16_t right) const
{
    Shape *quick = nullptr;
    if (left < kQuickPairs && right < kQuickPairs) {
        // Made when first needed: the counting pass and many fonts never shape a text.
        if (f.quickPairShapes.empty()) {
            f.quickShapes.resize(kQuickPairs);
            f.quickPairShapes.resize(kQuickPairs * kQuickPairs);
        }
        quick = right ? &f.quickPairShapes[left * kQuickPairs + right] : &f.quickShapes[left];
    }
    const quint32 key = (quint32(left) << 16) | right;
    if (!quick) {
        const auto found = f.shapes.constFind(key);
        if (found != f.shapes.constEnd())
            return *found;
    } else if (quick->known) {
        return *quick;
    }
    Shape result;
    result.known = -1;
    const QChar pair[] = {QChar(left), QChar(right)};
    QTextLayout layout(QString(pair, right ? 2 : 1), f.font, m_device);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e9);
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    // The glyphs of the first font: only its characters are shaped here.
    if (f.shapedAscent < 0 && runs.size() == 1) {
        f.shapedFont = runs.front().rawFont();
        f.shapedAscent = line.ascent();
    }
    const qsizetype count = right ? 2 : 1;
    if (runs.size() == 1 && !runs.front().flags() && runs.front().rawFont() == f.shapedFont
        && line.ascent() == f.shapedAscent && runs.front().glyphIndexes().size() == count
        && runs.front().positions().size() == count) {
        const QList<quint32> glyphs = runs.front().glyphIndexes();
        const QList<QPointF> at = runs.front().positions();
        const Shape alone = right ? shape(f, left, 0) : Shape();
        const Shape next = right ? shape(f, right, 0) : Shape();
        const bool level = at[0] == QPointF(0, f.shapedAscent)
                           && (!right || at[1].y() == f.shapedAscent);
        if (level && !right) {
            result.known = 1;
            result.glyph = glyphs[0];
            result.advance = float(line.horizontalAdvance());
        } else if (level && alone.known == 1 && next.known == 1 && glyphs[0] == alone.glyph
                   && glyphs[1] == next.glyph) {
            result.known = 1;
            result.glyph = glyphs[0];
            result.advance = float(at[1].x());
        }
    }
    if (quick)
        *quick = result;
    else
        f.shapes.insert(key, result);
    return result;
}

// The glyphs of a text met once as shaping the whole text would place them, from its
// characters and pairs shaped alone, when every one comes out as the font's own glyphs side
// by side (kerning alone moving them); null otherwise. Characters are taken one by one only
// in scripts without joining or reordering, and a text ending in a blank, whose line advance
// shaping leaves short, is left to the painter.
const ReportTextPainter::Glyphs *ReportTextPainter::sideBySide(Font &f, const QString &text) const
{
    constexpr char16_t kSimpleScripts = 0x0590; // Latin, Greek, Cyrillic, Armenian
    constexpr char16_t kEllipsis = 0x2026;
    if (text.isEmpty() || text.back().isSpace())
        return nullptr;
    QList<quint32> indexes(text.size());
    QList<QPointF> positions(text.size());
    double x = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if ((c.unicode() >= kSimpleScripts && c.unicode() != kEllipsis) || controlOrMark(c)
            || !character(f, c).primary)
            return nullptr;
        const bool last = at + 1 == text.size();
        const Shape s = shape(f, c.unicode(), last ? 0 : text.at(at + 1).unicode());
        if (s.known != 1)
            return nullptr;
        indexes[at] = s.glyph;
        positions[at] = QPointF(x, f.shapedAscent);
        x += s.advance;
    }
    Glyphs &glyphs = f.scratch;
    if (glyphs.runs.isEmpty())
        glyphs.runs.emplace_back();
    QGlyphRun &run = glyphs.runs.front();
    run.setRawFont(f.shapedFont);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    glyphs.width = x;
    glyphs.ascent = f.shapedAscent;
    return &glyphs;
}

void ReportTextPainter::atBaseline(
    Font &f, const Glyphs *shaped, const QString &text, double x, double baseline)
{
    if (!shaped)
        shaped = sideBySide(f, text);
    if (shaped) {
        for (const QGlyphRun &run : shaped->runs)
            m_painter->drawGlyphRun(QPointF(x, baseline - shaped->ascent), run);
        return;
    }
    m_painter->drawText(QPointF(x, baseline), text);
}

void ReportTextPainter::laidOut(
    const QRectF &area, const QString &text, Font &f, Qt::Alignment align, bool elide)
{
    m_painter->drawText(area,
                        align | Qt::TextSingleLine,
                        elide ? f.metrics.elidedText(text, Qt::ElideRight, area.width()) : text);
}

void ReportTextPainter::draw(const QRectF &area,
                             const QString &text,
                             int font,
                             Qt::Alignment align,
                             const QColor &color,
                             bool elide)
{
    if (text.isEmpty() || !m_painter)
        return;
    use(font, color);
    Font &f = m_fonts[font];
    const QFontMetricsF &fm = f.metrics;
    const Qt::Alignment across = align & Qt::AlignHorizontal_Mask;
    const Qt::Alignment upDown = align & Qt::AlignVertical_Mask;
    const double room = area.width();
    const Glyphs *shaped = nullptr;
    if (!m_exact) {
        const auto found = f.shaped.constFind(text);
        if (found != f.shaped.constEnd())
            shaped = &*found;
    }
    const Look seen = shaped ? shaped->look : look(f, text);
    if (!seen.plain) {
        laidOut(area, text, f, align, elide);
        return;
    }
    if (!shaped && !m_exact)
        shaped = shapedAgain(f, text, seen);
    auto baseline = [&] {
        if (upDown == Qt::AlignBottom)
            return area.bottom() - fm.height() + fm.ascent();
        if (upDown == Qt::AlignTop)
            return area.top() + fm.ascent();
        return area.top() + (area.height() - fm.height()) / 2 + fm.ascent();
    };
    // A cell text whose characters' advances leave a tenth of the box free surely fits: it
    // goes straight to its baseline, the place the aligned drawing finds for it.
    if (upDown == Qt::AlignVCenter && across == Qt::AlignLeft && elide
        && seen.advances <= room * 0.9) {
        if (m_exact)
            m_painter->drawText(QPointF(area.left(), baseline()), text);
        else
            atBaseline(f, shaped, text, area.left(), baseline());
        return;
    }
    // Drawn in the first font alone, the aligned drawing takes its line height from that
    // font's metrics, so its place follows from the width; a text in a fallback font, or a
    // box lower than a line (clipped), is left to it.
    if (m_exact || !seen.primary || area.height() < fm.height()) {
        laidOut(area, text, f, align, elide);
        return;
    }
    bool fits;
    double width = shaped ? shaped->width : -1;
    if (shaped) {
        // The line's advance leaves out trailing blanks, which the cutting counts.
        if (text.back().isSpace())
            width = fm.horizontalAdvance(text);
        fits = fitsIn(width, room);
    } else if (seen.separate && seen.estimate <= room * (1 - kEstimateMargin))
        fits = true;
    else if (seen.separate && seen.estimate >= room * (1 + kEstimateMargin))
        fits = false;
    else {
        width = fm.horizontalAdvance(text);
        fits = fitsIn(width, room);
    }
    if (fits) {
        if (across == Qt::AlignLeft) {
            atBaseline(f, shaped, text, area.left(), baseline());
            return;
        }
        // The aligned drawing places a text by its advance without trailing blanks.
        if (text.back().isSpace()) {
            laidOut(area, text, f, align, elide);
            return;
        }
        if (width < 0)
            width = fm.horizontalAdvance(text);
        const double x = across == Qt::AlignRight ? area.left() + room - width
                                                  : area.left() + (room - width) / 2;
        atBaseline(f, shaped, text, x, baseline());
        return;
    }
    // Cut short: the cut text is drawn at the left edge when it surely fits in the first
    // font; a single character is never cut, and other cases are left to the aligned drawing.
    if (!elide || across != Qt::AlignLeft || text.size() < 2) {
        laidOut(area, text, f, align, elide);
        return;
    }
    QString cut = seen.separate ? surelyCut(f, text, room) : QString();
    if (cut.isNull())
        cut = fm.elidedText(text, Qt::ElideRight, room);
    if (cutSurelyFits(f, text, cut, room))
        atBaseline(f, nullptr, cut, area.left(), baseline());
    else
        m_painter->drawText(area, align | Qt::TextSingleLine, cut);
}

// The cut the aligned drawing makes of a text too wide for `room`, from the characters'
// advances and pair kerning, when they leave no doubt; a null text otherwise. The cutting
// adds up the characters' advances (each with its kerning towards the next) and keeps those
// before the one that brings the sum to the room less the ellipsis. Characters are taken one
// by one only where each is a character of its own: scripts without joining or reordering.
QString ReportTextPainter::surelyCut(Font &f, const QString &text, double room) const
{
    constexpr char16_t kEllipsis = 0x2026;
    constexpr char16_t kSimpleScripts = 0x0590; // Latin, Greek, Cyrillic, Armenian
    const Char &ellipsis = character(f, QChar(kEllipsis));
    if (!ellipsis.primary)
        return QString();
    const double available = room - ellipsis.advance;
    const double margin = room * kEstimateMargin;
    double sum = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c.unicode() >= kSimpleScripts || controlOrMark(c))
            return QString();
        const Char &known = character(f, c);
        if (!known.primary)
            return QString();
        double width = known.advance;
        if (at + 1 < text.size())
            width += kerning(f, c.unicode(), text.at(at + 1).unicode());
        if (sum + width >= available) {
            // The sum before must stay below the room and this character must reach it, both
            // by more than the estimate may be off; a cut before the first one is left to
            // the aligned drawing.
            if (at < 1)
                return QString();
            if (sum >= available - margin || sum + width < available + margin)
                return cutFromShapes(f, text, room);
            return text.left(at) + QChar(kEllipsis);
        }
        sum += width;
    }
    return QString();
}

// The cut of a text that the estimate leaves in doubt, when every character and pair of
// neighbours up to the cut shapes as the font's own glyphs side by side; a null text
// otherwise. The cutting adds up, in 1/64 pixel, each character's advance in the text as
// shaped, while the sum stays below the room (to the nearest 1/64) less the ellipsis, and
// keeps the characters before the one it stopped at. Shaped side by side, a character's
// advance is its pair's kerned advance, as the glyphs of a text met once are drawn.
QString ReportTextPainter::cutFromShapes(Font &f, const QString &text, double room) const
{
    constexpr char16_t kEllipsis = 0x2026;
    constexpr char16_t kSimpleScripts = 0x0590;
    const qint64 available = qint64(room * 64 + 0.5)
                             - std::llround(character(f, QChar(kEllipsis)).advance * 64);
    if (available < 0)
        return QString();
    qint64 sum = 0;
    qsizetype at = 0;
    qsizetype next = 0;
    do {
        at = next++;
        const QChar c = text.at(at);
        if (c.unicode() >= kSimpleScripts || controlOrMark(c) || c.isMark()
            || !character(f, c).primary)
            return QString();
        const Shape s = shape(f, c.unicode(), next < text.size() ? text.at(next).unicode() : 0);
        if (s.known != 1)
            return QString();
        sum += std::llround(double(s.advance) * 64);
    } while (next < text.size() && sum < available);
    if (at < 1)
        return QString();
    return text.left(at) + QChar(kEllipsis);
}

// The cutting keeps the first characters of `text` whose advances there leave room for the
// ellipsis. Drawn alone, the last one kerns with the ellipsis instead of its old neighbour:
// where that kerning is no wider, the cut text fits as the cutting measured it.
bool ReportTextPainter::cutSurelyFits(Font &f,
                                      const QString &text,
                                      const QString &cut,
                                      double room) const
{
    const qsizetype kept = cut.size() - 1;
    if (kept < 1 || kept >= text.size() || cut.back() != QChar(0x2026)
        || QStringView(cut).left(kept) != QStringView(text).left(kept))
        return false;
    const Look cutLook = look(f, cut);
    if (!cutLook.plain || !cutLook.primary)
        return false;
    if (!cutLook.separate)
        return fitsIn(f.metrics.horizontalAdvance(cut), room);
    const char16_t last = cut.at(kept - 1).unicode();
    if (kerning(f, last, 0x2026) <= kerning(f, last, text.at(kept).unicode()))
        return true;
    return fitsIn(f.metrics.horizontalAdvance(cut), room);
}

} // namespace zq::suite
