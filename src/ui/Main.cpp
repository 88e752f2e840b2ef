#include "Main.h"

#include "shell/QuillmarInstance.h"
#include "shell/ReaderConfig.h"

#include <QCloseEvent>
#include <QStatusBar>

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Quillmar Reader"));
    resize(900, 600);
}

void TfrmMain::RestoreFromTray() {
    TConfiguration::Instance().RunMinimized = false;
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

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        applyPlacement();
    }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!TConfiguration::Instance().RunMinimized)
        storePlacement();
    QMainWindow::closeEvent(event);
}

void TfrmMain::applyPlacement() {
    const TWindowPlacement p = TConfiguration::Instance().LoadPlacement(objectName());
    QRect r = normalGeometry();
    if (p.Left)
        r.moveLeft(*p.Left);
    if (p.Top)
        r.moveTop(*p.Top);
    if (p.Width && *p.Width > 0)
        r.setWidth(*p.Width);
    if (p.Height && *p.Height > 0)
        r.setHeight(*p.Height);
    setGeometry(r);
    if (p.IsMaximized)
        setWindowState(*p.IsMaximized ? Qt::WindowMaximized : Qt::WindowNoState);
}

void TfrmMain::storePlacement() {
    const QRect r = isMaximized() ? normalGeometry() : geometry();
    TConfiguration::Instance().SavePlacement(
        objectName(), {r.left(), r.top(), r.height(), r.width(), isMaximized()});
}
