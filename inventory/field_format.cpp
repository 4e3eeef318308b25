#include "inventory/field_format.h"

#include <cstdio>
#include <cstring>

#include "core/inventory_record.h"

// The platform runtime's own formatter: the C++ headers route sprintf to MinGW's
// replacement, which would add ~30 KB to the program for two plain formats.
#ifdef _WIN32
#define FormatText _snprintf
#else
#define FormatText snprintf
#endif

void FormatMacField(const unsigned char* address, char* field) {
    FormatText(field, kMacFieldLength + 2, "%02X:%02X:%02X:%02X:%02X:%02X ", address[0], address[1],
               address[2], address[3], address[4], address[5]);
}

void FormatIpField(const unsigned char* address, char* field) {
    // A dotted quad has at most 15 characters, so at least one blank follows it.
    const int length = FormatText(field, kIpFieldLength, "%d.%d.%d.%d", address[0], address[1],
                                  address[2], address[3]);
    memset(field + length, ' ', kIpFieldLength - static_cast<size_t>(length));
    field[kIpFieldLength] = '\0';
}
