// Probes of the delay-load guard. Each calls a function of a delay-loaded DLL that nothing
// else in it calls: delay_probe from its entry, and it must then run; delay_probe_hidden
// through delay_probe_call.cpp, which reaches the linker only as a link option, and its
// build must then fail with a message that says what to do.
#include <windows.h>

void ProbeCall();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef QUORV_PROBE_FROM_ENTRY
    MessageBeep(0);
#else
    ProbeCall();
#endif
    return 0;
}
