#include "channels/oxrail/oxrail_main.h"

#include "channels/oxchannel.h"

#include <algorithm>

namespace {

UINT activate(OxrailClientContext *context, UINT32 windowId)
{
    return OxChannel::sendFrom(context, oxrail::encodeWindowId(oxrail::Activate, windowId));
}

UINT zOrder(OxrailClientContext *context, UINT32 windowId, UINT32 otherWindowId)
{
    return OxChannel::sendFrom(context, oxrail::encodeZOrder(windowId, otherWindowId));
}

UINT raise(OxrailClientContext *context, UINT32 windowId)
{
    return OxChannel::sendFrom(context, oxrail::encodeWindowId(oxrail::Raise, windowId));
}

UINT geometry(OxrailClientContext *context, UINT32 windowId, INT32 left, INT32 top, INT32 right,
              INT32 bottom)
{
    return OxChannel::sendFrom(context, oxrail::encodeGeometry({windowId, left, top, right, bottom}));
}

UINT monitorLayout(OxrailClientContext *context, UINT32 count, const oxrail::Rect16 *rectangles)
{
    std::vector<oxrail::Rect16> monitors;
    if (rectangles)
        monitors.assign(rectangles, rectangles + std::min<size_t>(count, oxrail::MaxMonitors));
    return OxChannel::sendFrom(context, oxrail::encodeMonitorLayout(monitors));
}

void *newInterface(OxChannel *channel)
{
    auto *context = new OxrailClientContext();
    context->handle = channel;
    context->Activate = activate;
    context->ZOrder = zOrder;
    context->Raise = raise;
    context->Geometry = geometry;
    context->MonitorLayout = monitorLayout;
    return context;
}

// The server sends nothing on this channel.
bool dispatch(OxChannel *, OxPduReader &)
{
    return false;
}

const OxChannelType oxrailType = {OXRAIL_CHANNEL_NAME, "com.ostrane.nuvek.channels.oxrail",
                                  newInterface, OxChannel::deleteInterface<OxrailClientContext>, dispatch};

} // namespace

BOOL VCAPITYPE oxrail_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return OxChannel::entry<oxrailType>(entryPoints, initHandle);
}
