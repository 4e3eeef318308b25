// The pure parts of log mode: turning the record into one line and recognising its line.
#pragma once

#include <cstddef>

#include "core/inventory_record.h"

// Makes the record read as one line from the key on: the separator after the key becomes a
// blank, and zero bytes left in the key field by a short plain key become blanks too, so the
// line keeps its columns.
void JoinKeyToRecord(char* record);

// True when a line read from the log (with or without its line ending) describes the same
// machine state as the record: equal as texts over at most the first 65 characters.
bool LineMatchesRecord(const char* line, const char* record);

// True when text ends with a line feed; an empty text does not.
bool EndsWithLineFeed(const char* text);

// Reads the log's bytes as lines, whole or in pieces of at most 511 bytes, and tells whether
// one describes the record's machine state. Every byte counts (0x1A and zero bytes too): a
// line ends only after a line feed, so nothing the log holds hides a line behind it. The
// bytes may come in blocks cut anywhere.
constexpr size_t kLinePieceLength = 511;

struct LogScan {
    char piece[kLinePieceLength + 1];
    size_t pieceLength;
    unsigned long long offset;     // of the next byte
    unsigned long long lineStart;  // just after the last line feed, or where the scan began
};

// Begins a scan at offset, which must be the start of a line.
void StartLogScan(LogScan* scan, unsigned long long offset);

// Scans the next bytes of the log; true as soon as a piece matches the record. After a match
// the scan stops in the middle of the bytes, and its offsets say nothing.
bool ScanLogBytes(LogScan* scan, const char* bytes, size_t count, const char* record);

// At the end of the log: true when its last piece, which no line feed ended, matches.
bool ScanLogEnd(LogScan* scan, const char* record);

// True when the scanned bytes end inside a line: the next line must begin with a line feed.
bool ScanEndsInsideALine(const LogScan* scan);

// The most bytes FormatAppendedLine writes: every line feed of the record as CR LF, and one
// CR LF before and one after it.
constexpr size_t kAppendedLineSize = 2 * kInventoryRecordSize + 4;

// Writes the bytes appended for the record: CR LF first when the log ends inside a line, then
// the record as text with each line feed stored as CR LF, and a CR LF after it when it has
// none at its end. Returns their count.
size_t FormatAppendedLine(const char* record, bool endPreviousLine, char* out);
