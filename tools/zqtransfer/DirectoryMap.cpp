#include "DirectoryMap.h"

#include "TransferFormat.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace {

const QLatin1String kPhoto("Photo");

// An attribute description as RFC 4512 spells one: a name (or a numeric OID) and options.
bool isAttributeName(const QString &text)
{
    static const QRegularExpression name(
        QStringLiteral("^(?:[A-Za-z][A-Za-z0-9-]*|[0-9]+(?:\\.[0-9]+)+)(?:;[A-Za-z0-9-]+)*$"));
    return name.match(text).hasMatch();
}

} // namespace

DirectoryMap::DirectoryMap()
{
    for (const zq::transfer::TransferColumn &c : zq::transfer::transferColumns())
        m_columns.append(Column{c.code, {}, false, {}});
    const struct
    {
        QChar code;
        QStringList attributes;
    } defaults[] = {
        {u'1', {QStringLiteral("employeeNumber")}},
        {u'2', {QStringLiteral("cn"), QStringLiteral("displayName")}},
        {u'3', {QStringLiteral("mail")}},
        {u'A', {QStringLiteral("departmentNumber"), QStringLiteral("ou")}},
        {u'B', {QStringLiteral("title")}},
        {u'C', {QStringLiteral("employeeType")}},
    };
    for (const auto &d : defaults)
        for (Column &c : m_columns)
            if (c.code == d.code)
                c.attributes = d.attributes;
    refresh();
}

DirectoryMap::Column *DirectoryMap::columnNamed(const QString &name)
{
    const struct
    {
        const char *alias;
        QChar code;
    } aliases[] = {{"Department", u'A'}, {"Title", u'B'}, {"Type", u'C'}};
    for (const auto &a : aliases)
        if (name.compare(QLatin1String(a.alias), Qt::CaseInsensitive) == 0)
            return columnNamed(zq::transfer::columnOf(a.code)->caption);
    for (Column &c : m_columns)
        if (name.compare(zq::transfer::columnOf(c.code)->caption, Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

bool DirectoryMap::apply(const QString &spec, QString &error)
{
    const qsizetype eq = spec.indexOf(u'=');
    const QString attribute = spec.left(eq).trimmed();
    const QString column = eq < 0 ? QString() : spec.mid(eq + 1).trimmed();
    if (eq < 0 || column.isEmpty()) {
        error = QStringLiteral("--map \"%1\": ATTRIBUTE=COLUMN").arg(spec);
        return false;
    }
    const bool drop = attribute == QLatin1String("-");
    if (!drop && !isAttributeName(attribute)) {
        error = QStringLiteral("--map \"%1\": \"%2\" is not an attribute name")
                    .arg(spec, attribute);
        return false;
    }
    if (column.compare(kPhoto, Qt::CaseInsensitive) == 0) {
        if (drop)
            m_photo.clear();
        else
            m_photo = m_photoMapped ? m_photo + QStringList{attribute} : QStringList{attribute};
        m_photoMapped = !drop;
        refresh();
        return true;
    }
    Column *c = columnNamed(column);
    if (!c) {
        error = QStringLiteral("--map \"%1\": no column %2 (HolderNo, HolderName, Email, Birthday, "
                               "StartDate, ExpiredDate, Definable1, Definable2, Description, "
                               "DepartmentName, OccupationTitle, OccupationType, PIN, Photo)")
                    .arg(spec, column);
        return false;
    }
    if (drop && c->code == u'1') {
        error = QStringLiteral("--map \"%1\": the holder number cannot be left out").arg(spec);
        return false;
    }
    if (drop)
        c->attributes.clear();
    else
        c->attributes = c->mapped ? c->attributes + QStringList{attribute} : QStringList{attribute};
    c->mapped = !drop;
    refresh();
    return true;
}

QString DirectoryMap::columnOrder() const
{
    QString order;
    for (const Column &c : m_columns)
        if (!c.attributes.isEmpty())
            order += c.code;
    return order;
}

QStringList DirectoryMap::columnAttributes(QChar code) const
{
    for (const Column &c : m_columns)
        if (c.code == code)
            return c.attributes;
    return {};
}

QStringList DirectoryMap::attributes() const
{
    return m_asked;
}

// The attributes asked for, each once, and where each column finds its own among them.
void DirectoryMap::refresh()
{
    m_asked.clear();
    const auto indexes = [&](const QStringList &list) {
        QList<int> at;
        for (const QString &a : list) {
            qsizetype i = 0;
            while (i < m_asked.size() && m_asked.at(i).compare(a, Qt::CaseInsensitive) != 0)
                ++i;
            if (i == m_asked.size())
                m_asked << a;
            at << int(i);
        }
        return at;
    };
    for (Column &c : m_columns)
        c.at = indexes(c.attributes);
    m_photoAt = indexes(m_photo);
}

DirectoryMap::Row DirectoryMap::rowOf(const DirectoryEntry &entry) const
{
    Row row;
    for (const Column &c : m_columns) {
        if (c.at.isEmpty())
            continue;
        QByteArray bytes;
        qsizetype from = 0;
        for (; from < c.at.size(); ++from) {
            bytes = entry.values.value(c.at.at(from));
            if (!bytes.isNull())
                break;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(bytes);
        if (utf8.hasError() && row.badAttribute.isEmpty())
            row.badAttribute = c.attributes.at(from);
        row.cells << text;
    }
    for (const int at : m_photoAt) {
        row.photo = entry.values.value(at);
        if (!row.photo.isNull())
            break;
    }
    return row;
}
