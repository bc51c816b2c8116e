#include "channels/oxcfg/oxcfg_main.h"

#include "channels/oxcfg/oxcfg_common.h"
#include "channels/oxchannel.h"

namespace {

UINT setOptions(OxcfgClientContext *context, const char *text)
{
    return OxChannel::sendFrom(context, oxcfg::encodeText(oxcfg::SetOptionsRequest, text ? text : ""));
}

void *newInterface(OxChannel *channel)
{
    auto *context = new OxcfgClientContext();
    context->handle = channel;
    context->SetOptions = setOptions;
    return context;
}

bool dispatch(OxChannel *channel, OxPduReader &message)
{
    auto *context = static_cast<OxcfgClientContext *>(channel->clientInterface());
    pcOxcfgOptionsUpdatedNotify callback = nullptr;
    switch (message.type()) {
    case oxcfg::OptionsUpdatedNotify:
        callback = context ? context->OptionsUpdatedNotify : nullptr;
        break;
    case oxcfg::SetOptionsResponse:
        callback = context ? context->SetOptionsResponse : nullptr;
        break;
    default:
        return false;
    }
    if (callback)
        callback(context, oxcfg::decodeText(message).c_str());
    return true;
}

const OxChannelType oxcfgType = {OXCFG_CHANNEL_NAME, "com.ostrane.nuvek.channels.oxcfg",
                                 newInterface, OxChannel::deleteInterface<OxcfgClientContext>, dispatch};

} // namespace

BOOL VCAPITYPE oxcfg_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return OxChannel::entry<oxcfgType>(entryPoints, initHandle);
}
