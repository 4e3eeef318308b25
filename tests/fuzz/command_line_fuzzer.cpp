// Fuzzes the log path extraction against a plain reference parse of the command-line tail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/inventory_record.h"

namespace {

std::string ReferenceLogPath(const std::string& tail) {
    const size_t start = tail.find_first_not_of(' ');
    if (start == std::string::npos)
        return "";
    std::string argument;
    if (tail[start] == '"') {
        argument = tail.substr(start + 1, tail.find('"', start + 1) - (start + 1));
    } else {
        argument = tail.substr(start, tail.find(' ', start) - start);
    }
    return argument.substr(0, kLogPathSize - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string tail(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    char* path = static_cast<char*>(malloc(kLogPathSize));  // exact size: ASan sees overruns
    memset(path, '#', kLogPathSize);
    ExtractLogPath(tail.c_str(), path);
    if (memchr(path, '\0', kLogPathSize) == nullptr || ReferenceLogPath(tail) != path)
        abort();
    free(path);
    return 0;
}
