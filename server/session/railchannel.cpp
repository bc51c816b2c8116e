#include "railchannel.h"

#include "channels/oxrail/oxrail_common.h"
#include "railwindows.h"
#include "sessionserver.h"
#include "viewer.h"
#include "x11capture.h"

#include <freerdp/channels/rail.h>
#include <freerdp/channels/wtsvc.h>
#include <freerdp/server/rail.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>

namespace {

// The window list capability's level with the extended fields (the
// library keeps the name to itself).
constexpr UINT32 WindowLevelSupportedEx = 2;

Viewer &viewerOf(RailServerContext *context)
{
    return *static_cast<Viewer *>(context->custom);
}

// The head of the RemoteApp server's private part (2.11), which the library
// does not publish. It reads each message into one stream after the one
// before and never rewinds it: the stream would grow by every message the
// client sends. Every callback rewinds it once the message is read (the
// library uses nothing of it after the callback). The channel is checked
// before use.
struct RailPrivateHead
{
    HANDLE thread;
    HANDLE stopEvent;
    HANDLE channelEvent;
    void *channel;
    wStream *input;
};

UINT consumed(RailServerContext *context)
{
    auto *head = reinterpret_cast<RailPrivateHead *>(context->priv);
    if (head && head->channel == viewerOf(context).railBell && head->input)
        Stream_SetPosition(head->input, 0);
    return CHANNEL_RC_OK;
}

// An order that has nothing to do here.
template<class Order>
UINT ignored(RailServerContext *context, const Order *)
{
    return consumed(context);
}

// Window commands, like any input, count only from the one in control.
bool mayCommand(Viewer &viewer)
{
    return viewer.client->mayInteract && SessionServer::instance().inControl(viewer.client);
}

void ready(Viewer &viewer, const char *what)
{
    if (SessionServer::tracing())
        std::fprintf(stderr, "nuvek2_rdp: rail received %s\n", what);
    // From now on the client hears the windows: all of them first.
    if (!viewer.railReady.exchange(true))
        RailChannel::ring(viewer);
}

UINT clientHandshake(RailServerContext *context, const RAIL_HANDSHAKE_ORDER *)
{
    ready(viewerOf(context), "the client's handshake");
    return consumed(context);
}

UINT clientStatus(RailServerContext *context, const RAIL_CLIENT_STATUS_ORDER *)
{
    ready(viewerOf(context), "the client's information");
    return consumed(context);
}

UINT clientSysparam(RailServerContext *context, const RAIL_SYSPARAM_ORDER *sysparam)
{
    // The work area is the screen: nothing on the server takes room of it.
    if (SessionServer::tracing())
        std::fprintf(stderr, "nuvek2_rdp: rail received system parameter 0x%x\n", sysparam->param);
    return consumed(context);
}

UINT clientExec(RailServerContext *context, const RAIL_EXEC_ORDER *exec)
{
    // The session's command runs already, whatever the client names.
    const std::string program =
        exec->RemoteApplicationProgram && *exec->RemoteApplicationProgram
        ? exec->RemoteApplicationProgram
        : "session";
    std::fprintf(stderr, "nuvek2_rdp: rail exec of \"%s\" answered\n", program.c_str());
    OxBytes name = oxUtf8ToUtf16le(program);
    name.resize(std::min<size_t>(name.size(), 520) & ~size_t(1));
    RAIL_EXEC_RESULT_ORDER result{};
    result.flags = exec->flags;
    result.execResult = RAIL_EXEC_S_OK;
    result.exeOrFile.length = static_cast<UINT16>(name.size());
    result.exeOrFile.string = name.data();
    context->ServerExecResult(context, &result);
    ready(viewerOf(context), "an exec order");
    return consumed(context);
}

UINT clientActivate(RailServerContext *context, const RAIL_ACTIVATE_ORDER *activate)
{
    if (SessionServer::tracing())
        std::fprintf(stderr, "nuvek2_rdp: rail received activate 0x%x %d\n", activate->windowId,
                     activate->enabled);
    if (activate->enabled && mayCommand(viewerOf(context)))
        viewerOf(context).windows->activate(activate->windowId);
    return consumed(context);
}

UINT clientSyscommand(RailServerContext *context, const RAIL_SYSCOMMAND_ORDER *command)
{
    if (SessionServer::tracing())
        std::fprintf(stderr, "nuvek2_rdp: rail received system command 0x%x for 0x%x\n",
                     command->command, command->windowId);
    if (mayCommand(viewerOf(context)))
        viewerOf(context).windows->sysCommand(command->windowId, command->command);
    return consumed(context);
}

UINT clientWindowMove(RailServerContext *context, const RAIL_WINDOW_MOVE_ORDER *move)
{
    Viewer &viewer = viewerOf(context);
    if (SessionServer::tracing())
        std::fprintf(stderr, "nuvek2_rdp: rail received move of 0x%x to %d,%d-%d,%d\n",
                     move->windowId, move->left, move->top, move->right, move->bottom);
    // RemoteApp clients paint a window from where the server last said it
    // is: the new place is told back, unlike for moves through oxrail.
    if (mayCommand(viewer))
        viewer.windows->setGeometry(move->windowId, move->left, move->top, move->right,
                                    move->bottom, 0);
    return consumed(context);
}

} // namespace

bool RailChannel::wanted(rdpShadowClient *client)
{
    return WTSVirtualChannelManagerIsChannelJoined(client->vcm, RAIL_SVC_CHANNEL_NAME);
}

void RailChannel::enableRemoteApp(rdpShadowClient *client)
{
    rdpSettings *settings = client->context.settings;
    settings->RemoteApplicationMode = TRUE;
    // Without the level the client turns RemoteApp off on reading our
    // capabilities.
    settings->RemoteApplicationSupportLevel |= RAIL_LEVEL_SUPPORTED;
    // The client takes our level as its own and checks each window order
    // against it; it knows the levels one at a time, not combined (the
    // default, both bits, makes it refuse every window order).
    settings->RemoteWndSupportLevel = WindowLevelSupportedEx;
}

bool RailChannel::open(Viewer &viewer, RailWindows *windows)
{
    rdpShadowClient *client = viewer.client;
    static std::atomic<uint64_t> lastId{0};
    viewer.railId = ++lastId;
    viewer.windows = windows;
    viewer.rail.open(client->vcm, OXRAIL_CHANNEL_NAME);
    RailServerContext *context = rail_server_context_new(client->vcm);
    if (!context)
        return false;
    context->rdpcontext = &client->context;
    context->custom = &viewer;
    context->ClientHandshake = clientHandshake;
    context->ClientClientStatus = clientStatus;
    context->ClientSysparam = clientSysparam;
    context->ClientExec = clientExec;
    context->ClientActivate = clientActivate;
    context->ClientSyscommand = clientSyscommand;
    context->ClientWindowMove = clientWindowMove;
    // The other orders (system menu, language bar, ...) have nothing to do here.
    context->ClientSysmenu = ignored<RAIL_SYSMENU_ORDER>;
    context->ClientNotifyEvent = ignored<RAIL_NOTIFY_EVENT_ORDER>;
    context->ClientGetAppidReq = ignored<RAIL_GET_APPID_REQ_ORDER>;
    context->ClientSnapArrange = ignored<RAIL_SNAP_ARRANGE>;
    context->ClientLangbarInfo = ignored<RAIL_LANGBAR_INFO_ORDER>;
    context->ClientLanguageImeInfo = ignored<RAIL_LANGUAGEIME_INFO_ORDER>;
    context->ClientCompartmentInfo = ignored<RAIL_COMPARTMENT_INFO_ORDER>;
    context->ClientCloak = ignored<RAIL_CLOAK>;
    // The channel manager hands out one handle per channel: this is the
    // RemoteApp server's own, which it closes when it stops.
    viewer.railBell = WTSVirtualChannelOpen(client->vcm, WTS_CURRENT_SESSION,
                                            const_cast<char *>(RAIL_SVC_CHANNEL_NAME));
    if (!viewer.railBell || context->Start(context) != CHANNEL_RC_OK) {
        viewer.railBell = nullptr;
        rail_server_context_free(context);
        return false;
    }
    viewer.remoteApp = context;
    return true;
}

void RailChannel::greet(Viewer &viewer)
{
    if (!viewer.remoteApp)
        return;
    RAIL_HANDSHAKE_ORDER handshake{};
    handshake.buildNumber = 0x1DB0;
    viewer.remoteApp->ServerHandshake(viewer.remoteApp, &handshake);
}

void RailChannel::close(Viewer &viewer)
{
    viewer.rail.close();
    if (!viewer.remoteApp)
        return;
    // Its thread ends here: no callback runs after this.
    viewer.remoteApp->Stop(viewer.remoteApp);
    rail_server_context_free(viewer.remoteApp);
    viewer.remoteApp = nullptr;
    viewer.railBell = nullptr;
}

void RailChannel::ring(Viewer &viewer)
{
    if (!viewer.railBell || !viewer.railReady || viewer.railBellRung.exchange(true))
        return;
    char bell = 0;
    ULONG written = 0;
    WTSVirtualChannelWrite(viewer.railBell, &bell, 1, &written);
}

void RailChannel::received(SessionServer &server, Viewer &viewer, OxPduReader &message)
{
    RailWindows *windows = viewer.windows;
    // The monitor layout is the owner's; window commands are the controller's.
    bool ok = windows != nullptr
        && (message.type() == oxrail::MonitorLayout || mayCommand(viewer));
    uint32_t id = 0, other = 0;
    switch (ok ? message.type() : 0) {
    case oxrail::Geometry: {
        oxrail::GeometryMessage geometry{};
        if ((ok = oxrail::decodeGeometry(message, geometry)))
            windows->setGeometry(geometry.windowId, geometry.left, geometry.top, geometry.right,
                                 geometry.bottom, viewer.railId);
        break;
    }
    case oxrail::Raise:
        if ((ok = oxrail::decodeWindowId(message, id)))
            windows->raise(id);
        break;
    case oxrail::ZOrder:
        if ((ok = oxrail::decodeZOrder(message, id, other)))
            windows->placeBelow(id, other);
        break;
    case oxrail::Activate:
        if ((ok = oxrail::decodeWindowId(message, id)))
            windows->activate(id);
        break;
    case oxrail::MonitorLayout: {
        std::vector<oxrail::Rect16> monitors;
        // Only the owner's connections size the screen.
        if (!(ok = oxrail::decodeMonitorLayout(message, monitors) && !monitors.empty()
                  && viewer.shareId == 0))
            break;
        int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
        for (const oxrail::Rect16 &monitor : monitors) {
            left = std::min<int>(left, monitor.left);
            top = std::min<int>(top, monitor.top);
            right = std::max<int>(right, monitor.right);
            bottom = std::max<int>(bottom, monitor.bottom);
        }
        if ((ok = right > left && bottom > top))
            server.capture()->requestSize(right - left, bottom - top);
        break;
    }
    default:
        ok = false;
        break;
    }
    if (!ok)
        std::fprintf(stderr, "nuvek2_rdp: oxrail message of type %u dropped\n", message.type());
}
