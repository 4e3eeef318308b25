// Log mode: completes the inventory record and appends it to the log once per machine state.
#pragma once

#include <windows.h>

// Runs log mode on LogPath when it is not empty; true when it ran.
bool RunLogModeIfRequested();

// Joins the key to the machine's identity in the record: MAC, IP, user and computer name.
void CompleteInventoryRecord();

// Completes the record and appends it to the file at path unless an equal line is there; a
// file that may be appended to but not read gets it unseen. Failures are silent; always true.
bool LogInventory(const char* path);

// Appends the record as one whole line to a log that may be appended to but not read: nothing
// is read, so there is no duplicate test and no line feed for a cut-off last line. Waits
// for other writers like LogInventory.
void AppendToUnreadableLog(const char* path);

// After the read-and-append open of the log failed with openError: appends the record unseen
// unless another process holds the file (sharing or lock violation after the wait) or the
// log can be read, when the line waits for the next run.
void AppendUnseenIfUnreadable(const char* path, DWORD openError);
