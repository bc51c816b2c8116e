#include "sessionserver.h"

#include "cfgchannel.h"
#include "channels/oxcfg/oxcfg_common.h"
#include "channels/oxdesk/oxdesk_common.h"
#include "channels/oxrail/oxrail_common.h"
#include "channels/oxshare/oxshare_common.h"
#include "clipboardbridge.h"
#include "deskchannel.h"
#include "logincheck.h"
#include "railchannel.h"
#include "railorders.h"
#include "railwindows.h"
#include "sharechannel.h"
#include "viewer.h"
#include "x11capture.h"

#include <freerdp/channels/wtsvc.h>
#include <freerdp/codec/rfx.h>
#include <freerdp/svc.h>
#include <winpr/sysinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// With NUVEK2_RDP_TRACE set (and not "0"), every message received on our own channels is
// logged in hexadecimal, its first 256 bytes.
void trace(const char *channel, const OxBytes &message)
{
    if (!SessionServer::tracing())
        return;
    std::string hex;
    const size_t shown = std::min<size_t>(message.size(), 256);
    for (size_t i = 0; i < shown; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? " %02x" : "%02x", message[i]);
        hex += byte;
    }
    std::fprintf(stderr, "nuvek2_rdp: %s received %zu bytes: %s%s\n", channel, message.size(),
                 hex.c_str(), shown < message.size() ? " ..." : "");
}

// The head of libfreerdp-shadow2's (2.11) per-viewer encoder, which the
// library does not publish: the RemoteFX context is what the compression
// level changes. The first two members are checked before use.
struct EncoderHead
{
    rdpShadowClient *client;
    rdpShadowServer *server;
    int width;
    int height;
    UINT32 codecs;
    BYTE **grid;
    int gridWidth;
    int gridHeight;
    BYTE *gridBuffer;
    int maxTileWidth;
    int maxTileHeight;
    wStream *bs;
    RFX_CONTEXT *rfx;
};

// The head of the RemoteFX context's private part (2.11): whether tiles are
// encoded on a thread pool. One full frame on one thread costs about a
// third less CPU than handing each 64 x 64 tile to the pool; the viewer's
// own thread encodes instead. The library closes the pool only when the
// flag is set, so it is set again before the context can be freed.
struct RfxPrivateHead
{
    wLog *log;
    wObjectPool *tilePool;
    BOOL useThreads;
};

// RemoteFX quantisation per compression level (LL3 LH3 HL3 HH3 LH2 HL2 HH2
// LH1 HL1 HH1); each step up halves the precision of every band. Level 0 is
// FreeRDP's default.
const UINT32 Quantisation[EncodingOptions::MaxCompression + 1][10] = {
    {6, 6, 6, 6, 7, 7, 8, 8, 8, 9},
    {7, 7, 7, 7, 8, 8, 9, 9, 9, 10},
    {8, 8, 8, 8, 9, 9, 10, 10, 10, 11},
    {9, 9, 9, 9, 10, 10, 11, 11, 11, 12},
};

// Frames a viewer has not acknowledged yet. A viewer that stopped
// acknowledging (clients may switch it off) or never did is not waited for.
uint32_t framesInFlight(const Viewer &viewer, UINT64 now)
{
    const uint32_t lag = viewer.sentFrame - viewer.ackedFrame;
    return lag != 0 && now - viewer.lastAckTime > 1000 ? 0 : lag;
}

// Whether a peer's address is this computer's: only there may a login do
// without TLS (the other logins come from direct joins).
bool isLoopback(const char *host)
{
    const std::string address = host ? host : "";
    return address.rfind("127.", 0) == 0 || address == "::1"
        || address.rfind("::ffff:127.", 0) == 0;
}

void refuseLogin(rdpShadowClient *client)
{
    // Tell the client why before the connection closes; without it a
    // refused login looks like an orderly end of the session.
    freerdp_set_error_info(client->context.rdp, ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES);
    freerdp_send_error_info(client->context.rdp);
}

} // namespace

bool SessionServer::tracing()
{
    static const bool on = [] {
        const char *value = std::getenv("NUVEK2_RDP_TRACE");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return on;
}

SessionServer &SessionServer::instance()
{
    static SessionServer server;
    return server;
}

void SessionServer::install(rdpShadowServer *server, const LoginCheck *login,
                            ClipboardBridge *clipboard)
{
    m_server = server;
    m_login = login;
    m_clipboard = clipboard;
    rdpShadowSubsystem *subsystem = server->subsystem;
    m_capture = X11Capture::of(subsystem);
    subsystem->Authenticate = &SessionServer::authenticate;
    subsystem->ClientCapabilities = &SessionServer::clientCapabilities;
    subsystem->ClientConnect = &SessionServer::clientConnect;
    subsystem->ClientDisconnect = &SessionServer::clientDisconnect;
    subsystem->SynchronizeEvent = &SessionServer::synchronizeEvent;
    subsystem->KeyboardEvent = &SessionServer::keyboardEvent;
    subsystem->UnicodeKeyboardEvent = &SessionServer::unicodeKeyboardEvent;
    subsystem->MouseEvent = &SessionServer::mouseEvent;
    subsystem->ExtendedMouseEvent = &SessionServer::extendedMouseEvent;
    X11Capture::Pacing pacing;
    pacing.frameInterval = [this] { return frameInterval(); };
    pacing.mayPublish = [this] { return mayPublish(); };
    pacing.resized = [this](int width, int height) { resized(width, height); };
    m_capture->setPacing(pacing);
}

int SessionServer::authenticate(rdpShadowSubsystem *, rdpShadowClient *client, const char *user,
                                const char *, const char *password)
{
    SessionServer &self = instance();
    if (!client->context.settings->TlsSecurity && !isLoopback(client->context.peer->hostname)) {
        std::fprintf(stderr, "nuvek2_rdp: login from %s without TLS refused\n",
                     client->context.peer->hostname);
        refuseLogin(client);
        return -1;
    }
    if (self.m_login && self.m_login->accepts(password))
        return 1;
    {
        std::lock_guard<std::mutex> lock(self.m_lock);
        if (LoginCheck::matches(self.m_sharingPassword, password)) {
            self.m_viewerLogins[client] = self.m_sharingPassword;
            return 1;
        }
    }
    std::fprintf(stderr, "nuvek2_rdp: login of \"%s\" refused\n", user ? user : "");
    refuseLogin(client);
    return -1;
}

BOOL SessionServer::clientCapabilities(rdpShadowSubsystem *, rdpShadowClient *client)
{
    // Frames go out as surface bits (RemoteFX), where the frame window and
    // the compression level apply, never through the graphics pipeline.
    client->context.settings->SupportGraphicsPipeline = FALSE;
    if (instance().m_rail && RailChannel::wanted(client))
        RailChannel::enableRemoteApp(client);
    return TRUE;
}

BOOL SessionServer::clientConnect(rdpShadowSubsystem *, rdpShadowClient *client)
{
    SessionServer &self = instance();
    freerdp_peer *peer = client->context.peer;
    rdpSettings *settings = client->context.settings;
    uint32_t shareId = 0;
    {
        std::lock_guard<std::mutex> lock(self.m_lock);
        auto login = self.m_viewerLogins.find(client);
        if (login != self.m_viewerLogins.end()) {
            // Sharing may have stopped (or started again) since the login.
            const bool current = login->second == self.m_sharingPassword;
            self.m_viewerLogins.erase(login);
            if (!current) {
                refuseLogin(client);
                return FALSE;
            }
            shareId = self.m_nextShareId++;
        }
    }
    auto *viewer = new Viewer;
    viewer->client = client;
    viewer->user = settings->Username ? settings->Username : "";
    viewer->shareId = shareId;
    std::fprintf(stderr, "nuvek2_rdp: %s connected%s\n", viewer->user.c_str(),
                 shareId ? " to view" : "");

    viewer->activate = peer->Activate;
    peer->Activate = &SessionServer::onActivate;
    viewer->receiveChannelData = peer->ReceiveChannelData;
    peer->ReceiveChannelData = &SessionServer::onReceiveChannelData;
    viewer->sendChannelData = peer->SendChannelData;
    self.m_sendChannelData = peer->SendChannelData; // the same for every peer
    peer->SendChannelData = &SessionServer::onSendChannelData;
    viewer->surfaceFrameBits = peer->update->SurfaceFrameBits;
    peer->update->SurfaceFrameBits = &SessionServer::onSurfaceFrameBits;
    viewer->frameAcknowledge = peer->update->SurfaceFrameAcknowledge;
    peer->update->SurfaceFrameAcknowledge = &SessionServer::onFrameAcknowledge;

    viewer->desk.open(client->vcm, OXDESK_CHANNEL_NAME);
    viewer->cfg.open(client->vcm, OXCFG_CHANNEL_NAME);
    viewer->share.open(client->vcm, OXSHARE_CHANNEL_NAME);
    DeskChannel::connected(*viewer);
    if (self.m_rail && settings->RemoteApplicationMode && !RailChannel::open(*viewer, self.m_rail))
        std::fprintf(stderr, "nuvek2_rdp: RemoteApp cannot start for %s\n", viewer->user.c_str());
    {
        std::lock_guard<std::mutex> lock(self.m_lock);
        viewer->cfg.send(CfgChannel::optionsUpdated(self.m_options.toJson()));
        self.m_viewers[client] = viewer;
        self.broadcastStatusLocked(); // the owner's entry too may be new
    }
    if (self.m_clipboard)
        self.m_clipboard->attach(*viewer);
    return TRUE;
}

void SessionServer::clientDisconnect(rdpShadowSubsystem *, rdpShadowClient *client)
{
    SessionServer &self = instance();
    Viewer *viewer = nullptr;
    Held held;
    {
        std::lock_guard<std::mutex> lock(self.m_lock);
        self.m_viewerLogins.erase(client);
        auto found = self.m_viewers.find(client);
        if (found == self.m_viewers.end())
            return;
        viewer = found->second;
        self.m_viewers.erase(found);
        if (viewer->shareId != 0 && viewer->shareId == self.m_controller)
            held = self.moveControlLocked(0); // control goes back to the owner
        if (!viewer->kicked)
            self.broadcastStatusLocked();
    }
    self.release(held);
    if (viewer->kicked) {
        // What was queued for the client (the notice on oxshare) goes out
        // first, then the reason, which its client takes as a quiet end.
        WTSVirtualChannelManagerCheckFileDescriptor(client->vcm);
        freerdp_set_error_info(client->context.rdp, ERRINFO_RPC_INITIATED_DISCONNECT);
        freerdp_send_error_info(client->context.rdp);
    }
    std::fprintf(stderr, "nuvek2_rdp: %s disconnected after %llu frames of %llu bytes on average\n",
                 viewer->user.c_str(), static_cast<unsigned long long>(viewer->frames),
                 static_cast<unsigned long long>(viewer->frames ? viewer->frameBytes / viewer->frames : 0));
    if (self.m_clipboard)
        self.m_clipboard->detach(*viewer);
    self.restoreEncoderThreads(*viewer);
    viewer->desk.close();
    viewer->cfg.close();
    viewer->share.close();
    RailChannel::close(*viewer);
    freerdp_peer *peer = client->context.peer;
    peer->Activate = viewer->activate;
    peer->ReceiveChannelData = viewer->receiveChannelData;
    peer->SendChannelData = viewer->sendChannelData;
    peer->update->SurfaceFrameBits = viewer->surfaceFrameBits;
    peer->update->SurfaceFrameAcknowledge = viewer->frameAcknowledge;
    delete viewer;
    // A full frame window may have been waiting for this viewer.
    self.m_capture->wake();
}

Viewer *SessionServer::viewer(rdpShadowClient *client)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto found = m_viewers.find(client);
    return found == m_viewers.end() ? nullptr : found->second;
}

BOOL SessionServer::synchronizeEvent(rdpShadowSubsystem *, rdpShadowClient *, UINT32)
{
    return TRUE;
}

BOOL SessionServer::keyboardEvent(rdpShadowSubsystem *, rdpShadowClient *client, UINT16 flags,
                                  UINT16 code)
{
    if (client->mayInteract && instance().admitKey(client, flags, code))
        instance().m_capture->keyboard(flags, code);
    return TRUE;
}

BOOL SessionServer::unicodeKeyboardEvent(rdpShadowSubsystem *, rdpShadowClient *client,
                                         UINT16 flags, UINT16 code)
{
    if (client->mayInteract && instance().inControl(client))
        instance().m_capture->unicodeKeyboard(flags, code);
    return TRUE;
}

BOOL SessionServer::mouseEvent(rdpShadowSubsystem *, rdpShadowClient *client, UINT16 flags,
                               UINT16 x, UINT16 y)
{
    SessionServer &self = instance();
    if (!client->mayInteract || !self.admitPointer(client, flags, x, y))
        return TRUE;
    self.m_capture->mouse(flags, x, y);
    self.sharePointer(client, flags, x, y);
    return TRUE;
}

BOOL SessionServer::extendedMouseEvent(rdpShadowSubsystem *, rdpShadowClient *client,
                                       UINT16 flags, UINT16 x, UINT16 y)
{
    if (client->mayInteract && instance().inControl(client))
        instance().m_capture->extendedMouse(flags, x, y);
    return TRUE;
}

BOOL SessionServer::onActivate(freerdp_peer *peer)
{
    SessionServer &self = instance();
    Viewer *viewer = self.viewer(reinterpret_cast<rdpShadowClient *>(peer->context));
    if (!viewer)
        return FALSE;
    // The library resets the viewer's encoder: new codec contexts, frame
    // ids from zero.
    self.restoreEncoderThreads(*viewer); // the library may free the context now
    const BOOL result = viewer->activate(peer);
    viewer->sentFrame = 0;
    viewer->ackedFrame = 0;
    viewer->lastAckTime = GetTickCount64();
    viewer->appliedCompression = -1;
    self.applyCompression(*viewer);
    self.m_capture->sendCursor(viewer->client);
    std::lock_guard<std::mutex> lock(self.m_lock);
    if (!viewer->active) {
        // The first activation (a resize activates again): the client hears
        // who it is, then the status; from now on every change of it.
        viewer->active = true;
        viewer->share.send(ShareChannel::clientId(viewer->shareId));
        viewer->share.send(self.statusLocked());
        RailChannel::greet(*viewer);
    }
    // Window orders wait for the activation.
    RailChannel::ring(*viewer);
    return result;
}

BOOL SessionServer::onReceiveChannelData(freerdp_peer *peer, UINT16 channelId, const BYTE *data,
                                         size_t size, UINT32 flags, size_t totalSize)
{
    SessionServer &self = instance();
    Viewer *viewer = self.viewer(reinterpret_cast<rdpShadowClient *>(peer->context));
    if (!viewer)
        return FALSE;
    const BOOL result = viewer->receiveChannelData(peer, channelId, data, size, flags, totalSize);
    if (flags & CHANNEL_FLAG_LAST)
        self.pumpChannels(*viewer);
    return result;
}

BOOL SessionServer::onSendChannelData(freerdp_peer *peer, UINT16 channelId, const BYTE *data,
                                      size_t size)
{
    SessionServer &self = instance();
    // A single byte on the RemoteApp channel is our bell (no RemoteApp
    // message is that short): it goes no further, the window orders go out
    // in its place. This is the viewer's own thread.
    if (size == 1 && channelId == WTSChannelGetId(peer, "rail")) {
        auto *client = reinterpret_cast<rdpShadowClient *>(peer->context);
        Viewer *viewer = self.viewer(client);
        if (viewer && viewer->railBell && self.m_rail) {
            viewer->railBellRung = false;
            if (client->activated && viewer->railReady) {
                std::shared_ptr<const RailSnapshot> now = self.m_rail->snapshot();
                RailOrders::send(&client->context, *viewer->railSent, *now, viewer->railId,
                                 tracing());
                viewer->railSent = now;
            }
        }
        return TRUE;
    }
    const psPeerSendChannelData send = self.m_sendChannelData;
    return send ? send(peer, channelId, data, size) : FALSE;
}

void SessionServer::railChanged()
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto &entry : m_viewers)
        RailChannel::ring(*entry.second);
}

void SessionServer::pumpChannels(Viewer &viewer)
{
    OxPduReader reader;
    for (const OxBytes &message : viewer.desk.takeReceived())
        if (trace("oxdesk", message), reader.open(message))
            DeskChannel::received(*this, viewer, reader);
    for (const OxBytes &message : viewer.cfg.takeReceived())
        if (trace("oxcfg", message), reader.open(message))
            CfgChannel::received(*this, viewer, reader);
    for (const OxBytes &message : viewer.share.takeReceived())
        if (trace("oxshare", message), reader.open(message))
            ShareChannel::received(*this, viewer, reader);
    for (const OxBytes &message : viewer.rail.takeReceived())
        if (trace("oxrail", message), reader.open(message))
            RailChannel::received(*this, viewer, reader);
}

BOOL SessionServer::onSurfaceFrameBits(rdpContext *context, const SURFACE_BITS_COMMAND *cmd,
                                       BOOL first, BOOL last, UINT32 frameId)
{
    SessionServer &self = instance();
    Viewer *viewer = self.viewer(reinterpret_cast<rdpShadowClient *>(context));
    if (!viewer)
        return FALSE;
    const BOOL result = viewer->surfaceFrameBits(context, cmd, first, last, frameId);
    viewer->frameBytes += cmd->bmp.bitmapDataLength;
    if (last) {
        ++viewer->frames;
        viewer->sentFrame = frameId;
        // The frame is written: the encoder is free until the next one.
        self.applyCompression(*viewer);
    }
    return result;
}

BOOL SessionServer::onFrameAcknowledge(rdpContext *context, UINT32 frameId)
{
    SessionServer &self = instance();
    Viewer *viewer = self.viewer(reinterpret_cast<rdpShadowClient *>(context));
    if (!viewer)
        return FALSE;
    const BOOL result = viewer->frameAcknowledge(context, frameId);
    viewer->ackedFrame = frameId;
    viewer->lastAckTime = GetTickCount64();
    self.m_capture->wake();
    return result;
}

RFX_CONTEXT *SessionServer::remoteFx(Viewer &viewer)
{
    auto *encoder = reinterpret_cast<EncoderHead *>(viewer.client->encoder);
    if (!encoder || encoder->client != viewer.client || encoder->server != m_server
        || !(encoder->codecs & FREERDP_CODEC_REMOTEFX))
        return nullptr;
    return encoder->rfx;
}

void SessionServer::restoreEncoderThreads(Viewer &viewer)
{
    RFX_CONTEXT *rfx = remoteFx(viewer);
    if (rfx && rfx == viewer.singleThreaded && rfx->priv)
        reinterpret_cast<RfxPrivateHead *>(rfx->priv)->useThreads = TRUE;
    viewer.singleThreaded = nullptr;
}

void SessionServer::applyCompression(Viewer &viewer)
{
    RFX_CONTEXT *rfx = remoteFx(viewer);
    const int level = m_compression;
    if (!rfx)
        return;
    if (rfx != viewer.singleThreaded && rfx->priv) {
        reinterpret_cast<RfxPrivateHead *>(rfx->priv)->useThreads = FALSE;
        viewer.singleThreaded = rfx;
    }
    if (rfx->numQuant == 1 && rfx->quants && level == viewer.appliedCompression
        && std::equal(rfx->quants, rfx->quants + 10, Quantisation[level]))
        return;
    if (rfx->numQuant != 1 || !rfx->quants) {
        // The context owns this array and frees it with free().
        auto *quants = static_cast<UINT32 *>(calloc(10, sizeof(UINT32)));
        if (!quants)
            return;
        free(rfx->quants);
        rfx->quants = quants;
        rfx->numQuant = 1;
    }
    std::memcpy(rfx->quants, Quantisation[level], sizeof Quantisation[level]);
    rfx->quantIdxY = rfx->quantIdxCb = rfx->quantIdxCr = 0;
    viewer.appliedCompression = level;
}

bool SessionServer::setOptions(const std::string &json, std::string &error)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_options.apply(json, error))
        return false;
    m_compression = m_options.compression;
    std::fprintf(stderr, "nuvek2_rdp: options now %s\n", m_options.toJson().c_str());
    const OxBytes notice = CfgChannel::optionsUpdated(m_options.toJson());
    for (auto &entry : m_viewers)
        entry.second->cfg.send(notice);
    m_capture->wake();
    return true;
}

unsigned SessionServer::frameInterval()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_options.adaptive)
        return 1000u / static_cast<unsigned>(m_options.fps);
    // Fewer frames while the viewers lag behind with their acknowledgements.
    const UINT64 now = GetTickCount64();
    uint32_t lag = 0;
    for (auto &entry : m_viewers)
        lag = std::max(lag, framesInFlight(*entry.second, now));
    return (1000u / EncodingOptions::MaxFps) * (1u + std::min<uint32_t>(lag, 15));
}

bool SessionServer::mayPublish()
{
    std::lock_guard<std::mutex> lock(m_lock);
    const uint32_t window = static_cast<uint32_t>(m_options.frameWindow);
    if (window == 0)
        return true;
    const UINT64 now = GetTickCount64();
    for (auto &entry : m_viewers)
        if (framesInFlight(*entry.second, now) >= window)
            return false;
    return true;
}

void SessionServer::resized(int width, int height)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const OxBytes notice = DeskChannel::resized(width, height);
    for (auto &entry : m_viewers)
        entry.second->desk.send(notice);
}

void SessionServer::dropViewers()
{
    const int count = shadow_client_boardcast_quit(m_server, 0);
    std::fprintf(stderr, "nuvek2_rdp: dropping %d viewer(s)\n", count);
}

bool SessionServer::inControl(rdpShadowClient *client)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto found = m_viewers.find(client);
    return found != m_viewers.end() && !found->second->kicked
        && found->second->shareId == m_controller;
}

void SessionServer::sharePointer(rdpShadowClient *client, UINT16 flags, UINT16 x, UINT16 y)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_sharingPassword.empty())
        return;
    const OxBytes message = ShareChannel::pointer(x, y, flags);
    for (auto &entry : m_viewers)
        if (entry.first != client && entry.second->active && !entry.second->kicked)
            entry.second->share.send(message);
}

OxBytes SessionServer::statusLocked() const
{
    std::vector<ShareChannel::Entry> entries;
    bool ownerListed = false;
    for (auto &entry : m_viewers) {
        const Viewer &viewer = *entry.second;
        if (viewer.kicked || (viewer.shareId == 0 && ownerListed))
            continue;
        ownerListed |= viewer.shareId == 0;
        entries.push_back({viewer.shareId, viewer.shareId == m_controller, viewer.user});
    }
    std::sort(entries.begin(), entries.end(),
              [](const ShareChannel::Entry &a, const ShareChannel::Entry &b) {
                  return a.id < b.id;
              });
    return ShareChannel::status(!m_sharingPassword.empty(), entries);
}

void SessionServer::broadcastStatusLocked()
{
    const OxBytes status = statusLocked();
    for (auto &entry : m_viewers)
        if (entry.second->active && !entry.second->kicked)
            entry.second->share.send(status);
}

void SessionServer::dismissLocked(Viewer &viewer)
{
    if (viewer.kicked.exchange(true))
        return;
    std::fprintf(stderr, "nuvek2_rdp: viewer %u (%s) removed\n", viewer.shareId,
                 viewer.user.c_str());
    viewer.share.send(ShareChannel::disconnectInfo(ERRINFO_RPC_INITIATED_DISCONNECT));
    MessageQueue_PostQuit(viewer.client->MsgQueue, 0);
}

void SessionServer::startSharing(Viewer &from, const std::string &password)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (from.shareId != 0)
        return;
    // A new password replaces the old one; viewers already in stay.
    m_sharingPassword = password;
    std::fprintf(stderr, "nuvek2_rdp: sharing on\n");
    broadcastStatusLocked();
}

void SessionServer::stopSharing(Viewer &from)
{
    Held held;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (from.shareId != 0)
            return;
        m_sharingPassword.clear();
        for (auto &entry : m_viewers)
            if (entry.second->shareId != 0)
                dismissLocked(*entry.second);
        held = moveControlLocked(0);
        std::fprintf(stderr, "nuvek2_rdp: sharing off\n");
        broadcastStatusLocked();
    }
    release(held);
}

void SessionServer::kickViewer(Viewer &from, uint32_t id)
{
    Held held;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (from.shareId != 0 || id == 0)
            return;
        for (auto &entry : m_viewers)
            if (entry.second->shareId == id)
                dismissLocked(*entry.second);
        if (id == m_controller)
            held = moveControlLocked(0);
        broadcastStatusLocked();
    }
    release(held);
}

void SessionServer::giveControl(Viewer &from, uint32_t id)
{
    Held held;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (from.kicked || (from.shareId != 0 && from.shareId != m_controller))
            return;
        const bool known = id == 0
            || std::any_of(m_viewers.begin(), m_viewers.end(), [id](auto &entry) {
                   return entry.second->shareId == id && !entry.second->kicked;
               });
        if (!known || id == m_controller)
            return;
        held = moveControlLocked(id);
        std::fprintf(stderr, "nuvek2_rdp: viewer %u has control\n", id);
        broadcastStatusLocked();
    }
    release(held);
}

bool SessionServer::admitKey(rdpShadowClient *client, UINT16 flags, UINT16 code)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto found = m_viewers.find(client);
    if (found == m_viewers.end() || found->second->kicked || found->second->shareId != m_controller)
        return false;
    const uint32_t key = code | (flags & KBD_FLAGS_EXTENDED ? 0x100u : 0u);
    if (flags & KBD_FLAGS_RELEASE)
        m_held.keys.erase(key);
    else
        m_held.keys.insert(key);
    return true;
}

bool SessionServer::admitPointer(rdpShadowClient *client, UINT16 flags, UINT16 x, UINT16 y)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto found = m_viewers.find(client);
    if (found == m_viewers.end() || found->second->kicked || found->second->shareId != m_controller)
        return false;
    const UINT16 buttons = flags & (PTR_FLAGS_BUTTON1 | PTR_FLAGS_BUTTON2 | PTR_FLAGS_BUTTON3);
    if (flags & PTR_FLAGS_DOWN)
        m_held.buttons |= buttons;
    else
        m_held.buttons &= ~buttons;
    m_held.x = x;
    m_held.y = y;
    return true;
}

SessionServer::Held SessionServer::moveControlLocked(uint32_t id)
{
    m_controller = id;
    Held held = m_held;
    m_held.keys.clear();
    m_held.buttons = 0;
    return held;
}

void SessionServer::release(const Held &held)
{
    for (uint32_t key : held.keys)
        m_capture->keyboard(KBD_FLAGS_RELEASE | (key & 0x100 ? KBD_FLAGS_EXTENDED : 0),
                            static_cast<UINT16>(key & 0xFF));
    for (UINT16 button : {PTR_FLAGS_BUTTON1, PTR_FLAGS_BUTTON2, PTR_FLAGS_BUTTON3})
        if (held.buttons & button)
            m_capture->mouse(button, held.x, held.y);
}
