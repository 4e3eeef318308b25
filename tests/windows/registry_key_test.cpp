// The registry accessor on Wine's real registry, in a key the tests create and remove.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "key/registry_key.h"
#include "registry_helpers.h"

namespace {

constexpr char kTestKey[] = "Software\\QuorvTest";

static_assert(!std::is_copy_constructible_v<RegistryKey>, "a key must never be closed twice");
static_assert(!std::is_copy_assignable_v<RegistryKey>, "a key must never be closed twice");

// Sets "ProgramFiles(x86)" for one test and puts the old value back afterwards.
class ProgramFilesX86Override {
public:
    explicit ProgramFilesX86Override(const char* value) {
        hadValue_ = GetEnvironmentVariableA(kName, saved_, sizeof saved_) != 0;
        SetEnvironmentVariableA(kName, value);
    }
    ~ProgramFilesX86Override() { SetEnvironmentVariableA(kName, hadValue_ ? saved_ : nullptr); }

private:
    static constexpr const char* kName = "ProgramFiles(x86)";
    char saved_[1024] = {};
    bool hadValue_ = false;
};

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(RegistryView::Native64, kTestKey);
        DeleteRegistryTree(RegistryView::Redirected32, kTestKey);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(RegistryKeyTest, PrefixIsA64BitWindows) {
    // The other view tests only mean something on a WoW64 prefix.
    EXPECT_TRUE(Is64BitWindows());
}

TEST_F(RegistryKeyTest, FindsNameInOtherLetterCase) {
    SetRegistryText(RegistryView::Native64, kTestKey, "Other", "x");
    SetRegistryText(RegistryView::Native64, kTestKey, "ProductKey", "ABCDE");
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    ASSERT_TRUE(key.FindValue("productkey"));
    EXPECT_STREQ(key.name, "ProductKey");
    EXPECT_STREQ(reinterpret_cast<const char*>(key.data), "ABCDE");
    ASSERT_TRUE(key.FindValue("PRODUCTKEY"));
}

TEST_F(RegistryKeyTest, CountsComeFromTheKeyInformation) {
    SetRegistryText(RegistryView::Native64, kTestKey, "A", "1");
    SetRegistryBinary(RegistryView::Native64, kTestKey, "Bb", std::vector<unsigned char>(40));
    SetRegistryText(RegistryView::Native64, (std::string(kTestKey) + "\\Sub").c_str(), "C", "");
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    EXPECT_NE(key.handle, nullptr);
    EXPECT_EQ(key.valueCount, 2u);
    EXPECT_EQ(key.subKeyCount, 1u);
    EXPECT_EQ(key.maxValueNameLength, 2u);
    EXPECT_EQ(key.maxValueDataLength, 40u);
}

TEST_F(RegistryKeyTest, MissingValueIsNotFoundAndClearsData) {
    SetRegistryText(RegistryView::Native64, kTestKey, "Present", "text");
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    EXPECT_FALSE(key.FindValue("Absent"));
    EXPECT_EQ(key.data[0], 0);
}

TEST_F(RegistryKeyTest, DataOver260BytesIsNeverFound) {
    SetRegistryBinary(RegistryView::Native64, kTestKey, "Big", std::vector<unsigned char>(261, 7));
    SetRegistryBinary(RegistryView::Native64, kTestKey, "Fits", std::vector<unsigned char>(260, 9));
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    EXPECT_FALSE(key.FindValue("Big"));
    ASSERT_TRUE(key.FindValue("Fits"));
    EXPECT_EQ(key.data[259], 9);
}

TEST_F(RegistryKeyTest, ShortValueIsFollowedByZerosNotByEarlierValues) {
    SetRegistryBinary(RegistryView::Native64, kTestKey, "Long",
                      std::vector<unsigned char>(200, 0xAA));
    SetRegistryBinary(RegistryView::Native64, kTestKey, "Short", {1, 2});
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    ASSERT_TRUE(key.FindValue("Long"));
    ASSERT_TRUE(key.FindValue("Short"));
    EXPECT_EQ(key.data[0], 1);
    EXPECT_EQ(key.data[1], 2);
    for (size_t i = 2; i < sizeof key.data; ++i) {
        ASSERT_EQ(key.data[i], 0) << "byte " << i;
    }
}

TEST_F(RegistryKeyTest, FailedOpenLeavesNullHandleAndFindsNothing) {
    RegistryKey key(HKEY_LOCAL_MACHINE, "Software\\QuorvTest\\DoesNotExist");
    EXPECT_EQ(key.handle, nullptr);
    EXPECT_EQ(key.valueCount, 0u);
    EXPECT_EQ(key.subKeyCount, 0u);
    EXPECT_FALSE(key.FindValue("Anything"));
    EXPECT_EQ(key.data[0], 0);
}

TEST_F(RegistryKeyTest, NullPathWrapsTheParentAndClosesIt) {
    SetRegistryText(RegistryView::Native64, kTestKey, "Value", "v");
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_READ | KEY_WOW64_64KEY, &parent),
              ERROR_SUCCESS);
    {
        RegistryKey key(parent, nullptr);
        EXPECT_EQ(key.handle, parent);
        EXPECT_TRUE(key.FindValue("value"));
    }
    DWORD values = 0;
    EXPECT_NE(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS)
        << "the wrapped key must be closed when the object goes";
}

TEST_F(RegistryKeyTest, DestructorClosesTheOpenedKey) {
    SetRegistryText(RegistryView::Native64, kTestKey, "Value", "v");
    HKEY opened = nullptr;
    {
        RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
        opened = key.handle;
        ASSERT_NE(opened, nullptr);
    }
    DWORD values = 0;
    EXPECT_NE(RegQueryInfoKeyA(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

TEST_F(RegistryKeyTest, ReadsTheNative64BitViewOn64BitWindows) {
    SetRegistryText(RegistryView::Native64, kTestKey, "Only64", "native");
    SetRegistryText(RegistryView::Redirected32, kTestKey, "Only32", "redirected");
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    EXPECT_TRUE(key.FindValue("Only64"));
    EXPECT_FALSE(key.FindValue("Only32"));
}

TEST_F(RegistryKeyTest, ReadsTheProcessViewWhenNot64BitWindows) {
    SetRegistryText(RegistryView::Native64, kTestKey, "Only64", "native");
    SetRegistryText(RegistryView::Redirected32, kTestKey, "Only32", "redirected");
    ProgramFilesX86Override override("");
    RegistryKey key(HKEY_LOCAL_MACHINE, kTestKey);
    EXPECT_FALSE(key.FindValue("Only64"));
    EXPECT_TRUE(key.FindValue("Only32"));
}

struct EnvironmentCase {
    const char* value;  // null: the variable is removed
    bool is64Bit;
};

void PrintTo(const EnvironmentCase& environmentCase, std::ostream* out) {
    *out << (environmentCase.value ? "\"" + std::string(environmentCase.value).substr(0, 8) + "\""
                                   : std::string("unset"));
}

class Is64BitWindowsTest : public testing::TestWithParam<EnvironmentCase> {};

TEST_P(Is64BitWindowsTest, FollowsProgramFilesX86) {
    ProgramFilesX86Override override(GetParam().value);
    EXPECT_EQ(Is64BitWindows(), GetParam().is64Bit);
}

const std::string kLongValue(600, 'C');  // more than the 256-character probe holds

INSTANTIATE_TEST_SUITE_P(Values, Is64BitWindowsTest,
                         testing::Values(EnvironmentCase{"C:\\Program Files (x86)", true},
                                         EnvironmentCase{"", false},
                                         EnvironmentCase{nullptr, false},
                                         EnvironmentCase{kLongValue.c_str(), true}));

}  // namespace
