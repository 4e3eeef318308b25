// Contends with quorv.exe for its log file, the way other logon scripts and people do.
// The command line of quorv.exe comes from QUORV_COMMAND_LINE.
//
//   log_contender race N        starts N runs at once and waits for all; prints their
//                               exit codes ("exits=0 0 ...").
//   log_contender race-machines N PATH
//                               the same with N/2 machine states, two runs each: starts N
//                               copies of itself as "machine I/2 PATH" and reports like race.
//   log_contender machine I PATH
//                               logs to PATH with log mode's own code, as a machine whose
//                               key is "MA<III>-...".
//   log_contender refuse PATH FIRST READS free|held
//                               logs to PATH with log mode's own code while its opens of PATH
//                               are refused as a share or network would refuse them: the first
//                               with error FIRST without asking the platform (0: no such
//                               fault), each one asking for read data with error READS after
//                               the platform opened it (0: none; "fail": opened without read
//                               data, so that its reads fail). "held" keeps PATH open for
//                               reading meanwhile, letting others write but not read. Prints
//                               "done".
//   log_contender gap PATH run|shorten|replace|run-at-append
//                               logs to PATH with log mode's own code; after its first scan
//                               and before it opens PATH to append, a whole run ends ("run")
//                               or PATH is replaced by a shorter log holding only this
//                               machine's line ("shorten"; "replace" writes it to a new file
//                               moved over PATH); or a whole run ends between its
//                               scan under that open and its move to the end to append
//                               ("run-at-append"). Prints "done".
//   log_contender hold PATH MS writer|reader|sole|sole-then-reader
//                               keeps PATH open while one run starts, lets go after MS
//                               milliseconds; prints "waiting=1|0 exit=N", where waiting tells
//                               whether the run was still going on then. A writer lets others
//                               read, a reader (as spreadsheets open files) lets others read
//                               but not write, "sole" lets nobody read or write, and
//                               "sole-then-reader" turns from sole into a reader at MS/2.
//                               "pipe" serves PATH as a named pipe that sends nothing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/inventory_record.h"
#include "inventory/inventory_log.h"
#include "inventory/log_line.h"
#include "key/product_key.h"

namespace {

char commandLine[32768];

bool StartProcess(char* line, PROCESS_INFORMATION* process, DWORD flags) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        process)) {
        fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return false;
    }
    return true;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

// Waits for every run and prints their exit codes.
int ReportExits(const std::vector<PROCESS_INFORMATION>& runs) {
    printf("exits=");
    for (auto& run : runs)
        printf("%lu ", WaitForExit(run));
    printf("\n");
    return 0;
}

// All runs are created suspended and then released together, so they overlap as much as
// the machine allows.
int Race(int count) {
    std::vector<PROCESS_INFORMATION> runs(static_cast<size_t>(count));
    for (auto& run : runs) {
        if (!StartProcess(commandLine, &run, CREATE_SUSPENDED))
            return 101;
    }
    for (auto& run : runs)
        ResumeThread(run.hThread);
    return ReportExits(runs);
}

HANDLE OpenAsHolder(const char* path, const char* kind) {
    if (strcmp(kind, "pipe") == 0)
        return CreateNamedPipeA(path, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0,
                                nullptr);
    const bool writer = strcmp(kind, "writer") == 0;
    return CreateFileA(path, writer ? GENERIC_WRITE : GENERIC_READ,
                       strncmp(kind, "sole", 4) == 0 ? 0 : FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Hold(const char* path, DWORD milliseconds, const char* kind) {
    HANDLE file = OpenAsHolder(path, kind);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot hold %s: %lu\n", path, GetLastError());
        return 102;
    }
    PROCESS_INFORMATION run = {};
    if (!StartProcess(commandLine, &run, 0))
        return 101;
    const bool turns = strcmp(kind, "sole-then-reader") == 0;
    bool waiting =
        WaitForSingleObject(run.hProcess, turns ? milliseconds / 2 : milliseconds) == WAIT_TIMEOUT;
    if (turns && waiting) {
        CloseHandle(file);
        file = OpenAsHolder(path, "reader");
        waiting =
            WaitForSingleObject(run.hProcess, milliseconds - milliseconds / 2) == WAIT_TIMEOUT;
    }
    CloseHandle(file);
    printf("waiting=%d exit=%lu\n", waiting ? 1 : 0, WaitForExit(run));
    return 0;
}

constexpr char kReadyName[] = "quorv-race-ready";
constexpr char kGoName[] = "quorv-race-go";

// Starts the machines, waits until each is ready, then lets them all log at one moment, so
// that the two runs of a machine state meet at the log as often as the machine allows:
// released from suspension they would reach the file one after another.
int RaceMachines(int count, const char* path) {
    HANDLE ready = CreateSemaphoreA(nullptr, 0, count, kReadyName);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, kGoName);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::vector<PROCESS_INFORMATION> runs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string line =
            std::string("\"") + self + "\" machine " + std::to_string(i / 2) + " \"" + path + "\"";
        if (!StartProcess(&line[0], &runs[static_cast<size_t>(i)], 0))
            return 101;
    }
    for (int i = 0; i < count; ++i)
        WaitForSingleObject(ready, 60000);
    SetEvent(go);
    return ReportExits(runs);
}

// Log mode as it runs in quorv.exe after the key was read, with a key of this machine's own.
int LogAsMachine(int index, const char* path) {
    snprintf(InventoryRecord, kKeyTextLength + 1, "MA%03d-BCDFG-HJKMP-QRTVW-XY234", index);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReadyName);
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, kGoName);
    ReleaseSemaphore(ready, 1, nullptr);
    WaitForSingleObject(go, 60000);
    LogInventory(path);
    return 0;
}

// Wine keeps no rights on files, so what a share refuses is refused here, at this process's
// own import of CreateFileA, through which log mode's code opens the log.
struct Refusal {
    const char* path;
    DWORD firstOpenError;
    DWORD readError;
    bool readsFail;
    bool firstOpenDone;
};
Refusal refusal;
// What comes before log mode's first open to append ("run", "shorten") or its first move to
// the end of a file ("run-at-append"), or nothing.
const char* gapAction = "";
decltype(&CreateFileA) platformCreateFileA;

// Fills the gap as gapAction says, once.
void FillGap() {
    const char* action = gapAction;
    const bool replace = strcmp(action, "replace") == 0;
    gapAction = "";
    if (strcmp(action, "run") == 0 || strcmp(action, "run-at-append") == 0) {
        PROCESS_INFORMATION run = {};
        if (StartProcess(commandLine, &run, 0))
            WaitForExit(run);
    } else if (replace || strcmp(action, "shorten") == 0) {
        const std::string name = std::string(refusal.path) + (replace ? ".new" : "");
        char line[kAppendedLineSize];
        DWORD written = 0;
        HANDLE file = platformCreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        WriteFile(file, line, static_cast<DWORD>(FormatAppendedLine(InventoryRecord, false, line)),
                  &written, nullptr);
        CloseHandle(file);
        if (replace)
            MoveFileExA(name.c_str(), refusal.path, MOVEFILE_REPLACE_EXISTING);
    }
}

HANDLE WINAPI RefusingCreateFileA(LPCSTR path, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile) {
    const bool ofLog = _stricmp(path, refusal.path) == 0;
    if (ofLog && !refusal.firstOpenDone) {
        refusal.firstOpenDone = true;
        if (refusal.firstOpenError != 0) {
            SetLastError(refusal.firstOpenError);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (ofLog && (access & FILE_APPEND_DATA) && strcmp(gapAction, "run-at-append") != 0)
        FillGap();
    // Every read through such a handle fails, as reads of bytes that another program locked
    // (LockFileEx) fail on Windows; Wine does not enforce those locks against reads.
    if (ofLog && refusal.readsFail) {
        access &= ~FILE_READ_DATA;
    }
    HANDLE file =
        platformCreateFileA(path, access, share, security, disposition, flags, templateFile);
    if (ofLog && (access & FILE_READ_DATA) && refusal.readError != 0 &&
        file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        SetLastError(refusal.readError);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

decltype(&SetFilePointerEx) platformSetFilePointerEx;

BOOL WINAPI GappedSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position,
                                   DWORD method) {
    if (method == FILE_END && strcmp(gapAction, "run-at-append") == 0)
        FillGap();
    return platformSetFilePointerEx(file, distance, position, method);
}

// This program's imports, through which log mode's code calls the platform.
extern "C" decltype(&CreateFileA) importedCreateFileA __asm__("__imp__CreateFileA@28");
extern "C" decltype(&SetFilePointerEx) importedSetFilePointerEx __asm__(
    "__imp__SetFilePointerEx@20");

template <typename Function>
void ReplaceImport(Function* import, Function replacement, Function* platform) {
    DWORD protection = 0;
    VirtualProtect(import, sizeof *import, PAGE_READWRITE, &protection);
    *platform = *import;
    *import = replacement;
    VirtualProtect(import, sizeof *import, protection, &protection);
}

int LogRefused(const char* path, DWORD firstOpenError, const char* reads, bool held,
               const char* gap = "") {
    HANDLE reader =
        held ? CreateFileA(path, GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)
             : nullptr;
    if (reader == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot hold %s: %lu\n", path, GetLastError());
        return 102;
    }
    const bool readsFail = strcmp(reads, "fail") == 0;
    refusal = {path, firstOpenError, readsFail ? 0 : static_cast<DWORD>(atoi(reads)), readsFail,
               false};
    gapAction = gap;
    ReplaceImport(&importedCreateFileA, RefusingCreateFileA, &platformCreateFileA);
    ReplaceImport(&importedSetFilePointerEx, GappedSetFilePointerEx, &platformSetFilePointerEx);
    AcquireProductKey();
    LogInventory(path);
    if (reader != nullptr)
        CloseHandle(reader);
    printf("done\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (GetEnvironmentVariableA("QUORV_COMMAND_LINE", commandLine, sizeof commandLine) == 0) {
        fprintf(stderr, "QUORV_COMMAND_LINE is not set\n");
        return 100;
    }
    if (argc == 3 && strcmp(argv[1], "race") == 0)
        return Race(atoi(argv[2]));
    if (argc == 4 && strcmp(argv[1], "race-machines") == 0)
        return RaceMachines(atoi(argv[2]), argv[3]);
    if (argc == 4 && strcmp(argv[1], "machine") == 0)
        return LogAsMachine(atoi(argv[2]), argv[3]);
    if (argc == 6 && strcmp(argv[1], "refuse") == 0)
        return LogRefused(argv[2], static_cast<DWORD>(atoi(argv[3])), argv[4],
                          strcmp(argv[5], "held") == 0);
    if (argc == 4 && strcmp(argv[1], "gap") == 0)
        return LogRefused(argv[2], 0, "0", false, argv[3]);
    if (argc == 5 && strcmp(argv[1], "hold") == 0)
        return Hold(argv[2], static_cast<DWORD>(atoi(argv[3])), argv[4]);
    fprintf(stderr,
            "usage: log_contender race N | race-machines N PATH | machine I PATH | "
            "refuse PATH FIRST READS free|held | gap PATH run|shorten | "
            "hold PATH MS writer|reader|sole|sole-then-reader\n");
    return 2;
}
