#include "core/module_instance.h"

HINSTANCE ModuleInstance;
