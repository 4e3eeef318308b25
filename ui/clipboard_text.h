// Puts text on the clipboard so that what the user had copied is only discarded once the
// new text is ready to take its place.
#pragma once

#include <windows.h>

// A movable global copy of text with its terminator, ready to hand to the clipboard; null
// when it cannot be allocated or filled.
HGLOBAL StageClipboardText(const char* text);

// Opens the clipboard for owner, waiting briefly while another program holds it, empties it
// and hands memory over as CF_TEXT. The clipboard owns the memory only after a successful
// hand-over, so on failure it is freed here.
bool HandOverClipboardText(HWND owner, HGLOBAL memory);

// Stages text and hands it over; the clipboard is not touched when staging fails.
bool CopyTextToClipboard(HWND owner, const char* text);
