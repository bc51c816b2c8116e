#include "x11capture.h"

#include <freerdp/codec/color.h>
#include <freerdp/input.h>
#include <freerdp/locale/keyboard.h>
#include <winpr/collections.h>
#include <winpr/sysinfo.h>
#include <winpr/synch.h>

#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/XTest.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Reads of a screen that shrinks under us fail with BadMatch; those frames
// are dropped and the next one catches up. Nothing else is expected.
int ignoreXError(Display *display, XErrorEvent *event)
{
    char text[128] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "nuvek2_rdp: X error ignored: %s (request %d.%d)\n", text,
                 event->request_code, event->minor_code);
    return 0;
}

// The display is gone: the session has ended, and so does its server.
int displayGone(Display *)
{
    std::fprintf(stderr, "nuvek2_rdp: the X display went away\n");
    std::fflush(stderr);
    _exit(3);
}

} // namespace

void X11Capture::registerSubsystem()
{
    shadow_subsystem_set_entry(&X11Capture::entry);
}

X11Capture *X11Capture::of(rdpShadowSubsystem *subsystem)
{
    return subsystem ? reinterpret_cast<Subsystem *>(subsystem)->capture : nullptr;
}

int X11Capture::entry(RDP_SHADOW_ENTRY_POINTS *points)
{
    points->New = &X11Capture::create;
    points->Free = &X11Capture::destroy;
    points->Init = &X11Capture::init;
    points->Uninit = &X11Capture::uninit;
    points->Start = &X11Capture::start;
    points->Stop = &X11Capture::stop;
    points->EnumMonitors = &X11Capture::enumMonitors;
    return 1;
}

rdpShadowSubsystem *X11Capture::create()
{
    auto *capture = new X11Capture;
    // The shadow server frees nothing of this itself; calloc keeps its
    // C record zeroed as it expects.
    capture->m_sub = static_cast<Subsystem *>(calloc(1, sizeof(Subsystem)));
    if (!capture->m_sub) {
        delete capture;
        return nullptr;
    }
    capture->m_sub->capture = capture;
    return &capture->m_sub->common;
}

void X11Capture::destroy(rdpShadowSubsystem *subsystem)
{
    delete of(subsystem);
}

X11Capture::~X11Capture()
{
    close();
    free(m_sub);
}

int X11Capture::init(rdpShadowSubsystem *subsystem)
{
    return of(subsystem)->open() ? 1 : -1;
}

int X11Capture::uninit(rdpShadowSubsystem *subsystem)
{
    of(subsystem)->close();
    return 1;
}

int X11Capture::start(rdpShadowSubsystem *subsystem)
{
    X11Capture *self = of(subsystem);
    self->m_quit = false;
    self->m_thread = std::thread([self] { self->run(); });
    return 1;
}

int X11Capture::stop(rdpShadowSubsystem *subsystem)
{
    X11Capture *self = of(subsystem);
    if (self->m_thread.joinable()) {
        self->m_quit = true;
        self->wake();
        self->m_thread.join();
    }
    return 1;
}

UINT32 X11Capture::enumMonitors(MONITOR_DEF *monitors, UINT32 maxMonitors)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display || maxMonitors < 1) {
        if (display)
            XCloseDisplay(display);
        return 0;
    }
    monitors[0].left = 0;
    monitors[0].top = 0;
    monitors[0].right = DisplayWidth(display, DefaultScreen(display));
    monitors[0].bottom = DisplayHeight(display, DefaultScreen(display));
    monitors[0].flags = 1;
    XCloseDisplay(display);
    return 1;
}

bool X11Capture::open()
{
    XInitThreads();
    XSetErrorHandler(ignoreXError);
    XSetIOErrorHandler(displayGone);
    m_display = XOpenDisplay(nullptr);
    m_input = XOpenDisplay(nullptr);
    if (!m_display || !m_input) {
        std::fprintf(stderr, "nuvek2_rdp: cannot open the X display %s\n",
                     getenv("DISPLAY") ? getenv("DISPLAY") : "(DISPLAY is not set)");
        return false;
    }
    const int screen = DefaultScreen(m_display);
    m_root = RootWindow(m_display, screen);
    m_visual = DefaultVisual(m_display, screen);
    m_depth = DefaultDepth(m_display, screen);
    int major = 0, minor = 0, errorBase = 0;
    Bool pixmaps = False;
    if (!XDamageQueryExtension(m_display, &m_damageEvent, &errorBase)
        || !XFixesQueryExtension(m_display, &m_fixesEvent, &errorBase)
        || !XShmQueryVersion(m_display, &major, &minor, &pixmaps)
        || !XTestQueryExtension(m_input, &major, &minor, &errorBase, &errorBase)
        || !XRRQueryExtension(m_display, &m_randrEvent, &errorBase)) {
        std::fprintf(stderr,
                     "nuvek2_rdp: the X server lacks DAMAGE, XFIXES, MIT-SHM, XTEST or RANDR\n");
        return false;
    }
    if (m_depth != 24 && m_depth != 32) {
        std::fprintf(stderr, "nuvek2_rdp: the X screen has depth %d; 24 is needed\n", m_depth);
        return false;
    }
    XSelectInput(m_display, m_root, StructureNotifyMask);
    XRRSelectInput(m_display, m_root, RRScreenChangeNotifyMask);
    XFixesSelectCursorInput(m_display, m_root, XFixesDisplayCursorNotifyMask);
    m_damage = XDamageCreate(m_display, m_root, XDamageReportNonEmpty);
    m_damageRegion = XFixesCreateRegion(m_display, nullptr, 0);
    m_width = DisplayWidth(m_display, screen);
    m_height = DisplayHeight(m_display, screen);
    if (!createShm())
        return false;
    setMonitor(m_width, m_height);
    // A new damage object starts empty: the screen as it is now is read
    // with the first frame.
    region16_init(&m_pending);
    const RECTANGLE_16 all = {0, 0, static_cast<UINT16>(m_width), static_cast<UINT16>(m_height)};
    region16_union_rect(&m_pending, &m_pending, &all);
    m_wake = CreateEvent(nullptr, TRUE, FALSE, nullptr); // reset by the capture thread
    m_xEvent = CreateFileDescriptorEvent(nullptr, TRUE, FALSE, ConnectionNumber(m_display),
                                         WINPR_FD_READ);
    m_sub->common.event = m_xEvent;
    XSync(m_display, False);
    return m_wake && m_xEvent;
}

void X11Capture::close()
{
    if (m_display) {
        destroyShm();
        XCloseDisplay(m_display);
        m_display = nullptr;
        region16_uninit(&m_pending);
    }
    if (m_input) {
        XCloseDisplay(m_input);
        m_input = nullptr;
    }
    if (m_wake) {
        CloseHandle(m_wake);
        m_wake = nullptr;
    }
    if (m_xEvent) {
        CloseHandle(m_xEvent);
        m_xEvent = nullptr;
        m_sub->common.event = nullptr;
    }
}

bool X11Capture::createShm()
{
    const size_t size = static_cast<size_t>(m_width) * m_height * 4;
    m_shm.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (m_shm.shmid < 0) {
        std::perror("nuvek2_rdp: shmget");
        return false;
    }
    m_shm.shmaddr = static_cast<char *>(shmat(m_shm.shmid, nullptr, 0));
    // Marked for removal at once: it goes away with the last user.
    shmctl(m_shm.shmid, IPC_RMID, nullptr);
    if (m_shm.shmaddr == reinterpret_cast<char *>(-1)) {
        std::perror("nuvek2_rdp: shmat");
        m_shm.shmaddr = nullptr;
        return false;
    }
    m_shm.readOnly = False;
    if (!XShmAttach(m_display, &m_shm)) {
        shmdt(m_shm.shmaddr);
        m_shm.shmaddr = nullptr;
        return false;
    }
    XSync(m_display, False);
    m_shmAttached = true;
    return true;
}

void X11Capture::destroyShm()
{
    if (m_shmAttached) {
        XShmDetach(m_display, &m_shm);
        XSync(m_display, False);
        m_shmAttached = false;
    }
    if (m_shm.shmaddr) {
        shmdt(m_shm.shmaddr);
        m_shm.shmaddr = nullptr;
    }
}

void X11Capture::setMonitor(int width, int height)
{
    rdpShadowSubsystem &common = m_sub->common;
    common.numMonitors = 1;
    common.selectedMonitor = 0;
    common.monitors[0] = MONITOR_DEF{0, 0, width, height, 1};
    common.virtualScreen = common.monitors[0];
}

void X11Capture::wake()
{
    if (m_wake)
        SetEvent(m_wake);
}

void X11Capture::run()
{
    rdpShadowServer *server = m_sub->common.server;
    wMessagePipe *pipe = m_sub->common.MsgPipe;
    m_lastFrame = 0;
    while (!m_quit) {
        drainX();
        if (!handleMessages())
            break;
        const bool viewers = ArrayList_Count(server->clients) > 0;
        if (m_cursorChanged && viewers) {
            readCursor();
            if (SHADOW_MSG_OUT *message = cursorMessage())
                shadow_client_boardcast_msg(server, nullptr, SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID,
                                            message, nullptr);
        }
        DWORD timeout = INFINITE;
        if (viewers && (m_damaged || m_refresh)) {
            const UINT64 now = GetTickCount64();
            const UINT64 due = m_lastFrame + (m_pacing.frameInterval ? m_pacing.frameInterval() : 33);
            // A full frame window holds frames back until an acknowledgement
            // wakes us, but never longer than a second: a viewer that stopped
            // acknowledging must not freeze the others.
            const bool windowOpen = !m_pacing.mayPublish || m_pacing.mayPublish()
                || now >= m_lastFrame + 1000;
            if (!windowOpen)
                timeout = static_cast<DWORD>(m_lastFrame + 1000 - now);
            else if (now < due)
                timeout = static_cast<DWORD>(due - now);
            else {
                if (m_damaged)
                    fetchDamage();
                if (grab() || m_refresh)
                    publish();
                m_refresh = false;
                m_lastFrame = now;
                continue;
            }
        }
        XFlush(m_display);
        if (XEventsQueued(m_display, QueuedAlready) > 0)
            continue;
        HANDLE events[] = {m_xEvent, m_wake, MessageQueue_Event(pipe->In)};
        WaitForMultipleObjects(3, events, FALSE, timeout);
        ResetEvent(m_wake);
    }
}

void X11Capture::drainX()
{
    int newWidth = 0, newHeight = 0;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == m_damageEvent + XDamageNotify) {
            m_damaged = true;
        } else if (event.type == m_fixesEvent + XFixesCursorNotify) {
            m_cursorChanged = true;
        } else if (event.type == m_randrEvent + RRScreenChangeNotify) {
            XRRUpdateConfiguration(&event);
        } else if (event.type == ConfigureNotify && event.xconfigure.window == m_root) {
            newWidth = event.xconfigure.width;
            newHeight = event.xconfigure.height;
        }
    }
    if (newWidth > 0 && (newWidth != m_width || newHeight != m_height))
        handleResize(newWidth, newHeight);
}

void X11Capture::handleResize(int width, int height)
{
    std::fprintf(stderr, "nuvek2_rdp: the screen is now %dx%d\n", width, height);
    destroyShm();
    m_width = width;
    m_height = height;
    if (!createShm()) {
        std::fprintf(stderr, "nuvek2_rdp: no shared memory for the new screen size\n");
        std::exit(4);
    }
    setMonitor(width, height);
    rdpShadowServer *server = m_sub->common.server;
    if (server->screen) {
        EnterCriticalSection(&server->surface->lock);
        shadow_screen_resize(server->screen);
        region16_clear(&server->surface->invalidRegion);
        LeaveCriticalSection(&server->surface->lock);
    }
    region16_clear(&m_pending);
    // Everything is new: fetch (and so clear) the old damage and read all.
    m_damaged = true;
    const RECTANGLE_16 all = {0, 0, static_cast<UINT16>(width), static_cast<UINT16>(height)};
    region16_union_rect(&m_pending, &m_pending, &all);
    m_refresh = true;
    if (m_pacing.resized)
        m_pacing.resized(width, height);
}

void X11Capture::fetchDamage()
{
    XDamageSubtract(m_display, m_damage, None, m_damageRegion);
    int count = 0;
    XRectangle *rects = XFixesFetchRegion(m_display, m_damageRegion, &count);
    for (int i = 0; i < count; ++i) {
        const RECTANGLE_16 rect = {static_cast<UINT16>(rects[i].x), static_cast<UINT16>(rects[i].y),
                                   static_cast<UINT16>(rects[i].x + rects[i].width),
                                   static_cast<UINT16>(rects[i].y + rects[i].height)};
        region16_union_rect(&m_pending, &m_pending, &rect);
    }
    if (rects)
        XFree(rects);
    m_damaged = false;
}

bool X11Capture::grab()
{
    const RECTANGLE_16 screen = {0, 0, static_cast<UINT16>(m_width), static_cast<UINT16>(m_height)};
    region16_intersect_rect(&m_pending, &m_pending, &screen);
    if (region16_is_empty(&m_pending))
        return false;
    UINT32 count = 0;
    const RECTANGLE_16 *rects = region16_rects(&m_pending, &count);
    // Each read is a round trip: many small areas are read as one.
    if (count > 16) {
        rects = region16_extents(&m_pending);
        count = 1;
    }
    rdpShadowSurface *surface = m_sub->common.server->surface;
    bool grabbed = false;
    EnterCriticalSection(&surface->lock);
    for (UINT32 i = 0; i < count; ++i) {
        const RECTANGLE_16 &rect = rects[i];
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        XImage *image = XShmCreateImage(m_display, m_visual, m_depth, ZPixmap, m_shm.shmaddr,
                                        &m_shm, width, height);
        if (!image)
            continue;
        if (XShmGetImage(m_display, m_root, image, rect.left, rect.top, AllPlanes)
            && surface->width >= rect.right && surface->height >= rect.bottom) {
            freerdp_image_copy(surface->data, surface->format, surface->scanline, rect.left,
                               rect.top, width, height, reinterpret_cast<BYTE *>(image->data),
                               PIXEL_FORMAT_BGRX32, image->bytes_per_line, 0, 0, nullptr,
                               FREERDP_FLIP_NONE);
            region16_union_rect(&surface->invalidRegion, &surface->invalidRegion, &rect);
            grabbed = true;
        }
        image->data = nullptr; // the shared segment is ours, not the image's
        XDestroyImage(image);
    }
    LeaveCriticalSection(&surface->lock);
    region16_clear(&m_pending);
    return grabbed;
}

void X11Capture::publish()
{
    rdpShadowSurface *surface = m_sub->common.server->surface;
    // Every viewer thread encodes from the surface now; we wait for all.
    shadow_subsystem_frame_update(&m_sub->common);
    EnterCriticalSection(&surface->lock);
    region16_clear(&surface->invalidRegion);
    LeaveCriticalSection(&surface->lock);
}

bool X11Capture::handleMessages()
{
    wMessagePipe *pipe = m_sub->common.MsgPipe;
    wMessage message;
    while (MessageQueue_Peek(pipe->In, &message, TRUE)) {
        if (message.id == WMQ_QUIT)
            return false;
        if (message.id == SHADOW_MSG_IN_REFRESH_REQUEST_ID)
            m_refresh = true;
        if (message.Free)
            message.Free(&message);
    }
    return true;
}

void X11Capture::readCursor()
{
    m_cursorChanged = false;
    XFixesCursorImage *image = XFixesGetCursorImage(m_display);
    if (!image)
        return;
    // RDP pointers are at most 96 x 96 pixels.
    if (image->width > 0 && image->height > 0 && image->width <= 96 && image->height <= 96) {
        std::lock_guard<std::mutex> lock(m_cursorLock);
        m_cursorWidth = image->width;
        m_cursorHeight = image->height;
        m_cursorHotX = image->xhot;
        m_cursorHotY = image->yhot;
        // Xlib hands out each pixel in an unsigned long.
        m_cursorPixels.assign(image->pixels, image->pixels + size_t(image->width) * image->height);
    }
    XFree(image);
}

namespace {

void freeCursorMessage(UINT32, SHADOW_MSG_OUT *message)
{
    auto *update = reinterpret_cast<SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE *>(message);
    free(update->xorMaskData);
    free(update->andMaskData);
    free(update);
}

} // namespace

SHADOW_MSG_OUT *X11Capture::cursorMessage()
{
    std::lock_guard<std::mutex> lock(m_cursorLock);
    if (m_cursorPixels.empty())
        return nullptr;
    auto *update = static_cast<SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE *>(
        calloc(1, sizeof(SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE)));
    if (!update)
        return nullptr;
    update->xHot = static_cast<UINT32>(m_cursorHotX);
    update->yHot = static_cast<UINT32>(m_cursorHotY);
    update->width = static_cast<UINT32>(m_cursorWidth);
    update->height = static_cast<UINT32>(m_cursorHeight);
    std::vector<uint32_t> pixels = m_cursorPixels;
    if (shadow_subsystem_pointer_convert_alpha_pointer_data(
            reinterpret_cast<BYTE *>(pixels.data()), TRUE, update->width, update->height, update)
        < 0) {
        free(update);
        return nullptr;
    }
    update->common.Free = freeCursorMessage;
    return &update->common;
}

void X11Capture::sendCursor(rdpShadowClient *client)
{
    if (SHADOW_MSG_OUT *message = cursorMessage())
        shadow_client_post_msg(client, nullptr, SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID, message,
                               nullptr);
}

void X11Capture::keyboard(UINT16 flags, UINT16 code)
{
    const DWORD keycode = freerdp_keyboard_get_x11_keycode_from_rdp_scancode(
        code, (flags & KBD_FLAGS_EXTENDED) ? TRUE : FALSE);
    if (keycode == 0)
        return;
    std::lock_guard<std::mutex> lock(m_inputLock);
    XTestFakeKeyEvent(m_input, keycode, (flags & KBD_FLAGS_RELEASE) ? False : True, CurrentTime);
    XFlush(m_input);
}

void X11Capture::unicodeKeyboard(UINT16 flags, UINT16 code)
{
    const KeySym keysym = code < 0x100 ? code : 0x01000000 | code;
    std::lock_guard<std::mutex> lock(m_inputLock);
    const KeyCode keycode = XKeysymToKeycode(m_input, keysym);
    if (keycode == 0)
        return;
    XTestFakeKeyEvent(m_input, keycode, (flags & KBD_FLAGS_RELEASE) ? False : True, CurrentTime);
    XFlush(m_input);
}

void X11Capture::mouse(UINT16 flags, UINT16 x, UINT16 y)
{
    std::lock_guard<std::mutex> lock(m_inputLock);
    if (flags & (PTR_FLAGS_WHEEL | PTR_FLAGS_HWHEEL)) {
        const bool negative = flags & PTR_FLAGS_WHEEL_NEGATIVE;
        const unsigned button = (flags & PTR_FLAGS_WHEEL) ? (negative ? 5 : 4) : (negative ? 6 : 7);
        XTestFakeButtonEvent(m_input, button, True, CurrentTime);
        XTestFakeButtonEvent(m_input, button, False, CurrentTime);
    } else {
        if (flags & PTR_FLAGS_MOVE)
            XTestFakeMotionEvent(m_input, 0, x, y, CurrentTime);
        unsigned button = 0;
        if (flags & PTR_FLAGS_BUTTON1)
            button = 1;
        else if (flags & PTR_FLAGS_BUTTON2)
            button = 3;
        else if (flags & PTR_FLAGS_BUTTON3)
            button = 2;
        if (button)
            XTestFakeButtonEvent(m_input, button, (flags & PTR_FLAGS_DOWN) ? True : False,
                                 CurrentTime);
    }
    XFlush(m_input);
}

void X11Capture::extendedMouse(UINT16 flags, UINT16 x, UINT16 y)
{
    std::lock_guard<std::mutex> lock(m_inputLock);
    XTestFakeMotionEvent(m_input, 0, x, y, CurrentTime);
    unsigned button = 0;
    if (flags & PTR_XFLAGS_BUTTON1)
        button = 8;
    else if (flags & PTR_XFLAGS_BUTTON2)
        button = 9;
    if (button)
        XTestFakeButtonEvent(m_input, button, (flags & PTR_XFLAGS_DOWN) ? True : False,
                             CurrentTime);
    XFlush(m_input);
}

void X11Capture::requestSize(int width, int height)
{
    width = std::max(MinWidth, std::min(MaxWidth, width));
    height = std::max(MinHeight, std::min(MaxHeight, height));
    std::lock_guard<std::mutex> lock(m_inputLock);
    Display *display = m_input;
    const Window root = DefaultRootWindow(display);
    // The screen's size as it is now (this connection does not follow
    // RandR events, so its own idea of the size may be stale). Setting the
    // size the screen already has still makes the X server clear it to
    // black, wiping what is shown: every viewer asks for its window's size
    // when it connects, mostly the size the screen has.
    Window rootReturn = None;
    int x = 0, y = 0;
    unsigned currentWidth = 0, currentHeight = 0, border = 0, depth = 0;
    if (!XGetGeometry(display, root, &rootReturn, &x, &y, &currentWidth, &currentHeight, &border,
                      &depth))
        return;
    if (int(currentWidth) == width && int(currentHeight) == height)
        return;
    XRRScreenResources *resources = XRRGetScreenResources(display, root);
    if (!resources)
        return;
    // The screen must always hold the CRTC's mode: grow the screen, show a
    // mode of the new size, then set the screen to that size.
    RROutput output = resources->noutput > 0 ? resources->outputs[0] : None;
    XRROutputInfo *outputInfo = output ? XRRGetOutputInfo(display, resources, output) : nullptr;
    RRCrtc crtc = outputInfo && outputInfo->crtc ? outputInfo->crtc
                                                 : (resources->ncrtc > 0 ? resources->crtcs[0] : None);
    RRMode mode = None;
    for (int i = 0; i < resources->nmode; ++i)
        if (int(resources->modes[i].width) == width && int(resources->modes[i].height) == height)
            mode = resources->modes[i].id;
    if (output && mode == None) {
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", width, height);
        XRRModeInfo *info = XRRAllocModeInfo(name, static_cast<int>(std::strlen(name)));
        info->width = static_cast<unsigned>(width);
        info->height = static_cast<unsigned>(height);
        info->dotClock = static_cast<unsigned long>(width) * height * 60;
        info->hTotal = static_cast<unsigned>(width);
        info->vTotal = static_cast<unsigned>(height);
        mode = XRRCreateMode(display, root, info);
        XRRFreeModeInfo(info);
    }
    if (output && mode != None) {
        bool listed = false;
        for (int i = 0; outputInfo && i < outputInfo->nmode; ++i)
            listed = listed || outputInfo->modes[i] == mode;
        if (!listed)
            XRRAddOutputMode(display, output, mode);
    }
    const int growWidth = std::max(width, int(currentWidth));
    const int growHeight = std::max(height, int(currentHeight));
    // About 96 dots per inch, as the X server starts with.
    const auto millimetres = [](int pixels) { return pixels * 254 / 960; };
    XGrabServer(display);
    XRRSetScreenSize(display, root, growWidth, growHeight, millimetres(growWidth),
                     millimetres(growHeight));
    if (crtc != None && output && mode != None)
        XRRSetCrtcConfig(display, resources, crtc, CurrentTime, 0, 0, mode, RR_Rotate_0, &output, 1);
    XRRSetScreenSize(display, root, width, height, millimetres(width), millimetres(height));
    XUngrabServer(display);
    XSync(display, False);
    if (outputInfo)
        XRRFreeOutputInfo(outputInfo);
    XRRFreeScreenResources(resources);
}
