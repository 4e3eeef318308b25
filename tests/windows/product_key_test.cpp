// Reading the key from the real registry locations into the inventory record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/inventory_record.h"
#include "key/product_key.h"
#include "record_reset.h"
#include "registry_helpers.h"

namespace {

constexpr char kPlainPath[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kEncodedPath[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kPlaceholder[] = "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX";

// "W269N-WFGWX-YVC9B-4J6C9-T83GX" in the current form, in a 164-byte product id.
std::vector<unsigned char> EncodedSetupKey() {
    std::vector<unsigned char> value(164, 0x5A);
    const unsigned char number[15] = {0xEF, 0x0C, 0x10, 0x00, 0x00, 0x00, 0x34, 0x3D,
                                      0xC5, 0x39, 0x4E, 0xBD, 0x6E, 0x2F, 0x09};
    memcpy(&value[52], number, sizeof number);
    return value;
}

// Every test starts from a registry without either value and puts the prefix's own
// product id back at the end.
class ProductKeyTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInventoryRecord();
        for (RegistryView view : {RegistryView::Native64, RegistryView::Redirected32}) {
            bool exists = false;
            saved_[Index(view)] =
                ReadRegistryValue(view, kEncodedPath, "DigitalProductId", &exists);
            hadProductId_[Index(view)] = exists;
            DeleteRegistryValue(view, kPlainPath, "ProductKey");
            DeleteRegistryValue(view, kEncodedPath, "DigitalProductId");
        }
    }
    void TearDown() override {
        for (RegistryView view : {RegistryView::Native64, RegistryView::Redirected32}) {
            DeleteRegistryValue(view, kPlainPath, "ProductKey");
            if (hadProductId_[Index(view)]) {
                SetRegistryBinary(view, kEncodedPath, "DigitalProductId", saved_[Index(view)]);
            }
        }
        ResetInventoryRecord();
    }
    static int Index(RegistryView view) { return view == RegistryView::Native64 ? 0 : 1; }

    std::vector<unsigned char> saved_[2];
    bool hadProductId_[2] = {};
};

TEST_F(ProductKeyTest, EncodedSetupKeyFixtureMatchesTheKnownKey) {
    SetRegistryBinary(RegistryView::Native64, kEncodedPath, "DigitalProductId", EncodedSetupKey());
    ASSERT_TRUE(ReadEncodedProductKey());
    EXPECT_EQ(std::string(KeyText, 29), "W269N-WFGWX-YVC9B-4J6C9-T83GX");
}

struct PlainCase {
    const char* name;
    std::string stored;
    std::string keyText;  // the record read as a text
};

void PrintTo(const PlainCase& plainCase, std::ostream* out) {
    *out << plainCase.name;
}

class PlainProductKey : public ProductKeyTest, public testing::WithParamInterface<PlainCase> {};

TEST_P(PlainProductKey, IsCopiedAsTheKeyWithBlankMarker) {
    SetRegistryText(RegistryView::Native64, kPlainPath, "ProductKey", GetParam().stored);
    SetRegistryBinary(RegistryView::Native64, kEncodedPath, "DigitalProductId", EncodedSetupKey());
    AcquireProductKey();
    EXPECT_EQ(std::string(KeyText), GetParam().keyText);
    EXPECT_EQ(*SourceMarker, ' ');
    EXPECT_EQ(InventoryRecord[kKeySeparatorOffset], '\0');
    // Nothing of the placeholder or of other values is left behind a short key.
    for (size_t i = GetParam().keyText.size(); i < kKeyTextLength; ++i) {
        EXPECT_EQ(KeyText[i], '\0') << "offset " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, PlainProductKey,
                         testing::Values(PlainCase{"Exact", "NPPR9-FWDCX-D2C8J-H872K-2YT43",
                                                   "NPPR9-FWDCX-D2C8J-H872K-2YT43"},
                                         PlainCase{"Longer", "NPPR9-FWDCX-D2C8J-H872K-2YT43-EXTRA",
                                                   "NPPR9-FWDCX-D2C8J-H872K-2YT43"},
                                         PlainCase{"Shorter", "ABC", "ABC"},
                                         PlainCase{"Empty", "", ""}),
                         [](const testing::TestParamInfo<PlainCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ProductKeyTest, DecodedKeySetsTheMarker) {
    SetRegistryBinary(RegistryView::Native64, kEncodedPath, "DigitalProductId", EncodedSetupKey());
    AcquireProductKey();
    EXPECT_STREQ(KeyText, "W269N-WFGWX-YVC9B-4J6C9-T83GX");
    EXPECT_EQ(*SourceMarker, '*');
    EXPECT_EQ(InventoryRecord[kKeySeparatorOffset], '\0');
}

TEST_F(ProductKeyTest, PrefixZeroProductIdDecodesToFirstAlphabetCharacter) {
    SetRegistryBinary(RegistryView::Native64, kEncodedPath, "DigitalProductId",
                      std::vector<unsigned char>(164, 0));
    EXPECT_TRUE(ReadEncodedProductKey());
    EXPECT_STREQ(KeyText, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBB");
}

TEST_F(ProductKeyTest, ShortProductIdDecodesAsIfTheMissingBytesWereZero) {
    std::vector<unsigned char> value = EncodedSetupKey();
    value.resize(53);  // only byte 52 of the number is stored
    value[52] = 1;
    SetRegistryText(RegistryView::Native64, kEncodedPath, "AaaLongerFirst", std::string(250, 'Z'));
    SetRegistryBinary(RegistryView::Native64, kEncodedPath, "DigitalProductId", value);
    EXPECT_TRUE(ReadEncodedProductKey());
    DeleteRegistryValue(RegistryView::Native64, kEncodedPath, "AaaLongerFirst");
    EXPECT_STREQ(KeyText, "BBBBB-BBBBB-BBBBB-BBBBB-BBBBC");
}

TEST_F(ProductKeyTest, NeitherValueKeepsThePlaceholder) {
    EXPECT_FALSE(ReadPlainProductKey());
    EXPECT_FALSE(ReadEncodedProductKey());
    AcquireProductKey();
    EXPECT_STREQ(KeyText, kPlaceholder);
    EXPECT_EQ(*SourceMarker, ' ');
}

TEST_F(ProductKeyTest, ValuesOnlyInThe32BitViewAreNotRead) {
    SetRegistryText(RegistryView::Redirected32, kPlainPath, "ProductKey",
                    "NPPR9-FWDCX-D2C8J-H872K-2YT43");
    SetRegistryBinary(RegistryView::Redirected32, kEncodedPath, "DigitalProductId",
                      EncodedSetupKey());
    AcquireProductKey();
    EXPECT_STREQ(KeyText, kPlaceholder);
    EXPECT_EQ(*SourceMarker, ' ');
}

}  // namespace
