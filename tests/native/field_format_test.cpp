// The MAC and IPv4 fields of the inventory line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "inventory/field_format.h"

namespace {

TEST(MacField, IsUpperCaseHexPairsWithATrailingBlank) {
    const unsigned char address[6] = {0x02, 0x00, 0x5e, 0xab, 0xcd, 0xef};
    char field[32];
    memset(field, '#', sizeof field);
    FormatMacField(address, field);
    EXPECT_EQ(std::string(field, 19), std::string("02:00:5E:AB:CD:EF ") + '\0');
}

struct IpCase {
    unsigned char address[4];
    const char* field;
};

void PrintTo(const IpCase& ipCase, std::ostream* out) {
    *out << '[' << ipCase.field << ']';
}

class IpField : public testing::TestWithParam<IpCase> {};

TEST_P(IpField, IsTheDottedQuadPaddedToSixteen) {
    char field[32];
    memset(field, '#', sizeof field);
    FormatIpField(GetParam().address, field);
    EXPECT_EQ(std::string(field, 17), std::string(GetParam().field) + '\0');
}

INSTANTIATE_TEST_SUITE_P(Addresses, IpField,
                         testing::Values(IpCase{{0, 0, 0, 0}, "0.0.0.0         "},
                                         IpCase{{192, 0, 2, 10}, "192.0.2.10      "},
                                         IpCase{{198, 51, 100, 7}, "198.51.100.7    "},
                                         IpCase{{255, 255, 255, 255}, "255.255.255.255 "},
                                         IpCase{{127, 0, 0, 1}, "127.0.0.1       "}));

}  // namespace
