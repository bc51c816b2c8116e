#include "sharechannel.h"

#include "channels/oxshare/oxshare_common.h"
#include "sessionserver.h"

#include <cstdio>

OxBytes ShareChannel::clientId(uint32_t id)
{
    return oxshare::encodeU32(oxshare::ClientId, id);
}

OxBytes ShareChannel::status(bool sharing, const std::vector<Entry> &entries)
{
    oxshare::Status status;
    status.active = sharing;
    for (const Entry &entry : entries) {
        oxshare::StatusEntry out;
        out.id = entry.id;
        out.flags = entry.controller ? oxshare::ControlFlags : 0;
        out.name = entry.name;
        status.entries.push_back(out);
    }
    return oxshare::encodeServerStatus(status);
}

OxBytes ShareChannel::disconnectInfo(uint32_t value)
{
    return oxshare::encodeU32(oxshare::DisconnectInfo, value);
}

OxBytes ShareChannel::pointer(uint16_t x, uint16_t y, uint32_t flags)
{
    return oxshare::encodeMouseEvent(x, y, flags);
}

void ShareChannel::received(SessionServer &server, Viewer &viewer, OxPduReader &message)
{
    std::string password;
    uint32_t id = 0;
    switch (message.type()) {
    case oxshare::StartSharing:
        if (oxshare::decodeStartSharing(message, password) && !password.empty())
            return server.startSharing(viewer, password);
        break;
    case oxshare::StopSharing:
        return server.stopSharing(viewer);
    case oxshare::KickViewer:
        if (oxshare::decodeU32(message, id))
            return server.kickViewer(viewer, id);
        break;
    case oxshare::GiveControl:
        if (oxshare::decodeU32(message, id))
            return server.giveControl(viewer, id);
        break;
    default:
        break;
    }
    std::fprintf(stderr, "nuvek2_rdp: oxshare message of type %u dropped\n", message.type());
}
