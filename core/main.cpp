// The program's entry: reads the key, then logs the machine or shows the key dialog.
#include <windows.h>

#include "core/command_line.h"
#include "core/inventory_record.h"
#include "core/module_instance.h"
#include "inventory/inventory_log.h"
#include "key/product_key.h"
#include "ui/key_dialog.h"

namespace {

// Names the one dialog that may be open at a time, in the session's own namespace.
constexpr char kSingleInstanceMutexName[] = "quorv";

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ModuleInstance = instance;
    AcquireProductKey();
    // The tail that MinGW's start-up code hands over takes every byte from 0x80 up for a
    // blank and keeps leading blanks, so non-English paths went astray; it is taken from the
    // command line itself instead.
    const char* commandLineTail = SkipProgramName(GetCommandLineA());
    ExtractLogPath(commandLineTail, LogPath);
    if (RunLogModeIfRequested()) {
        return 0;
    }

    // Any error here, "already exists" included, means another dialog may be showing.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kSingleInstanceMutexName);
    if (GetLastError() != ERROR_SUCCESS) {
        return 0;
    }
    RunKeyDialog();
    ReleaseMutex(mutex);
    return 0;
}
