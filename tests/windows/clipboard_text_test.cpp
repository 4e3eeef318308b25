// Putting text on the clipboard: the new text is ready before the old content is given up,
// and memory the clipboard did not take is not leaked.
#include <gtest/gtest.h>

#include <string>

#include "clipboard_helpers.h"
#include "ui/clipboard_text.h"

namespace {

constexpr char kPrevious[] = "what the user copied before";

std::string WithTerminator(const std::string& text) {
    return text + '\0';
}

TEST(StageClipboardText, HoldsTheTextAndItsTerminatorWithoutTouchingTheClipboard) {
    PutClipboardText(kPrevious);
    const DWORD sequence = GetClipboardSequenceNumber();
    HGLOBAL memory = StageClipboardText("NPPR9-FWDCX-D2C8J-H872K-2YT43");
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(GlobalFlags(memory) & GMEM_LOCKCOUNT, 0u) << "left locked";
    ASSERT_EQ(GlobalSize(memory), 30u);
    const char* bytes = static_cast<const char*>(GlobalLock(memory));
    EXPECT_EQ(std::string(bytes, 30), WithTerminator("NPPR9-FWDCX-D2C8J-H872K-2YT43"));
    GlobalUnlock(memory);
    GlobalFree(memory);
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(kPrevious));
}

TEST(HandOverClipboardText, ReplacesTheContentWithTheStagedText) {
    PutClipboardText(kPrevious);
    ASSERT_TRUE(HandOverClipboardText(TestWindow(), StageClipboardText("ABC")));
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator("ABC"));
}

TEST(HandOverClipboardText, ClipboardHeldElsewhereKeepsItsContentAndTheMemoryIsFreed) {
    PutClipboardText(kPrevious);
    HGLOBAL memory = StageClipboardText("ABC");
    ASSERT_NE(memory, nullptr);
    {
        ClipboardHeldByAnotherThread busy;
        ASSERT_TRUE(busy.opened());
        EXPECT_FALSE(HandOverClipboardText(TestWindow(), memory));
    }
    // The clipboard never took the memory, so the hand-over must have given it back.
    EXPECT_EQ(GlobalFlags(memory), static_cast<UINT>(GMEM_INVALID_HANDLE));
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(kPrevious));
}

TEST(HandOverClipboardText, WaitsForAHolderThatLetsGoWithinAMoment) {
    PutClipboardText(kPrevious);
    ClipboardHeldByAnotherThread busy(60);
    ASSERT_TRUE(busy.opened());
    EXPECT_TRUE(HandOverClipboardText(TestWindow(), StageClipboardText("ABC")));
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator("ABC"));
}

TEST(CopyTextToClipboard, ClipboardHeldElsewhereKeepsItsContent) {
    PutClipboardText(kPrevious);
    {
        ClipboardHeldByAnotherThread busy;
        ASSERT_TRUE(busy.opened());
        EXPECT_FALSE(CopyTextToClipboard(TestWindow(), "ABC"));
    }
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(kPrevious));
}

}  // namespace
