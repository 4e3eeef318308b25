// The pure parts of log mode: turning the record into one line and recognising its line.
#pragma once

// Makes the record read as one line from the key on: the separator after the key becomes a
// blank, and zero bytes left in the key field by a short plain key become blanks too, so the
// line keeps its columns.
void JoinKeyToRecord(char* record);

// True when a line read from the log (with or without its line ending) describes the same
// machine state as the record: equal as texts over at most the first 65 characters.
bool LineMatchesRecord(const char* line, const char* record);

// True when text ends with a line feed; an empty text does not.
bool EndsWithLineFeed(const char* text);
