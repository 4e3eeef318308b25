// Contends with quorv.exe for its log file, the way other logon scripts and people do.
// The command line of quorv.exe comes from QUORV_COMMAND_LINE.
//
//   log_contender race N        starts N runs at once and waits for all; prints their
//                               exit codes ("exits=0 0 ...").
//   log_contender hold PATH MS  keeps PATH open for writing while one run starts, lets go
//                               after MS milliseconds; prints "waiting=1|0 exit=N", where
//                               waiting tells whether the run was still going on then.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

char commandLine[32768];

bool StartQuorv(PROCESS_INFORMATION* process, DWORD flags) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, process)) {
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

// All runs are created suspended and then released together, so they overlap as much as
// the machine allows.
int Race(int count) {
    std::vector<PROCESS_INFORMATION> runs(static_cast<size_t>(count));
    for (auto& run : runs) {
        if (!StartQuorv(&run, CREATE_SUSPENDED))
            return 101;
    }
    for (auto& run : runs)
        ResumeThread(run.hThread);
    printf("exits=");
    for (auto& run : runs)
        printf("%lu ", WaitForExit(run));
    printf("\n");
    return 0;
}

int Hold(const char* path, DWORD milliseconds) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot hold %s: %lu\n", path, GetLastError());
        return 102;
    }
    PROCESS_INFORMATION run = {};
    if (!StartQuorv(&run, 0))
        return 101;
    const bool waiting = WaitForSingleObject(run.hProcess, milliseconds) == WAIT_TIMEOUT;
    CloseHandle(file);
    printf("waiting=%d exit=%lu\n", waiting ? 1 : 0, WaitForExit(run));
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
    if (argc == 4 && strcmp(argv[1], "hold") == 0) {
        return Hold(argv[2], static_cast<DWORD>(atoi(argv[3])));
    }
    fprintf(stderr, "usage: log_contender race N | hold PATH MS\n");
    return 2;
}
