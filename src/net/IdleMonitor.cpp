#include "IdleMonitor.h"

#include "net/SensApi.h"
#include "shell/ReaderConfig.h"

TIdleMonitor::TIdleMonitor(std::function<quint32()> idleClock, TConfiguration* configuration,
                           QObject* parent)
    : QObject(parent),
      m_idleClock(idleClock ? std::move(idleClock) : std::function<quint32()>(IdleMilliseconds)),
      m_configuration(configuration ? configuration : &TConfiguration::Instance()) {
    IdleMonitorTimer.setInterval(kCheckIntervalMs);
    connect(&IdleMonitorTimer, &QTimer::timeout, this, &TIdleMonitor::Tick);
}

void TIdleMonitor::Start() {
    IdleMonitorTimer.start();
}

void TIdleMonitor::Tick() {
    const qint64 threshold = qint64(m_configuration->IdleTime) * 60000;
    const qint64 idle = m_idleClock();
    if (m_idleDownloading && idle < threshold) {
        m_idleDownloading = false;
        emit UserCameBack();
        return;
    }
    if (m_idleDownloading || m_configuration->NoDownloads)
        return;
    if (idle > threshold) {
        m_idleDownloading = true;
        emit UserWentAway();
    }
}
