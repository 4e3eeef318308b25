#include "ui/clipboard_text.h"

#include <cstring>

namespace {

constexpr int kOpenClipboardTries = 10;
constexpr DWORD kOpenClipboardRetryMilliseconds = 20;

// Another program (clipboard history, a remote desktop session) may hold the clipboard for
// a moment; a click then still copies once it lets go, within about 0.2 s.
bool OpenClipboardSoon(HWND owner) {
    for (int tries = 1; !OpenClipboard(owner); ++tries) {
        if (tries == kOpenClipboardTries) {
            return false;
        }
        Sleep(kOpenClipboardRetryMilliseconds);
    }
    return true;
}

}  // namespace

HGLOBAL StageClipboardText(const char* text) {
    const size_t size = strlen(text) + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
    if (memory == nullptr) {
        return nullptr;
    }
    void* bytes = GlobalLock(memory);
    if (bytes == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    memcpy(bytes, text, size);
    GlobalUnlock(memory);
    return memory;
}

bool HandOverClipboardText(HWND owner, HGLOBAL memory) {
    if (!OpenClipboardSoon(owner)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool handedOver = SetClipboardData(CF_TEXT, memory) != nullptr;
    CloseClipboard();
    if (!handedOver) {
        GlobalFree(memory);
    }
    return handedOver;
}

bool CopyTextToClipboard(HWND owner, const char* text) {
    HGLOBAL memory = StageClipboardText(text);
    return memory != nullptr && HandOverClipboardText(owner, memory);
}
