#include "key/key_decoding.h"

#include <cstring>

const char KeyAlphabet[] = "BCDFGHJKMPQRTVWXY2346789";

namespace {

constexpr int kKeyDigits = 25;
constexpr int kKeyTextLength = 29;
constexpr int kGroupLength = 5;

// Keys of current Windows versions set this bit of the number's top byte. Their 25
// characters are 24 digits plus one letter "N", whose place the top digit encodes.
constexpr unsigned char kNewFormFlag = 0x08;

// Divides the 120-bit little-endian number in place by 24 and returns the remainder.
int DivideBy24(unsigned char (&number)[kProductIdKeyBytes]) {
    unsigned remainder = 0;
    for (int j = kProductIdKeyBytes - 1; j >= 0; --j) {
        remainder = remainder * 256 + number[j];
        number[j] = static_cast<unsigned char>(remainder / 24);
        remainder %= 24;
    }
    return static_cast<int>(remainder);
}

// Lays 25 characters out as five groups of five separated by dashes.
void FormatKeyGroups(const char* characters, char* keyText) {
    int source = 0;
    for (int i = 0; i < kKeyTextLength; ++i) {
        keyText[i] = (i + 1) % (kGroupLength + 1) == 0 ? '-' : characters[source++];
    }
}

}  // namespace

void DecodeProductKey(const unsigned char* productIdData, char* keyText) {
    unsigned char number[kProductIdKeyBytes];
    memcpy(number, productIdData + kProductIdKeyOffset, sizeof number);

    const bool newForm = (number[kProductIdKeyBytes - 1] & kNewFormFlag) != 0;
    number[kProductIdKeyBytes - 1] &= static_cast<unsigned char>(~kNewFormFlag);

    // Digits come out least significant first; fill from the right.
    char characters[kKeyDigits];
    int topDigit = 0;
    for (int i = kKeyDigits - 1; i >= 0; --i) {
        topDigit = DivideBy24(number);
        characters[i] = KeyAlphabet[topDigit];
    }

    if (newForm) {
        // Drop the top digit and put "N" after as many characters as it counts.
        memmove(characters, characters + 1, topDigit);
        characters[topDigit] = 'N';
    }
    FormatKeyGroups(characters, keyText);
}
