#include "channels/oxshare/oxshare_main.h"

#include "channels/oxchannel.h"
#include "channels/oxshare/oxshare_common.h"

namespace {

UINT startSharing(OxshareClientContext *context, const char *key)
{
    return OxChannel::sendFrom(context, oxshare::encodeStartSharing(key ? key : ""));
}

UINT stopSharing(OxshareClientContext *context)
{
    return OxChannel::sendFrom(context, oxshare::encodeStopSharing());
}

UINT kickViewer(OxshareClientContext *context, UINT32 id)
{
    return OxChannel::sendFrom(context, oxshare::encodeU32(oxshare::KickViewer, id));
}

UINT giveControl(OxshareClientContext *context, UINT32 id)
{
    return OxChannel::sendFrom(context, oxshare::encodeU32(oxshare::GiveControl, id));
}

void *newInterface(OxChannel *channel)
{
    auto *context = new OxshareClientContext();
    context->handle = channel;
    context->StartSharing = startSharing;
    context->StopSharing = stopSharing;
    context->KickViewer = kickViewer;
    context->GiveControl = giveControl;
    return context;
}

void serverStatus(OxChannel *channel, OxshareClientContext *context, OxPduReader &message)
{
    oxshare::Status status;
    if (!oxshare::decodeServerStatus(message, status))
        return;
    if (status.nameOverrun)
        WLog_Print(channel->log(), WLOG_ERROR, "exceeded stream length while reading client name");
    if (!context || !context->ServerStatus)
        return;
    std::vector<OxshareStatusEntry> entries;
    entries.reserve(status.entries.size());
    for (const oxshare::StatusEntry &entry : status.entries)
        entries.push_back({entry.id, entry.flags, entry.name.c_str(), entry.name.size()});
    context->ServerStatus(context, status.active, entries.data(), UINT32(entries.size()));
}

bool dispatch(OxChannel *channel, OxPduReader &message)
{
    auto *context = static_cast<OxshareClientContext *>(channel->clientInterface());
    uint32_t value;
    switch (message.type()) {
    case oxshare::ClientId:
        if (oxshare::decodeU32(message, value) && context && context->ClientId)
            context->ClientId(context, value);
        return true;
    case oxshare::ServerStatus:
        serverStatus(channel, context, message);
        return true;
    case oxshare::DisconnectInfo:
        if (oxshare::decodeU32(message, value) && context && context->DisconnectInfo)
            context->DisconnectInfo(context, value);
        return true;
    case oxshare::MouseEvent: {
        uint16_t x, y;
        if (oxshare::decodeMouseEvent(message, x, y, value) && context && context->MouseEvent)
            context->MouseEvent(context, x, y, value);
        return true;
    }
    default:
        return false;
    }
}

const OxChannelType oxshareType = {OXSHARE_CHANNEL_NAME, "com.ostrane.nuvek.channels.oxshare",
                                   newInterface, OxChannel::deleteInterface<OxshareClientContext>, dispatch};

} // namespace

BOOL VCAPITYPE oxshare_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return OxChannel::entry<oxshareType>(entryPoints, initHandle);
}
