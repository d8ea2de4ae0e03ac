// The directory sync's map of attributes to holder columns, and the escaping of values the
// tool puts into LDAP filters.
#include "DirectoryMap.h"
#include "LdapSource.h"

#include <QHash>

#include <gtest/gtest.h>

namespace {

// An entry holding `values` for the map's attributes, by name (any case).
DirectoryEntry entryOf(const DirectoryMap &map, const QHash<QString, QByteArray> &values)
{
    DirectoryEntry e;
    e.dn = QStringLiteral("uid=x,dc=test");
    for (const QString &a : map.attributes()) {
        QByteArray v;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            if (it.key().compare(a, Qt::CaseInsensitive) == 0)
                v = it.value();
        e.values << v;
    }
    return e;
}

} // namespace

TEST(DirectoryMap, DefaultsTakeTheFirstAttributeAnEntryHasAndAskForEachAttributeOnce)
{
    DirectoryMap map;
    EXPECT_EQ(map.columnOrder(), "123ABC");
    EXPECT_EQ(map.attributes(),
              (QStringList{"employeeNumber",
                           "cn",
                           "displayName",
                           "mail",
                           "departmentNumber",
                           "ou",
                           "title",
                           "employeeType"}));
    // displayName stands in for a missing cn, ou for a missing departmentNumber.
    const DirectoryMap::Row row = map.rowOf(
        entryOf(map, {{"employeeNumber", "E1"}, {"displayName", "陳大文"}, {"ou", "研發部"}}));
    EXPECT_EQ(row.cells, (QStringList{"E1", "陳大文", "", "研發部", "", ""}));
    EXPECT_TRUE(row.badAttribute.isEmpty());
    EXPECT_TRUE(row.photo.isNull());
    // cn wins when both are there.
    EXPECT_EQ(map.rowOf(entryOf(map, {{"cn", "A"}, {"displayName", "B"}})).cells.at(1), "A");
}

TEST(DirectoryMap, MapOptionsReplaceAddFallbacksAndLeaveColumnsOut)
{
    DirectoryMap map;
    QString error;
    ASSERT_TRUE(map.apply("uid=HolderNo", error)) << error.toStdString();
    ASSERT_TRUE(map.apply("employeeID=holderno", error));
    ASSERT_TRUE(map.apply("-=Email", error));
    ASSERT_TRUE(map.apply("description=Description", error));
    ASSERT_TRUE(map.apply("jpegPhoto=Photo", error));
    ASSERT_TRUE(map.apply("l=Department", error));
    EXPECT_EQ(map.columnOrder(), "129ABC");
    EXPECT_TRUE(map.hasPhoto());
    const DirectoryMap::Row row = map.rowOf(entryOf(map,
                                                    {{"employeeID", "X9"},
                                                     {"l", "Taipei"},
                                                     {"jpegPhoto", QByteArray("\xff\xd8", 2)},
                                                     {"departmentNumber", "ignored"}}));
    EXPECT_EQ(row.cells.at(0), "X9");
    EXPECT_EQ(row.cells.at(3), "Taipei");
    EXPECT_EQ(row.photo, QByteArray("\xff\xd8", 2));

    for (const char *bad :
         {"mail", "mail=", "mail=Salary", "-=HolderNo", "ma il=Email", "(mail)=Email"}) {
        SCOPED_TRACE(bad);
        DirectoryMap fresh;
        EXPECT_FALSE(fresh.apply(QString::fromUtf8(bad), error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(DirectoryMap, AValueThatIsNotUtf8NamesItsAttributeAndAnEmptyValueStaysEmpty)
{
    DirectoryMap map;
    const DirectoryMap::Row row = map.rowOf(
        entryOf(map, {{"employeeNumber", "E1"}, {"title", "\xff\xfe\x01"}, {"mail", ""}}));
    EXPECT_EQ(row.badAttribute, "title");
    EXPECT_EQ(row.cells.at(2), "");
}

TEST(LdapFilter, ValuesBuiltByTheToolCannotChangeTheFilter)
{
    EXPECT_EQ(LdapSource::escapeFilterValue("E001"), "E001");
    EXPECT_EQ(LdapSource::escapeFilterValue("*)(uid=*"), "\\2a\\29\\28uid=\\2a");
    EXPECT_EQ(LdapSource::escapeFilterValue(QStringLiteral("a\\b")), "a\\5cb");
    EXPECT_EQ(LdapSource::escapeFilterValue(QString(QChar(0)) + "x\n"), "\\00x\\0a");
    // Every byte of a character beyond ASCII.
    EXPECT_EQ(LdapSource::escapeFilterValue(QStringLiteral("陳")), "\\e9\\99\\b3");
}
