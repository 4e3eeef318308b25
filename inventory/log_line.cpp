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
