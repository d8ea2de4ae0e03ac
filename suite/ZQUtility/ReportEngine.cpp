#include "ReportEngine.h"

#include "PictureCodec.h"
#include "ReportSpool.h"
#include "ReportTextPainter.h"

#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq::suite {

namespace {

constexpr double kHeaderHeight = 9;  // mm from the top margin to the header rule
constexpr double kFooterHeight = 6;  // mm from the footer rule to the bottom margin
constexpr double kPictureDpi = 300;  // pictures are scaled down to this before they go out
constexpr int kBackgroundCache = 16; // distinct card backgrounds kept decoded
constexpr qsizetype kLargestPicture = 16 * 1024 * 1024;

const QColor kRule(0x60, 0x6a, 0x78);
const QColor kHeading(0xe4, 0xe9, 0xf0);
const QColor kGroup(0xd3, 0xdf, 0xee);
const QColor kCutMark(0x40, 0x40, 0x40);
const QColor kCardEdge(0xc8, 0xc8, 0xc8);

Qt::Alignment horizontal(TextAlign align)
{
    switch (align) {
    case TextAlign::Center:
        return Qt::AlignHCenter;
    case TextAlign::Right:
        return Qt::AlignRight;
    case TextAlign::Left:
        break;
    }
    return Qt::AlignLeft;
}

QImage decodePicture(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > kLargestPicture)
        return QImage();
    QImage image = zq::platform::decodeJpeg(data);
    if (image.isNull())
        image = QImage::fromData(data); // photos taken before they were stored as JPEG
    return image;
}

// The middle of `image` with the proportions of `target`, at `target` pixels.
QImage cover(const QImage &image, const QSize &target)
{
    if (image.isNull() || target.isEmpty())
        return QImage();
    const double wanted = double(target.width()) / target.height();
    QRect crop = image.rect();
    if (double(crop.width()) / crop.height() > wanted)
        crop.setWidth(std::max(1, int(std::lround(crop.height() * wanted))));
    else
        crop.setHeight(std::max(1, int(std::lround(crop.width() / wanted))));
    crop.moveCenter(image.rect().center());
    const QImage part = image.copy(crop);
    if (part.width() <= target.width())
        return part;
    return part.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Millimetres on the page to pixels of the device, and the report's fonts.
class Canvas
{
public:
    enum FontRole { Body, Bold, Title };

    Canvas(QPainter *painter,
           QPagedPaintDevice &device,
           const ReportTemplate &layout,
           bool exactText = false)
        : m_painter(painter)
        , m_layout(layout)
        , m_text(painter,
                 &device,
                 {font(layout.fontSize, false),
                  font(layout.fontSize, true),
                  font(layout.fontSize + 5, true)},
                 exactText)
    {
        const QRectF paint = device.pageLayout().paintRect(QPageLayout::Millimeter);
        m_page = layout.pageLayout().fullRect(QPageLayout::Millimeter);
        m_scale = paint.width() > 0 ? device.width() / paint.width() : 1;
        m_offset = paint.topLeft();
        m_content = m_page.marginsRemoved(layout.margins);
    }

    QPainter *painter() const { return m_painter; }
    QRectF content() const { return m_content; }
    double pixels(double mm) const { return mm * m_scale; }

    QRectF toDevice(const QRectF &mm) const
    {
        return QRectF((mm.x() - m_offset.x()) * m_scale,
                      (mm.y() - m_offset.y()) * m_scale,
                      mm.width() * m_scale,
                      mm.height() * m_scale);
    }

    QFont font(double size, bool bold) const
    {
        QFont result;
        result.setFamilies(m_layout.fonts);
        result.setPointSizeF(size);
        result.setBold(bold);
        return result;
    }

    const QFontMetricsF &metrics(FontRole role) const { return m_text.metrics(role); }

    /// One line of text in `box`, cut short with an ellipsis when it is wider.
    void text(const QRectF &box,
              const QString &text,
              bool bold,
              Qt::Alignment align,
              const QColor &color = Qt::black)
    {
        m_text.draw(toDevice(box), text, bold ? Bold : Body, align | Qt::AlignVCenter, color);
    }

    /// Text in `area` (device pixels) as ReportTextPainter::draw places it.
    void text(
        const QRectF &area, const QString &text, FontRole role, Qt::Alignment align, bool elide)
    {
        m_text.draw(area, text, role, align, Qt::black, elide);
    }

    /// The painter's font or pen was set elsewhere.
    void forgetPainterState() { m_text.forgetPainterState(); }

    void fill(const QRectF &box, const QColor &color) const
    {
        m_painter->fillRect(toDevice(box), color);
    }

    void line(QPointF from, QPointF to, const QColor &color, double width)
    {
        m_painter->setPen(QPen(color, pixels(width)));
        m_text.forgetPen();
        m_painter->drawLine(toDevice(QRectF(from, QSizeF())).topLeft(),
                            toDevice(QRectF(to, QSizeF())).topLeft());
    }

private:
    QPainter *m_painter;
    const ReportTemplate &m_layout;
    QRectF m_page;
    QRectF m_content;
    QPointF m_offset;
    double m_scale = 1;
    ReportTextPainter m_text;
};

// What every page shares: the header with its rule, the footer with the page number. Leaves
// the room between them to the body.
class Pages
{
public:
    Pages(Canvas &canvas,
          QPagedPaintDevice &device,
          const ReportTemplate &layout,
          const ReportTexts &texts,
          int total)
        : m_canvas(canvas)
        , m_device(device)
        , m_layout(layout)
        , m_texts(texts)
        , m_total(total)
    {
        m_context.language = texts.language;
        m_context.printed = texts.printedLabel.arg(
            texts.printedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        m_headerLeft = BoundText(layout.headerLeft, nullptr);
        m_headerRight = BoundText(layout.headerRight, nullptr);
        m_footerLeft = BoundText(layout.footerLeft, nullptr);
        m_footerRight = BoundText(layout.footerRight, nullptr);
    }

    int count() const { return m_page; }
    QRectF body() const
    {
        // A sheet of cards may go without a header to make room for one more row of cards.
        const QRectF c = m_canvas.content();
        const double top = hasHeader() ? kHeaderHeight + 2 : 0;
        const double bottom = hasFooter() ? kFooterHeight + 2 : 0;
        return QRectF(c.left(), c.top() + top, c.width(), c.height() - top - bottom);
    }
    bool hasHeader() const { return !m_headerLeft.isEmpty() || !m_headerRight.isEmpty(); }
    bool hasFooter() const { return !m_footerLeft.isEmpty() || !m_footerRight.isEmpty(); }
    const TextContext &context() const { return m_context; }

    void start()
    {
        if (!m_canvas.painter()) {
            ++m_page;
            return;
        }
        if (m_page > 0)
            m_device.newPage();
        m_canvas.forgetPainterState();
        ++m_page;
        // A page total counted before can fall short when rows were added in between.
        const int total = std::max(m_total, m_page);
        m_context.page = m_layout.pageTotal ? m_texts.pageLabel.arg(m_page).arg(total)
                                            : m_texts.pageNumberLabel.arg(m_page);
        const QRectF c = m_canvas.content();
        if (hasHeader())
            paintHeader(c);
        if (!hasFooter())
            return;
        const double foot = c.bottom() - kFooterHeight;
        m_canvas.line({c.left(), foot}, {c.right(), foot}, kRule, 0.2);
        const QRectF footer(c.left(), foot + 0.5, c.width(), kFooterHeight - 0.5);
        m_canvas.text(footer, m_footerLeft.render(nullptr, m_context), false, Qt::AlignLeft);
        m_canvas.text(footer, m_footerRight.render(nullptr, m_context), false, Qt::AlignRight);
    }

private:
    void paintHeader(const QRectF &c)
    {
        const QRectF header = m_canvas.toDevice(
            QRectF(c.left(), c.top(), c.width(), kHeaderHeight));
        const QString title = m_headerLeft.render(nullptr, m_context);
        m_canvas.text(header, title, Canvas::Title, Qt::AlignLeft | Qt::AlignBottom, false);
        if (title != m_title) {
            m_title = title;
            m_titleWidth = m_canvas.metrics(Canvas::Title).horizontalAdvance(title);
        }
        const QRectF right = header.adjusted(m_titleWidth + m_canvas.pixels(4), 0, 0, 0);
        m_canvas.text(right,
                      m_headerRight.render(nullptr, m_context),
                      Canvas::Body,
                      Qt::AlignRight | Qt::AlignBottom,
                      true);
        const double rule = c.top() + kHeaderHeight + 0.8;
        m_canvas.line({c.left(), rule}, {c.right(), rule}, kRule, 0.35);
    }

    Canvas &m_canvas;
    QPagedPaintDevice &m_device;
    const ReportTemplate &m_layout;
    const ReportTexts &m_texts;
    int m_total;
    int m_page = 0;
    TextContext m_context;
    QString m_title;
    double m_titleWidth = 0;
    BoundText m_headerLeft, m_headerRight, m_footerLeft, m_footerRight;
};

// The rows of a list as they are printed: whether a row begins a group, the group's line and
// the texts of the cells. They come from the statement, or from the spool the counting pass
// filled; a pass that keeps them in the spool renders every row as it reads it.
class ListLines
{
public:
    ListLines(const ReportTemplate &layout,
              ReportRows &rows,
              const TextContext &context,
              bool render,
              ReportSpool *record)
        : m_rows(&rows)
        , m_context(&context)
        , m_render(render || record)
        , m_record(record)
    {
        for (const ReportColumn &column : layout.columns)
            m_texts.emplace_back(column.text, &rows);
        m_cells.resize(m_texts.size());
        m_groupColumn = layout.groupBy.isEmpty() ? -1 : rows.indexOf(layout.groupBy);
        m_groupText = BoundText(layout.groupText.isEmpty()
                                    ? QStringLiteral("{%1}").arg(layout.groupBy)
                                    : layout.groupText,
                                &rows);
    }

    explicit ListLines(ReportSpool &replay)
        : m_replay(&replay)
    {}

    // Whether a spool can stand for the statement: its texts must not change with the page,
    // which the counting pass does not know.
    static bool canSpool(const ReportTemplate &layout)
    {
        if (!layout.groupBy.isEmpty() && !layout.groupText.isEmpty()
            && BoundText(layout.groupText, nullptr).usesPage())
            return false;
        return std::none_of(
            layout.columns.begin(), layout.columns.end(), [](const ReportColumn &column) {
                return BoundText(column.text, nullptr).usesPage();
            });
    }

    bool next()
    {
        if (m_replay) {
            if (!m_replay->next())
                return false;
            m_changed = m_replay->newGroup();
            if (m_changed)
                m_groupLine = m_replay->groupLine();
            return true;
        }
        if (!m_rows->next())
            return false;
        m_changed = false;
        if (m_groupColumn >= 0) {
            const QString key = reportText(m_rows->value(m_groupColumn));
            m_changed = !m_inGroup || key != m_group;
            if (m_changed) {
                m_group = key;
                m_inGroup = true;
                m_groupLine = m_render ? m_groupText.render(m_rows, *m_context) : QString();
            }
        }
        if (m_record) {
            for (size_t column = 0; column < m_texts.size(); ++column)
                m_cells[column] = m_texts[column].render(m_rows, *m_context);
            m_record->append(m_changed, m_groupLine, m_cells);
        }
        return true;
    }

    bool beginsGroup() const { return m_changed; }
    const QString &groupLine() const { return m_groupLine; }

    // Rendered when asked for, as the page it lands on stands then.
    QString cell(size_t column) const
    {
        if (m_replay)
            return column < m_replay->cells().size() ? m_replay->cells()[column] : QString();
        if (m_record)
            return m_cells[column];
        return m_texts[column].render(m_rows, *m_context);
    }

private:
    ReportRows *m_rows = nullptr;
    ReportSpool *m_replay = nullptr;
    const TextContext *m_context = nullptr;
    bool m_render = false;
    ReportSpool *m_record = nullptr;
    std::vector<BoundText> m_texts;
    std::vector<QString> m_cells;
    int m_groupColumn = -1;
    BoundText m_groupText;
    QString m_group;
    bool m_inGroup = false;
    bool m_changed = false;
    QString m_groupLine;
};

struct BoundColumn
{
    QString caption;
    double left = 0;
    double width = 0;
    Qt::Alignment align;
};

// Rows of a list: a heading line of column captions on each page, a group line whenever the
// group column changes and again at the top of a page the group continues on. A row is one
// line, so where a page ends follows from the rows and group changes alone; the counting
// pass runs the same code without a painter.
qint64 layOutList(Canvas &canvas,
                  Pages &pages,
                  const ReportTemplate &layout,
                  ListLines &rows,
                  const ReportTexts &texts)
{
    const QRectF body = pages.body();
    const double rowHeight = layout.rowHeight;
    const double groupHeight = rowHeight * 1.5;
    double total = 0;
    for (const ReportColumn &column : layout.columns)
        total += column.width;
    const double shrink = total > body.width() ? body.width() / total : 1;

    std::vector<BoundColumn> columns;
    double left = body.left();
    const double padding = 1.2;
    for (const ReportColumn &column : layout.columns) {
        BoundColumn bound;
        bound.caption = BoundText(column.caption, nullptr).render(nullptr, pages.context());
        bound.width = column.width * shrink;
        bound.left = left;
        bound.align = horizontal(column.align);
        left += bound.width;
        columns.push_back(std::move(bound));
    }
    const bool painting = canvas.painter() != nullptr;

    double y = body.bottom();
    bool inGroup = false;
    qint64 count = 0;
    qint64 inThisGroup = 0;

    auto newPage = [&] {
        pages.start();
        y = body.top();
        if (painting) {
            const QRectF heading(body.left(), y, left - body.left(), rowHeight + 1);
            canvas.fill(heading, kHeading);
            for (const BoundColumn &column : columns)
                canvas.text(
                    QRectF(column.left + padding, y, column.width - 2 * padding, rowHeight + 1),
                    column.caption,
                    true,
                    column.align);
            canvas.line({body.left(), y + rowHeight + 1}, {left, y + rowHeight + 1}, kRule, 0.25);
        }
        y += rowHeight + 1.5;
    };
    auto groupHeading = [&] {
        if (painting) {
            const QRectF box(body.left(), y + 0.3 * rowHeight, left - body.left(), rowHeight * 1.1);
            canvas.fill(box, kGroup);
            canvas.text(
                box.adjusted(padding, 0, -padding, 0), rows.groupLine(), true, Qt::AlignLeft);
        }
        y += groupHeight;
    };

    while (rows.next()) {
        ++count;
        const bool changed = rows.beginsGroup();
        if (changed) {
            inGroup = true;
            inThisGroup = 0;
        }
        // A group line never stays alone at the foot of a page.
        const double needed = (changed ? groupHeight : 0) + rowHeight;
        if (pages.count() == 0 || y + needed > body.bottom()) {
            newPage();
            if (inGroup)
                groupHeading();
        } else if (changed) {
            groupHeading();
        }
        if (painting) {
            if (layout.stripe.isValid() && inThisGroup % 2 == 1)
                canvas.fill(QRectF(body.left(), y, left - body.left(), rowHeight), layout.stripe);
            for (size_t index = 0; index < columns.size(); ++index) {
                const BoundColumn &column = columns[index];
                canvas.text(QRectF(column.left + padding, y, column.width - 2 * padding, rowHeight),
                            rows.cell(index),
                            false,
                            column.align);
            }
        }
        ++inThisGroup;
        y += rowHeight;
    }
    if (count == 0) {
        newPage();
        if (painting)
            canvas.text(QRectF(body.left(), y + rowHeight, body.width(), rowHeight),
                        texts.emptyText,
                        false,
                        Qt::AlignLeft);
    }
    return count;
}

struct BoundItem
{
    const CardItem *item;
    BoundText text;
    int column = -1;
};

// Cards in a grid centred in the page body, as many as fit with the gap between them for the
// cut marks; each page is finished before the next card is read.
class CardSheet
{
public:
    CardSheet(Canvas &canvas, Pages &pages, const ReportTemplate &layout, ReportRows &rows)
        : m_canvas(canvas)
        , m_pages(pages)
        , m_layout(layout)
        , m_rows(rows)
    {
        const QRectF body = pages.body();
        const QSizeF card = layout.cardSize;
        const double gap = layout.cardGap;
        m_columns = std::max(1, int((body.width() + gap) / (card.width() + gap)));
        m_lines = std::max(1, int((body.height() + gap) / (card.height() + gap)));
        const QSizeF grid(m_columns * card.width() + (m_columns - 1) * gap,
                          m_lines * card.height() + (m_lines - 1) * gap);
        m_origin = QPointF(body.left() + (body.width() - grid.width()) / 2,
                           body.top() + (body.height() - grid.height()) / 2);
        m_background = layout.background.isEmpty() ? -1 : rows.indexOf(layout.background);
        for (const CardItem &item : layout.items)
            m_items.push_back(
                BoundItem{&item, BoundText(item.text, &rows), rows.indexOf(item.field)});
    }

    int perPage() const { return m_columns * m_lines; }

    void paint(qint64 index)
    {
        const int slot = int(index % perPage());
        if (slot == 0)
            m_pages.start();
        if (!m_canvas.painter())
            return;
        const QSizeF size = m_layout.cardSize;
        const QPointF at(m_origin.x() + (slot % m_columns) * (size.width() + m_layout.cardGap),
                         m_origin.y() + (slot / m_columns) * (size.height() + m_layout.cardGap));
        const QRectF card(at, size);
        cutMarks(card);
        QPainter &p = *m_canvas.painter();
        p.save();
        QPainterPath outline;
        const double radius = m_canvas.pixels(m_layout.cornerRadius);
        outline.addRoundedRect(m_canvas.toDevice(card), radius, radius);
        p.setClipPath(outline);
        p.fillRect(m_canvas.toDevice(card), m_layout.backgroundColor);
        const QImage background = backgroundFor(card.size());
        if (!background.isNull())
            p.drawImage(m_canvas.toDevice(card), background);
        for (const BoundItem &item : m_items)
            paintItem(item, at);
        p.restore();
        p.setPen(QPen(kCardEdge, m_canvas.pixels(0.1)));
        p.setBrush(Qt::NoBrush);
        p.drawPath(outline);
        m_canvas.forgetPainterState();
    }

private:
    void cutMarks(const QRectF &card) const
    {
        const double length = m_layout.cutMarks;
        if (length <= 0)
            return;
        const double off = 1;
        for (const QPointF corner :
             {card.topLeft(), card.topRight(), card.bottomLeft(), card.bottomRight()}) {
            const double sx = corner.x() > card.center().x() ? 1 : -1;
            const double sy = corner.y() > card.center().y() ? 1 : -1;
            m_canvas.line({corner.x() + sx * off, corner.y()},
                          {corner.x() + sx * (off + length), corner.y()},
                          kCutMark,
                          0.15);
            m_canvas.line({corner.x(), corner.y() + sy * off},
                          {corner.x(), corner.y() + sy * (off + length)},
                          kCutMark,
                          0.15);
        }
    }

    QSize picturePixels(const QSizeF &mm) const
    {
        // Finer than the device can show is wasted; coarser than print quality looks poor.
        const double perMm = std::min(kPictureDpi / 25.4, m_canvas.pixels(1));
        return QSize(std::max(1, int(mm.width() * perMm)), std::max(1, int(mm.height() * perMm)));
    }

    // The same picture object for every card of a type, so the document carries it once.
    QImage backgroundFor(const QSizeF &card)
    {
        if (m_background < 0)
            return QImage();
        const QByteArray data = m_rows.bytes(m_background);
        if (data.isEmpty())
            return QImage();
        const size_t key = qHash(data);
        const auto found = m_backgrounds.constFind(key);
        if (found != m_backgrounds.constEnd())
            return *found;
        if (m_backgrounds.size() >= kBackgroundCache)
            m_backgrounds.clear();
        const QImage image = cover(decodePicture(data), picturePixels(card));
        m_backgrounds.insert(key, image);
        return image;
    }

    void paintItem(const BoundItem &bound, const QPointF &card) const
    {
        const CardItem &item = *bound.item;
        const QRectF box = item.rect.translated(card);
        QPainter &p = *m_canvas.painter();
        if (item.fill.isValid())
            m_canvas.fill(box, item.fill);
        const QString text = bound.text.render(&m_rows, m_pages.context());
        if (item.kind == CardItem::Kind::Picture) {
            const QImage picture = cover(decodePicture(m_rows.bytes(bound.column)),
                                         picturePixels(box.size()));
            if (!picture.isNull())
                p.drawImage(m_canvas.toDevice(box), picture);
            else
                fitText(box, text, item, Qt::AlignHCenter);
        } else if (item.kind == CardItem::Kind::Text) {
            fitText(box, text, item, horizontal(item.align));
        }
        if (item.border.isValid()) {
            p.setPen(QPen(item.border, m_canvas.pixels(0.25)));
            p.setBrush(Qt::NoBrush);
            p.drawRect(m_canvas.toDevice(box));
        }
    }

    // Names differ much in length: a long one is set smaller before it is cut short.
    void fitText(const QRectF &box,
                 const QString &text,
                 const CardItem &item,
                 Qt::Alignment align) const
    {
        if (text.isEmpty())
            return;
        QPainter &p = *m_canvas.painter();
        const QRectF area = m_canvas.toDevice(box.adjusted(0.8, 0, -0.8, 0));
        QFont font = m_canvas.font(item.size, item.bold);
        for (double size = item.size; size >= item.size * 0.6; size -= 0.5) {
            font.setPointSizeF(size);
            if (QFontMetricsF(font, p.device()).horizontalAdvance(text) <= area.width())
                break;
        }
        p.setFont(font);
        p.setPen(item.color);
        p.drawText(area,
                   align | Qt::AlignVCenter | Qt::TextSingleLine,
                   QFontMetricsF(font, p.device()).elidedText(text, Qt::ElideRight, area.width()));
    }

    Canvas &m_canvas;
    Pages &m_pages;
    const ReportTemplate &m_layout;
    ReportRows &m_rows;
    int m_columns = 1;
    int m_lines = 1;
    QPointF m_origin;
    int m_background = -1;
    std::vector<BoundItem> m_items;
    QHash<size_t, QImage> m_backgrounds;
};

qint64 layOutCards(Canvas &canvas,
                   Pages &pages,
                   const ReportTemplate &layout,
                   ReportRows &rows,
                   const ReportTexts &texts)
{
    CardSheet sheet(canvas, pages, layout, rows);
    qint64 count = 0;
    while (rows.next())
        sheet.paint(count++);
    if (count == 0) {
        pages.start();
        if (canvas.painter()) {
            const QRectF body = pages.body();
            canvas.text(QRectF(body.left(), body.top(), body.width(), 6),
                        texts.emptyText,
                        false,
                        Qt::AlignLeft);
        }
    }
    return count;
}

// With `record`, a list keeps its rows there as it reads them.
qint64 layOut(Canvas &canvas,
              Pages &pages,
              const ReportTemplate &layout,
              ReportRows &rows,
              const ReportTexts &texts,
              ReportSpool *record = nullptr)
{
    if (layout.kind != ReportTemplate::Kind::List)
        return layOutCards(canvas, pages, layout, rows, texts);
    ListLines lines(layout, rows, pages.context(), canvas.painter() != nullptr, record);
    return layOutList(canvas, pages, layout, lines, texts);
}

} // namespace

ReportResult renderReport(QPagedPaintDevice &device,
                          const ReportTemplate &layout,
                          const RowSource &rows,
                          const ReportTexts &texts,
                          TextPlacement placement)
{
    ReportResult result;
    device.setPageLayout(layout.pageLayout());

    int total = 0;
    // A list counted for its page total keeps its rows for the painting in a spool, so that
    // the statement runs once; without one it is read again.
    std::unique_ptr<ReportSpool> spool;
    if (layout.pageTotal) {
        std::unique_ptr<ReportRows> counting = rows();
        if (!counting || !counting->isOpen()) {
            result.error = counting ? counting->error() : QStringLiteral("no rows to read");
            return result;
        }
        if (layout.kind == ReportTemplate::Kind::List && ListLines::canSpool(layout)) {
            spool = std::make_unique<ReportSpool>();
            if (!spool->open())
                spool.reset();
        }
        Canvas canvas(nullptr, device, layout);
        Pages pages(canvas, device, layout, texts, 0);
        layOut(canvas, pages, layout, *counting, texts, spool.get());
        total = pages.count();
        if (spool && (!counting->error().isEmpty() || !spool->rewind()))
            spool.reset();
    }

    std::unique_ptr<ReportRows> reading;
    if (!spool) {
        reading = rows();
        if (!reading || !reading->isOpen()) {
            result.error = reading ? reading->error() : QStringLiteral("no rows to read");
            return result;
        }
    }
    QPainter painter;
    if (!painter.begin(&device)) {
        result.error = QStringLiteral("the output cannot be painted on");
        return result;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Canvas canvas(&painter, device, layout, placement == TextPlacement::Reference);
    Pages pages(canvas, device, layout, texts, total);
    if (spool) {
        ListLines lines(*spool);
        result.rows = layOutList(canvas, pages, layout, lines, texts);
    } else {
        result.rows = layOut(canvas, pages, layout, *reading, texts);
    }
    result.pages = pages.count();
    result.ok = painter.end();
    if (!result.ok)
        result.error = QStringLiteral("the output could not be finished");
    else if (spool && spool->failed()) {
        result.ok = false;
        result.error = QStringLiteral("the rows kept for the report could not be read back");
    }
    return result;
}

} // namespace zq::suite
