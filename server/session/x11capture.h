#ifndef NUVEK_RDP_X11CAPTURE_H
#define NUVEK_RDP_X11CAPTURE_H

#include <freerdp/server/shadow.h>

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xdamage.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The screen source of the shadow server: the session's X display.
//
// The capture thread sleeps until the X server reports damage (XDamage), a
// viewer asks for a refresh, or the screen changes size; then it reads only
// the damaged area (XShm) into the server's surface and publishes one frame.
// Frames are paced by frameInterval and held back while mayPublish says the
// viewers have too many frames unacknowledged. Nothing runs while nothing
// changes.
//
// Input from the viewers goes to the display through XTest on a second
// connection, which also carries screen size changes (RandR).
class X11Capture
{
public:
    // Hooks set before the server starts; they are called on the capture
    // thread.
    struct Pacing
    {
        std::function<unsigned()> frameInterval; // milliseconds between frames
        std::function<bool()> mayPublish;        // false while the frame window is full
        std::function<void(int, int)> resized;   // the screen has a new size
    };

    // Makes the shadow server build its subsystem with this capture.
    static void registerSubsystem();
    // The capture behind a subsystem made by the shadow server.
    static X11Capture *of(rdpShadowSubsystem *subsystem);

    void setPacing(const Pacing &pacing) { m_pacing = pacing; }
    // Wakes the capture thread to look at the pacing again.
    void wake();

    // Input from a viewer (any client thread).
    void keyboard(UINT16 flags, UINT16 code);
    void unicodeKeyboard(UINT16 flags, UINT16 code);
    void mouse(UINT16 flags, UINT16 x, UINT16 y);
    void extendedMouse(UINT16 flags, UINT16 x, UINT16 y);

    // Asks the X server for a new screen size (clamped to the limits); the
    // capture notices the change and resizes every viewer.
    void requestSize(int width, int height);
    static constexpr int MinWidth = 320;
    static constexpr int MinHeight = 200;
    static constexpr int MaxWidth = 8192;
    static constexpr int MaxHeight = 8192;

    rdpShadowSubsystem *subsystem() { return &m_sub->common; }

    // Sends the current pointer shape to one viewer (after it activates).
    void sendCursor(rdpShadowClient *client);

private:
    X11Capture() = default;
    ~X11Capture();

    static int entry(RDP_SHADOW_ENTRY_POINTS *points);
    static rdpShadowSubsystem *create();
    static void destroy(rdpShadowSubsystem *subsystem);
    static int init(rdpShadowSubsystem *subsystem);
    static int uninit(rdpShadowSubsystem *subsystem);
    static int start(rdpShadowSubsystem *subsystem);
    static int stop(rdpShadowSubsystem *subsystem);
    static UINT32 enumMonitors(MONITOR_DEF *monitors, UINT32 maxMonitors);

    bool open();
    void close();
    bool createShm();
    void destroyShm();
    void setMonitor(int width, int height);
    void run();
    void drainX();
    void handleResize(int width, int height);
    void fetchDamage();
    bool grab();
    void publish();
    bool handleMessages();
    void readCursor();
    SHADOW_MSG_OUT *cursorMessage();

    // What the shadow server holds: its subsystem record, then us.
    struct Subsystem
    {
        rdpShadowSubsystem common;
        X11Capture *capture;
    };
    Subsystem *m_sub = nullptr;

    Pacing m_pacing;
    std::thread m_thread;
    HANDLE m_wake = nullptr;
    HANDLE m_xEvent = nullptr;
    std::atomic<bool> m_quit{false};

    // Capture connection: used on the capture thread only (after open()).
    Display *m_display = nullptr;
    Window m_root = 0;
    Visual *m_visual = nullptr;
    int m_depth = 0;
    int m_width = 0;
    int m_height = 0;
    int m_damageEvent = 0;
    int m_randrEvent = 0;
    Damage m_damage = 0;
    XserverRegion m_damageRegion = 0;
    XShmSegmentInfo m_shm{};
    bool m_shmAttached = false;
    bool m_damaged = true;  // damage reported and not yet fetched
    bool m_refresh = false; // a viewer asked for a picture
    REGION16 m_pending{};   // fetched damage not yet grabbed
    UINT64 m_lastFrame = 0;

    int m_fixesEvent = 0;
    bool m_cursorChanged = true;
    // The pointer shape: BGRA pixels, premultiplied (guarded by m_cursorLock).
    std::mutex m_cursorLock;
    std::vector<uint32_t> m_cursorPixels;
    int m_cursorWidth = 0, m_cursorHeight = 0, m_cursorHotX = 0, m_cursorHotY = 0;

    // Input connection: shared by the client threads.
    std::mutex m_inputLock;
    Display *m_input = nullptr;
};

#endif // NUVEK_RDP_X11CAPTURE_H
