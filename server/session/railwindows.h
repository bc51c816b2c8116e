#ifndef NUVEK_RDP_RAILWINDOWS_H
#define NUVEK_RDP_RAILWINDOWS_H

#include "railsnapshot.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Follows the top-level windows of the session's display on a connection
// and a thread of its own, and stands in for the window manager a rootless
// session does not have: new windows get the focus, and the viewers' window
// commands (activate, raise, restack, move, minimise, maximise, close) are
// carried out here.
//
// Requests come from any thread; they are queued and run on the tracker's
// thread, which alone uses its X connection. After each change the tracker
// publishes a new snapshot and calls the listener (on its thread).
class RailWindows
{
public:
    RailWindows() = default;
    ~RailWindows();
    RailWindows(const RailWindows &) = delete;
    RailWindows &operator=(const RailWindows &) = delete;

    bool start(std::function<void()> changed);
    void stop();

    std::shared_ptr<const RailSnapshot> snapshot() const;

    // Window commands of the viewers; unknown windows are ignored.
    void activate(uint32_t id);
    void raise(uint32_t id);
    // Puts id directly below other.
    void placeBelow(uint32_t id, uint32_t other);
    // right and bottom exclusive; by is the railId of the viewer that asked
    // (0: it is told the result like everyone).
    void setGeometry(uint32_t id, int left, int top, int right, int bottom, uint64_t by);
    // SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE, SC_CLOSE.
    void sysCommand(uint32_t id, uint16_t command);

    static constexpr uint16_t ScMinimize = 0xF020;
    static constexpr uint16_t ScMaximize = 0xF030;
    static constexpr uint16_t ScRestore = 0xF120;
    static constexpr uint16_t ScClose = 0xF060;

private:
    struct Tracked
    {
        bool mapped = false;
        bool popup = false; // override-redirect
        bool minimised = false;
        bool maximised = false;
        bool tool = false;
        bool above = false;
        bool focusOnMap = false;
        int x = 0, y = 0, width = 0, height = 0, border = 0;
        int savedX = 0, savedY = 0, savedWidth = 0, savedHeight = 0;
        std::string title;
        Window transientFor = 0;
        uint64_t requestedBy = 0;
        int requestedX = 0, requestedY = 0, requestedWidth = 0, requestedHeight = 0;
    };

    void post(std::function<void()> task);
    void run();
    void handle(const XEvent &event);
    void track(Window window);
    void readProperties(Window window, Tracked &tracked);
    std::string readText(Window window, Atom property, Atom type);
    bool listed(const Tracked &tracked) const { return tracked.mapped || tracked.minimised; }
    Tracked *find(uint32_t id);
    Window focusedTopLevel();
    void activateNow(uint32_t id);
    void focus(Window window);
    void focusNext(Window gone);
    void focusTopmost(Window except);
    void moveResize(Window window, Tracked &tracked, int x, int y, int width, int height);
    void close(Window window);
    void publish();

    Display *m_display = nullptr;
    Window m_root = 0;
    std::thread m_thread;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_quit{false};
    std::function<void()> m_changed;

    // Tracker thread only.
    std::map<Window, Tracked> m_windows;
    Window m_focus = 0;
    bool m_dirty = true;
    Atom m_netWmName = 0, m_utf8String = 0, m_wmName = 0, m_wmProtocols = 0, m_wmDelete = 0,
         m_netWmWindowType = 0, m_netWmState = 0, m_netWmStateAbove = 0;
    std::vector<Atom> m_toolTypes;

    std::mutex m_taskLock;
    std::vector<std::function<void()>> m_tasks;

    mutable std::mutex m_snapshotLock;
    std::shared_ptr<const RailSnapshot> m_snapshot = std::make_shared<RailSnapshot>();
};

#endif // NUVEK_RDP_RAILWINDOWS_H
