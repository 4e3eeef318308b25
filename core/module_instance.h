// The program's own module handle, stored at start-up for loading resources.
#pragma once

#include <windows.h>

extern HINSTANCE ModuleInstance;
