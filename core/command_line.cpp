#include "core/command_line.h"

#include <cstring>

#include "core/inventory_record.h"

namespace {

const char* SkipBlanks(const char* text) {
    while (*text == ' ') {
        ++text;
    }
    return text;
}

const char* SkipBlanksAndTabs(const char* text) {
    return text + strspn(text, " \t");
}

// Length of text up to the first stop character or its end.
size_t LengthUntil(const char* text, char stop) {
    const char* end = strchr(text, stop);
    return end != nullptr ? static_cast<size_t>(end - text) : strlen(text);
}

}  // namespace

const char* SkipProgramName(const char* commandLine) {
    const char* text = SkipBlanksAndTabs(commandLine != nullptr ? commandLine : "");
    if (*text == '"') {
        text += 1 + strcspn(text + 1, "\"");
        if (*text == '"') {
            ++text;
        }
    } else {
        text += strcspn(text, " \t");
    }
    return SkipBlanksAndTabs(text);
}

void ExtractLogPath(const char* commandLineTail, char* logPath) {
    const char* argument = SkipBlanks(commandLineTail != nullptr ? commandLineTail : "");
    size_t length = 0;
    if (*argument == '"') {
        ++argument;
        length = LengthUntil(argument, '"');
    } else {
        length = LengthUntil(argument, ' ');
    }
    if (length > kLogPathSize - 1) {
        length = kLogPathSize - 1;
    }
    strncpy(logPath, argument, length);
    logPath[length] = '\0';
}
