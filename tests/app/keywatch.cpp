// vl_keywatch: another program on the same X display, standing for the
// desktop's window manager. It takes Alt+Tab, Super and the letter x as
// shortcuts of its own (passive grabs on the root window, as a window manager
// does), shows a small window the tests can hand the focus to, and prints one
// line per key it receives: "key Tab", "key Super_L", "key x". A line "sync"
// on its input makes it catch up with the X server and answer "synced", so a
// test knows every key sent before has either reached it or gone elsewhere.
// Its first line is "window <id>".
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Drain(Display* display) {
    while (XPending(display) > 0) {
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == KeyPress) {
            const KeySym sym = XLookupKeysym(&e.xkey, 0);
            const char* name = XKeysymToString(sym);
            std::printf("key %s\n", name ? name : "?");
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "vl_keywatch: no display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    for (KeySym sym : {XK_Tab, XK_Super_L, XK_x}) {
        const KeyCode code = XKeysymToKeycode(display, sym);
        if (code != 0)
            XGrabKey(display, code, sym == XK_Tab ? Mod1Mask : AnyModifier, root, True, GrabModeAsync,
                     GrabModeAsync);
    }
    const Window window = XCreateSimpleWindow(display, root, 1200, 0, 40, 40, 0, 0, 0xffffff);
    XSelectInput(display, window, KeyPressMask | FocusChangeMask);
    XMapRaised(display, window);
    XSync(display, False);
    std::printf("window %lu\n", static_cast<unsigned long>(window));
    std::fflush(stdout);

    std::string pending;
    for (;;) {
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {0, POLLIN, 0}};
        if (poll(fds, 2, 1000) < 0)
            break;
        Drain(display);
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            const ssize_t n = read(0, buf, sizeof buf);
            if (n <= 0)
                break;
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (line == "sync") {
                    XSync(display, False);
                    Drain(display);
                    std::printf("synced\n");
                    std::fflush(stdout);
                }
            }
        }
    }
    XCloseDisplay(display);
    return 0;
}
