#include "ui/clipboard_text.h"

#include <cstring>

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
    if (!OpenClipboard(owner)) {
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
