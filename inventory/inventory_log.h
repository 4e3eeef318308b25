// Log mode: completes the inventory record and appends it to the log once per machine state.
#pragma once

// Runs log mode on LogPath when it is not empty; true when it ran.
bool RunLogModeIfRequested();

// Completes the record and appends it to the file at path unless an equal line is there.
// Failures are silent; always true.
bool LogInventory(const char* path);
