// Starts quorv.exe the way Windows would, with an exact command line, and reports what a
// person would see: its exit code and whether its dialog window appeared.
//
//   quorv_driver launch     runs the command line in QUORV_COMMAND_LINE and waits for it;
//                           prints "exit=N window=0|1" and returns N.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kDialogTitle[] = "Windows Product Key";

int Launch() {
    static char commandLine[32768];
    if (GetEnvironmentVariableA("QUORV_COMMAND_LINE", commandLine, sizeof commandLine) == 0) {
        fprintf(stderr, "QUORV_COMMAND_LINE is not set\n");
        return 100;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return 101;
    }
    bool windowSeen = false;
    while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
        windowSeen = windowSeen || FindWindowA(nullptr, kDialogTitle) != nullptr;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("exit=%lu window=%d\n", exitCode, windowSeen ? 1 : 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "launch") == 0) {
        return Launch();
    }
    fprintf(stderr, "usage: quorv_driver launch\n");
    return 2;
}
