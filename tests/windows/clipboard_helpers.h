// Clipboard set-up and inspection for tests: a known text to start from, what CF_TEXT holds
// afterwards, and a clipboard held open by another thread as a busy program would hold it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// A message-only window of the test's own, to open the clipboard with.
HWND TestWindow();

// Replaces the clipboard's content with text as CF_TEXT.
void PutClipboardText(const std::string& text);

// All bytes of the CF_TEXT data, terminator included; nullopt when there is no CF_TEXT.
std::optional<std::string> ReadClipboardBytes();

// Keeps the clipboard open on another thread for as long as the object lives, or only for
// the given time after opening it, as a program that reads it a moment would.
class ClipboardHeldByAnotherThread {
public:
    explicit ClipboardHeldByAnotherThread(DWORD holdMilliseconds = INFINITE);
    ~ClipboardHeldByAnotherThread();
    ClipboardHeldByAnotherThread(const ClipboardHeldByAnotherThread&) = delete;
    ClipboardHeldByAnotherThread& operator=(const ClipboardHeldByAnotherThread&) = delete;

    bool opened() const { return opened_; }

private:
    static DWORD WINAPI Hold(void* self);

    // Declared in start-up order: the thread writes opened_ as soon as it runs.
    bool opened_ = false;
    DWORD holdMilliseconds_;
    HANDLE openAttempted_;
    HANDLE release_;
    HANDLE thread_;
};
