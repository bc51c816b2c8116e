#ifndef NUVEK_RDP_RAILORDERS_H
#define NUVEK_RDP_RAILORDERS_H

#include "railwindows.h"

#include <freerdp/freerdp.h>

// Writes the RemoteApp window orders that bring a viewer from what it was
// told last to the current windows: new, changed and deleted windows, then
// the active window and the z-order. Runs on the viewer's own thread, the
// one that also writes its frames.
class RailOrders
{
public:
    // sent is what the viewer knows (empty at first); self is the viewer's
    // railId: its own geometry requests are not told back.
    static void send(rdpContext *context, const RailSnapshot &sent, const RailSnapshot &now,
                     uint64_t self, bool trace);
};

#endif // NUVEK_RDP_RAILORDERS_H
