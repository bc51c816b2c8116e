#ifndef NUVEK_RDP_SESSIONSERVER_H
#define NUVEK_RDP_SESSIONSERVER_H

#include "channels/oxpdu.h"
#include "encodingoptions.h"

#include <freerdp/codec/rfx.h>
#include <freerdp/server/shadow.h>

#include <atomic>
#include <map>
#include <set>
#include <mutex>
#include <string>

class ClipboardBridge;
class LoginCheck;
class RailWindows;
class X11Capture;
struct Viewer;

// Everything of the session that is not the shadow server's own: the login
// check, the viewers with their channels and clipboard, and the encoding
// options that pace and compress the frames.
//
// It takes the shadow server's subsystem hooks (login, connect, disconnect,
// input) and, per viewer, wraps a few of FreeRDP's peer handlers that run on
// the viewer's thread: activation, received and sent channel data, frame
// bits and frame acknowledgements. Those are the moments the viewer's thread
// is not encoding, so the encoder is adjusted there, and in rootless
// sessions the window orders are written there (see RailChannel).
class SessionServer
{
public:
    static SessionServer &instance();

    void install(rdpShadowServer *server, const LoginCheck *login, ClipboardBridge *clipboard);

    X11Capture *capture() const { return m_capture; }

    // A rootless session: viewers with RemoteApp get the windows of the
    // tracker as RemoteApp windows. Set before the server starts.
    void setRootless(RailWindows *windows) { m_rail = windows; }
    // The tracker's windows changed (its thread): every viewer is told.
    void railChanged();

    // Whether NUVEK2_RDP_TRACE asks for traces of our channels.
    static bool tracing();

    // A viewer's change request; every viewer hears the new options.
    bool setOptions(const std::string &json, std::string &error);

    // Disconnects every viewer; the server keeps listening.
    void dropViewers();

    // Sharing requests of a viewer; only the owner's connections may share,
    // stop and remove viewers, and the owner or the viewer in control may
    // hand control over. Everyone connected hears the new status.
    void startSharing(Viewer &from, const std::string &password);
    void stopSharing(Viewer &from);
    void kickViewer(Viewer &from, uint32_t id);
    void giveControl(Viewer &from, uint32_t id);
    // Whether this connection's input (keys, pointer, clipboard) reaches the
    // session: only the one in control's does.
    bool inControl(rdpShadowClient *client);

private:
    SessionServer() = default;

    static int authenticate(rdpShadowSubsystem *, rdpShadowClient *, const char *user,
                            const char *domain, const char *password);
    static BOOL clientCapabilities(rdpShadowSubsystem *, rdpShadowClient *client);
    static BOOL clientConnect(rdpShadowSubsystem *, rdpShadowClient *client);
    static void clientDisconnect(rdpShadowSubsystem *, rdpShadowClient *client);
    static BOOL synchronizeEvent(rdpShadowSubsystem *, rdpShadowClient *, UINT32);
    static BOOL keyboardEvent(rdpShadowSubsystem *, rdpShadowClient *client, UINT16 flags,
                              UINT16 code);
    static BOOL unicodeKeyboardEvent(rdpShadowSubsystem *, rdpShadowClient *client, UINT16 flags,
                                     UINT16 code);
    static BOOL mouseEvent(rdpShadowSubsystem *, rdpShadowClient *client, UINT16 flags, UINT16 x,
                           UINT16 y);
    static BOOL extendedMouseEvent(rdpShadowSubsystem *, rdpShadowClient *client, UINT16 flags,
                                   UINT16 x, UINT16 y);

    static BOOL onActivate(freerdp_peer *peer);
    static BOOL onReceiveChannelData(freerdp_peer *peer, UINT16 channelId, const BYTE *data,
                                     size_t size, UINT32 flags, size_t totalSize);
    static BOOL onSendChannelData(freerdp_peer *peer, UINT16 channelId, const BYTE *data,
                                  size_t size);
    static BOOL onSurfaceFrameBits(rdpContext *context, const SURFACE_BITS_COMMAND *cmd,
                                   BOOL first, BOOL last, UINT32 frameId);
    static BOOL onFrameAcknowledge(rdpContext *context, UINT32 frameId);

    Viewer *viewer(rdpShadowClient *client);
    // Sends the controller's pointer to everyone else while sharing.
    void sharePointer(rdpShadowClient *client, UINT16 flags, UINT16 x, UINT16 y);
    // The status every activated connection hears (m_lock held).
    void broadcastStatusLocked();
    OxBytes statusLocked() const;
    // Asks a viewer's thread to end its connection after telling the client.
    void dismissLocked(Viewer &viewer);

    // Keys and buttons the one in control holds down: let go of when control
    // moves, or they would stay down in the session.
    struct Held
    {
        std::set<uint32_t> keys; // scan code, | 0x100 for extended keys
        UINT16 buttons = 0;      // PTR_FLAGS_BUTTON1..3
        UINT16 x = 0;
        UINT16 y = 0;
    };
    // Whether the input is the one in control's; records what it holds.
    bool admitKey(rdpShadowClient *client, UINT16 flags, UINT16 code);
    bool admitPointer(rdpShadowClient *client, UINT16 flags, UINT16 x, UINT16 y);
    // Hands control to id; what the one before held is to be released (with
    // m_lock no longer held: the capture takes its own lock).
    Held moveControlLocked(uint32_t id);
    void release(const Held &held);
    void pumpChannels(Viewer &viewer);
    // The viewer's RemoteFX encoder, when it has one (viewer thread only).
    RFX_CONTEXT *remoteFx(Viewer &viewer);
    // Encoder settings: the compression level, one thread per frame.
    void applyCompression(Viewer &viewer);
    void restoreEncoderThreads(Viewer &viewer);
    unsigned frameInterval();
    bool mayPublish();
    void resized(int width, int height);

    rdpShadowServer *m_server = nullptr;
    X11Capture *m_capture = nullptr;
    const LoginCheck *m_login = nullptr;
    ClipboardBridge *m_clipboard = nullptr;
    RailWindows *m_rail = nullptr;
    // FreeRDP's own SendChannelData, the same for every peer.
    std::atomic<psPeerSendChannelData> m_sendChannelData{nullptr};

    std::mutex m_lock; // guards m_viewers and m_options
    std::map<rdpShadowClient *, Viewer *> m_viewers;
    EncodingOptions m_options;
    std::atomic<int> m_compression{0};

    // Sharing (guarded by m_lock): the password viewers log in with, empty
    // while not sharing; the id in control (0: the owner); the next viewer id.
    std::string m_sharingPassword;
    uint32_t m_controller = 0;
    Held m_held;
    uint32_t m_nextShareId = 1;
    // Logins accepted with the sharing password, until they connect.
    std::map<rdpShadowClient *, std::string> m_viewerLogins;
};

#endif // NUVEK_RDP_SESSIONSERVER_H
