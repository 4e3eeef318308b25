// The process-wide inventory record: one 512-byte text line with the key and the machine's
// identity at fixed offsets, plus the log path shared by the start-up code and log mode.
#pragma once

#include <cstddef>

constexpr size_t kInventoryRecordSize = 512;
constexpr size_t kKeyTextLength = 29;
constexpr size_t kDuplicateKeyLength = 65;  // key, marker, MAC and the IP's first 15 columns
constexpr size_t kMacFieldLength = 17;
constexpr size_t kIpFieldLength = 16;
constexpr size_t kLogPathSize = 260;

// Offsets of the fields inside the record.
constexpr size_t kKeySeparatorOffset = 29;
constexpr size_t kSourceMarkerOffset = 30;
constexpr size_t kMacFieldOffset = 32;
constexpr size_t kIpFieldOffset = 50;
constexpr size_t kIdentityFieldOffset = 66;

extern char InventoryRecord[kInventoryRecordSize];

// Field pointers; every writer goes through them rather than through literal offsets.
extern char* KeyText;
extern char* SourceMarker;
extern char* MacAddressField;
extern char* IpAddressField;
extern char* IdentityField;

// The first command-line argument: the inventory log's path, empty in dialog mode.
extern char LogPath[kLogPathSize];
