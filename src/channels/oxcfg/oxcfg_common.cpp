#include "channels/oxcfg/oxcfg_common.h"

namespace oxcfg {

OxBytes encodeText(uint16_t type, const std::string &utf8)
{
    return OxPduWriter(type, utf8.size()).bytes(utf8.data(), utf8.size()).finish();
}

std::string decodeText(OxPduReader &body)
{
    std::string text(reinterpret_cast<const char *>(body.current()), body.remaining());
    body.skip(body.remaining());
    return text;
}

} // namespace oxcfg
