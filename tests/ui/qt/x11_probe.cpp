// x11-probe: what a window manager or another client asks of a window, for the desktop test.
//   x11-probe ping WINDOW MS   sends _NET_WM_PING; 0 when the window answers within MS ms,
//                              and prints how many ms the answer took
//   x11-probe close WINDOW     asks the window to close (WM_DELETE_WINDOW), as a close button
//   x11-probe clipboard MS     prints the CLIPBOARD's text; 0 when it came within MS ms
// WINDOW is a decimal or 0x-prefixed id. Exit status 1 on a time-out or failure, 2 on usage.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct CloseDisplay {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, CloseDisplay>;

// Waits for the next event that `match` accepts, at most until `deadline`.
template <typename Match>
bool waitFor(Display* display, std::chrono::steady_clock::time_point deadline, XEvent& event,
             Match match) {
    for (;;) {
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            if (match(event))
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd readable{ConnectionNumber(display), POLLIN, 0};
        poll(&readable, 1, static_cast<int>(left.count()));
    }
}

void sendProtocol(Display* display, Window window, Atom protocol, long extra) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(protocol);
    event.xclient.data.l[1] = extra;
    event.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

int ping(Display* display, Window window, int ms) {
    const Window root = DefaultRootWindow(display);
    // The answer comes to the root window: Qt sends it for StructureNotify, Wine (as the
    // window managers expect) for SubstructureNotify and SubstructureRedirect.
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    const Atom pingAtom = XInternAtom(display, "_NET_WM_PING", False);
    const long stamp = 20261208;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    sendProtocol(display, window, pingAtom, stamp);
    const auto sent = std::chrono::steady_clock::now();
    XEvent event;
    const bool answered = waitFor(display, deadline, event, [&](const XEvent& e) {
        return e.type == ClientMessage && e.xclient.data.l[0] == static_cast<long>(pingAtom) &&
               e.xclient.data.l[1] == stamp && e.xclient.data.l[2] == static_cast<long>(window);
    });
    if (!answered)
        return 1;
    std::printf("%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - sent)
                                           .count()));
    return 0;
}

int clipboard(Display* display, int ms) {
    const Window own =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom target = XInternAtom(display, "UTF8_STRING", False);
    const Atom property = XInternAtom(display, "X11_PROBE", False);
    XConvertSelection(display, XInternAtom(display, "CLIPBOARD", False), target, property, own,
                      CurrentTime);
    XFlush(display);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    XEvent event;
    if (!waitFor(display, deadline, event,
                 [](const XEvent& e) { return e.type == SelectionNotify; }) ||
        event.xselection.property == None)
        return 1;
    Atom type;
    int format;
    unsigned long count;
    unsigned long after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, own, property, 0, 1 << 24, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) != Success)
        return 1;
    std::fwrite(data, 1, count, stdout);
    XFree(data);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    DisplayHandle display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "x11-probe: cannot open the display\n");
        return 1;
    }
    if (command == "ping" && argc == 4)
        return ping(display.get(), std::strtoul(argv[2], nullptr, 0), std::atoi(argv[3]));
    if (command == "close" && argc == 3) {
        sendProtocol(display.get(), std::strtoul(argv[2], nullptr, 0),
                     XInternAtom(display.get(), "WM_DELETE_WINDOW", False), CurrentTime);
        return 0;
    }
    if (command == "clipboard" && argc == 3)
        return clipboard(display.get(), std::atoi(argv[2]));
    std::fprintf(stderr, "Usage: x11-probe ping WINDOW MS | close WINDOW | clipboard MS\n");
    return 2;
}
