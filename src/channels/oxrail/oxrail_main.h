#ifndef NUVEK_CHANNELS_OXRAIL_MAIN_H
#define NUVEK_CHANNELS_OXRAIL_MAIN_H

// Client add-in of the "oxrail" channel: control of rootless windows and the
// local monitor layout. It only sends; the server sends nothing on it.

#include "channels/oxrail/oxrail_common.h"

#include <freerdp/svc.h>
#include <winpr/wtypes.h>

struct OxrailClientContext;

typedef UINT (*pcOxrailActivate)(OxrailClientContext *context, UINT32 windowId);
typedef UINT (*pcOxrailZOrder)(OxrailClientContext *context, UINT32 windowId, UINT32 otherWindowId);
typedef UINT (*pcOxrailRaise)(OxrailClientContext *context, UINT32 windowId);
typedef UINT (*pcOxrailGeometry)(OxrailClientContext *context, UINT32 windowId, INT32 left, INT32 top,
                                 INT32 right, INT32 bottom);
// At most 32 rectangles are sent; a longer list is cut.
typedef UINT (*pcOxrailMonitorLayout)(OxrailClientContext *context, UINT32 count,
                                      const oxrail::Rect16 *rectangles);

struct OxrailClientContext
{
    void *handle;
    void *custom;

    pcOxrailActivate Activate;
    pcOxrailZOrder ZOrder;
    pcOxrailRaise Raise;
    pcOxrailGeometry Geometry;
    pcOxrailMonitorLayout MonitorLayout;
};

BOOL VCAPITYPE oxrail_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

#endif // NUVEK_CHANNELS_OXRAIL_MAIN_H
