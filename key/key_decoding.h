// Turns the base-24 number stored in a binary product id into the 29-character key text.
#pragma once

// The 24 digits of a product key, from digit value 0 to 23.
extern const char KeyAlphabet[];

// Offsets of the key number inside the binary product id; the number spans bytes 52 to 66,
// least significant byte first.
constexpr int kProductIdKeyOffset = 52;
constexpr int kProductIdKeyBytes = 15;

// Writes 29 characters (five dash-separated groups of five) to keyText, no terminator.
// Only bytes 52 to 66 of productIdData are read; productIdData is left unchanged.
void DecodeProductKey(const unsigned char* productIdData, char* keyText);
