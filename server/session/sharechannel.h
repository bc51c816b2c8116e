#ifndef NUVEK_RDP_SHARECHANNEL_H
#define NUVEK_RDP_SHARECHANNEL_H

#include "channels/oxpdu.h"

struct Viewer;

// "oxshare": every viewer is the session's owner (id 0) for now; the
// status lists that owner with control. Requests are not served yet.
class ShareChannel
{
public:
    static void connected(Viewer &viewer);
    static void received(Viewer &viewer, OxPduReader &message);
};

#endif // NUVEK_RDP_SHARECHANNEL_H
