// The program's entry: reads the key, then logs the machine or shows the key dialog.
#include <windows.h>

#include "core/command_line.h"
#include "core/inventory_record.h"
#include "core/module_instance.h"
#include "inventory/inventory_log.h"
#include "key/product_key.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLineTail, int) {
    ModuleInstance = instance;
    AcquireProductKey();
    ExtractLogPath(commandLineTail, LogPath);
    if (RunLogModeIfRequested()) {
        return 0;
    }
    return 0;
}
