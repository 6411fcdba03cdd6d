#pragma once
// The web endpoint's sockets: a listener on 127.0.0.1 only and its clients,
// served from the program's one thread through window messages and the tick.
#include <windows.h>

#include <cstdint>

// Listens on 127.0.0.1:`port` (0: the endpoint is off). A port that is taken
// leaves the endpoint off for this run and says so in the echo: another port
// would not be the one an OBS scene holds.
void StartWebServer(HINSTANCE instance, uint32_t port);

// The main window's tick: the streams get what arrived since the previous
// tick and any change of state; requests that take too long are closed.
void ServeWebTick(uint64_t nowMs);
