// Log mode: completes the inventory record and appends it to the log once per machine state.
#pragma once

#include <cstdio>

// Runs log mode on LogPath when it is not empty; true when it ran.
bool RunLogModeIfRequested();

// Joins the key to the machine's identity in the record: MAC, IP, user and computer name.
void CompleteInventoryRecord();

// Completes the record and appends it to the file at path unless an equal line is there; a
// file that may be appended to but not read gets it unseen. Failures are silent; always true.
bool LogInventory(const char* path);

// True when the whole log was read and holds no line of the record's machine state; false
// when a line matches or a read failed part-way (the line may be in what was not read).
bool LogLacksRecordLine(FILE* log);
