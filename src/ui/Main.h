#pragma once
// The main window. It grows into the three-pane reader; for now it is the program's
// one window and answers a second start of the program.

#include <QMainWindow>

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);

    // Shows the window again, in front, as the tray's Restore command does.
    void RestoreFromTray();

public Q_SLOTS:
    void OnUrlPending();
    void OnShowInstance();
};
