#include "channels/oxdesk/oxdesk_common.h"

namespace oxdesk {

OxBytes encodeSize(uint16_t type, uint16_t width, uint16_t height)
{
    return OxPduWriter(type, 4).u16(width).u16(height).finish();
}

bool decodeSize(OxPduReader &body, uint16_t &width, uint16_t &height)
{
    return body.remaining() >= 4 && body.u16(width) && body.u16(height);
}

OxBytes encodeMinMaxInfo(uint16_t a, uint16_t b, uint16_t c, uint16_t d)
{
    return OxPduWriter(MinMaxInfo, 8).u16(a).u16(b).u16(c).u16(d).finish();
}

bool decodeMinMaxInfo(OxPduReader &body, uint16_t &a, uint16_t &b, uint16_t &c, uint16_t &d)
{
    return body.remaining() >= 8 && body.u16(a) && body.u16(b) && body.u16(c) && body.u16(d);
}

} // namespace oxdesk
