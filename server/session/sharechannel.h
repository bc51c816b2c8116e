#ifndef NUVEK_RDP_SHARECHANNEL_H
#define NUVEK_RDP_SHARECHANNEL_H

#include "channels/oxpdu.h"

#include <string>
#include <vector>

class SessionServer;
struct Viewer;

// "oxshare": the owner's requests to share the session, to stop, to remove
// a viewer and to hand over control; the messages the server sends back.
class ShareChannel
{
public:
    struct Entry
    {
        uint32_t id;
        bool controller;
        std::string name;
    };

    static OxBytes clientId(uint32_t id);
    static OxBytes status(bool sharing, const std::vector<Entry> &entries);
    static OxBytes disconnectInfo(uint32_t value);
    static OxBytes pointer(uint16_t x, uint16_t y, uint32_t flags);

    static void received(SessionServer &server, Viewer &viewer, OxPduReader &message);
};

#endif // NUVEK_RDP_SHARECHANNEL_H
