#include "sharechannel.h"

#include "channels/oxshare/oxshare_common.h"
#include "viewer.h"

#include <cstdio>

void ShareChannel::connected(Viewer &viewer)
{
    viewer.share.send(oxshare::encodeU32(oxshare::ClientId, 0));
    oxshare::Status status;
    oxshare::StatusEntry owner;
    owner.id = 0;
    owner.flags = oxshare::ControlFlags;
    owner.name = viewer.user;
    status.entries.push_back(owner);
    viewer.share.send(oxshare::encodeServerStatus(status));
}

void ShareChannel::received(Viewer &, OxPduReader &message)
{
    std::fprintf(stderr, "nuvek2_rdp: oxshare message of type %u not served\n", message.type());
}
