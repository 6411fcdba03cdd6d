#include "app/win32_app_state.h"

Win32State gWin32;
