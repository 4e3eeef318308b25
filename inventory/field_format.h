// Formats the MAC and IPv4 fields of the inventory record.
#pragma once

// Writes "XX:XX:XX:XX:XX:XX " (upper-case hex, a blank at the end) and a terminator:
// 19 bytes.
void FormatMacField(const unsigned char* address, char* field);

// Writes the address (four bytes in network order, first byte first) as a dotted quad
// padded with blanks to 16 characters, and a terminator: 17 bytes.
void FormatIpField(const unsigned char* address, char* field);
