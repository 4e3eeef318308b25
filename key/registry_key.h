// A registry key opened for reading for the lifetime of a scope, with a by-name value lookup.
#pragma once

#include <windows.h>

// True on 64-bit Windows, where a 32-bit process must ask for the native registry view.
bool Is64BitWindows();

class RegistryKey {
public:
    static constexpr DWORD kBufferSize = 260;

    // Opens subKeyPath under parent for reading; with a null path it wraps parent itself.
    // A failed open leaves handle null and the counts zero.
    RegistryKey(HKEY parent, const char* subKeyPath);
    ~RegistryKey();

    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Looks valueName up (ignoring ASCII case) by enumerating the key's values. On true,
    // name holds the stored name and data the value's bytes, zero-filled behind them.
    bool FindValue(const char* valueName);

    char name[kBufferSize];
    unsigned char data[kBufferSize];
    HKEY handle;
    DWORD subKeyCount;
    DWORD maxSubKeyNameLength;
    DWORD valueCount;
    DWORD maxValueNameLength;
    DWORD maxValueDataLength;
};
