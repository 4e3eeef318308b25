// Fuzzes line matching and record joining against plain string references.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/inventory_record.h"
#include "inventory/log_line.h"

namespace {

// The line without its line ending: a line feed, and a carriage return before it.
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

// The log's pieces: cut after each line feed and every 511 bytes, each compared up to a zero.
bool ReferenceScan(const std::string& log, const std::string& record) {
    for (size_t start = 0; start < log.size();) {
        const size_t lineFeed = log.find('\n', start);
        const size_t end = lineFeed == std::string::npos ? log.size() : lineFeed + 1;
        for (size_t at = start; at < end; at += kLinePieceLength) {
            const std::string piece = log.substr(at, std::min(kLinePieceLength, end - at));
            if (ReferenceMatch(piece.substr(0, piece.find('\0')), record))
                return true;
        }
        start = end;
    }
    return false;
}

// Scans the log in blocks of the given size; true when a line matched.
bool Scan(const std::string& log, size_t block, const char* record, LogScan* scan) {
    StartLogScan(scan, 0);
    for (size_t at = 0; at < log.size(); at += block) {
        if (ScanLogBytes(scan, log.data() + at, std::min(block, log.size() - at), record))
            return true;
    }
    return ScanLogEnd(scan, record);
}

}  // namespace

// Input: a record of up to 512 bytes, a zero byte, then a line (up to 511 bytes), which is
// also scanned whole as a log, zero bytes included.
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
    const std::string log = split < size ? std::string(bytes + split + 1, size - split - 1) : "";
    LogScan scan;
    const bool matched = Scan(log, 1 + size % 97, record, &scan);
    if (matched != ReferenceScan(log, record))
        abort();
    const size_t lastLineFeed = log.rfind('\n');
    if (!matched && scan.lineStart != (lastLineFeed == std::string::npos ? 0 : lastLineFeed + 1))
        abort();

    JoinKeyToRecord(record);
    if (memchr(record, '\0', kSourceMarkerOffset) != nullptr)
        abort();
    free(lineCopy);
    free(record);
    return 0;
}
