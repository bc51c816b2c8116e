#ifndef NUVEK_RDP_RAILSNAPSHOT_H
#define NUVEK_RDP_RAILSNAPSHOT_H

#include <cstdint>
#include <string>
#include <vector>

// One top-level window of the session as the viewers see it.
struct RailWindow
{
    uint32_t id = 0; // the X window id
    int x = 0, y = 0, width = 0, height = 0; // outer geometry, border included
    std::string title; // UTF-8
    uint32_t owner = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    uint8_t showState = 5;
    // The geometry a viewer asked for last, and which viewer (its railId;
    // 0: none): that viewer is not told it again.
    uint64_t requestedBy = 0;
    int requestedX = 0, requestedY = 0, requestedWidth = 0, requestedHeight = 0;

    bool sameGeometry(const RailWindow &o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
    bool isRequestedBy(uint64_t viewer) const
    {
        return requestedBy == viewer && x == requestedX && y == requestedY
            && width == requestedWidth && height == requestedHeight;
    }
    bool operator==(const RailWindow &o) const;
};

// Everything the viewers of a rootless session are told: the windows, the
// topmost first, and the active one (0: none).
struct RailSnapshot
{
    std::vector<RailWindow> windows;
    uint32_t active = 0;

    const RailWindow *find(uint32_t id) const;
    bool operator==(const RailSnapshot &o) const
    {
        return active == o.active && windows == o.windows;
    }
};

#endif // NUVEK_RDP_RAILSNAPSHOT_H
