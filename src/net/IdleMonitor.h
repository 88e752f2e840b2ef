#pragma once
// TIdleMonitor notices when the user has left the computer alone for the configured
// time ("IdleTime" minutes) and when they come back; downloads of normal priority run
// only in between. It looks every ten seconds. The main window owns one and reacts to
// its signals.

#include <QObject>
#include <QTimer>
#include <functional>

class TConfiguration;

class TIdleMonitor : public QObject {
    Q_OBJECT

public:
    static constexpr int kCheckIntervalMs = 10000;

    // idleClock gives the milliseconds since the last input (IdleMilliseconds when not
    // given); the settings are read at every tick.
    explicit TIdleMonitor(std::function<quint32()> idleClock = {},
                          TConfiguration* configuration = nullptr, QObject* parent = nullptr);

    // True while downloads run because the user is away.
    bool IdleDownloading() const { return m_idleDownloading; }
    void SetIdleDownloading(bool idle) { m_idleDownloading = idle; }

    // Starts IdleMonitorTimer.
    void Start();
    // A tick of IdleMonitorTimer; the timer calls it, and so may tests.
    void Tick();

    QTimer IdleMonitorTimer;

signals:
    // Away for longer than the idle time, downloads switched on: start the normal ones.
    void UserWentAway();
    // Back: stop the downloads that are not of high priority.
    void UserCameBack();

private:
    std::function<quint32()> m_idleClock;
    TConfiguration* m_configuration;
    bool m_idleDownloading = false;
};
