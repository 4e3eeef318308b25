// Starts quorv.exe the way Windows would, with an exact command line, and reports what a
// person would see: its exit code, whether its dialog window appeared, and what the dialog
// shows and leaves on the clipboard. Reports are key=value lines on stdout.
//
//   quorv_driver launch     runs the command line in QUORV_COMMAND_LINE and waits for it;
//                           prints "exit=N window=0|1" and returns N. The program is
//                           QUORV_APPLICATION_NAME when set, so the line may start with
//                           blanks as it can when a logon script starts it.
//   launch-alone            runs QUORV_COMMAND_LINE and waits at most 20 s for it to end
//                           (then ends it); prints "exit=N|timeout window=0|1" where window
//                           counts only windows of the started process.
//   dialog                  waits up to 60 s for the key dialog to be visible and describes
//                           it: title, rectangle, work area, button, caption, close box.
//   clipboard               prints the clipboard's CF_TEXT bytes in hex ("text=" when none,
//                           "text=none" when there is no CF_TEXT at all).
//   set-clipboard TEXT      puts TEXT on the clipboard as CF_TEXT.
//   about                   chooses the dialog's About command and describes the About box.
//   about-closed            waits up to 20 s for the About box to go.
//   tooltip                 waits up to 20 s for the key button's tooltip to show.
//   close                   ends the key dialog's process: close command, then by force.
//   session FILE            for a Wine desktop, while the caller goes on driving it: runs
//                           QUORV_COMMAND_LINE, writes the dialog's description to FILE once
//                           it shows (with the foreground handed to the desktop, so that a
//                           click on its title bar draws it active), then appends "exit=N"
//                           when the program has ended.
//   time-to-window RUNS PROGRAM...
//                           starts each program RUNS times, round-robin, and prints
//                           "PROGRAM MILLISECONDS" from its start to its first visible
//                           top-level window, which is then sent WM_CLOSE.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kDialogTitle[] = "Windows Product Key";
constexpr char kDialogClass[] = "#32770";
constexpr int kKeyButtonId = 110;
constexpr WPARAM kAboutCommand = 210;
constexpr DWORD kPollMilliseconds = 20;
constexpr DWORD kTimingPollMilliseconds = 2;  // fine enough for start-up times of ~0.5 s

int Launch() {
    static char commandLine[32768];
    if (GetEnvironmentVariableA("QUORV_COMMAND_LINE", commandLine, sizeof commandLine) == 0) {
        fprintf(stderr, "QUORV_COMMAND_LINE is not set\n");
        return 100;
    }
    static char applicationName[MAX_PATH];
    const bool named =
        GetEnvironmentVariableA("QUORV_APPLICATION_NAME", applicationName, MAX_PATH) != 0;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(named ? applicationName : nullptr, commandLine, nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return 101;
    }
    bool windowSeen = false;
    while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
        windowSeen = windowSeen || FindWindowA(nullptr, kDialogTitle) != nullptr;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("exit=%lu window=%d\n", exitCode, windowSeen ? 1 : 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

// Helpers ----------------------------------------------------------------------------------

// Polls condition until it holds or the time is up; true when it held.
template <typename Condition>
bool WaitFor(Condition condition, DWORD milliseconds, DWORD pollMilliseconds = kPollMilliseconds) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= milliseconds) {
            return false;
        }
        Sleep(pollMilliseconds);
    }
    return true;
}

bool StartProgram(const char* commandLineText, PROCESS_INFORMATION* process) {
    std::string commandLine = commandLineText;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, process) != FALSE;
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

std::string RectText(const RECT& rect) {
    char text[80];
    snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

std::string CentreText(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    char text[40];
    snprintf(text, sizeof text, "%ld,%ld", (rect.left + rect.right) / 2,
             (rect.top + rect.bottom) / 2);
    return text;
}

struct TopLevelSearch {
    DWORD processId;        // 0: any process
    HWND owner;             // null: any owner
    const char* className;  // null: any class
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevelWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<TopLevelSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if ((!search->visibleOnly || IsWindowVisible(window)) &&
        (search->processId == 0 || processId == search->processId) &&
        (search->owner == nullptr || GetWindow(window, GW_OWNER) == search->owner) &&
        (search->className == nullptr || ClassName(window) == search->className)) {
        search->found.push_back(window);
    }
    return TRUE;
}

// Top-level windows that match every given criterion.
std::vector<HWND> TopLevelWindows(DWORD processId, HWND owner, const char* className,
                                  bool visibleOnly) {
    TopLevelSearch search = {processId, owner, className, visibleOnly, {}};
    EnumWindows(CollectTopLevelWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> VisibleTopLevelWindows(DWORD processId, HWND owner, const char* className) {
    return TopLevelWindows(processId, owner, className, true);
}

HWND VisibleDialog() {
    HWND dialog = FindWindowA(kDialogClass, kDialogTitle);
    return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND WaitForDialog(DWORD milliseconds) {
    HWND dialog = nullptr;
    WaitFor([&] { return (dialog = VisibleDialog()) != nullptr; }, milliseconds);
    return dialog;
}

HWND AboutBox(HWND dialog) {
    std::vector<HWND> boxes = VisibleTopLevelWindows(0, dialog, kDialogClass);
    return boxes.empty() ? nullptr : boxes[0];
}

LRESULT HitTest(HWND window, LONG x, LONG y) {
    DWORD_PTR result = HTNOWHERE;
    SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &result);
    return static_cast<LRESULT>(result);
}

// The middle of the close box, found the way the mouse would: along the caption's middle
// row, where the window reports HTCLOSE.
std::string CloseBoxText(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    const LONG y =
        rect.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    LONG first = -1;
    LONG last = -1;
    for (LONG x = rect.right - 1; x >= rect.left; --x) {
        if (HitTest(window, x, y) == HTCLOSE) {
            last = last < 0 ? x : last;
            first = x;
        } else if (last >= 0) {
            break;
        }
    }
    if (last < 0) {
        return "none";
    }
    char text[40];
    snprintf(text, sizeof text, "%ld,%ld", (first + last) / 2, y);
    return text;
}

std::string DescribeDialog(HWND dialog) {
    RECT window;
    RECT workArea;
    RECT button;
    GetWindowRect(dialog, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    HWND keyButton = GetDlgItem(dialog, kKeyButtonId);
    GetWindowRect(keyButton, &button);
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    std::string report;
    report += "title=" + WindowText(dialog) + "\n";
    report += "pid=" + std::to_string(processId) + "\n";
    report += "window=" + RectText(window) + "\n";
    report += "work=" + RectText(workArea) + "\n";
    report += "button=" + RectText(button) + "\n";
    report += "button_centre=" + CentreText(keyButton) + "\n";
    report += "caption=" + WindowText(keyButton) + "\n";
    report += "close=" + CloseBoxText(dialog) + "\n";
    return report;
}

// Subcommands ------------------------------------------------------------------------------

int LaunchAlone() {
    static char commandLine[32768];
    if (GetEnvironmentVariableA("QUORV_COMMAND_LINE", commandLine, sizeof commandLine) == 0) {
        fprintf(stderr, "QUORV_COMMAND_LINE is not set\n");
        return 100;
    }
    PROCESS_INFORMATION process = {};
    if (!StartProgram(commandLine, &process)) {
        fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return 101;
    }
    bool windowSeen = false;
    const bool ended = WaitFor(
        [&] {
            windowSeen = windowSeen ||
                         !VisibleTopLevelWindows(process.dwProcessId, nullptr, nullptr).empty();
            return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        },
        20000);
    if (ended) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        printf("exit=%lu window=%d\n", exitCode, windowSeen ? 1 : 0);
    } else {
        TerminateProcess(process.hProcess, 1);
        printf("exit=timeout window=%d\n", windowSeen ? 1 : 0);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

// In a Wine desktop the first window is activated before it becomes the foreground window,
// so its title bar is drawn inactive, and a click on it changes nothing while Wine holds it
// active. Once it is the foreground window, the foreground goes to the desktop; a click on
// the title bar then activates it as a user's would.
void HandForegroundToDesktop(HWND dialog) {
    WaitFor([&] { return GetForegroundWindow() == dialog; }, 10000);
    SetForegroundWindow(GetDesktopWindow());
}

int ShowDialog() {
    HWND dialog = WaitForDialog(60000);
    if (dialog == nullptr) {
        printf("dialog=none\n");
        return 1;
    }
    printf("%s", DescribeDialog(dialog).c_str());
    return 0;
}

// The clipboard is briefly busy while another program writes to it.
bool OpenClipboardPatiently(HWND owner) {
    return WaitFor([&] { return OpenClipboard(owner) != FALSE; }, 5000);
}

int PrintClipboard() {
    if (!OpenClipboardPatiently(nullptr)) {
        printf("text=busy\n");
        return 1;
    }
    HANDLE data = GetClipboardData(CF_TEXT);
    const char* bytes = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
    if (bytes == nullptr) {
        printf("text=none\n");
    } else {
        printf("text=");
        for (SIZE_T i = 0; i < GlobalSize(data); ++i) {
            printf("%02x", static_cast<unsigned char>(bytes[i]));
        }
        printf("\n");
        GlobalUnlock(data);
    }
    CloseClipboard();
    return 0;
}

int SetClipboard(const char* text) {
    // An owner window, without which an emptied clipboard refuses new data.
    HWND owner =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const size_t size = strlen(text) + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(memory), text, size);
    GlobalUnlock(memory);
    if (!OpenClipboardPatiently(owner)) {
        return 1;
    }
    EmptyClipboard();
    const bool set = SetClipboardData(CF_TEXT, memory) != nullptr;
    CloseClipboard();
    printf("set=%d\n", set ? 1 : 0);
    return set ? 0 : 1;
}

int ShowAbout() {
    HWND dialog = VisibleDialog();
    if (dialog == nullptr) {
        printf("about=no-dialog\n");
        return 1;
    }
    // What choosing "About..." in the system menu sends.
    PostMessageA(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = AboutBox(dialog)) != nullptr; }, 20000)) {
        printf("about=none\n");
        return 1;
    }
    printf("about=1\ntitle=%s\n", WindowText(box).c_str());
    int buttons = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string name = ClassName(child);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (name == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
            printf("icon=%d\n", SendMessageA(child, STM_GETICON, 0, 0) != 0 ? 1 : 0);
        } else if (name == "Static" && !WindowText(child).empty()) {
            printf("text=%s\n", WindowText(child).c_str());
        } else if (name == "Button" && IsWindowVisible(child)) {
            ++buttons;
            printf("button=%s\nbutton_id=%d\nbutton_centre=%s\n", WindowText(child).c_str(),
                   GetDlgCtrlID(child), CentreText(child).c_str());
        }
    }
    printf("buttons=%d\n", buttons);
    return 0;
}

// Closed as a person sees it: the box is gone for good and its owner takes input again.
bool AboutBoxClosed(HWND dialog) {
    return TopLevelWindows(0, dialog, kDialogClass, false).empty() && IsWindowEnabled(dialog);
}

int WaitForAboutClosed() {
    HWND dialog = VisibleDialog();
    const bool closed = dialog != nullptr && WaitFor([&] { return AboutBoxClosed(dialog); }, 20000);
    printf("about_closed=%d\n", closed ? 1 : 0);
    return closed ? 0 : 1;
}

int WaitForTooltip() {
    HWND dialog = VisibleDialog();
    const bool shown =
        dialog != nullptr &&
        WaitFor([&] { return !VisibleTopLevelWindows(0, dialog, "tooltips_class32").empty(); },
                20000);
    printf("tooltip=%d\n", shown ? 1 : 0);
    if (shown) {
        // A tooltip answers WM_GETTEXT with the text it shows.
        char text[256] = {};
        HWND tooltip = VisibleTopLevelWindows(0, dialog, "tooltips_class32")[0];
        SendMessageTimeoutA(tooltip, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 1000, nullptr);
        printf("text=%s\n", text);
    }
    return shown ? 0 : 1;
}

// Ends the key dialog's process for a test that failed half-way: first as the close box
// would, then by force.
int CloseDialog() {
    HWND dialog = FindWindowA(kDialogClass, kDialogTitle);
    if (dialog == nullptr) {
        printf("closed=none\n");
        return 0;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (process != nullptr && WaitForSingleObject(process, 10000) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        printf("closed=terminated\n");
    } else {
        printf("closed=1\n");
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return 0;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    FILE* file = fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
    return MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

int Session(const char* reportPath) {
    static char commandLine[32768];
    if (GetEnvironmentVariableA("QUORV_COMMAND_LINE", commandLine, sizeof commandLine) == 0) {
        WriteWholeFile(reportPath, "error=QUORV_COMMAND_LINE is not set\n");
        return 100;
    }
    PROCESS_INFORMATION process = {};
    if (!StartProgram(commandLine, &process)) {
        const DWORD error = GetLastError();
        WriteWholeFile(reportPath, "error=CreateProcess failed with error " +
                                       std::to_string(error) + " for " + commandLine + "\n");
        return 101;
    }
    HWND dialog = WaitForDialog(60000);
    if (dialog != nullptr) {
        HandForegroundToDesktop(dialog);
    }
    std::string report = dialog != nullptr ? DescribeDialog(dialog) : "dialog=none\n";
    WriteWholeFile(reportPath, report);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    WriteWholeFile(reportPath, report + "exit=" + std::to_string(exitCode) + "\n");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// One start of program: milliseconds to its first visible window, or -1.
double TimeOneStart(const char* program) {
    const std::string commandLine = std::string("\"") + program + "\"";
    LARGE_INTEGER start;
    LARGE_INTEGER shown;
    QueryPerformanceCounter(&start);
    PROCESS_INFORMATION process = {};
    if (!StartProgram(commandLine.c_str(), &process)) {
        return -1;
    }
    HWND window = nullptr;
    const bool appeared = WaitFor(
        [&] {
            std::vector<HWND> windows =
                VisibleTopLevelWindows(process.dwProcessId, nullptr, nullptr);
            window = windows.empty() ? nullptr : windows[0];
            return window != nullptr || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        },
        60000, kTimingPollMilliseconds);
    QueryPerformanceCounter(&shown);
    if (window != nullptr) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return appeared && window != nullptr ? Milliseconds(start, shown) : -1;
}

int TimeToWindow(int runs, char** programs, int count) {
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < count; ++i) {
            printf("%s %.1f\n", programs[i], TimeOneStart(programs[i]));
            fflush(stdout);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* command = argc >= 2 ? argv[1] : "";
    if (strcmp(command, "launch") == 0) {
        return Launch();
    }
    if (strcmp(command, "launch-alone") == 0) {
        return LaunchAlone();
    }
    if (strcmp(command, "dialog") == 0) {
        return ShowDialog();
    }
    if (strcmp(command, "clipboard") == 0) {
        return PrintClipboard();
    }
    if (strcmp(command, "set-clipboard") == 0 && argc == 3) {
        return SetClipboard(argv[2]);
    }
    if (strcmp(command, "about") == 0) {
        return ShowAbout();
    }
    if (strcmp(command, "about-closed") == 0) {
        return WaitForAboutClosed();
    }
    if (strcmp(command, "tooltip") == 0) {
        return WaitForTooltip();
    }
    if (strcmp(command, "close") == 0) {
        return CloseDialog();
    }
    if (strcmp(command, "session") == 0 && argc == 3) {
        return Session(argv[2]);
    }
    if (strcmp(command, "time-to-window") == 0 && argc >= 4) {
        return TimeToWindow(atoi(argv[2]), argv + 3, argc - 3);
    }
    fprintf(stderr,
            "usage: quorv_driver launch | launch-alone | dialog | clipboard | set-clipboard TEXT"
            " | about | about-closed | tooltip | close | session FILE | time-to-window RUNS "
            "PROGRAM...\n");
    return 2;
}
