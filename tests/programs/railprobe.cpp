// A small X program for tests of rootless sessions: one window of a plain colour at a
// given place, which appends the keys it gets to a file. "o" opens a second window (title
// "<title> extra"), "c" closes it again; asked to close by the window manager protocol,
// it writes "closed" and ends.
//
//     railprobe TITLE RRGGBB WxH+X+Y KEYFILE

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

Display *display;
Atom deleteWindow;

Window makeWindow(const std::string &title, unsigned long colour, int x, int y, unsigned w, unsigned h)
{
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), x, y, w, h, 0, 0, colour);
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = int(w);
    hints.height = int(h);
    XSetWMNormalHints(display, window, &hints);
    XStoreName(display, window, title.c_str());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title.c_str()), int(title.size()));
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XSelectInput(display, window, KeyPressMask | ExposureMask);
    XMapWindow(display, window);
    return window;
}

} // namespace

int main(int argc, char *argv[])
{
    int x = 0, y = 0;
    unsigned w = 0, h = 0;
    if (argc != 5 || !(XParseGeometry(argv[3], &x, &y, &w, &h) & (WidthValue | HeightValue)))
        return 2;
    display = XOpenDisplay(nullptr);
    FILE *keys = std::fopen(argv[4], "a");
    if (!display || !keys)
        return 1;
    deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    const std::string title = argv[1];
    const Window main = makeWindow(title, std::strtoul(argv[2], nullptr, 16), x, y, w, h);
    Window extra = None;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            char text[8] = {};
            KeySym symbol;
            if (XLookupString(&event.xkey, text, sizeof text - 1, &symbol, nullptr) > 0) {
                std::fputs(text, keys);
                std::fflush(keys);
            }
            if (text[0] == 'o' && extra == None)
                extra = makeWindow(title + " extra", 0x20c040, x + 40, y + 40, 120, 90);
            if (text[0] == 'c' && extra != None) {
                XDestroyWindow(display, extra);
                extra = None;
            }
        } else if (event.type == ClientMessage && Atom(event.xclient.data.l[0]) == deleteWindow) {
            if (event.xclient.window != main) {
                XDestroyWindow(display, event.xclient.window);
                extra = None;
                continue;
            }
            std::fputs("closed", keys);
            std::fclose(keys);
            XCloseDisplay(display);
            return 0;
        }
        XFlush(display);
    }
}
