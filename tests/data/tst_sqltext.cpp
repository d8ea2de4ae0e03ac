#include "SqlText.h"

#include <gtest/gtest.h>

using namespace zq::data::sqltext;

struct BaseTableRow
{
    const char *name;
    const char *sql;
    const char *table;
};

class BaseTable : public testing::TestWithParam<BaseTableRow>
{
};

TEST_P(BaseTable, IsFoundOnlyForOneTableSelects)
{
    EXPECT_EQ(baseTableOf(QString::fromUtf8(GetParam().sql)).toStdString(), GetParam().table);
}

INSTANTIATE_TEST_SUITE_P(
    Statements,
    BaseTable,
    testing::Values(
        BaseTableRow{"plain", "Select * From OccupationTitle Order By TitleNo", "OccupationTitle"},
        BaseTableRow{"where", " SELECT * FROM UserData WHERE 1 = 2 ", "UserData"},
        BaseTableRow{"alias", "SELECT h.* FROM HolderData h WHERE h.HolderNo = 'x'", "HolderData"},
        BaseTableRow{"asAlias", "SELECT * FROM HolderData AS h", "HolderData"},
        BaseTableRow{"join", "SELECT * FROM HolderData LEFT JOIN DepartmentData AS d ON 1=1", ""},
        BaseTableRow{"twoTables", "SELECT * FROM HolderData, DepartmentData", ""},
        BaseTableRow{"parenthesisedJoin",
                     "SELECT * FROM ((HolderData INNER JOIN DepartmentData ON 1=1))",
                     ""},
        BaseTableRow{
            "keywordInValue", "SELECT * FROM CardData WHERE HolderNo = 'a JOIN b'", "CardData"},
        BaseTableRow{"group", "SELECT DepartmentNo FROM HolderData GROUP BY DepartmentNo", ""},
        BaseTableRow{"notSelect", "DELETE FROM HolderData", ""}),
    [](const auto &info) { return std::string(info.param.name); });

struct StatementRow
{
    const char *name;
    const char *sql;
    bool single;
};

class SingleStatement : public testing::TestWithParam<StatementRow>
{
};

TEST_P(SingleStatement, RefusesAnythingAfterASeparator)
{
    EXPECT_EQ(singleStatementRefusal(QString::fromUtf8(GetParam().sql)).isEmpty(),
              GetParam().single);
}

INSTANTIATE_TEST_SUITE_P(
    Statements,
    SingleStatement,
    testing::Values(StatementRow{"plain", "SELECT 1", true},
                    StatementRow{"trailingSeparator", "SELECT 1 ;  ", true},
                    StatementRow{
                        "separatorInValue", "SELECT * FROM t WHERE a = 'x; DROP TABLE t'", true},
                    StatementRow{"doubledQuote", "SELECT * FROM t WHERE a = 'it''s; DROP'", true},
                    StatementRow{"second", "SELECT 1; DROP TABLE t", false},
                    StatementRow{"afterComment", "SELECT 1 -- ; x\n; DELETE FROM t", false},
                    StatementRow{"unclosedQuote", "SELECT 'abc", false},
                    StatementRow{"dollarQuoted", "SELECT $$'$$; DROP TABLE t", false},
                    StatementRow{"escapeString", "SELECT E'\\''; DROP TABLE t", false}),
    [](const auto &info) { return std::string(info.param.name); });

struct QueryRow
{
    const char *name;
    const char *sql;
    bool query;
};

class AsksForRows : public testing::TestWithParam<QueryRow>
{
};

TEST_P(AsksForRows, OnlyWhenItStartsAsAQuery)
{
    EXPECT_EQ(startsAsQuery(QString::fromUtf8(GetParam().sql)), GetParam().query);
}

INSTANTIATE_TEST_SUITE_P(
    Statements,
    AsksForRows,
    testing::Values(QueryRow{"select", " select * FROM t", true},
                    QueryRow{"with", "WITH a AS (SELECT 1) SELECT * FROM a", true},
                    QueryRow{"values", "VALUES (1)", true},
                    QueryRow{"table", "TABLE t", true},
                    QueryRow{"parenthesised", "((SELECT 1) UNION (SELECT 2))", true},
                    QueryRow{"afterComments", "/* a; b */ -- c\n  SELECT 1", true},
                    QueryRow{"longerWord", "SELECTED FROM t", false},
                    QueryRow{"explain", "EXPLAIN SELECT 1", false},
                    QueryRow{"show", "SHOW TimeZone", false},
                    QueryRow{"insertSelect", "INSERT INTO t SELECT * FROM u", false},
                    QueryRow{"begin", "BEGIN", false},
                    QueryRow{"quotedFirst", "'select' ", false},
                    QueryRow{"unclosedComment", "SELECT 1 /* x", false},
                    QueryRow{"empty", "  ", false}),
    [](const auto &info) { return std::string(info.param.name); });
