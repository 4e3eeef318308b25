#include "key/registry_key.h"

#include <cstring>

namespace {

// Asks a 32-bit process on 64-bit Windows for the native view instead of Wow6432Node.
constexpr REGSAM kWow64NativeViewFlag = 0x100;
constexpr DWORD kEnvironmentProbeSize = 256;

// Reading is all the program does; asking for more makes the open fail for every
// process that is not elevated.
REGSAM AccessRights() {
    return Is64BitWindows() ? (KEY_READ | kWow64NativeViewFlag) : KEY_READ;
}

}  // namespace

bool Is64BitWindows() {
    // Only 64-bit Windows defines this variable; the result is non-zero also when the value
    // does not fit, as the function then returns the size it needs.
    char value[kEnvironmentProbeSize];
    return GetEnvironmentVariableA("ProgramFiles(x86)", value, sizeof value) != 0;
}

RegistryKey::RegistryKey(HKEY parent, const char* subKeyPath)
    : name(),
      data(),
      handle(parent),
      subKeyCount(0),
      maxSubKeyNameLength(0),
      valueCount(0),
      maxValueNameLength(0),
      maxValueDataLength(0) {
    if (subKeyPath != nullptr &&
        RegOpenKeyExA(parent, subKeyPath, 0, AccessRights(), &handle) != ERROR_SUCCESS) {
        handle = nullptr;
        return;
    }
    RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subKeyCount, &maxSubKeyNameLength, nullptr,
                     &valueCount, &maxValueNameLength, &maxValueDataLength, nullptr, nullptr);
}

RegistryKey::~RegistryKey() {
    RegCloseKey(handle);
}

bool RegistryKey::FindValue(const char* valueName) {
    for (DWORD index = 0; index < valueCount; ++index) {
        // Cleared each time so a short value is never followed by an earlier value's bytes.
        memset(data, 0, sizeof data);
        DWORD nameLength = kBufferSize;
        DWORD dataLength = kBufferSize;
        DWORD type;
        // A name or data that does not fit fails the call; such a value is skipped.
        if (RegEnumValueA(handle, index, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS) {
            continue;
        }
        if (_stricmp(valueName, name) == 0) {
            return true;
        }
    }
    data[0] = 0;
    return false;
}
