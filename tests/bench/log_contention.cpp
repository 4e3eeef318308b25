// What runs of log mode cost other programs that use the same log, for scripts/benchmark.sh.
//   log_contention writer PATH RUNS COMMAND_LINE
//       runs COMMAND_LINE RUNS times, one after another, while a thread tries every 5 ms to
//       open PATH as a run does to append (read and append data, sharing reading); prints
//       "refusals=N longest_ms=M": how often it was refused and its longest refused stretch.
//   log_contention crowd N ROUNDS COMMAND_LINE_A COMMAND_LINE_B
//       starts N runs of A at once and waits for all, then N runs of B, ROUNDS times; prints
//       the median wall times "a_ms=... b_ms=...".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Milliseconds() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Start(const std::string& commandLine, PROCESS_INFORMATION* process, DWORD flags) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, process)) {
        fprintf(stderr, "cannot start %s: %lu\n", commandLine.c_str(), GetLastError());
        return false;
    }
    return true;
}

void WaitAndClose(const PROCESS_INFORMATION& process) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

struct Writer {
    const char* path;
    volatile LONG stop;
    int refusals;
    double longest;
};

DWORD WINAPI TryToAppend(void* parameter) {
    auto* writer = static_cast<Writer*>(parameter);
    double refusedSince = -1;
    while (!writer->stop) {
        HANDLE file = CreateFileA(writer->path, FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        const double now = Milliseconds();
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            refusedSince = -1;
        } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
            ++writer->refusals;
            if (refusedSince < 0)
                refusedSince = now;
            writer->longest = std::max(writer->longest, now - refusedSince);
        }
        Sleep(5);
    }
    return 0;
}

int MeasureWriter(const char* path, int runs, const std::string& commandLine) {
    Writer writer = {path, 0, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, TryToAppend, &writer, 0, nullptr);
    for (int i = 0; i < runs; ++i) {
        PROCESS_INFORMATION run = {};
        if (!Start(commandLine, &run, 0))
            return 3;
        WaitAndClose(run);
    }
    InterlockedExchange(&writer.stop, 1);
    WaitForSingleObject(thread, INFINITE);
    printf("refusals=%d longest_ms=%.0f\n", writer.refusals, writer.longest);
    return 0;
}

// Wall time of count runs released together from suspension; negative on failure.
double TimeCrowd(int count, const std::string& commandLine) {
    std::vector<PROCESS_INFORMATION> runs(static_cast<size_t>(count));
    for (auto& run : runs) {
        if (!Start(commandLine, &run, CREATE_SUSPENDED))
            return -1;
    }
    const double start = Milliseconds();
    for (auto& run : runs)
        ResumeThread(run.hThread);
    for (auto& run : runs)
        WaitAndClose(run);
    return Milliseconds() - start;
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int MeasureCrowds(int count, int rounds, const std::string& a, const std::string& b) {
    std::vector<double> aTimes, bTimes;
    for (int round = 0; round < rounds; ++round) {
        aTimes.push_back(TimeCrowd(count, a));
        bTimes.push_back(TimeCrowd(count, b));
        if (aTimes.back() < 0 || bTimes.back() < 0)
            return 3;
    }
    printf("a_ms=%.0f b_ms=%.0f\n", Median(aTimes), Median(bTimes));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "writer")
        return MeasureWriter(argv[2], atoi(argv[3]), argv[4]);
    if (argc == 6 && std::string(argv[1]) == "crowd")
        return MeasureCrowds(atoi(argv[2]), atoi(argv[3]), argv[4], argv[5]);
    fprintf(stderr,
            "usage: log_contention writer PATH RUNS COMMAND_LINE | "
            "crowd N ROUNDS COMMAND_LINE_A COMMAND_LINE_B\n");
    return 2;
}
