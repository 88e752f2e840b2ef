#pragma once
// The main window. It grows into the three-pane reader; for now it is the program's
// one window, keeps its placement and answers a second start of the program.

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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void applyPlacement();
    void storePlacement();

    bool m_shown = false;
};
