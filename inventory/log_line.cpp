#include "inventory/log_line.h"

#include <cstring>

#include "core/inventory_record.h"

void JoinKeyToRecord(char* record) {
    for (size_t i = 0; i < kKeyTextLength; ++i) {
        if (record[i] == '\0') {
            record[i] = ' ';
        }
    }
    record[kKeySeparatorOffset] = ' ';
}

bool LineMatchesRecord(const char* line, const char* record) {
    size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') {
        --length;
        if (length > 0 && line[length - 1] == '\r') {
            --length;
        }
    }
    // A record that ended early (a failed collector) matches the line written for it.
    const size_t compared = length < kDuplicateKeyLength ? length : kDuplicateKeyLength;
    if (strncmp(line, record, compared) != 0) {
        return false;
    }
    return compared == kDuplicateKeyLength || record[compared] == '\0';
}

bool EndsWithLineFeed(const char* text) {
    const size_t length = strlen(text);
    return length > 0 && text[length - 1] == '\n';
}

void StartLogScan(LogScan* scan, unsigned long long offset) {
    scan->pieceLength = 0;
    scan->offset = offset;
    scan->lineStart = offset;
}

namespace {

// Compares the piece gathered so far with the record and begins the next piece.
bool PieceMatchesRecord(LogScan* scan, const char* record) {
    scan->piece[scan->pieceLength] = '\0';
    scan->pieceLength = 0;
    return LineMatchesRecord(scan->piece, record);
}

}  // namespace

bool ScanLogBytes(LogScan* scan, const char* bytes, size_t count, const char* record) {
    while (count > 0) {
        const size_t room = kLinePieceLength - scan->pieceLength;
        const size_t limit = count < room ? count : room;
        const char* lineFeed = static_cast<const char*>(memchr(bytes, '\n', limit));
        const size_t taken =
            lineFeed != nullptr ? static_cast<size_t>(lineFeed - bytes) + 1 : limit;
        memcpy(scan->piece + scan->pieceLength, bytes, taken);
        scan->pieceLength += taken;
        scan->offset += taken;
        bytes += taken;
        count -= taken;
        if (lineFeed != nullptr) {
            scan->lineStart = scan->offset;
        }
        if ((lineFeed != nullptr || scan->pieceLength == kLinePieceLength) &&
            PieceMatchesRecord(scan, record)) {
            return true;
        }
    }
    return false;
}

bool ScanLogEnd(LogScan* scan, const char* record) {
    return scan->pieceLength > 0 && PieceMatchesRecord(scan, record);
}

bool ScanEndsInsideALine(const LogScan* scan) {
    return scan->offset > scan->lineStart;
}

size_t FormatAppendedLine(const char* record, bool endPreviousLine, char* out) {
    size_t length = 0;
    if (endPreviousLine) {
        out[length++] = '\r';
        out[length++] = '\n';
    }
    for (const char* next = record; *next != '\0'; ++next) {
        if (*next == '\n') {
            out[length++] = '\r';
        }
        out[length++] = *next;
    }
    if (!EndsWithLineFeed(record)) {
        out[length++] = '\r';
        out[length++] = '\n';
    }
    return length;
}
