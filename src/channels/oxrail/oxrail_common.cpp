#include "channels/oxrail/oxrail_common.h"

namespace oxrail {

OxBytes encodeGeometry(const GeometryMessage &g)
{
    return OxPduWriter(Geometry, 20).u32(g.windowId).i32(g.left).i32(g.top).i32(g.right).i32(g.bottom).finish();
}

bool decodeGeometry(OxPduReader &body, GeometryMessage &g)
{
    return body.remaining() >= 20 && body.u32(g.windowId) && body.i32(g.left) && body.i32(g.top)
        && body.i32(g.right) && body.i32(g.bottom);
}

OxBytes encodeWindowId(uint16_t type, uint32_t windowId)
{
    return OxPduWriter(type, 4).u32(windowId).finish();
}

bool decodeWindowId(OxPduReader &body, uint32_t &windowId)
{
    return body.u32(windowId);
}

OxBytes encodeZOrder(uint32_t windowId, uint32_t otherWindowId)
{
    return OxPduWriter(ZOrder, 8).u32(windowId).u32(otherWindowId).finish();
}

bool decodeZOrder(OxPduReader &body, uint32_t &windowId, uint32_t &otherWindowId)
{
    return body.remaining() >= 8 && body.u32(windowId) && body.u32(otherWindowId);
}

OxBytes encodeMonitorLayout(const std::vector<Rect16> &monitors)
{
    const size_t count = monitors.size() < MaxMonitors ? monitors.size() : MaxMonitors;
    OxPduWriter writer(MonitorLayout, 4 + 8 * count);
    writer.u32(uint32_t(count));
    for (size_t i = 0; i < count; ++i)
        writer.i16(monitors[i].left).i16(monitors[i].top).i16(monitors[i].right).i16(monitors[i].bottom);
    return writer.finish();
}

bool decodeMonitorLayout(OxPduReader &body, std::vector<Rect16> &monitors)
{
    monitors.clear();
    uint32_t count;
    if (!body.u32(count))
        return false;
    while (monitors.size() < count && monitors.size() < MaxMonitors && body.remaining() >= 8) {
        Rect16 r;
        body.i16(r.left);
        body.i16(r.top);
        body.i16(r.right);
        body.i16(r.bottom);
        monitors.push_back(r);
    }
    return true;
}

} // namespace oxrail
