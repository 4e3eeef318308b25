#include "clipboard_helpers.h"

#include <cstring>

// It owns what the tests put on the clipboard: a clipboard emptied without an owner window
// would refuse SetClipboardData.
HWND TestWindow() {
    static HWND window = CreateWindowExA(0, "STATIC", "clipboard test owner", 0, 0, 0, 0, 0,
                                         HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
    return window;
}

void PutClipboardText(const std::string& text) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    if (!OpenClipboard(TestWindow())) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, memory) == nullptr) {
        GlobalFree(memory);
    }
    CloseClipboard();
}

std::optional<std::string> ReadClipboardBytes() {
    if (!OpenClipboard(TestWindow())) {
        return std::nullopt;
    }
    std::optional<std::string> bytes;
    HANDLE data = GetClipboardData(CF_TEXT);
    if (const char* locked =
            data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr) {
        bytes = std::string(locked, GlobalSize(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return bytes;
}

ClipboardHeldByAnotherThread::ClipboardHeldByAnotherThread(DWORD holdMilliseconds)
    : holdMilliseconds_(holdMilliseconds),
      openAttempted_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, Hold, this, 0, nullptr)) {
    WaitForSingleObject(openAttempted_, INFINITE);
}

ClipboardHeldByAnotherThread::~ClipboardHeldByAnotherThread() {
    SetEvent(release_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(release_);
    CloseHandle(openAttempted_);
}

DWORD WINAPI ClipboardHeldByAnotherThread::Hold(void* holder) {
    auto* self = static_cast<ClipboardHeldByAnotherThread*>(holder);
    self->opened_ = OpenClipboard(nullptr) != FALSE;
    SetEvent(self->openAttempted_);
    WaitForSingleObject(self->release_, self->holdMilliseconds_);
    if (self->opened_) {
        CloseClipboard();
    }
    return 0;
}
