#pragma once
// TConnectionMonitor notices when the network goes away and when it comes back. It
// looks every second; a return counts once it has lasted twelve seconds, so that a
// flapping connection does not restart the downloads again and again. The main window
// owns one and reacts to its signals (banners, attachment downloads).

#include <QObject>
#include <QTimer>
#include <functional>

class TConnectionMonitor : public QObject {
    Q_OBJECT

public:
    static constexpr int kCheckIntervalMs = 1000;
    static constexpr int kConfirmationMs = 12000;

    // probe answers whether the network is reachable now (IsNetworkAvailable when
    // not given). Offline starts as the probe's first answer says.
    explicit TConnectionMonitor(std::function<bool()> probe = {}, QObject* parent = nullptr);

    bool Offline() const { return m_offline; }
    // Starts ConnectionCheckTimer.
    void Start();

    // The ticks of the two timers; the timers call them, and so may tests.
    void CheckConnection(); // ConnectionCheckTimer
    void ConfirmOnline();   // GoOnlineTimer

    QTimer ConnectionCheckTimer;
    QTimer GoOnlineTimer;

signals:
    // The network is gone: show the offline banners, stop the attachment downloads.
    void WentOffline();
    // The network is back; the confirmation has started (Offline() is already false).
    void CameBack();
    // The return lasted: show the online banners, let the downloads go on.
    void OnlineConfirmed();

private:
    std::function<bool()> m_probe;
    bool m_offline;
};
