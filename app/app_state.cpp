#include "app/app_state.h"

AppState gApp = {{}, kClosedLink, {}, {0}, {}};

SessionRecord gSession;
