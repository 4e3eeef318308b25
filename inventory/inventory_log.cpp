#include "inventory/inventory_log.h"

#include <windows.h>

#include "core/inventory_record.h"
#include "inventory/identity_collectors.h"
#include "inventory/log_line.h"

namespace {

// How long a run waits in all for other runs or programs to let go of a shared log. Every
// open of a run counts against this one bound from the run's first open, so no run waits
// twice.
constexpr DWORD kHolderWaitMilliseconds = 10000;
constexpr DWORD kHolderRetryMilliseconds = 50;

// A shared log grows to many thousand lines; large reads keep the scan quick.
char readBuffer[65536];

bool IsHeldByAnotherProcess(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool IsRefusedForRights(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_NETWORK_ACCESS_DENIED;
}

// Opens the log, retrying while another process holds it until the run's bound, counted from
// waitStart, has passed. On failure the thread's last error tells why. The platform adds
// SYNCHRONIZE and FILE_READ_ATTRIBUTES to the access; a grant on the file must hold those too.
HANDLE OpenLog(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD waitStart) {
    for (;;) {
        HANDLE file =
            CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || !IsHeldByAnotherProcess(GetLastError()) ||
            GetTickCount() - waitStart >= kHolderWaitMilliseconds) {
            return file;
        }
        Sleep(kHolderRetryMilliseconds);
    }
}

bool MoveFilePointer(HANDLE file, unsigned long long offset, DWORD method) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, distance, nullptr, method) != 0;
}

// True when the log was read from the file pointer to its end and holds no line of the
// record's machine state there; false when a line matches or a read failed part of the way
// (another program's byte-range lock, a network fault), since the line may be in what was
// not read.
bool LogLacksRecordLine(HANDLE file, LogScan* scan) {
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, readBuffer, sizeof readBuffer, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            return !ScanLogEnd(scan, InventoryRecord);
        }
        if (ScanLogBytes(scan, readBuffer, read, InventoryRecord)) {
            return false;
        }
    }
}

// Appends the record as one whole line in one write, after a line feed that ends a cut-off
// last line. An append-only handle over SMB writes where its file pointer stands (offset 0
// of a new handle), so the pointer is moved to the end first, as the C runtime's append
// mode did.
void AppendRecordLine(HANDLE file, bool endPreviousLine) {
    char line[kAppendedLineSize];
    const size_t length = FormatAppendedLine(InventoryRecord, endPreviousLine, line);
    DWORD written = 0;
    if (MoveFilePointer(file, 0, FILE_END)) {
        WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    }
}

// After the look found no line: opens (or creates) the log for read and append data while
// excluding other writers (readers are not excluded), reads what was added after the last
// whole line the look saw (all of it if the log has since become shorter), and appends only
// if that holds no line of the machine state either. So of two runs of one machine state
// whose looks both missed, the second finds the first one's line.
void AppendUnlessLogged(const char* path, unsigned long long seenUpTo, DWORD waitStart) {
    HANDLE file =
        OpenLog(path, FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, waitStart);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    LARGE_INTEGER size;
    LogScan scan;
    if (GetFileSizeEx(file, &size)) {
        const auto length = static_cast<unsigned long long>(size.QuadPart);
        StartLogScan(&scan, length < seenUpTo ? 0 : seenUpTo);
        if (MoveFilePointer(file, scan.offset, FILE_BEGIN) && LogLacksRecordLine(file, &scan)) {
            AppendRecordLine(file, ScanEndsInsideALine(&scan));
        }
    }
    CloseHandle(file);
}

// Appends the record unseen to a log that may be appended to but not read, as a share that
// hides the log from users grants: the look was refused for rights, so nothing can be checked
// for and no cut-off line ended.
void AppendUnseen(const char* path, DWORD waitStart) {
    HANDLE file = OpenLog(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, waitStart);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    AppendRecordLine(file, false);
    CloseHandle(file);
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

    // The look: reads the log under an open that asks for read data only and shares reading
    // and writing, so a machine already logged, which is nearly every run after the first
    // day, keeps no writer out while it reads. It waits only for a holder that lets nobody
    // read. A log refused for rights is one that may be appended to unseen; a missing one is
    // created by the next step; after any other failure the line comes at a later logon.
    const DWORD waitStart = GetTickCount();
    HANDLE file =
        OpenLog(path, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, waitStart);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (IsRefusedForRights(error)) {
            AppendUnseen(path, waitStart);
        } else if (error == ERROR_FILE_NOT_FOUND) {
            AppendUnlessLogged(path, 0, waitStart);
        }
        return true;
    }
    LogScan scan;
    StartLogScan(&scan, 0);
    const bool lacksLine = LogLacksRecordLine(file, &scan);
    CloseHandle(file);
    if (lacksLine) {
        AppendUnlessLogged(path, scan.lineStart, waitStart);
    }
    return true;
}
