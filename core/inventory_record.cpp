#include "core/inventory_record.h"

// Placeholder key, zero separator, blank marker, blank, placeholder MAC and its blank; the
// IP field starts with a zero byte and everything behind it is zero.
char InventoryRecord[kInventoryRecordSize] = "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX\0  XX:XX:XX:XX:XX:XX ";

char* KeyText = InventoryRecord;
char* SourceMarker = KeyText + kSourceMarkerOffset;
char* MacAddressField = KeyText + kMacFieldOffset;
char* IpAddressField = KeyText + kIpFieldOffset;
char* IdentityField = KeyText + kIdentityFieldOffset;

char LogPath[kLogPathSize];
