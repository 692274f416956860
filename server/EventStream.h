#pragma once
// GET /api/v1/events: server-sent events, one per change ("reservation", "record", "station"),
// each with the feed's number as its id so that a listener that comes back with Last-Event-ID
// (or ?after=N) gets what it missed, as long as the feed still holds it. A comment line every
// 15 s keeps idle connections open through proxies.

#include "server/Database.h"
#include "server/EventHub.h"
#include "server/TokenCheck.h"

#include <httplib.h>

void StreamEvents(const httplib::Request& request, httplib::Response& response, TokenCheck& tokens,
                  EventHub& hub);
