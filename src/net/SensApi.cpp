#include "SensApi.h"

#include "net/XScreenSaver.h"

#include <QElapsedTimer>
#include <QNetworkInformation>
#include <atomic>
#include <mutex>

namespace {

QElapsedTimer& ProgramClock() {
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock;
}

// The clock starts with the program, the first "input".
const bool g_clockStarted = (ProgramClock(), true);
std::atomic<quint32> g_lastInput{0};

} // namespace

bool IsNetworkAvailable() {
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        if (!QNetworkInformation::loadDefaultBackend())
            QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    });
    const QNetworkInformation* information = QNetworkInformation::instance();
    if (!information)
        return true;
    return information->reachability() != QNetworkInformation::Reachability::Disconnected;
}

void NoteUserInput() {
    g_lastInput = quint32(ProgramClock().elapsed());
}

quint32 MillisecondsSinceUserInput() {
    return quint32(ProgramClock().elapsed()) - g_lastInput;
}

quint32 IdleMilliseconds() {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    static std::unique_ptr<TXScreenSaver> screenSaver;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (IsX11Session())
            screenSaver = std::make_unique<TXScreenSaver>();
    }
    if (screenSaver)
        if (const auto idle = screenSaver->IdleMilliseconds())
            return *idle;
    return MillisecondsSinceUserInput();
}
