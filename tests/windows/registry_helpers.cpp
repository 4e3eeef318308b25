#include "registry_helpers.h"

#include <gtest/gtest.h>

void SetRegistryValue(RegistryView view, const char* path, const char* name, DWORD type,
                      const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                              KEY_SET_VALUE | static_cast<REGSAM>(view), nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS)
        << name;
    RegCloseKey(key);
}

void SetRegistryText(RegistryView view, const char* path, const char* name,
                     const std::string& text) {
    SetRegistryValue(view, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void SetRegistryBinary(RegistryView view, const char* path, const char* name,
                       const std::vector<unsigned char>& bytes) {
    SetRegistryValue(view, path, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void DeleteRegistryValue(RegistryView view, const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE | static_cast<REGSAM>(view),
                      &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

void DeleteRegistryTree(RegistryView view, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS | static_cast<REGSAM>(view),
                      &key) == ERROR_SUCCESS) {
        RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, static_cast<REGSAM>(view), 0);
    }
}

std::vector<unsigned char> ReadRegistryValue(RegistryView view, const char* path, const char* name,
                                             bool* exists) {
    std::vector<unsigned char> bytes(4096);
    DWORD size = static_cast<DWORD>(bytes.size());
    HKEY key = nullptr;
    *exists = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | static_cast<REGSAM>(view),
                      &key) != ERROR_SUCCESS) {
        return {};
    }
    *exists = RegQueryValueExA(key, name, nullptr, nullptr, bytes.data(), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    bytes.resize(*exists ? size : 0);
    return bytes;
}
