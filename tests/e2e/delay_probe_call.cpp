// delay_probe_hidden's call into user32, in an object that only the linker sees.
#include <windows.h>

void ProbeCall() {
    MessageBeep(0);
}
