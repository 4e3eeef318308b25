// Times whole runs of a program inside Wine, where process start-up is what it costs.
//   run_timer N [TEMPLATE|- TARGET]
// Runs the command line in QUORV_COMMAND_LINE N times, one after the other, and prints the
// median wall time in milliseconds ("median_ms=..."). With TEMPLATE and TARGET, TARGET is
// made a fresh copy of TEMPLATE before each run, or deleted for "-" (not timed).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    static char commandLine[32768];
    if (argc < 2 ||
        GetEnvironmentVariableA("QUORV_COMMAND_LINE", commandLine, sizeof commandLine) == 0) {
        fprintf(stderr, "usage: QUORV_COMMAND_LINE=... run_timer N [TEMPLATE TARGET]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (argc == 4 && strcmp(argv[2], "-") == 0) {
            DeleteFileA(argv[3]);
        } else if (argc == 4 && !CopyFileA(argv[2], argv[3], FALSE)) {
            fprintf(stderr, "cannot copy %s: %lu\n", argv[2], GetLastError());
            return 3;
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
            return 4;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        QueryPerformanceCounter(&end);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        times.push_back(Milliseconds(start, end));
    }
    std::sort(times.begin(), times.end());
    printf("median_ms=%.1f\n", times[times.size() / 2]);
    return 0;
}
