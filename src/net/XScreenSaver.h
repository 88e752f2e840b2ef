#pragma once
// The idle time an X server measures for its screen saver, read through libXss, which
// is loaded when first needed: a build runs without the libraries, and a session
// without X simply has no such clock.

#include <QByteArray>
#include <memory>
#include <optional>

class TXScreenSaver {
public:
    // Connects to the display of that name (":0"); empty: the DISPLAY of the session.
    explicit TXScreenSaver(const QByteArray& display = {});
    ~TXScreenSaver();
    TXScreenSaver(const TXScreenSaver&) = delete;
    TXScreenSaver& operator=(const TXScreenSaver&) = delete;

    // The display answered and has the screen saver extension.
    bool Available() const;
    // Milliseconds since the last input the server saw, when available.
    std::optional<quint32> IdleMilliseconds();

    struct Connection;

private:
    std::unique_ptr<Connection> m_connection;
};

// The session's display server is X (not Wayland, where X clients see only their own
// input): DISPLAY is set, WAYLAND_DISPLAY is not, and the session type is not wayland.
bool IsX11Session();
