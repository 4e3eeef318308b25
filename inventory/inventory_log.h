// Log mode: completes the inventory record and appends it to the log once per machine state.
#pragma once

// Runs log mode on LogPath when it is not empty, and ends the process (exit code 0) if it
// outlasts the run's deadline; true when it ran.
bool RunLogModeIfRequested();

// Joins the key to the machine's identity in the record: MAC, IP, user and computer name.
void CompleteInventoryRecord();

// Completes the record and appends it to the disk file at path unless an equal line is
// there; a file that may be appended to but not read gets it unseen, one too long to be read
// in full gets nothing. Failures are silent; always true.
bool LogInventory(const char* path);
