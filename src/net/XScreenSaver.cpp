#include "XScreenSaver.h"

#include <QtGlobal>
#include <dlfcn.h>

// The X headers only give the types and the structure layout; the functions come from
// the libraries loaded at run time. They define macros (Bool, Status, None...) that
// must not meet other headers, so they come last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

struct TXScreenSaver::Connection {
    void* x11 = nullptr;
    void* xss = nullptr;
    Display* display = nullptr;
    XScreenSaverInfo* info = nullptr;
    decltype(&XCloseDisplay) closeDisplay = nullptr;
    decltype(&XFree) free = nullptr;
    decltype(&XDefaultRootWindow) rootWindow = nullptr;
    decltype(&XScreenSaverQueryInfo) queryInfo = nullptr;

    ~Connection() {
        if (info && free)
            free(info);
        if (display && closeDisplay)
            closeDisplay(display);
        if (xss)
            dlclose(xss);
        if (x11)
            dlclose(x11);
    }
};

namespace {

template <typename F> bool Resolve(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

} // namespace

TXScreenSaver::TXScreenSaver(const QByteArray& display) {
    auto c = std::make_unique<Connection>();
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    if (name.isEmpty())
        return;
    c->x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    c->xss = c->x11 ? dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!c->xss)
        return;
    decltype(&XOpenDisplay) openDisplay = nullptr;
    decltype(&XScreenSaverQueryExtension) queryExtension = nullptr;
    decltype(&XScreenSaverAllocInfo) allocInfo = nullptr;
    if (!Resolve(c->x11, "XOpenDisplay", openDisplay) ||
        !Resolve(c->x11, "XCloseDisplay", c->closeDisplay) || !Resolve(c->x11, "XFree", c->free) ||
        !Resolve(c->x11, "XDefaultRootWindow", c->rootWindow) ||
        !Resolve(c->xss, "XScreenSaverQueryExtension", queryExtension) ||
        !Resolve(c->xss, "XScreenSaverAllocInfo", allocInfo) ||
        !Resolve(c->xss, "XScreenSaverQueryInfo", c->queryInfo))
        return;
    c->display = openDisplay(name.constData());
    if (!c->display)
        return;
    int eventBase = 0, errorBase = 0;
    if (!queryExtension(c->display, &eventBase, &errorBase))
        return;
    c->info = allocInfo();
    if (c->info)
        m_connection = std::move(c);
}

TXScreenSaver::~TXScreenSaver() = default;

bool TXScreenSaver::Available() const {
    return m_connection != nullptr;
}

std::optional<quint32> TXScreenSaver::IdleMilliseconds() {
    if (!m_connection)
        return std::nullopt;
    Connection& c = *m_connection;
    if (!c.queryInfo(c.display, c.rootWindow(c.display), c.info))
        return std::nullopt;
    return quint32(c.info->idle);
}

bool IsX11Session() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qgetenv("XDG_SESSION_TYPE") != "wayland";
}
