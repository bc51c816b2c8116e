#ifndef NUVEK_CHANNELS_OXRAIL_COMMON_H
#define NUVEK_CHANNELS_OXRAIL_COMMON_H

// "oxrail": control of rootless windows and the local monitor layout; all
// messages go from the client to the server.

#include "channels/oxpdu.h"

#define OXRAIL_CHANNEL_NAME "oxrail"

namespace oxrail {

enum MessageType : uint16_t {
    Geometry = 5,      // window id; left, top, right, bottom (i32, right/bottom exclusive)
    Raise = 6,         // window id
    ZOrder = 7,        // window id, id of the other window
    Activate = 8,      // window id
    MonitorLayout = 9, // count; count x (left, top, right, bottom) as i16
};

constexpr size_t MaxMonitors = 32;

struct Rect16
{
    int16_t left, top, right, bottom;
};

struct GeometryMessage
{
    uint32_t windowId;
    int32_t left, top, right, bottom;
};

OxBytes encodeGeometry(const GeometryMessage &geometry);
bool decodeGeometry(OxPduReader &body, GeometryMessage &geometry);

// Raise and Activate: one window id.
OxBytes encodeWindowId(uint16_t type, uint32_t windowId);
bool decodeWindowId(OxPduReader &body, uint32_t &windowId);

OxBytes encodeZOrder(uint32_t windowId, uint32_t otherWindowId);
bool decodeZOrder(OxPduReader &body, uint32_t &windowId, uint32_t &otherWindowId);

// Sends at most MaxMonitors rectangles: a longer list is cut.
OxBytes encodeMonitorLayout(const std::vector<Rect16> &monitors);
// Reads the rectangles that are really there (at most the count, at most MaxMonitors).
bool decodeMonitorLayout(OxPduReader &body, std::vector<Rect16> &monitors);

} // namespace oxrail

#endif // NUVEK_CHANNELS_OXRAIL_COMMON_H
