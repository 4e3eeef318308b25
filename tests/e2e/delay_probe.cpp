// Probe of delay-loading: a call into a delay-loaded DLL that nothing else in the program
// makes, from its entry. The program must run and end with 0.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBeep(0);
    return 0;
}
