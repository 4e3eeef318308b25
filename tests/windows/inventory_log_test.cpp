// The duplicate scan of log mode on Wine's files and C runtime: it may lead to an append only
// when it read the whole log.
#include <gtest/gtest.h>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "core/inventory_record.h"
#include "inventory/inventory_log.h"
#include "inventory/log_line.h"
#include "record_reset.h"

namespace {

// A text stream over a handle with the given access, as log mode makes its own.
FILE* LogStream(const char* path, DWORD access) {
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT), "a+t");
}

TEST(LogScan, AppendsOnlyAfterReadingTheWholeLog) {
    ResetInventoryRecord();
    JoinKeyToRecord(InventoryRecord);
    const std::string line = std::string(InventoryRecord) + "\r\n";
    // A handle without read data fails every read, as another program's byte-range lock
    // fails them on Windows (Wine does not enforce those locks).
    const struct {
        std::string content;
        DWORD access;
        bool lacking;
    } rows[] = {{"", FILE_READ_DATA, true},
                {"other\r\n", FILE_READ_DATA, true},
                {"other\r\n" + line, FILE_READ_DATA, false},
                {"other\r\n", FILE_APPEND_DATA, false}};
    char path[MAX_PATH];
    GetTempFileNameA(".", "log", 0, path);
    for (const auto& row : rows) {
        FILE* writer = fopen(path, "wb");
        ASSERT_NE(writer, nullptr);
        fputs(row.content.c_str(), writer);
        fclose(writer);
        FILE* log = LogStream(path, row.access);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(LogLacksRecordLine(log), row.lacking) << row.content << row.access;
        fclose(log);
    }
    DeleteFileA(path);
    ResetInventoryRecord();
}

}  // namespace
