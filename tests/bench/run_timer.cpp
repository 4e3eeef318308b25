// Times whole runs of programs inside Wine, where process start-up is what it costs.
//   run_timer N SPEC...
// A SPEC is a command line, optionally followed by "|TEMPLATE|TARGET": before each run
// (not timed) TARGET is made a fresh copy of TEMPLATE, or deleted when TEMPLATE is "-".
// After one warm-up run of each, every SPEC runs N times, taking turns so that a slow
// spell of the machine weighs on all of them alike. Prints the median wall time in
// milliseconds of each SPEC, one "median_ms=..." line each, in the order given.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Program {
    std::string commandLine;
    std::string templatePath;  // empty: nothing to prepare
    std::string targetPath;
    std::vector<double> times;
};

Program ParseSpec(const std::string& spec) {
    Program program;
    const size_t first = spec.find('|');
    program.commandLine = spec.substr(0, first);
    if (first != std::string::npos) {
        const size_t second = spec.find('|', first + 1);
        program.templatePath = spec.substr(first + 1, second - first - 1);
        program.targetPath = spec.substr(second + 1);
    }
    return program;
}

bool Prepare(const Program& program) {
    if (program.templatePath.empty())
        return true;
    if (program.templatePath == "-") {
        DeleteFileA(program.targetPath.c_str());
        return true;
    }
    return CopyFileA(program.templatePath.c_str(), program.targetPath.c_str(), FALSE) != 0;
}

// Milliseconds from creating the process to its end, or a negative value on failure.
double TimeOneRun(const Program& program) {
    std::vector<char> commandLine(program.commandLine.begin(), program.commandLine.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

bool RunOnce(Program& program, bool keep) {
    if (!Prepare(program)) {
        fprintf(stderr, "cannot prepare %s: %lu\n", program.targetPath.c_str(), GetLastError());
        return false;
    }
    const double time = TimeOneRun(program);
    if (time < 0) {
        fprintf(stderr, "cannot start %s: %lu\n", program.commandLine.c_str(), GetLastError());
        return false;
    }
    if (keep)
        program.times.push_back(time);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: run_timer N COMMAND_LINE[|TEMPLATE|TARGET]...\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i)
        programs.push_back(ParseSpec(argv[i]));
    for (int round = -1; round < runs; ++round) {
        for (auto& program : programs) {
            if (!RunOnce(program, round >= 0))
                return 3;
        }
    }
    for (auto& program : programs) {
        std::sort(program.times.begin(), program.times.end());
        printf("median_ms=%.1f\n", program.times[program.times.size() / 2]);
    }
    return 0;
}
