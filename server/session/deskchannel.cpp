#include "deskchannel.h"

#include "channels/oxdesk/oxdesk_common.h"
#include "sessionserver.h"
#include "viewer.h"
#include "x11capture.h"

#include <cstdio>

void DeskChannel::connected(Viewer &viewer)
{
    viewer.desk.send(oxdesk::encodeMinMaxInfo(X11Capture::MinWidth, X11Capture::MinHeight,
                                              X11Capture::MaxWidth, X11Capture::MaxHeight));
}

void DeskChannel::received(SessionServer &server, Viewer &viewer, OxPduReader &message)
{
    uint16_t width = 0, height = 0;
    // Only the owner's connections size the desktop; viewers see it as it is.
    if (viewer.shareId != 0 || message.type() != oxdesk::SizeRequest
        || !oxdesk::decodeSize(message, width, height)) {
        std::fprintf(stderr, "nuvek2_rdp: oxdesk message of type %u dropped\n", message.type());
        return;
    }
    server.capture()->requestSize(width, height);
}

OxBytes DeskChannel::resized(int width, int height)
{
    return oxdesk::encodeSize(oxdesk::DesktopResized, static_cast<uint16_t>(width),
                              static_cast<uint16_t>(height));
}
