#include "GridLayouts.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QHeaderView>
#include <QTableView>

#include <SimpleIni.h>

#include <algorithm>
#include <map>
#include <vector>

namespace zq::suite {

namespace {

// An ini key cannot hold '=' nor start with '[' or a comment character, and loses its
// outer blanks; such a column, or one without a header text, is keyed by its model position
// behind a prefix that is no comment character itself, or the line would read back as one.
QString columnKey(const QTableView &grid, int logical)
{
    QString key = grid.model()->headerData(logical, Qt::Horizontal).toString().simplified();
    key.replace(QLatin1Char('='), QLatin1Char('_'));
    if (key.isEmpty() || key.front() == QLatin1Char('[') || key.front() == QLatin1Char(';')
        || key.front() == QLatin1Char('#'))
        key = QStringLiteral("<%1> %2").arg(logical).arg(key).trimmed();
    return key;
}

bool loadIni(CSimpleIniA &ini, const QString &file)
{
    ini.SetUnicode(true);
    ini.SetSpaces(false);
    if (!QFile::exists(file))
        return true;
    return ini.LoadFile(QFile::encodeName(file).constData()) >= 0;
}

struct Placement
{
    int visual = -1;
    int width = 0;
};

} // namespace

bool saveGridLayout(const QTableView &grid, const QString &file, const QString &layoutKey)
{
    if (!grid.model() || layoutKey.isEmpty())
        return false;
    CSimpleIniA ini(true);
    // A damaged file is written anew rather than left without the layout.
    if (!loadIni(ini, file))
        ini.Reset();
    const QByteArray section = layoutKey.toUtf8();
    ini.Delete(section.constData(), nullptr);

    const QHeaderView *header = grid.horizontalHeader();
    for (int logical = 0; logical < header->count(); ++logical) {
        const QString value = QStringLiteral("%1,%2")
                                  .arg(header->visualIndex(logical))
                                  .arg(header->sectionSize(logical));
        ini.SetValue(section.constData(),
                     columnKey(grid, logical).toUtf8().constData(),
                     value.toUtf8().constData());
    }
    return ini.SaveFile(QFile::encodeName(file).constData()) >= 0;
}

bool restoreGridLayout(QTableView &grid, const QString &file, const QString &layoutKey)
{
    if (!grid.model() || layoutKey.isEmpty() || !QFile::exists(file))
        return false;
    CSimpleIniA ini(true);
    if (!loadIni(ini, file))
        return false;
    const QByteArray section = layoutKey.toUtf8();
    if (!ini.GetSection(section.constData()))
        return false;

    QHeaderView *header = grid.horizontalHeader();
    const int count = header->count();
    std::map<int, Placement> saved; // by logical index
    for (int logical = 0; logical < count; ++logical) {
        const char *value = ini.GetValue(section.constData(),
                                         columnKey(grid, logical).toUtf8().constData());
        if (!value)
            continue;
        const QStringList parts = QString::fromUtf8(value).split(QLatin1Char(','));
        bool visualOk = false;
        bool widthOk = false;
        Placement placement;
        placement.visual = parts.value(0).trimmed().toInt(&visualOk);
        placement.width = parts.value(1).trimmed().toInt(&widthOk);
        if (!visualOk || placement.visual < 0)
            placement.visual = -1;
        if (!widthOk)
            placement.width = 0;
        saved[logical] = placement;
    }
    if (saved.empty())
        return false;

    // The final order: named columns at their saved positions (clamped; a taken position
    // goes to the next free one), then the others into the gaps in their current order.
    std::vector<int> order(count, -1);
    std::vector<std::pair<int, int>> named; // (visual, logical)
    for (const auto &[logical, placement] : saved) {
        if (placement.visual >= 0)
            named.emplace_back(std::min(placement.visual, count - 1), logical);
    }
    std::sort(named.begin(), named.end());
    std::vector<bool> placed(count, false);
    for (const auto &[visual, logical] : named) {
        int slot = visual;
        while (slot < count && order[slot] >= 0)
            ++slot;
        if (slot == count)
            continue;
        order[slot] = logical;
        placed[logical] = true;
    }
    int gap = 0;
    for (int visual = 0; visual < count; ++visual) {
        const int logical = header->logicalIndex(visual);
        if (placed[logical])
            continue;
        while (order[gap] >= 0)
            ++gap;
        order[gap] = logical;
    }
    // Columns left of `target` are final, so the one wanted there sits at or right of it.
    for (int target = 0; target < count; ++target) {
        const int from = header->visualIndex(order[target]);
        if (from != target)
            header->moveSection(from, target);
    }
    for (const auto &[logical, placement] : saved) {
        if (placement.width > 0)
            header->resizeSection(logical, placement.width);
    }
    return true;
}

} // namespace zq::suite
