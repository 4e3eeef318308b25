#include "inventory/inventory_log.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "core/inventory_record.h"
#include "inventory/identity_collectors.h"
#include "inventory/log_line.h"

namespace {

constexpr size_t kLineBufferSize = 512;
// How long a run waits for other runs (or other writers) to let go of a shared log.
constexpr DWORD kLockWaitMilliseconds = 10000;
constexpr DWORD kLockRetryMilliseconds = 50;

// A shared log grows to many thousand lines; large reads keep the scan quick.
char streamBuffer[65536];

bool IsHeldByAnotherProcess(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Opens (or creates) the log with the given access while excluding other writers; readers
// are not excluded. Waits a bounded time while another process holds the file. On failure
// the thread's last error tells why. The platform adds SYNCHRONIZE and FILE_READ_ATTRIBUTES
// to the access; a grant on the file must hold those too.
HANDLE OpenLogAgainstWriters(const char* path, DWORD access) {
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || !IsHeldByAnotherProcess(GetLastError()) ||
            GetTickCount() - start >= kLockWaitMilliseconds) {
            return file;
        }
        Sleep(kLockRetryMilliseconds);
    }
}

// True when the log is refused for reading for lack of rights. Shares reading and writing, so
// a run or reader that lets others read does not refuse it; one that lets nobody read does,
// with a sharing violation: the log is then readable but held, not unreadable.
bool IsReadingRefusedForRights(const char* path) {
    HANDLE file = CreateFileA(path, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_NETWORK_ACCESS_DENIED;
}

// True when the file has bytes and the last one is not a line feed: an earlier line was
// cut off or edited by hand, and the next line must not run into it.
bool EndsInsideALine(HANDLE file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart == 0) {
        return false;
    }
    char last = '\n';
    DWORD read = 0;
    SetFilePointer(file, -1, nullptr, FILE_END);
    ReadFile(file, &last, 1, &read, nullptr);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return read == 1 && last != '\n';
}

// A text-mode stream over the handle: CR LF becomes LF on reading and back on writing, and
// a 0x1A byte ends the reading. Closes the handle when no stream can be made.
FILE* OpenTextStream(HANDLE file, const char* mode) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, mode);
    if (stream == nullptr) {
        _close(descriptor);
        return nullptr;
    }
    setvbuf(stream, streamBuffer, _IOFBF, sizeof streamBuffer);
    return stream;
}

// True when the whole log was read and holds no line of the record's machine state; false
// when a line matches or a read failed part of the way, since the line may be in what was not
// read. The log is read line by line, longer lines in pieces. A failed read (another
// program's byte-range lock, a network fault) ends fgets as the end of the file would.
bool LogLacksRecordLine(FILE* log) {
    char line[kLineBufferSize];
    while (fgets(line, sizeof line, log) != nullptr) {
        if (LineMatchesRecord(line, InventoryRecord)) {
            return false;
        }
    }
    return ferror(log) == 0;
}

// Appends the record as one whole line, after a line feed that ends a cut-off last line.
void AppendRecordLine(FILE* log, bool endPreviousLine) {
    fseek(log, 0, SEEK_END);
    if (endPreviousLine) {
        fputs("\n", log);
    }
    fputs(InventoryRecord, log);
    if (!EndsWithLineFeed(InventoryRecord)) {
        fputs("\n", log);
    }
}

// After the read-and-append open of the log failed with openError: appends the record unseen
// when the log may be appended to but not read, as a share that hides the log from users
// grants. The append handle is taken first, so no other writer comes between the test for
// reading and the line. A holder (now or at the first open) or a log that can be read, or
// whose reading fails for another reason than rights (the network), gets no line unseen: it
// could repeat a logged line or run into a cut-off one, so the line comes at the next logon.
void AppendUnseenIfUnreadable(const char* path, DWORD openError) {
    if (IsHeldByAnotherProcess(openError)) {
        return;
    }
    HANDLE file = OpenLogAgainstWriters(path, FILE_APPEND_DATA);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (!IsReadingRefusedForRights(path)) {
        CloseHandle(file);
        return;
    }
    FILE* log = OpenTextStream(file, "at");
    if (log == nullptr) {
        return;
    }
    AppendRecordLine(log, false);
    fclose(log);
}

}  // namespace

bool RunLogModeIfRequested() {
    if (LogPath[0] == '\0') {
        return false;
    }
    LogInventory(LogPath);
    return true;
}

void CompleteInventoryRecord() {
    JoinKeyToRecord(InventoryRecord);
    CollectMacAddress();
    CollectIpAddress();
    CollectUserName();
    CollectComputerName();
}

bool LogInventory(const char* path) {
    CompleteInventoryRecord();

    // Reading and appending under one open that keeps other writers out makes the duplicate
    // test and the append one step. It asks for exactly what the run does, so a grant of read
    // and append data (no write data, no GENERIC_READ extras such as READ_CONTROL) suffices.
    HANDLE file = OpenLogAgainstWriters(path, FILE_READ_DATA | FILE_APPEND_DATA);
    if (file == INVALID_HANDLE_VALUE) {
        AppendUnseenIfUnreadable(path, GetLastError());
        return true;
    }
    const bool endPreviousLine = EndsInsideALine(file);
    FILE* log = OpenTextStream(file, "a+t");
    if (log == nullptr) {
        return true;
    }
    if (LogLacksRecordLine(log)) {
        AppendRecordLine(log, endPreviousLine);
    }
    fclose(log);
    return true;
}
