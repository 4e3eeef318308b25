// The record's initial bytes, its field pointers and how it reads as a text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/inventory_record.h"

namespace {

TEST(InventoryRecord, StartsWithPlaceholderKeyMarkerAndMac) {
    const std::string expected =
        std::string("XXXXX-XXXXX-XXXXX-XXXXX-XXXXX") + '\0' + "  XX:XX:XX:XX:XX:XX " + '\0';
    ASSERT_EQ(expected.size(), 51u);
    EXPECT_EQ(std::string(InventoryRecord, 51), expected);
}

TEST(InventoryRecord, EverythingBehindTheMacIsZero) {
    for (size_t i = kIpFieldOffset; i < kInventoryRecordSize; ++i) {
        ASSERT_EQ(InventoryRecord[i], '\0') << "offset " << i;
    }
}

TEST(InventoryRecord, FieldPointersPointAtTheirOffsets) {
    const struct {
        const char* pointer;
        size_t offset;
    } fields[] = {{KeyText, 0},
                  {SourceMarker, 30},
                  {MacAddressField, 32},
                  {IpAddressField, 50},
                  {IdentityField, 66}};
    for (const auto& field : fields) {
        EXPECT_EQ(field.pointer - InventoryRecord, static_cast<ptrdiff_t>(field.offset));
    }
}

TEST(InventoryRecord, ReadsAsTheKeyAloneBeforeLogMode) {
    EXPECT_STREQ(KeyText, "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX");
    EXPECT_EQ(*SourceMarker, ' ');
    EXPECT_EQ(std::string(MacAddressField, kMacFieldLength), "XX:XX:XX:XX:XX:XX");
    EXPECT_EQ(MacAddressField[kMacFieldLength], ' ');
}

TEST(InventoryRecord, IdentityFieldRunsToTheEndOfTheRecord) {
    EXPECT_EQ(InventoryRecord + kInventoryRecordSize - IdentityField, 446);
}

TEST(LogPath, StartsEmptyAndHoldsTwoHundredFiftyNineCharacters) {
    EXPECT_EQ(sizeof LogPath, 260u);
    EXPECT_EQ(LogPath[0], '\0');
    EXPECT_EQ(std::string(LogPath, sizeof LogPath), std::string(260, '\0'));
}

}  // namespace
