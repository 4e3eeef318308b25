// Decoding of the key number in a binary product id, checked against a 128-bit reference.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "key/key_decoding.h"

namespace {

using Uint128 = unsigned __int128;
using ProductId = std::vector<unsigned char>;

constexpr size_t kValueSize = 164;  // the size Windows stores
const std::string kAlphabet = "BCDFGHJKMPQRTVWXY2346789";

ProductId ZeroProductId() {
    return ProductId(kValueSize, 0);
}

std::string Decode(const ProductId& value) {
    char text[29];
    DecodeProductKey(value.data(), text);
    return std::string(text, sizeof text);
}

// The key number written into bytes 52..66, least significant byte first.
void StoreNumber(Uint128 number, ProductId& value) {
    for (int i = 0; i < 15; ++i) {
        value[52 + i] = static_cast<unsigned char>(number >> (8 * i));
    }
}

Uint128 LoadNumber(const ProductId& value) {
    Uint128 number = 0;
    for (int i = 14; i >= 0; --i) {
        number = (number << 8) | value[52 + i];
    }
    return number;
}

std::string Grouped(const std::string& characters) {
    std::string text;
    for (size_t i = 0; i < characters.size(); ++i) {
        if (i > 0 && i % 5 == 0)
            text += '-';
        text += characters[i];
    }
    return text;
}

// The 25 least significant base-24 digits of the number, most significant first.
std::string ReferenceDecode(const ProductId& value) {
    Uint128 number = LoadNumber(value);
    std::string characters(25, '?');
    for (int i = 24; i >= 0; --i) {
        characters[i] = kAlphabet[static_cast<size_t>(number % 24)];
        number /= 24;
    }
    return Grouped(characters);
}

// Encodes a key of the current form: the place of its one "N" becomes the top digit, the
// other 24 characters the digits below it, and bit 3 of byte 66 flags the form.
ProductId EncodeNewFormKey(const std::string& key) {
    std::string characters;
    for (char c : key) {
        if (c != '-')
            characters += c;
    }
    EXPECT_EQ(characters.size(), 25u);
    const size_t place = characters.find('N');
    EXPECT_NE(place, std::string::npos);
    EXPECT_EQ(characters.find('N', place + 1), std::string::npos);
    characters.erase(place, 1);

    Uint128 number = place;
    for (char c : characters) {
        const size_t digit = kAlphabet.find(c);
        EXPECT_NE(digit, std::string::npos) << "not a key character: " << c;
        number = number * 24 + digit;
    }
    ProductId value = ZeroProductId();
    StoreNumber(number, value);
    EXPECT_EQ(value[66] & 0x08, 0) << "the number must leave the form flag free";
    value[66] |= 0x08;
    return value;
}

TEST(KeyAlphabet, HoldsTheTwentyFourDigitsInOrder) {
    EXPECT_EQ(std::string(KeyAlphabet), kAlphabet);
}

struct SingleByteCase {
    int offset;
    unsigned char byte;
    const char* expected;
};

void PrintTo(const SingleByteCase& byteCase, std::ostream* out) {
    *out << "byte " << byteCase.offset << " = " << int(byteCase.byte);
}

class KeyDecodingSingleByte : public testing::TestWithParam<SingleByteCase> {};

TEST_P(KeyDecodingSingleByte, DecodesToExpectedKey) {
    ProductId value = ZeroProductId();
    value[GetParam().offset] = GetParam().byte;
    EXPECT_EQ(Decode(value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(EdgeValues, KeyDecodingSingleByte,
                         testing::Values(SingleByteCase{52, 0, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
                                         SingleByteCase{52, 1, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBC"},
                                         SingleByteCase{52, 23, "BBBBB-BBBBB-BBBBB-BBBBB-BBBB9"},
                                         SingleByteCase{52, 24, "BBBBB-BBBBB-BBBBB-BBBBB-BBBCB"},
                                         SingleByteCase{52, 25, "BBBBB-BBBBB-BBBBB-BBBBB-BBBCC"},
                                         // Outside bytes 52..66 nothing counts, byte 67 included.
                                         SingleByteCase{51, 0xFF, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
                                         SingleByteCase{67, 0xFF, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
                                         SingleByteCase{0, 0xFF, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"}));

TEST(KeyDecoding, DashesStandBetweenFiveGroupsOfFive) {
    ProductId value = ZeroProductId();
    StoreNumber(~Uint128(0) >> 20, value);
    const std::string key = Decode(value);
    for (size_t i = 0; i < key.size(); ++i) {
        if (i == 5 || i == 11 || i == 17 || i == 23) {
            EXPECT_EQ(key[i], '-') << i;
        } else {
            EXPECT_NE(kAlphabet.find(key[i]), std::string::npos) << i;
        }
    }
}

TEST(KeyDecoding, WritesExactlyTwentyNineCharacters) {
    ProductId value = ZeroProductId();
    char text[32];
    memset(text, '#', sizeof text);
    DecodeProductKey(value.data(), text);
    EXPECT_EQ(std::string(text, 29), "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB");
    EXPECT_EQ(std::string(text + 29, 3), "###");
}

TEST(KeyDecoding, MatchesReferenceOnRandomValues) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        ProductId value(kValueSize);
        for (auto& b : value)
            b = static_cast<unsigned char>(byte(random));
        // Half the values keep the form flag clear, so the plain decoding is covered too;
        // the other half have a random top byte (up to 0xFF: more than 25 digits).
        if (round % 2 == 0)
            value[66] &= 0xF7;
        if (value[66] & 0x08)
            continue;  // the current form is checked below
        const ProductId before = value;
        EXPECT_EQ(Decode(value), ReferenceDecode(value)) << "round " << round;
        EXPECT_EQ(value, before) << "the input must not change";
    }
}

TEST(KeyDecoding, NumbersOfMoreThanTwentyFiveDigitsKeepTheLowestDigits) {
    ProductId value = ZeroProductId();
    // 24^25 has 26 digits: a one and 25 zeros.
    Uint128 power = 1;
    for (int i = 0; i < 25; ++i)
        power *= 24;
    StoreNumber(power + 1, value);
    ASSERT_EQ(value[66] & 0x08, 0);
    EXPECT_EQ(Decode(value), "BBBBB-BBBBB-BBBBB-BBBBB-BBBBC");
    StoreNumber(power * 3 + 5, value);  // 3 * 24^25 sets bits 115 and up
    value[66] &= 0xF7;
    EXPECT_EQ(Decode(value), ReferenceDecode(value));
}

TEST(KeyDecoding, BytesOutsideTheNumberNeverMatter) {
    std::mt19937 random(7);
    ProductId value = ZeroProductId();
    StoreNumber(0x0123456789ABCDEFULL, value);
    const std::string expected = Decode(value);
    for (int round = 0; round < 100; ++round) {
        for (size_t i = 0; i < value.size(); ++i) {
            if (i < 52 || i > 66)
                value[i] = static_cast<unsigned char>(random());
        }
        ASSERT_EQ(Decode(value), expected);
    }
}

// Generic setup keys published for volume activation, all in the current form.
class NewFormKey : public testing::TestWithParam<const char*> {};

TEST_P(NewFormKey, DecodesBackToItself) {
    const ProductId value = EncodeNewFormKey(GetParam());
    EXPECT_EQ(Decode(value), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    PublishedSetupKeys, NewFormKey,
    testing::Values("W269N-WFGWX-YVC9B-4J6C9-T83GX", "NPPR9-FWDCX-D2C8J-H872K-2YT43",
                    "NW6C2-QMPVW-D7KKK-3GKT6-VCFB2", "6TP4R-GNPTD-KYYHQ-7B7DP-J447Y",
                    "M7XTQ-FN8P6-TTKYV-9D4CC-J462D", "WX4NM-KYWYW-QJJR4-XV3QB-6VM33",
                    "TX9XD-98N7V-6WMQ6-BX7FG-H8Q99", "DPH2V-TTNVB-4X9Q3-TJR4H-KHJW4"));

TEST(NewFormKeyDecoding, MatchesAnIndependentEncoderForEveryPlaceOfN) {
    std::mt19937 random(11);
    for (int round = 0; round < 1000; ++round) {
        std::string characters;
        for (int i = 0; i < 24; ++i)
            characters += kAlphabet[random() % 24];
        characters.insert(random() % 24, 1, 'N');
        const std::string key = Grouped(characters);
        ASSERT_EQ(Decode(EncodeNewFormKey(key)), key) << "round " << round;
    }
}

TEST(NewFormKeyDecoding, FlagOnlyChangesKeysThatCarryIt) {
    // A number whose top byte is 6, the largest an older key can have, decodes plainly.
    ProductId value = ZeroProductId();
    value[66] = 6;
    EXPECT_EQ(Decode(value), ReferenceDecode(value));
    EXPECT_EQ(Decode(value).find('N'), std::string::npos);
}

}  // namespace
