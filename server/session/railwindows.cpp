#include "railwindows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>

namespace {

// Window styles of the RemoteApp window orders.
constexpr uint32_t StyleOverlappedWindow = 0x00CF0000;
constexpr uint32_t StyleVisible = 0x10000000;
constexpr uint32_t StylePopup = 0x80000000;
constexpr uint32_t ExStyleToolWindow = 0x80;
constexpr uint32_t ExStyleTopmost = 0x8;
constexpr uint8_t ShowMinimised = 2;
constexpr uint8_t ShowMaximised = 3;
constexpr uint8_t Shown = 5;

// Titles longer than this are cut (the order carries at most 64 KiB).
constexpr size_t MaxTitleBytes = 1024;

// How long an activation may keep the viewer waiting for the focus to move.
constexpr int ActivateWaitMs = 200;

} // namespace

bool RailWindow::operator==(const RailWindow &o) const
{
    return id == o.id && sameGeometry(o) && title == o.title && owner == o.owner
        && style == o.style && exStyle == o.exStyle && showState == o.showState
        && requestedBy == o.requestedBy && requestedX == o.requestedX
        && requestedY == o.requestedY && requestedWidth == o.requestedWidth
        && requestedHeight == o.requestedHeight;
}

const RailWindow *RailSnapshot::find(uint32_t id) const
{
    for (const RailWindow &window : windows)
        if (window.id == id)
            return &window;
    return nullptr;
}

RailWindows::~RailWindows()
{
    stop();
}

bool RailWindows::start(std::function<void()> changed)
{
    m_display = XOpenDisplay(nullptr);
    if (!m_display || pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::fprintf(stderr, "nuvek2_rdp: the window tracker cannot start\n");
        if (m_display)
            XCloseDisplay(m_display);
        m_display = nullptr;
        return false;
    }
    m_changed = std::move(changed);
    m_root = DefaultRootWindow(m_display);
    m_netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
    m_utf8String = XInternAtom(m_display, "UTF8_STRING", False);
    m_wmName = XA_WM_NAME;
    m_wmProtocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
    m_wmDelete = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
    m_netWmWindowType = XInternAtom(m_display, "_NET_WM_WINDOW_TYPE", False);
    m_netWmState = XInternAtom(m_display, "_NET_WM_STATE", False);
    m_netWmStateAbove = XInternAtom(m_display, "_NET_WM_STATE_ABOVE", False);
    for (const char *type : {"_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_TOOLBAR",
                             "_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                             "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP"})
        m_toolTypes.push_back(XInternAtom(m_display, type, False));

    XSelectInput(m_display, m_root, SubstructureNotifyMask);
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(m_display, m_root, &rootReturn, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i)
            track(children[i]);
        if (children)
            XFree(children);
    }
    m_focus = focusedTopLevel();
    if (!m_focus)
        focusTopmost(0); // windows that were there before us
    publish();
    m_thread = std::thread([this] { run(); });
    return true;
}

void RailWindows::stop()
{
    if (!m_display)
        return;
    m_quit = true;
    post([] {});
    if (m_thread.joinable())
        m_thread.join();
    XCloseDisplay(m_display);
    m_display = nullptr;
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

std::shared_ptr<const RailSnapshot> RailWindows::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_snapshotLock);
    return m_snapshot;
}

void RailWindows::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_taskLock);
        m_tasks.push_back(std::move(task));
    }
    const char byte = 0;
    if (write(m_wake[1], &byte, 1) < 0) {
        // The pipe is full: the thread is awake already.
    }
}

void RailWindows::run()
{
    while (!m_quit) {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            handle(event);
        }
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(m_taskLock);
            tasks.swap(m_tasks);
        }
        for (auto &task : tasks)
            task();
        if (!tasks.empty()) {
            XSync(m_display, False);
            m_dirty = true;
            continue; // the events the requests caused come first
        }
        if (m_dirty)
            publish();
        pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        XFlush(m_display);
        if (XPending(m_display))
            continue;
        poll(fds, 2, -1);
        char drain[64];
        while (read(m_wake[0], drain, sizeof drain) > 0) {
        }
    }
}

void RailWindows::track(Window window)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(m_display, window, &attributes) || attributes.c_class == InputOnly)
        return;
    XSelectInput(m_display, window, PropertyChangeMask | FocusChangeMask);
    Tracked &tracked = m_windows[window];
    tracked.mapped = attributes.map_state != IsUnmapped;
    tracked.popup = attributes.override_redirect;
    tracked.x = attributes.x;
    tracked.y = attributes.y;
    tracked.border = attributes.border_width;
    tracked.width = attributes.width + 2 * attributes.border_width;
    tracked.height = attributes.height + 2 * attributes.border_width;
    readProperties(window, tracked);
    m_dirty = true;
}

std::string RailWindows::readText(Window window, Atom property, Atom type)
{
    Atom actualType = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    std::string text;
    if (XGetWindowProperty(m_display, window, property, 0, MaxTitleBytes / 4, False, type,
                           &actualType, &format, &items, &after, &data) == Success
        && data && format == 8)
        text.assign(reinterpret_cast<const char *>(data), items);
    if (data)
        XFree(data);
    return text;
}

void RailWindows::readProperties(Window window, Tracked &tracked)
{
    tracked.title = readText(window, m_netWmName, m_utf8String);
    if (tracked.title.empty()) {
        // WM_NAME is Latin-1 (or compound text, taken as it is).
        const std::string latin1 = readText(window, m_wmName, AnyPropertyType);
        for (unsigned char c : latin1) {
            if (c < 0x80) {
                tracked.title += char(c);
            } else {
                tracked.title += char(0xC0 | (c >> 6));
                tracked.title += char(0x80 | (c & 0x3F));
            }
        }
    }
    // A title cut in the middle of a UTF-8 sequence loses the broken end.
    while (!tracked.title.empty() && (tracked.title.back() & 0x80)) {
        size_t start = tracked.title.size() - 1;
        while (start > 0 && (tracked.title[start] & 0xC0) == 0x80)
            --start;
        const unsigned char lead = tracked.title[start];
        const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (tracked.title.size() - start == need)
            break;
        tracked.title.resize(start);
    }
    Window transient = 0;
    tracked.transientFor = XGetTransientForHint(m_display, window, &transient) ? transient : 0;

    auto atoms = [&](Atom property) {
        std::vector<Atom> list;
        Atom actualType = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(m_display, window, property, 0, 64, False, XA_ATOM, &actualType,
                               &format, &items, &after, &data) == Success
            && data && format == 32) {
            const auto *values = reinterpret_cast<const Atom *>(data);
            list.assign(values, values + items);
        }
        if (data)
            XFree(data);
        return list;
    };
    const std::vector<Atom> types = atoms(m_netWmWindowType);
    tracked.tool = std::any_of(types.begin(), types.end(), [this](Atom type) {
        return std::find(m_toolTypes.begin(), m_toolTypes.end(), type) != m_toolTypes.end();
    });
    const std::vector<Atom> state = atoms(m_netWmState);
    tracked.above = std::find(state.begin(), state.end(), m_netWmStateAbove) != state.end();
}

void RailWindows::handle(const XEvent &event)
{
    switch (event.type) {
    case CreateNotify:
        if (event.xcreatewindow.parent == m_root)
            track(event.xcreatewindow.window);
        break;
    case ReparentNotify:
        if (event.xreparent.parent == m_root)
            track(event.xreparent.window);
        else if (m_windows.erase(event.xreparent.window))
            m_dirty = true;
        break;
    case DestroyNotify: {
        const Window gone = event.xdestroywindow.window;
        if (m_windows.erase(gone)) {
            m_dirty = true;
            focusNext(gone);
        }
        break;
    }
    case MapNotify: {
        auto found = m_windows.find(event.xmap.window);
        if (found == m_windows.end())
            break;
        Tracked &tracked = found->second;
        tracked.mapped = true;
        tracked.minimised = false;
        tracked.popup = event.xmap.override_redirect;
        m_dirty = true;
        // Without a window manager nobody else gives a new window the keyboard.
        if (!tracked.popup && (!tracked.tool || tracked.focusOnMap))
            focus(found->first);
        tracked.focusOnMap = false;
        break;
    }
    case UnmapNotify: {
        auto found = m_windows.find(event.xunmap.window);
        if (found == m_windows.end() || event.xunmap.event != m_root)
            break;
        found->second.mapped = false;
        m_dirty = true;
        focusNext(found->first);
        break;
    }
    case ConfigureNotify: {
        auto found = m_windows.find(event.xconfigure.window);
        if (found == m_windows.end() || event.xconfigure.event != m_root)
            break;
        Tracked &tracked = found->second;
        tracked.x = event.xconfigure.x;
        tracked.y = event.xconfigure.y;
        tracked.border = event.xconfigure.border_width;
        tracked.width = event.xconfigure.width + 2 * tracked.border;
        tracked.height = event.xconfigure.height + 2 * tracked.border;
        tracked.popup = event.xconfigure.override_redirect;
        m_dirty = true; // the stacking may have changed too
        break;
    }
    case PropertyNotify: {
        auto found = m_windows.find(event.xproperty.window);
        if (found != m_windows.end()) {
            readProperties(found->first, found->second);
            m_dirty = true;
        }
        break;
    }
    case FocusIn:
    case FocusOut:
        m_dirty = true;
        break;
    default:
        break;
    }
}

RailWindows::Tracked *RailWindows::find(uint32_t id)
{
    auto found = m_windows.find(static_cast<Window>(id));
    return found == m_windows.end() || !listed(found->second) ? nullptr : &found->second;
}

Window RailWindows::focusedTopLevel()
{
    Window window = 0;
    int revert = 0;
    XGetInputFocus(m_display, &window, &revert);
    // The focus may be on a child of a top-level window.
    while (window != 0 && window != PointerRoot && window != m_root
           && m_windows.find(window) == m_windows.end()) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, window, &rootReturn, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        window = parent;
    }
    return m_windows.count(window) ? window : 0;
}

void RailWindows::focus(Window window)
{
    XSetInputFocus(m_display, window, RevertToPointerRoot, CurrentTime);
    m_focus = window;
    m_dirty = true;
}

void RailWindows::focusNext(Window gone)
{
    if (gone != m_focus)
        return;
    m_focus = 0;
    focusTopmost(gone);
}

void RailWindows::focusTopmost(Window except)
{
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(m_display, m_root, &rootReturn, &parent, &children, &count))
        return;
    // From the top down: the first ordinary window still shown.
    for (unsigned i = count; i-- > 0;) {
        auto found = m_windows.find(children[i]);
        if (found != m_windows.end() && found->first != except && found->second.mapped
            && !found->second.popup && !found->second.tool) {
            focus(found->first);
            break;
        }
    }
    if (children)
        XFree(children);
}

void RailWindows::moveResize(Window window, Tracked &tracked, int x, int y, int width, int height)
{
    XMoveResizeWindow(m_display, window, x, y,
                      static_cast<unsigned>(std::max(1, width - 2 * tracked.border)),
                      static_cast<unsigned>(std::max(1, height - 2 * tracked.border)));
}

void RailWindows::close(Window window)
{
    Atom *protocols = nullptr;
    int count = 0;
    bool polite = false;
    if (XGetWMProtocols(m_display, window, &protocols, &count)) {
        polite = std::find(protocols, protocols + count, m_wmDelete) != protocols + count;
        XFree(protocols);
    }
    if (!polite) {
        XKillClient(m_display, window);
        return;
    }
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = m_wmProtocols;
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(m_wmDelete);
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, window, False, NoEventMask, &message);
}

void RailWindows::activate(uint32_t id)
{
    // Keys the viewer sends right after the activation must find the new focus: the
    // caller waits (briefly) until the X server has it.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> focused = done->get_future();
    post([this, id, done] {
        activateNow(id);
        XSync(m_display, False);
        done->set_value();
    });
    focused.wait_for(std::chrono::milliseconds(ActivateWaitMs));
}

void RailWindows::activateNow(uint32_t id)
{
    Tracked *tracked = find(id);
    if (!tracked)
        return;
    const Window window = static_cast<Window>(id);
    XRaiseWindow(m_display, window);
    if (tracked->minimised && !tracked->mapped) {
        tracked->focusOnMap = true;
        XMapWindow(m_display, window);
    } else {
        focus(window);
    }
}

void RailWindows::raise(uint32_t id)
{
    post([this, id] {
        if (find(id))
            XRaiseWindow(m_display, static_cast<Window>(id));
    });
}

void RailWindows::placeBelow(uint32_t id, uint32_t other)
{
    post([this, id, other] {
        if (id == other || !find(id) || !find(other))
            return;
        XWindowChanges changes{};
        changes.sibling = static_cast<Window>(other);
        changes.stack_mode = Below;
        XConfigureWindow(m_display, static_cast<Window>(id), CWSibling | CWStackMode, &changes);
    });
}

void RailWindows::setGeometry(uint32_t id, int left, int top, int right, int bottom, uint64_t by)
{
    post([=] {
        Tracked *tracked = find(id);
        // What X cannot express (16-bit places, 15-bit sizes) is refused, not clamped.
        if (!tracked || right <= left || bottom <= top || left < -32768 || top < -32768
            || right > 32767 || bottom > 32767)
            return;
        tracked->maximised = false;
        tracked->requestedBy = by;
        tracked->requestedX = left;
        tracked->requestedY = top;
        tracked->requestedWidth = right - left;
        tracked->requestedHeight = bottom - top;
        if (tracked->x == left && tracked->y == top && tracked->width == right - left
            && tracked->height == bottom - top)
            return;
        moveResize(static_cast<Window>(id), *tracked, left, top, right - left, bottom - top);
    });
}

void RailWindows::sysCommand(uint32_t id, uint16_t command)
{
    post([this, id, command] {
        Tracked *tracked = find(id);
        if (!tracked)
            return;
        const Window window = static_cast<Window>(id);
        switch (command) {
        case ScMinimize:
            if (!tracked->minimised) {
                tracked->minimised = true;
                XUnmapWindow(m_display, window);
            }
            break;
        case ScMaximize:
            if (!tracked->maximised) {
                tracked->savedX = tracked->x;
                tracked->savedY = tracked->y;
                tracked->savedWidth = tracked->width;
                tracked->savedHeight = tracked->height;
                tracked->maximised = true;
                XWindowAttributes root;
                if (XGetWindowAttributes(m_display, m_root, &root))
                    moveResize(window, *tracked, 0, 0, root.width, root.height);
            }
            if (tracked->minimised)
                XMapWindow(m_display, window);
            break;
        case ScRestore:
            if (tracked->minimised) {
                tracked->focusOnMap = true;
                XMapWindow(m_display, window);
            } else if (tracked->maximised) {
                tracked->maximised = false;
                moveResize(window, *tracked, tracked->savedX, tracked->savedY,
                           tracked->savedWidth, tracked->savedHeight);
            }
            break;
        case ScClose:
            close(window);
            break;
        default:
            break;
        }
        m_dirty = true;
    });
}

void RailWindows::publish()
{
    m_dirty = false;
    const Window focused = focusedTopLevel();
    if (focused)
        m_focus = focused;
    auto next = std::make_shared<RailSnapshot>();
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(m_display, m_root, &rootReturn, &parent, &children, &count)) {
        for (unsigned i = count; i-- > 0;) { // the topmost first
            auto found = m_windows.find(children[i]);
            if (found == m_windows.end() || !listed(found->second))
                continue;
            const Tracked &t = found->second;
            RailWindow window;
            window.id = static_cast<uint32_t>(found->first);
            window.x = t.x;
            window.y = t.y;
            window.width = t.width;
            window.height = t.height;
            window.title = t.title;
            window.owner = static_cast<uint32_t>(t.transientFor);
            if (t.popup) {
                window.style = StylePopup | StyleVisible;
                window.exStyle = ExStyleToolWindow | ExStyleTopmost;
            } else {
                window.style = StyleOverlappedWindow | StyleVisible;
                window.exStyle = (t.tool ? ExStyleToolWindow : 0) | (t.above ? ExStyleTopmost : 0);
            }
            window.showState = t.minimised ? ShowMinimised : t.maximised ? ShowMaximised : Shown;
            window.requestedBy = t.requestedBy;
            window.requestedX = t.requestedX;
            window.requestedY = t.requestedY;
            window.requestedWidth = t.requestedWidth;
            window.requestedHeight = t.requestedHeight;
            next->windows.push_back(std::move(window));
        }
        if (children)
            XFree(children);
    }
    next->active = next->find(static_cast<uint32_t>(m_focus)) ? static_cast<uint32_t>(m_focus) : 0;
    {
        std::lock_guard<std::mutex> lock(m_snapshotLock);
        if (*m_snapshot == *next)
            return;
        m_snapshot = next;
    }
    if (m_changed)
        m_changed();
}
