#include "ReportTemplate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <functional>
#include <map>

namespace zq::suite {

namespace {

// A template is a small hand-edited file: anything unexpected is refused with its line, so a
// typing error shows up as a message instead of as a report that silently lacks a column.
class Reader
{
public:
    std::optional<double> number(const QString &value, double low, double high)
    {
        bool ok = false;
        const double result = value.trimmed().toDouble(&ok);
        // toDouble reads "nan" and "inf" too; a NaN passes every comparison below and would
        // reach the renderer's conversions to whole pixels.
        if (!ok || !std::isfinite(result) || result < low || result > high) {
            fail(QStringLiteral("a number from %1 to %2 is expected").arg(low).arg(high));
            return std::nullopt;
        }
        return result;
    }

    std::optional<QList<double>> numbers(const QString &value, qsizetype count, double high)
    {
        const QStringList parts = value.split(QLatin1Char(','));
        if (parts.size() != count) {
            fail(QStringLiteral("%1 numbers separated by commas are expected").arg(count));
            return std::nullopt;
        }
        QList<double> result;
        for (const QString &part : parts) {
            const std::optional<double> n = number(part, 0, high);
            if (!n)
                return std::nullopt;
            result.append(*n);
        }
        return result;
    }

    std::optional<bool> flag(const QString &value)
    {
        const QString v = value.toLower();
        if (v == u"yes" || v == u"true" || v == u"1")
            return true;
        if (v == u"no" || v == u"false" || v == u"0")
            return false;
        fail(QStringLiteral("Yes or No is expected"));
        return std::nullopt;
    }

    std::optional<QColor> color(const QString &value)
    {
        // #rrggbb or #aarrggbb; names are refused so that a misspelt one is not black.
        static const QRegularExpression form(QStringLiteral("^#([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
        if (!form.match(value).hasMatch()) {
            fail(QStringLiteral("a colour #rrggbb or #aarrggbb is expected"));
            return std::nullopt;
        }
        return QColor(value);
    }

    std::optional<TextAlign> align(const QString &value)
    {
        const QString v = value.toLower();
        if (v == u"left")
            return TextAlign::Left;
        if (v == u"center" || v == u"centre")
            return TextAlign::Center;
        if (v == u"right")
            return TextAlign::Right;
        fail(QStringLiteral("Left, Center or Right is expected"));
        return std::nullopt;
    }

    void fail(const QString &why)
    {
        if (error.isEmpty())
            error = QStringLiteral("line %1: %2").arg(line).arg(why);
    }

    int line = 0;
    QString error;
};

using KeyHandler = std::function<bool(const QString &)>;
using KeyTable = std::map<QString, KeyHandler>;

// Keys are matched in lower case; each handler stores its value and says whether it could.
template<typename T>
bool store(std::optional<T> value, T &target)
{
    if (!value)
        return false;
    target = *value;
    return true;
}

KeyTable reportKeys(Reader &r, ReportTemplate &t)
{
    return {
        {"kind",
         [&](const QString &v) {
             if (v.compare(u"list", Qt::CaseInsensitive) == 0)
                 t.kind = ReportTemplate::Kind::List;
             else if (v.compare(u"cards", Qt::CaseInsensitive) == 0)
                 t.kind = ReportTemplate::Kind::Cards;
             else
                 r.fail(QStringLiteral("List or Cards is expected"));
             return r.error.isEmpty();
         }},
        {"title", [&](const QString &v) { return t.title = v, true; }},
        {"pagesize",
         [&](const QString &v) {
             static const std::map<QString, QPageSize::PageSizeId> sizes{
                 {"a3", QPageSize::A3},
                 {"a4", QPageSize::A4},
                 {"a5", QPageSize::A5},
                 {"letter", QPageSize::Letter},
                 {"legal", QPageSize::Legal}};
             const auto found = sizes.find(v.toLower());
             if (found == sizes.end()) {
                 r.fail(QStringLiteral("A3, A4, A5, Letter or Legal is expected"));
                 return false;
             }
             t.pageSize = found->second;
             return true;
         }},
        {"orientation",
         [&](const QString &v) {
             if (v.compare(u"portrait", Qt::CaseInsensitive) == 0)
                 t.orientation = QPageLayout::Portrait;
             else if (v.compare(u"landscape", Qt::CaseInsensitive) == 0)
                 t.orientation = QPageLayout::Landscape;
             else
                 r.fail(QStringLiteral("Portrait or Landscape is expected"));
             return r.error.isEmpty();
         }},
        {"margins",
         [&](const QString &v) {
             const auto m = r.numbers(v, 4, 100);
             if (m)
                 t.margins = QMarginsF(m->at(0), m->at(1), m->at(2), m->at(3));
             return m.has_value();
         }},
        {"font",
         [&](const QString &v) {
             t.fonts.clear();
             for (const QString &family : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
                 t.fonts.append(family.trimmed());
             return true;
         }},
        {"fontsize", [&](const QString &v) { return store(r.number(v, 4, 72), t.fontSize); }},
        {"pagetotal", [&](const QString &v) { return store(r.flag(v), t.pageTotal); }},
        {"headerleft", [&](const QString &v) { return t.headerLeft = v, true; }},
        {"headerright", [&](const QString &v) { return t.headerRight = v, true; }},
        {"footerleft", [&](const QString &v) { return t.footerLeft = v, true; }},
        {"footerright", [&](const QString &v) { return t.footerRight = v, true; }},
    };
}

KeyTable listKeys(Reader &r, ReportTemplate &t)
{
    return {
        {"rowheight", [&](const QString &v) { return store(r.number(v, 2, 50), t.rowHeight); }},
        {"groupby", [&](const QString &v) { return t.groupBy = v, true; }},
        {"grouptext", [&](const QString &v) { return t.groupText = v, true; }},
        {"stripe", [&](const QString &v) { return store(r.color(v), t.stripe); }},
    };
}

KeyTable columnKeys(Reader &r, ReportColumn &c)
{
    return {
        {"caption", [&](const QString &v) { return c.caption = v, true; }},
        {"text", [&](const QString &v) { return c.text = v, true; }},
        {"width", [&](const QString &v) { return store(r.number(v, 1, 1000), c.width); }},
        {"align", [&](const QString &v) { return store(r.align(v), c.align); }},
    };
}

KeyTable cardKeys(Reader &r, ReportTemplate &t)
{
    return {
        {"width",
         [&](const QString &v) {
             const auto n = r.number(v, 10, 400);
             if (n)
                 t.cardSize.setWidth(*n);
             return n.has_value();
         }},
        {"height",
         [&](const QString &v) {
             const auto n = r.number(v, 10, 400);
             if (n)
                 t.cardSize.setHeight(*n);
             return n.has_value();
         }},
        {"gap", [&](const QString &v) { return store(r.number(v, 0, 50), t.cardGap); }},
        {"cornerradius",
         [&](const QString &v) { return store(r.number(v, 0, 20), t.cornerRadius); }},
        {"background", [&](const QString &v) { return t.background = v, true; }},
        {"backgroundcolor", [&](const QString &v) { return store(r.color(v), t.backgroundColor); }},
        {"cutmarks", [&](const QString &v) { return store(r.number(v, 0, 20), t.cutMarks); }},
    };
}

KeyTable itemKeys(Reader &r, CardItem &i)
{
    return {
        {"type",
         [&](const QString &v) {
             if (v.compare(u"text", Qt::CaseInsensitive) == 0)
                 i.kind = CardItem::Kind::Text;
             else if (v.compare(u"picture", Qt::CaseInsensitive) == 0)
                 i.kind = CardItem::Kind::Picture;
             else if (v.compare(u"box", Qt::CaseInsensitive) == 0)
                 i.kind = CardItem::Kind::Box;
             else
                 r.fail(QStringLiteral("Text, Picture or Box is expected"));
             return r.error.isEmpty();
         }},
        {"rect",
         [&](const QString &v) {
             const auto m = r.numbers(v, 4, 400);
             if (m)
                 i.rect = QRectF(m->at(0), m->at(1), m->at(2), m->at(3));
             return m.has_value();
         }},
        {"text", [&](const QString &v) { return i.text = v, true; }},
        {"field", [&](const QString &v) { return i.field = v, true; }},
        {"size", [&](const QString &v) { return store(r.number(v, 3, 72), i.size); }},
        {"bold", [&](const QString &v) { return store(r.flag(v), i.bold); }},
        {"align", [&](const QString &v) { return store(r.align(v), i.align); }},
        {"color", [&](const QString &v) { return store(r.color(v), i.color); }},
        {"fill", [&](const QString &v) { return store(r.color(v), i.fill); }},
        {"border", [&](const QString &v) { return store(r.color(v), i.border); }},
    };
}

// What a finished template must have to be printable at all.
QString completeness(const ReportTemplate &t)
{
    const QSizeF page = t.pageLayout().fullRectPoints().size() * (25.4 / 72.0);
    const double width = page.width() - t.margins.left() - t.margins.right();
    const double height = page.height() - t.margins.top() - t.margins.bottom();
    if (width < 20 || height < 40)
        return QStringLiteral("the margins leave no room on the page");
    if (t.kind == ReportTemplate::Kind::List) {
        if (t.columns.isEmpty())
            return QStringLiteral("a list needs at least one [Column]");
        return QString();
    }
    if (t.items.isEmpty())
        return QStringLiteral("a card needs at least one [Item]");
    if (t.cardSize.width() > width || t.cardSize.height() > height - 20)
        return QStringLiteral("the card does not fit on the page");
    for (const CardItem &item : t.items) {
        if (item.rect.isEmpty())
            return QStringLiteral("every [Item] needs a Rect");
        if (item.kind == CardItem::Kind::Picture && item.field.isEmpty())
            return QStringLiteral("a Picture item needs a Field");
    }
    return QString();
}

} // namespace

QPageLayout ReportTemplate::pageLayout() const
{
    return QPageLayout(QPageSize(pageSize), orientation, QMarginsF(), QPageLayout::Millimeter);
}

std::optional<ReportTemplate> parseReportTemplate(const QString &text, QString &error)
{
    ReportTemplate result;
    result.fonts = QStringList{QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK TC")};
    Reader reader;
    KeyTable keys;
    QString section;

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        ++reader.line;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))
            || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            if (section == u"report") {
                keys = reportKeys(reader, result);
            } else if (section == u"list") {
                keys = listKeys(reader, result);
            } else if (section == u"column") {
                result.columns.append(ReportColumn());
                keys = columnKeys(reader, result.columns.last());
            } else if (section == u"card") {
                keys = cardKeys(reader, result);
            } else if (section == u"item") {
                result.items.append(CardItem());
                keys = itemKeys(reader, result.items.last());
            } else {
                reader.fail(QStringLiteral("unknown section [%1]").arg(section));
                break;
            }
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            reader.fail(QStringLiteral("\"key = value\" or \"[Section]\" is expected"));
            break;
        }
        if (section.isEmpty()) {
            reader.fail(QStringLiteral("a key before the first section"));
            break;
        }
        const QString key = line.left(equals).trimmed().toLower();
        const auto handler = keys.find(key);
        if (handler == keys.end()) {
            reader.fail(QStringLiteral("unknown key \"%1\" in [%2]").arg(key, section));
            break;
        }
        if (!handler->second(line.mid(equals + 1).trimmed()))
            break;
    }
    if (reader.error.isEmpty()) {
        const QString missing = completeness(result);
        if (!missing.isEmpty())
            reader.error = missing;
    }
    if (!reader.error.isEmpty()) {
        error = reader.error;
        return std::nullopt;
    }
    return result;
}

std::optional<ReportTemplate> loadReportTemplate(const QString &folder,
                                                 const QString &fileName,
                                                 QString &error)
{
    const QString name = QFileInfo(fileName).fileName();
    const QDir dir(folder);
    if (folder.isEmpty() || name.isEmpty() || !dir.exists()) {
        error = QStringLiteral("no report folder or no template name");
        return std::nullopt;
    }
    QString path = dir.filePath(name);
    if (!QFileInfo(path).isFile()) {
        path.clear();
        for (const QString &entry : dir.entryList(QDir::Files)) {
            if (entry.compare(name, Qt::CaseInsensitive) == 0) {
                path = dir.filePath(entry);
                break;
            }
        }
    }
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("template %1 not found in %2").arg(name, folder);
        return std::nullopt;
    }
    std::optional<ReportTemplate> result = parseReportTemplate(QString::fromUtf8(file.readAll()),
                                                               error);
    if (!result)
        error = QStringLiteral("%1: %2").arg(name, error);
    return result;
}

} // namespace zq::suite
