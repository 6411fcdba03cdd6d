#pragma once
// The program's two window classes, registered the way its start-up does.
#include <windows.h>

// Registers the main and settings window classes once per process.
void RegisterVintraWindowClasses();

// Dispatches whatever messages are waiting, as the event loop would.
void PumpMessages();
