#include "rdp/rdpchannelprovider.h"

#include "channels/oxcfg/oxcfg_main.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "channels/oxrail/oxrail_main.h"
#include "channels/oxshare/oxshare_main.h"

#include <freerdp/client/channels.h>

#include <cstring>

namespace {

struct OwnChannel
{
    const char *name;
    PVIRTUALCHANNELENTRYEX entry;
};

const OwnChannel ownChannels[] = {
    {"oxdesk", oxdesk_VirtualChannelEntryEx},
    {"oxrail", oxrail_VirtualChannelEntryEx},
    {"oxshare", oxshare_VirtualChannelEntryEx},
    {"oxcfg", oxcfg_VirtualChannelEntryEx},
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
                // Our clients have the extended entry point only; FreeRDP's static
                // tables hand such entries out in the same cast form (through the
                // generic function pointer type, as the language allows).
                if (!(flags & FREERDP_ADDIN_CHANNEL_ENTRYEX))
                    return nullptr;
                return reinterpret_cast<PVIRTUALCHANNELENTRY>(
                    reinterpret_cast<void (*)()>(channel.entry));
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
