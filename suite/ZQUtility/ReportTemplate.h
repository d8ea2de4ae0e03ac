#pragma once

#include <QColor>
#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>

namespace zq::suite {

/// How a cell or card text is placed across its box.
enum class TextAlign { Left, Center, Right };

/// One column of a list report. Widths are in millimetres.
struct ReportColumn
{
    QString caption;
    QString text;
    double width = 20;
    TextAlign align = TextAlign::Left;
};

/// One thing drawn on a card, placed in millimetres from the card's top left corner.
struct CardItem
{
    enum class Kind { Text, Picture, Box };
    Kind kind = Kind::Text;
    QRectF rect;
    QString text;    ///< Text: what is printed; Picture: printed when there is no picture
    QString field;   ///< Picture: the blob column
    double size = 8; ///< point size of the text
    bool bold = false;
    TextAlign align = TextAlign::Left;
    QColor color = Qt::black;
    QColor fill;   ///< invalid = nothing behind the item
    QColor border; ///< invalid = no frame
};

/// A report layout as read from a template file (the format is described in the README of
/// the host's report folder).
struct ReportTemplate
{
    enum class Kind { List, Cards };
    Kind kind = Kind::List;

    QString title;
    QPageSize::PageSizeId pageSize = QPageSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QMarginsF margins{12, 12, 12, 12}; ///< millimetres
    QStringList fonts;
    double fontSize = 8;
    bool pageTotal = true;
    QString headerLeft;
    QString headerRight;
    QString footerLeft;
    QString footerRight;

    // List reports
    double rowHeight = 5;
    QString groupBy;
    QString groupText;
    QColor stripe;
    QList<ReportColumn> columns;

    // Card reports
    QSizeF cardSize{85.60, 53.98};
    double cardGap = 6;
    double cornerRadius = 3.18;
    QString background;
    QColor backgroundColor = Qt::white;
    double cutMarks = 2;
    QList<CardItem> items;

    /// The page with no printer margins of its own: the template places everything itself.
    QPageLayout pageLayout() const;
};

/// The template in `text`; nothing, and the reason with its line number in `error`, when a
/// line cannot be read, a section or key is unknown or a value is out of range.
std::optional<ReportTemplate> parseReportTemplate(const QString &text, QString &error);

/// The template file `fileName` from `folder`: only the file name counts, so a caller cannot
/// reach outside the folder; the name is compared without regard to case when no file has it
/// exactly. Nothing when it is missing or does not parse.
std::optional<ReportTemplate> loadReportTemplate(const QString &folder,
                                                 const QString &fileName,
                                                 QString &error);

} // namespace zq::suite
