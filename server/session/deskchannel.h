#ifndef NUVEK_RDP_DESKCHANNEL_H
#define NUVEK_RDP_DESKCHANNEL_H

#include "channels/oxpdu.h"

class SessionServer;
struct Viewer;

// "oxdesk": the viewer asks for a desktop size; the server reports the
// size limits at connect and every new size.
class DeskChannel
{
public:
    static void connected(Viewer &viewer);
    static void received(SessionServer &server, Viewer &viewer, OxPduReader &message);
    static OxBytes resized(int width, int height);
};

#endif // NUVEK_RDP_DESKCHANNEL_H
