// The key dialog in process, built from the real template (this test program carries the
// same resources as quorv.exe) and driven through KeyDialogProc and the dialog manager.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "clipboard_helpers.h"
#include "core/inventory_record.h"
#include "core/module_instance.h"
#include "record_reset.h"
#include "resources/resource.h"
#include "ui/key_dialog.h"

namespace {

constexpr char kTitle[] = "Windows Product Key";
constexpr char kPlaceholder[] = "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX";
constexpr char kPrevious[] = "what the user copied before";
constexpr char kDialogClass[] = "#32770";

std::string WithTerminator(const std::string& text) {
    return text + '\0';
}

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassName(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The key field as the lookup leaves it: the text, zero-filled to 29 bytes.
void StoreKey(const std::string& key) {
    memset(KeyText, 0, kKeyTextLength);
    memcpy(KeyText, key.data(), key.size());
}

struct WindowSearch {
    const char* className;
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectMatchingWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    if (ClassName(window) == search->className &&
        (search->owner == nullptr || GetWindow(window, GW_OWNER) == search->owner)) {
        search->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
    return TRUE;
}

// Top-level windows of this thread with the given class whose owner is owner (any owner
// when owner is null).
std::vector<HWND> ThreadWindows(const char* className, HWND owner) {
    WindowSearch search = {className, owner, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectMatchingWindow,
                      reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

bool TakeQuitMessage() {
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

// The About box as seen from inside its own message loop.
struct AboutBoxView {
    int timesShown = 0;
    HWND owner = nullptr;
    std::string caption;
    std::vector<std::string> texts;    // static text controls
    std::vector<HICON> icons;          // icon controls
    std::vector<std::string> buttons;  // visible buttons
};

struct AboutBoxWatch {
    HWND dialog = nullptr;
    AboutBoxView view;
} aboutWatch;

// Runs in the About box's message loop: records the box, then presses its OK button.
void CALLBACK InspectAndCloseAboutBox(HWND, UINT, UINT_PTR, DWORD) {
    for (HWND box : ThreadWindows(kDialogClass, aboutWatch.dialog)) {
        if (!IsWindowVisible(box)) {
            continue;
        }
        AboutBoxView& view = aboutWatch.view;
        ++view.timesShown;
        view.owner = GetWindow(box, GW_OWNER);
        view.caption = WindowText(box);
        HWND okButton = nullptr;
        for (HWND child : ChildWindows(box)) {
            const std::string name = ClassName(child);
            if (name == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                view.icons.push_back(
                    reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)));
            } else if (name == "Static" && !WindowText(child).empty()) {
                view.texts.push_back(WindowText(child));
            } else if (name == "Button" && IsWindowVisible(child)) {
                view.buttons.push_back(WindowText(child));
                okButton = GetDlgCtrlID(child) == IDOK ? child : okButton;
            }
        }
        // Whatever the box looks like, it must go, or the test would wait for ever.
        if (okButton != nullptr) {
            SendMessageA(okButton, BM_CLICK, 0, 0);
        } else {
            EndDialog(box, IDOK);
        }
    }
}

// Hands one message straight to KeyDialogProc, with an About box inspector standing by.
INT_PTR CallKeyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam = 0) {
    aboutWatch = AboutBoxWatch{dialog, {}};
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, InspectAndCloseAboutBox);
    const INT_PTR handled = KeyDialogProc(dialog, message, wParam, lParam);
    KillTimer(nullptr, timer);
    return handled;
}

class KeyDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInventoryRecord();
        ModuleInstance = GetModuleHandleA(nullptr);
        TakeQuitMessage();
    }
    void TearDown() override {
        if (dialog_ != nullptr) {
            DestroyWindow(dialog_);
        }
        // WM_DESTROY posts a quit message, which would end the next test's message loops.
        TakeQuitMessage();
        ResetInventoryRecord();
    }

    // The dialog, modeless, from the real template and procedure.
    HWND OpenDialog() {
        dialog_ = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_KEYDIALOG), nullptr,
                                     KeyDialogProc, 0);
        return dialog_;
    }
    HWND Button() const { return GetDlgItem(dialog_, IDC_KEYBUTTON); }
    HICON AppIcon() const { return LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_APPICON)); }

    HWND dialog_ = nullptr;
};

// Initialisation -------------------------------------------------------------------------

struct CaptionCase {
    const char* name;
    std::string key;
};

class KeyDialogCaption : public KeyDialogTest, public testing::WithParamInterface<CaptionCase> {};

TEST_P(KeyDialogCaption, IsTheKeyWithoutTheMacPlaceholderBehindIt) {
    StoreKey(GetParam().key);
    ASSERT_NE(OpenDialog(), nullptr);
    EXPECT_EQ(WindowText(Button()), GetParam().key);
    EXPECT_STREQ(MacAddressField, "XX:XX:XX:XX:XX:XX ") << "the record must not change";
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyDialogCaption,
                         testing::Values(CaptionCase{"Placeholder", kPlaceholder},
                                         CaptionCase{"Key", "NPPR9-FWDCX-D2C8J-H872K-2YT43"},
                                         CaptionCase{"ShortPlainKey", "ABC"},
                                         CaptionCase{"EmptyPlainKey", ""}),
                         [](const testing::TestParamInfo<CaptionCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(KeyDialogTest, OpensCentredWithItsCaptionAndOneWideButton) {
    ASSERT_NE(OpenDialog(), nullptr);
    EXPECT_EQ(WindowText(dialog_), kTitle);
    EXPECT_TRUE(IsWindowVisible(dialog_));
    RECT window, workArea, client, button;
    GetWindowRect(dialog_, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    EXPECT_NEAR((window.left + window.right) / 2.0, (workArea.left + workArea.right) / 2.0, 1.0);
    EXPECT_NEAR((window.top + window.bottom) / 2.0, (workArea.top + workArea.bottom) / 2.0, 1.0);
    ASSERT_EQ(ChildWindows(dialog_), std::vector<HWND>{Button()});
    GetClientRect(dialog_, &client);
    GetWindowRect(Button(), &button);
    EXPECT_GT(button.right - button.left, (client.right - client.left) * 9 / 10);
}

TEST_F(KeyDialogTest, BothWindowIconsAreTheApplicationIcon) {
    ASSERT_NE(OpenDialog(), nullptr);
    ASSERT_NE(AppIcon(), nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog_, WM_GETICON, ICON_BIG, 0)), AppIcon());
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog_, WM_GETICON, ICON_SMALL, 0)), AppIcon());
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(AppIcon(), &info));
    BITMAP colour = {};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(colour.bmBitsPixel, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(KeyDialogTest, SystemMenuKeepsItsStandardItemsAndEndsWithSeparatorAndAbout) {
    ASSERT_NE(OpenDialog(), nullptr);
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 4);
    EXPECT_NE(GetMenuState(menu, SC_MOVE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));

    char text[64] = {};
    MENUITEMINFOA last = {};
    last.cbSize = sizeof last;
    last.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    last.dwTypeData = text;
    last.cch = sizeof text;
    ASSERT_TRUE(GetMenuItemInfoA(menu, count - 1, TRUE, &last));
    EXPECT_EQ(last.fType & MFT_SEPARATOR, 0u);
    EXPECT_EQ(last.wID, 210u);
    EXPECT_STREQ(text, "About...");

    MENUITEMINFOA separator = {};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(menu, count - 2, TRUE, &separator));
    EXPECT_NE(separator.fType & MFT_SEPARATOR, 0u);
    // The standard items stay above the new ones.
    int closePosition = -1;
    for (int position = 0; position < count; ++position) {
        closePosition = GetMenuItemID(menu, position) == SC_CLOSE ? position : closePosition;
    }
    EXPECT_GE(closePosition, 0);
    EXPECT_LT(closePosition, count - 2);
}

TEST_F(KeyDialogTest, TooltipCoversTheButtonWithClickToCopy) {
    ASSERT_NE(OpenDialog(), nullptr);
    const std::vector<HWND> tooltips = ThreadWindows(TOOLTIPS_CLASSA, dialog_);
    ASSERT_EQ(tooltips.size(), 1u);
    HWND tooltip = tooltips[0];
    // Shown even while another window is active.
    EXPECT_EQ(GetWindowLongA(tooltip, GWL_STYLE) & (TTS_ALWAYSTIP | TTS_NOPREFIX),
              TTS_ALWAYSTIP | TTS_NOPREFIX);
    ASSERT_EQ(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    char text[80] = {};
    TTTOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageA(tooltip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(tool.hwnd, dialog_);
    EXPECT_EQ(tool.uId, reinterpret_cast<UINT_PTR>(Button()));
    EXPECT_EQ(tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS), UINT{TTF_IDISHWND | TTF_SUBCLASS});
    EXPECT_STREQ(text, "click to copy");
}

// Copying ---------------------------------------------------------------------------------

class KeyButtonNotification : public KeyDialogTest, public testing::WithParamInterface<WORD> {};

TEST_P(KeyButtonNotification, PutsTheCaptionOnTheClipboardAsTextWithItsTerminator) {
    StoreKey("NPPR9-FWDCX-D2C8J-H872K-2YT43");
    ASSERT_NE(OpenDialog(), nullptr);
    PutClipboardText(kPrevious);
    EXPECT_EQ(CallKeyDialogProc(dialog_, WM_COMMAND, MAKEWPARAM(IDC_KEYBUTTON, GetParam()),
                                reinterpret_cast<LPARAM>(Button())),
              TRUE);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator("NPPR9-FWDCX-D2C8J-H872K-2YT43"));
}

INSTANTIATE_TEST_SUITE_P(AnyCode, KeyButtonNotification,
                         testing::Values(BN_CLICKED, BN_DOUBLECLICKED, BN_SETFOCUS, 0x7FFF));

TEST_F(KeyDialogTest, CopiesTheCaptionAsTheButtonShowsItNotTheRecord) {
    ASSERT_NE(OpenDialog(), nullptr);
    SetWindowTextA(Button(), "EDITED-CAPTION");
    PutClipboardText(kPrevious);
    CopyKeyToClipboard(dialog_);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator("EDITED-CAPTION"));
}

TEST_F(KeyDialogTest, CaptionLongerThan127CharactersIsCopiedCut) {
    ASSERT_NE(OpenDialog(), nullptr);
    SetWindowTextA(Button(), std::string(300, 'K').c_str());
    CopyKeyToClipboard(dialog_);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(std::string(127, 'K')));
}

TEST_F(KeyDialogTest, EmptyCaptionLeavesTheClipboardAsItWas) {
    StoreKey("");  // an empty "ProductKey" value
    ASSERT_NE(OpenDialog(), nullptr);
    PutClipboardText(kPrevious);
    const DWORD sequence = GetClipboardSequenceNumber();
    EXPECT_EQ(CallKeyDialogProc(dialog_, WM_COMMAND, MAKEWPARAM(IDC_KEYBUTTON, BN_CLICKED),
                                reinterpret_cast<LPARAM>(Button())),
              TRUE);
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(kPrevious));
}

TEST_F(KeyDialogTest, ClipboardHeldByAnotherProgramKeepsItsContent) {
    ASSERT_NE(OpenDialog(), nullptr);
    PutClipboardText(kPrevious);
    {
        ClipboardHeldByAnotherThread busy;
        ASSERT_TRUE(busy.opened());
        CopyKeyToClipboard(dialog_);
    }
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(kPrevious));
}

// The message table -------------------------------------------------------------------------

struct MessageCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    INT_PTR handled;
    bool endsDialog;
    bool postsQuit;
    bool showsAbout;
    bool copiesKey;
};

void PrintTo(const MessageCase& row, std::ostream* out) {
    *out << row.name;
}

class KeyDialogMessage : public KeyDialogTest, public testing::WithParamInterface<MessageCase> {};

TEST_P(KeyDialogMessage, ReturnsAndDoesWhatTheTableSays) {
    const MessageCase& row = GetParam();
    ASSERT_NE(OpenDialog(), nullptr);
    ASSERT_TRUE(IsWindowVisible(dialog_));
    PutClipboardText(kPrevious);
    TakeQuitMessage();

    EXPECT_EQ(CallKeyDialogProc(dialog_, row.message, row.wParam), row.handled);

    // EndDialog hides a modeless dialog; the modal loop would end on it.
    EXPECT_EQ(!IsWindowVisible(dialog_), row.endsDialog);
    EXPECT_EQ(TakeQuitMessage(), row.postsQuit);
    EXPECT_EQ(aboutWatch.view.timesShown, row.showsAbout ? 1 : 0);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(row.copiesKey ? kPlaceholder : kPrevious));
}

constexpr WPARAM kHighBits = 0x5A0000;

INSTANTIATE_TEST_SUITE_P(
    Rows, KeyDialogMessage,
    testing::Values(
        // name, message, wParam, handled, ends, quits, about, copies
        MessageCase{"InitDialog", WM_INITDIALOG, 0, TRUE, false, false, false, false},
        MessageCase{"Cancel", WM_COMMAND, IDCANCEL, TRUE, true, false, false, false},
        MessageCase{"CancelAnyCode", WM_COMMAND, IDCANCEL | kHighBits, TRUE, true, false, false,
                    false},
        MessageCase{"KeyButton", WM_COMMAND, IDC_KEYBUTTON, TRUE, false, false, false, true},
        MessageCase{"Ok", WM_COMMAND, IDOK, FALSE, false, false, false, false},
        MessageCase{"OtherCommand", WM_COMMAND, 111, FALSE, false, false, false, false},
        MessageCase{"AboutCommand", WM_SYSCOMMAND, IDM_ABOUT, TRUE, false, false, true, false},
        MessageCase{"AboutLow16Bits", WM_SYSCOMMAND, IDM_ABOUT | kHighBits, TRUE, false, false,
                    true, false},
        MessageCase{"AboutLowFourBitsNotMasked", WM_SYSCOMMAND, IDM_ABOUT | 0x3, FALSE, false,
                    false, false, false},
        MessageCase{"SystemClose", WM_SYSCOMMAND, SC_CLOSE, FALSE, false, false, false, false},
        MessageCase{"SystemMove", WM_SYSCOMMAND, SC_MOVE, FALSE, false, false, false, false},
        MessageCase{"EscapeKeyDown", WM_KEYDOWN, VK_ESCAPE, TRUE, true, false, false, false},
        MessageCase{"EscapeChar", WM_CHAR, 27, TRUE, true, false, false, false},
        MessageCase{"EscapeLow16Bits", WM_KEYDOWN, VK_ESCAPE | kHighBits, TRUE, true, false, false,
                    false},
        MessageCase{"OtherKeyDown", WM_KEYDOWN, VK_RETURN, FALSE, false, false, false, false},
        MessageCase{"OtherChar", WM_CHAR, 'a', FALSE, false, false, false, false},
        MessageCase{"Close", WM_CLOSE, 0, FALSE, false, true, false, false},
        MessageCase{"Destroy", WM_DESTROY, 0, FALSE, false, true, false, false},
        MessageCase{"Timer", WM_TIMER, 1, FALSE, false, false, false, false},
        MessageCase{"Notify", WM_NOTIFY, IDC_KEYBUTTON, FALSE, false, false, false, false},
        MessageCase{"SysKeyDownEscape", WM_SYSKEYDOWN, VK_ESCAPE, FALSE, false, false, false,
                    false}),
    [](const testing::TestParamInfo<MessageCase>& info) { return std::string(info.param.name); });

// The About box ------------------------------------------------------------------------------

TEST_F(KeyDialogTest, AboutBoxShowsNameVersionAndAuthorWithTheAppIconAndOneOkButton) {
    ASSERT_NE(OpenDialog(), nullptr);
    CallKeyDialogProc(dialog_, WM_SYSCOMMAND, IDM_ABOUT);
    const AboutBoxView& about = aboutWatch.view;
    ASSERT_EQ(about.timesShown, 1);
    EXPECT_EQ(about.owner, dialog_);
    EXPECT_EQ(about.caption, "About");
    EXPECT_EQ(about.texts, std::vector<std::string>{"Quorv v0.31 by Vemra"});
    EXPECT_EQ(about.icons, std::vector<HICON>{AppIcon()});
    EXPECT_EQ(about.buttons, std::vector<std::string>{"OK"});
    // The dialog goes on working afterwards.
    PutClipboardText(kPrevious);
    CallKeyDialogProc(dialog_, WM_COMMAND, IDC_KEYBUTTON);
    EXPECT_EQ(ReadClipboardBytes(), WithTerminator(kPlaceholder));
}

// The modal dialog ---------------------------------------------------------------------------

struct EndingCase {
    const char* name;
    void (*end)(HWND dialog);
};

void PrintTo(const EndingCase& ending, std::ostream* out) {
    *out << ending.name;
}

struct ModalRun {
    const EndingCase* ending = nullptr;
    HWND dialog = nullptr;
    std::string caption;
    int ticks = 0;
    bool gaveUp = false;
} modalRun;

constexpr int kModalRunTicks = 250;  // 20 ms each

// Runs in the modal dialog's loop: finds the dialog, ends it the chosen way, and ends it
// by force only when that did not work, so that a failing test still returns.
void CALLBACK DriveModalDialog(HWND, UINT, UINT_PTR, DWORD) {
    ++modalRun.ticks;
    if (modalRun.dialog == nullptr) {
        for (HWND window : ThreadWindows(kDialogClass, nullptr)) {
            if (WindowText(window) == kTitle && IsWindowVisible(window)) {
                modalRun.dialog = window;
                modalRun.caption = WindowText(GetDlgItem(window, IDC_KEYBUTTON));
                modalRun.ending->end(window);
                return;
            }
        }
    }
    if (modalRun.ticks > kModalRunTicks && !modalRun.gaveUp && modalRun.dialog != nullptr) {
        modalRun.gaveUp = true;
        EndDialog(modalRun.dialog, 0);
    }
}

class KeyDialogEnding : public KeyDialogTest, public testing::WithParamInterface<EndingCase> {};

TEST_P(KeyDialogEnding, EndsTheModalDialog) {
    StoreKey("NPPR9-FWDCX-D2C8J-H872K-2YT43");
    modalRun = ModalRun{};
    modalRun.ending = &GetParam();
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, DriveModalDialog);
    RunKeyDialog();
    KillTimer(nullptr, timer);
    ASSERT_NE(modalRun.dialog, nullptr) << "the dialog never appeared";
    EXPECT_EQ(modalRun.caption, "NPPR9-FWDCX-D2C8J-H872K-2YT43");
    EXPECT_FALSE(modalRun.gaveUp) << "the dialog did not end by itself";
    EXPECT_FALSE(IsWindow(modalRun.dialog));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, KeyDialogEnding,
    testing::Values(
        // The button has the focus; the dialog manager turns Escape into IDCANCEL.
        EndingCase{"EscapeOnTheButton",
                   [](HWND dialog) {
                       PostMessageA(GetDlgItem(dialog, IDC_KEYBUTTON), WM_KEYDOWN, VK_ESCAPE, 0);
                   }},
        // What the close box and the system menu's Close send.
        EndingCase{"CloseCommand",
                   [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        EndingCase{"CloseMessage", [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }}),
    [](const testing::TestParamInfo<EndingCase>& info) { return std::string(info.param.name); });

}  // namespace
