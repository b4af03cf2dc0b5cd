// Address acquisition after EAP-Success and the post-login action.
#pragma once

#include "app/records.h"

// Returns 0 once the interface holds an address (status is then STATUS_ONLINE);
// on failure or when superseded it ends the calling worker thread itself.
int request_ip(AppContext *ctx, const char *device, int *generation);
