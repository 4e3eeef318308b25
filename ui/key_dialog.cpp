#include "ui/key_dialog.h"

#include <commctrl.h>

#include "core/inventory_record.h"
#include "core/module_instance.h"
#include "resources/resource.h"
#include "ui/clipboard_text.h"

namespace {

constexpr char kTooltipText[] = "click to copy";
constexpr char kAboutMenuText[] = "About...";
constexpr char kAboutCaption[] = "About";
constexpr char kAboutText[] = "Quorv v0.31 by Vemra";
constexpr int kCaptionBufferSize = 128;

void SetWindowIcons(HWND window) {
    // LoadIconA yields the system's large-icon size; the same handle serves both slots.
    HICON icon = LoadIconA(ModuleInstance, MAKEINTRESOURCEA(IDI_APPICON));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

BOOL OnInitDialog(HWND window) {
    SetWindowIcons(window);
    AppendSystemMenuItem(window, 0, nullptr);
    AppendSystemMenuItem(window, IDM_ABOUT, kAboutMenuText);
    // In dialog mode the record read as a text is the key alone: offset 29 is still zero.
    SetDlgItemTextA(window, IDC_KEYBUTTON, KeyText);
    AttachTooltip(window, IDC_KEYBUTTON, kTooltipText);
    return TRUE;  // the dialog manager then sets the default focus
}

BOOL OnCommand(HWND window, WPARAM wParam) {
    // The notification code is not looked at: anything the button reports is a click.
    switch (LOWORD(wParam)) {
        case IDCANCEL:
            EndDialog(window, 0);
            return TRUE;
        case IDC_KEYBUTTON:
            CopyKeyToClipboard(window);
            return TRUE;
        default:
            return FALSE;
    }
}

BOOL OnSysCommand(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) != IDM_ABOUT) {
        return FALSE;  // move, close and the rest keep their default handling
    }
    ShowAboutBox(window);
    return TRUE;
}

BOOL OnKey(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) != VK_ESCAPE) {
        return FALSE;
    }
    EndDialog(window, 0);
    return TRUE;
}

BOOL OnCloseOrDestroy() {
    PostQuitMessage(0);
    return FALSE;  // on WM_CLOSE the default handling sends IDCANCEL, which ends the dialog
}

}  // namespace

void RunKeyDialog() {
    DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_KEYDIALOG), nullptr, KeyDialogProc, 0);
}

INT_PTR CALLBACK KeyDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(window);
        case WM_COMMAND:
            return OnCommand(window, wParam);
        case WM_SYSCOMMAND:
            return OnSysCommand(window, wParam);
        case WM_KEYDOWN:
        case WM_CHAR:
            return OnKey(window, wParam);
        case WM_CLOSE:
        case WM_DESTROY:
            return OnCloseOrDestroy();
        default:
            return FALSE;
    }
}

void AppendSystemMenuItem(HWND window, UINT id, const char* text) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (id == 0) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    } else {
        AppendMenuA(menu, MF_STRING, id, text);
    }
}

void AttachTooltip(HWND window, int controlId, const char* text) {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    HWND tooltip = CreateWindowExA(
        0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, ModuleInstance, nullptr);
    // The tool is the control's window itself, so it covers the whole control, and the
    // tooltip subclasses the control to see its mouse messages. The tooltip window belongs
    // to the dialog and goes away with it.
    TTTOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, controlId));
    tool.hinst = ModuleInstance;
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tooltip, TTM_ACTIVATE, TRUE, 0);
    SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CopyKeyToClipboard(HWND window) {
    // The caption is read back from the button; GetWindowTextA cuts it to fit and terminates.
    char caption[kCaptionBufferSize];
    if (GetWindowTextA(GetDlgItem(window, IDC_KEYBUTTON), caption, sizeof caption) == 0) {
        return;
    }
    CopyTextToClipboard(window, caption);
}

void ShowAboutBox(HWND window) {
    MSGBOXPARAMSA about = {};
    about.cbSize = sizeof about;
    about.hwndOwner = window;
    about.hInstance = ModuleInstance;
    about.lpszText = kAboutText;
    about.lpszCaption = kAboutCaption;
    about.dwStyle = MB_USERICON;  // one OK button and the icon below
    about.lpszIcon = MAKEINTRESOURCEA(IDI_APPICON);
    MessageBoxIndirectA(&about);
}
