// Fuzzes line matching and record joining against plain string references.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/inventory_record.h"
#include "inventory/log_line.h"

namespace {

// The line without its line ending, as read from a text-mode file.
std::string WithoutLineEnding(std::string line) {
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    }
    return line;
}

bool ReferenceMatch(const std::string& line, const std::string& record) {
    return WithoutLineEnding(line).substr(0, kDuplicateKeyLength) ==
           record.substr(0, kDuplicateKeyLength);
}

}  // namespace

// Input: a record of up to 512 bytes, a zero byte, then a line (up to 511 bytes).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    char* record = static_cast<char*>(calloc(kInventoryRecordSize, 1));
    const size_t recordSize = size < kInventoryRecordSize - 1 ? size : kInventoryRecordSize - 1;
    memcpy(record, bytes, recordSize);
    const size_t split = strnlen(bytes, size);
    const std::string line =
        split < size ? std::string(bytes + split + 1, strnlen(bytes + split + 1, size - split - 1))
                     : std::string();
    char* lineCopy = static_cast<char*>(malloc(line.size() + 1));
    memcpy(lineCopy, line.c_str(), line.size() + 1);

    if (LineMatchesRecord(lineCopy, record) != ReferenceMatch(line, record))
        abort();

    JoinKeyToRecord(record);
    if (memchr(record, '\0', kSourceMarkerOffset) != nullptr)
        abort();
    free(lineCopy);
    free(record);
    return 0;
}
