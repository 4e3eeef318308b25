// Registry set-up for tests: values written and removed in a chosen view of Wine's registry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class RegistryView : REGSAM { Native64 = KEY_WOW64_64KEY, Redirected32 = KEY_WOW64_32KEY };

void SetRegistryValue(RegistryView view, const char* path, const char* name, DWORD type,
                      const void* data, DWORD size);
void SetRegistryText(RegistryView view, const char* path, const char* name,
                     const std::string& text);
void SetRegistryBinary(RegistryView view, const char* path, const char* name,
                       const std::vector<unsigned char>& bytes);
void DeleteRegistryValue(RegistryView view, const char* path, const char* name);
void DeleteRegistryTree(RegistryView view, const char* path);
// The value's bytes, or an empty vector when it does not exist.
std::vector<unsigned char> ReadRegistryValue(RegistryView view, const char* path, const char* name,
                                             bool* exists);
