#include "Main.h"

#include <QStatusBar>

#include "shell/QuillmarInstance.h"

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Quillmar Reader"));
    resize(900, 600);
}

void TfrmMain::RestoreFromTray() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TfrmMain::OnUrlPending() {
    // Until the add-channel dialog exists the window shows which address waits.
    RestoreFromTray();
    const QByteArray url = TQuillmar::Instance().GetPendingUrl();
    if (!url.isEmpty())
        statusBar()->showMessage(QString::fromUtf8(url));
}

void TfrmMain::OnShowInstance() {
    if (!TQuillmar::Instance().GetPendingUrl().isEmpty())
        OnUrlPending();
    else
        RestoreFromTray();
}
