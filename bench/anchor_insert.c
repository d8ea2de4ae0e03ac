/* The bare C-API load the import of new holders is measured against: the rows of a file
 * (one a line, fields separated by commas, none quoted; an empty field is NULL, the last is
 * the integer sequence number) into a table by one prepared INSERT in one transaction.
 *
 *   anchor_insert DATABASE TABLE COLUMNS FILE      (COLUMNS: "A,B,C")
 */
#include <sqlite3.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(sqlite3 *db, const char *what)
{
    fprintf(stderr, "anchor_insert: %s: %s\n", what, db ? sqlite3_errmsg(db) : "");
    sqlite3_close(db);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: anchor_insert DATABASE TABLE COLUMNS FILE\n");
        return 2;
    }
    int columns = 1;
    for (const char *c = argv[3]; *c; ++c)
        columns += *c == ',';
    char sql[4096];
    int at = snprintf(sql, sizeof sql, "INSERT INTO %s (%s) VALUES (?", argv[2], argv[3]);
    for (int c = 1; c < columns && at < (int)sizeof sql - 8; ++c)
        at += snprintf(sql + at, sizeof sql - (size_t)at, ", ?");
    snprintf(sql + at, sizeof sql - (size_t)at, ")");

    FILE *in = fopen(argv[4], "r");
    if (!in) {
        perror(argv[4]);
        return 1;
    }
    sqlite3 *db = NULL;
    if (sqlite3_open(argv[1], &db) != SQLITE_OK)
        return fail(db, "open");
    sqlite3_stmt *insert = NULL;
    if (sqlite3_exec(db, "BEGIN", NULL, NULL, NULL) != SQLITE_OK
        || sqlite3_prepare_v2(db, sql, -1, &insert, NULL) != SQLITE_OK)
        return fail(db, sql);
    char line[8192];
    long rows = 0;
    while (fgets(line, sizeof line, in)) {
        size_t n = strcspn(line, "\r\n");
        line[n] = '\0';
        char *field = line;
        for (int c = 0; c < columns; ++c) {
            char *end = strchr(field, ',');
            const int size = end ? (int)(end - field) : (int)strlen(field);
            if (size == 0)
                sqlite3_bind_null(insert, c + 1);
            else if (c == columns - 1)
                sqlite3_bind_int64(insert, c + 1, strtoll(field, NULL, 10));
            else
                sqlite3_bind_text(insert, c + 1, field, size, SQLITE_STATIC);
            field = end ? end + 1 : field + size;
        }
        if (sqlite3_step(insert) != SQLITE_DONE)
            return fail(db, "insert");
        sqlite3_reset(insert);
        ++rows;
    }
    fclose(in);
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", NULL, NULL, NULL) != SQLITE_OK)
        return fail(db, "commit");
    sqlite3_close(db);
    printf("%ld\n", rows);
    return 0;
}
