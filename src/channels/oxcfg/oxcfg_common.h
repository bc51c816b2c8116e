#ifndef NUVEK_CHANNELS_OXCFG_COMMON_H
#define NUVEK_CHANNELS_OXCFG_COMMON_H

// "oxcfg": the server's encoding options as JSON text (UTF-8, no terminator).

#include "channels/oxpdu.h"

#define OXCFG_CHANNEL_NAME "oxcfg"

namespace oxcfg {

enum MessageType : uint16_t {
    OptionsUpdatedNotify = 1, // server -> client
    SetOptionsRequest = 2,    // client -> server
    SetOptionsResponse = 3,   // server -> client
};

OxBytes encodeText(uint16_t type, const std::string &utf8);
// The body to the end of the message; an empty body gives an empty text.
std::string decodeText(OxPduReader &body);

} // namespace oxcfg

#endif // NUVEK_CHANNELS_OXCFG_COMMON_H
