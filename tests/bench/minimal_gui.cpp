// The smallest Win32 GUI program: the yardstick for quorv.exe's own start-up cost.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
