#pragma once

#include "zqwidgets_export.h"

#include <QFont>
#include <QHash>
#include <QHeaderView>
#include <QPointer>
#include <QSize>

namespace zq::widgets {

/// A grid header that measures each distinct section text once. A header sizes itself by
/// measuring up to two hundred of its sections whenever its rows change; for the row numbers
/// of a listing these are the same few hundred texts listing after listing, and grid after
/// grid: headers in the application's own style share what they measured with every header
/// of the same font, resolution, orientation and sort indicator. Sizes are exactly the
/// default header's: only sections with nothing but a text are remembered, and a header
/// under a style sheet keeps its own, dropped when its font, style or sort indicator changes.
class ZQWIDGETS_EXPORT GridHeader : public QHeaderView
{
    Q_OBJECT
public:
    explicit GridHeader(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    mutable QHash<QString, QSize> m_sizes;
    mutable QFont m_font;
    mutable QPointer<QStyle> m_style;
    mutable bool m_sortShown = false;
};

} // namespace zq::widgets
