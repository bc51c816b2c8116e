#ifndef NUVEK_CHANNELS_OXDESK_COMMON_H
#define NUVEK_CHANNELS_OXDESK_COMMON_H

// "oxdesk": desktop size requests (client to server) and size changes and
// limits (server to client).

#include "channels/oxpdu.h"

#define OXDESK_CHANNEL_NAME "oxdesk"

namespace oxdesk {

enum MessageType : uint16_t {
    SizeRequest = 1,    // client -> server: width, height (u16 each)
    DesktopResized = 1, // server -> client: width, height (u16 each)
    MinMaxInfo = 2,     // server -> client: four u16 values
};

OxBytes encodeSize(uint16_t type, uint16_t width, uint16_t height);
bool decodeSize(OxPduReader &body, uint16_t &width, uint16_t &height);

OxBytes encodeMinMaxInfo(uint16_t a, uint16_t b, uint16_t c, uint16_t d);
bool decodeMinMaxInfo(OxPduReader &body, uint16_t &a, uint16_t &b, uint16_t &c, uint16_t &d);

} // namespace oxdesk

#endif // NUVEK_CHANNELS_OXDESK_COMMON_H
