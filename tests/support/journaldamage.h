// A journal.db damaged in place as a failing disk damages it: one table's
// first page overwritten, everything else as it was. The file still opens and
// says its schema version; reading that table fails. For test programs that
// link SQLite.
#pragma once

#include <sqlite3.h>

#include <fstream>
#include <string>

inline bool DamageTable(const std::string& path, const std::string& table)
{
    sqlite3* db = nullptr;
    long long root = 0;
    long long pageSize = 0;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        // Everything in the file itself, none of it in a write-ahead log.
        sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        const char* sql =
            "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master "
            "WHERE type='table' AND name=?";
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(s, 1, table.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(s) == SQLITE_ROW) {
                root = sqlite3_column_int64(s, 0);
                pageSize = sqlite3_column_int64(s, 1);
            }
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    if (root < 2 || pageSize <= 0)
        return false;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((root - 1) * pageSize);
    const std::string garbage(static_cast<std::size_t>(pageSize), '\xA5');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    return static_cast<bool>(file.flush());
}
