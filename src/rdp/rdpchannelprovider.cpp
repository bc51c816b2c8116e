#include "rdp/rdpchannelprovider.h"

#include <freerdp/client/channels.h>

#include <cstring>

namespace {

struct OwnChannel
{
    const char *name;
    PVIRTUALCHANNELENTRY entry; // null while that channel client is not built in
};

// Our channel clients register their VirtualChannelEntry here.
const OwnChannel ownChannels[] = {
    {"oxdesk", nullptr},
    {"oxrail", nullptr},
    {"oxshare", nullptr},
    {"oxcfg", nullptr},
};

} // namespace

bool isOwnRdpChannel(const char *name)
{
    if (!name)
        return false;
    for (const OwnChannel &channel : ownChannels) {
        if (std::strcmp(channel.name, name) == 0)
            return true;
    }
    return false;
}

PVIRTUALCHANNELENTRY rdpChannelProvider(LPCSTR name, LPCSTR subsystem, LPCSTR type, DWORD flags)
{
    if (name && !subsystem && !type) {
        for (const OwnChannel &channel : ownChannels) {
            if (std::strcmp(channel.name, name) == 0) {
                // Our clients have the plain entry point only.
                if (flags & FREERDP_ADDIN_CHANNEL_ENTRYEX)
                    return nullptr;
                return channel.entry;
            }
        }
    }
    // "rail", "cliprdr" and everything else: FreeRDP's own static add-ins.
    return freerdp_channels_load_static_addin_entry(name, subsystem, type, flags);
}

void registerRdpChannelProvider()
{
    freerdp_register_addin_provider(rdpChannelProvider, 0);
}
