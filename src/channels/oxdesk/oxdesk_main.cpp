#include "channels/oxdesk/oxdesk_main.h"

#include "channels/oxchannel.h"
#include "channels/oxdesk/oxdesk_common.h"

namespace {

UINT sizeRequest(OxdeskClientContext *context, UINT16 width, UINT16 height)
{
    return OxChannel::sendFrom(context, oxdesk::encodeSize(oxdesk::SizeRequest, width, height));
}

void *newInterface(OxChannel *channel)
{
    auto *context = new OxdeskClientContext();
    context->handle = channel;
    context->SizeRequest = sizeRequest;
    return context;
}

bool dispatch(OxChannel *channel, OxPduReader &message)
{
    auto *context = static_cast<OxdeskClientContext *>(channel->clientInterface());
    switch (message.type()) {
    case oxdesk::DesktopResized: {
        uint16_t width, height;
        if (oxdesk::decodeSize(message, width, height) && context && context->DesktopResized)
            context->DesktopResized(context, width, height);
        return true;
    }
    case oxdesk::MinMaxInfo: {
        uint16_t a, b, c, d;
        if (oxdesk::decodeMinMaxInfo(message, a, b, c, d) && context && context->MinMaxInfo)
            context->MinMaxInfo(context, a, b, c, d);
        return true;
    }
    default:
        return false;
    }
}

const OxChannelType oxdeskType = {OXDESK_CHANNEL_NAME, "com.ostrane.nuvek.channels.oxdesk",
                                  newInterface, OxChannel::deleteInterface<OxdeskClientContext>, dispatch};

} // namespace

BOOL VCAPITYPE oxdesk_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return OxChannel::entry<oxdeskType>(entryPoints, initHandle);
}
