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

// How long log mode may take in all, holder waits included, whatever the log, its server or
// another program does: logons wait for their scripts.
constexpr DWORD kRunDeadlineMilliseconds = 20000;

// How much of the log a run reads: none of it past this. Every user may append to a readable
// log, so without a bound one user's bytes would be read at every logon of the fleet. A
// lawful log is far smaller (100,000 lines are 8.5 MB); a longer one is full, and the run
// appends nothing.
constexpr unsigned long long kLogReadCap = 16ull * 1024 * 1024;

// A shared log grows to many thousand lines; large reads keep the scan quick.
char readBuffer[65536];

// Which file an open reached: another file at the same path is scanned from its start.
struct LogIdentity {
    DWORD volumeSerialNumber;
    DWORD fileIndexHigh;
    DWORD fileIndexLow;
};

bool IsHeldByAnotherProcess(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool IsRefusedForRights(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_NETWORK_ACCESS_DENIED;
}

// Only a file on a disk (local or on a share) is a log: a named pipe, a serial port or a
// console would make a read wait for a sender that may never come. Anything else is closed
// and fails the open with an error that no caller takes for a passing one.
HANDLE KeepDiskFileOnly(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(ERROR_BAD_FILE_TYPE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
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
            return KeepDiskFileOnly(file);
        }
        Sleep(kHolderRetryMilliseconds);
    }
}

// False when the platform cannot tell; the caller then takes the file for another one and
// scans it from its start.
bool IdentifyLog(HANDLE file, LogIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    identity->volumeSerialNumber = information.dwVolumeSerialNumber;
    identity->fileIndexHigh = information.nFileIndexHigh;
    identity->fileIndexLow = information.nFileIndexLow;
    return true;
}

bool IsSameFile(const LogIdentity& one, const LogIdentity& other) {
    return one.volumeSerialNumber == other.volumeSerialNumber &&
           one.fileIndexHigh == other.fileIndexHigh && one.fileIndexLow == other.fileIndexLow;
}

bool GetLogSize(HANDLE file, unsigned long long* size) {
    LARGE_INTEGER platformSize;
    if (!GetFileSizeEx(file, &platformSize)) {
        return false;
    }
    *size = static_cast<unsigned long long>(platformSize.QuadPart);
    return true;
}

// True when the scan has read all the log holds; false too when the size cannot be told.
bool ScanReachedLogEnd(HANDLE file, const LogScan* scan) {
    unsigned long long size;
    return GetLogSize(file, &size) && scan->offset >= size;
}

bool MoveFilePointer(HANDLE file, unsigned long long offset, DWORD method) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, distance, nullptr, method) != 0;
}

// True when the log was read from the file pointer to its end and holds no line of the
// record's machine state there; false when a line matches, a read failed part of the way
// (another program's byte-range lock, a network fault), since the line may be in what was
// not read, or the log goes on past the cap: it is full. A line early in the log is found
// after reading little more than up to it.
bool LogLacksRecordLine(HANDLE file, LogScan* scan) {
    for (;;) {
        const unsigned long long room = scan->offset < kLogReadCap ? kLogReadCap - scan->offset : 0;
        const DWORD wanted =
            room < sizeof readBuffer ? static_cast<DWORD>(room) : sizeof readBuffer;
        if (wanted == 0) {
            return ScanReachedLogEnd(file, scan) && !ScanLogEnd(scan, InventoryRecord);
        }
        DWORD read = 0;
        if (!ReadFile(file, readBuffer, wanted, &read, nullptr)) {
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
// mode did. The one write of at most kAppendedLineSize bytes reaches the file system as one
// request (over SMB one WRITE, far below any server's largest): a deadline that ends the
// process meanwhile lets it complete or cancels it whole, and never splits the line.
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
// whole line the look saw (all of it if the path now holds another file or a shorter one),
// and appends only if that holds no line of the machine state either. So of two runs of one
// machine state whose looks both missed, the second finds the first one's line. seen is
// what the look identified, or null when there was nothing to look at.
void AppendUnlessLogged(const char* path, const LogIdentity* seen, unsigned long long seenUpTo,
                        DWORD waitStart) {
    HANDLE file =
        OpenLog(path, FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, waitStart);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    unsigned long long size;
    LogIdentity locked;
    LogScan scan;
    if (GetLogSize(file, &size) && size <= kLogReadCap) {
        const bool resumes = size >= seenUpTo && seen != nullptr && IdentifyLog(file, &locked) &&
                             IsSameFile(*seen, locked);
        StartLogScan(&scan, resumes ? seenUpTo : 0);
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

DWORD WINAPI LogInventoryOnWorker(void* path) {
    LogInventory(static_cast<const char*>(path));
    return 0;
}

// Runs log mode on a worker thread, which the main thread waits for until the deadline. A
// call that never returns (a hung file server, a read that another program's lock or an
// oplock break holds) ends with the process then. The process is ended by TerminateProcess,
// not ExitProcess: ExitProcess would run every DLL's detach code after ending the worker,
// and a lock the worker held there (the heap's, the loader's) would keep the process alive
// for ever. Nothing of log mode needs flushing, and the platform cancels pending I/O.
void LogInventoryBeforeDeadline(char* path) {
    HANDLE worker = CreateThread(nullptr, 0, LogInventoryOnWorker, path, 0, nullptr);
    if (worker == nullptr) {
        LogInventory(path);
        return;
    }
    if (WaitForSingleObject(worker, kRunDeadlineMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(GetCurrentProcess(), 0);
    }
    CloseHandle(worker);
}

}  // namespace

bool RunLogModeIfRequested() {
    if (LogPath[0] == '\0') {
        return false;
    }
    LogInventoryBeforeDeadline(LogPath);
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
            AppendUnlessLogged(path, nullptr, 0, waitStart);
        }
        return true;
    }
    LogIdentity seen;
    const bool identified = IdentifyLog(file, &seen);
    LogScan scan;
    StartLogScan(&scan, 0);
    const bool lacksLine = LogLacksRecordLine(file, &scan);
    CloseHandle(file);
    if (lacksLine) {
        AppendUnlessLogged(path, identified ? &seen : nullptr, scan.lineStart, waitStart);
    }
    return true;
}
