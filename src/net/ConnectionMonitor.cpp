#include "ConnectionMonitor.h"

#include "net/SensApi.h"

TConnectionMonitor::TConnectionMonitor(std::function<bool()> probe, QObject* parent)
    : QObject(parent),
      m_probe(probe ? std::move(probe) : std::function<bool()>(IsNetworkAvailable)),
      m_offline(!m_probe()) {
    ConnectionCheckTimer.setInterval(kCheckIntervalMs);
    connect(&ConnectionCheckTimer, &QTimer::timeout, this, &TConnectionMonitor::CheckConnection);
    GoOnlineTimer.setInterval(kConfirmationMs);
    GoOnlineTimer.setSingleShot(true);
    connect(&GoOnlineTimer, &QTimer::timeout, this, &TConnectionMonitor::ConfirmOnline);
}

void TConnectionMonitor::Start() {
    ConnectionCheckTimer.start();
}

void TConnectionMonitor::CheckConnection() {
    const bool available = m_probe();
    if (available && m_offline) {
        m_offline = false;
        GoOnlineTimer.start();
        emit CameBack();
    } else if (!available && !m_offline) {
        m_offline = true;
        // A confirmation still running would announce a network that is gone again.
        GoOnlineTimer.stop();
        emit WentOffline();
    }
}

void TConnectionMonitor::ConfirmOnline() {
    GoOnlineTimer.stop();
    if (m_probe())
        emit OnlineConfirmed();
    else
        m_offline = true;
}
