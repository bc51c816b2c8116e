#include "railorders.h"

#include "channels/oxpdu.h"

#include <freerdp/update.h>
#include <freerdp/window.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Orders are written in batches that stay well below what one update
// carries (the library would split a larger one on its own, unevenly).
constexpr size_t BatchBytes = 8000;
// The z-order carries at most this many windows.
constexpr size_t MaxZOrder = 255;

class Batch
{
public:
    explicit Batch(rdpContext *context) : m_update(context->update), m_context(context)
    {
        m_open = m_update->BeginPaint(m_context);
    }
    ~Batch()
    {
        if (m_open)
            m_update->EndPaint(m_context);
    }
    bool open() const { return m_open; }
    // Makes room for an order of about bytes.
    void reserve(size_t bytes)
    {
        if (m_bytes + bytes > BatchBytes && m_bytes > 0) {
            m_update->EndPaint(m_context);
            m_open = m_update->BeginPaint(m_context);
            m_bytes = 0;
        }
        m_bytes += bytes;
    }
    rdpWindowUpdate *window() { return m_update->window; }

private:
    rdpUpdate *m_update;
    rdpContext *m_context;
    bool m_open = false;
    size_t m_bytes = 0;
};

void sendWindow(Batch &batch, rdpContext *context, const RailWindow &window, uint32_t fields,
                bool trace)
{
    WINDOW_ORDER_INFO info{};
    info.windowId = window.id;
    info.fieldFlags = WINDOW_ORDER_TYPE_WINDOW | fields;
    WINDOW_STATE_ORDER state{};
    state.ownerWindowId = window.owner;
    state.style = window.style;
    state.extendedStyle = window.exStyle;
    state.showState = window.showState;
    OxBytes title = oxUtf8ToUtf16le(window.title);
    title.resize(std::min<size_t>(title.size(), 1024) & ~size_t(1));
    state.titleInfo.length = static_cast<UINT16>(title.size());
    state.titleInfo.string = title.data();
    // No decorations: the client area is the whole window, and all of it
    // is visible.
    state.clientOffsetX = window.x;
    state.clientOffsetY = window.y;
    state.clientAreaWidth = static_cast<UINT32>(window.width);
    state.clientAreaHeight = static_cast<UINT32>(window.height);
    state.windowOffsetX = window.x;
    state.windowOffsetY = window.y;
    state.windowWidth = static_cast<UINT32>(window.width);
    state.windowHeight = static_cast<UINT32>(window.height);
    RECTANGLE_16 whole{0, 0, static_cast<UINT16>(std::min(window.width, 0xFFFF)),
                       static_cast<UINT16>(std::min(window.height, 0xFFFF))};
    state.numWindowRects = 1;
    state.windowRects = &whole;
    state.visibleOffsetX = window.x;
    state.visibleOffsetY = window.y;
    state.numVisibilityRects = 1;
    state.visibilityRects = &whole;
    batch.reserve(96 + title.size());
    if (fields & WINDOW_ORDER_STATE_NEW)
        batch.window()->WindowCreate(context, &info, &state);
    else
        batch.window()->WindowUpdate(context, &info, &state);
    if (trace)
        std::fprintf(stderr,
                     "nuvek2_rdp: rail sent window 0x%x fields 0x%08x %d,%d %dx%d show %u "
                     "style 0x%08x/0x%x owner 0x%x \"%s\"\n",
                     window.id, info.fieldFlags, window.x, window.y, window.width, window.height,
                     window.showState, window.style, window.exStyle, window.owner,
                     window.title.c_str());
}

} // namespace

void RailOrders::send(rdpContext *context, const RailSnapshot &sent, const RailSnapshot &now,
                      uint64_t self, bool trace)
{
    if (sent == now)
        return;
    Batch batch(context);
    if (!batch.open())
        return;
    constexpr uint32_t Geometry = WINDOW_ORDER_FIELD_CLIENT_AREA_OFFSET
        | WINDOW_ORDER_FIELD_CLIENT_AREA_SIZE | WINDOW_ORDER_FIELD_WND_OFFSET
        | WINDOW_ORDER_FIELD_WND_SIZE | WINDOW_ORDER_FIELD_WND_RECTS
        | WINDOW_ORDER_FIELD_VIS_OFFSET | WINDOW_ORDER_FIELD_VISIBILITY;
    bool listChanged = false;
    // Bottom up, so that an owner is known before the windows it owns are.
    for (auto it = now.windows.rbegin(); it != now.windows.rend(); ++it) {
        const RailWindow &window = *it;
        const RailWindow *before = sent.find(window.id);
        if (!before) {
            sendWindow(batch, context, window,
                       WINDOW_ORDER_STATE_NEW | WINDOW_ORDER_FIELD_OWNER | WINDOW_ORDER_FIELD_STYLE
                           | WINDOW_ORDER_FIELD_SHOW | WINDOW_ORDER_FIELD_TITLE | Geometry,
                       trace);
            listChanged = true;
            continue;
        }
        uint32_t fields = 0;
        if (window.owner != before->owner)
            fields |= WINDOW_ORDER_FIELD_OWNER;
        if (window.style != before->style || window.exStyle != before->exStyle)
            fields |= WINDOW_ORDER_FIELD_STYLE;
        if (window.showState != before->showState)
            fields |= WINDOW_ORDER_FIELD_SHOW;
        if (window.title != before->title)
            fields |= WINDOW_ORDER_FIELD_TITLE;
        // The geometry the viewer asked for itself is not told back.
        if (!window.sameGeometry(*before) && !window.isRequestedBy(self))
            fields |= Geometry;
        if (fields)
            sendWindow(batch, context, window, fields, trace);
    }
    for (const RailWindow &window : sent.windows) {
        if (now.find(window.id))
            continue;
        WINDOW_ORDER_INFO info{};
        info.windowId = window.id;
        info.fieldFlags = WINDOW_ORDER_TYPE_WINDOW | WINDOW_ORDER_STATE_DELETED;
        batch.reserve(16);
        batch.window()->WindowDelete(context, &info);
        listChanged = true;
        if (trace)
            std::fprintf(stderr, "nuvek2_rdp: rail sent delete of window 0x%x\n", window.id);
    }

    std::vector<UINT32> order, before;
    for (const RailWindow &window : now.windows)
        order.push_back(window.id);
    for (const RailWindow &window : sent.windows)
        before.push_back(window.id);
    if (!listChanged && order == before && now.active == sent.active)
        return;
    order.resize(std::min(order.size(), MaxZOrder));
    WINDOW_ORDER_INFO info{};
    info.fieldFlags = WINDOW_ORDER_TYPE_DESKTOP | WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND
        | WINDOW_ORDER_FIELD_DESKTOP_ZORDER;
    MONITORED_DESKTOP_ORDER desktop{};
    desktop.activeWindowId = now.active;
    desktop.numWindowIds = static_cast<UINT32>(order.size());
    desktop.windowIds = order.data();
    batch.reserve(16 + 4 * order.size());
    batch.window()->MonitoredDesktop(context, &info, &desktop);
    if (trace) {
        std::string ids;
        for (UINT32 id : order)
            ids += (ids.empty() ? "" : " ") + std::to_string(id);
        std::fprintf(stderr, "nuvek2_rdp: rail sent desktop: active %u, z-order %s\n", now.active,
                     ids.c_str());
    }
}
