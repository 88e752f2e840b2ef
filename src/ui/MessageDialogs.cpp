#include "MessageDialogs.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

namespace {

// Centres itself when shown: only then has the box laid out its text and taken its
// final size. The show event comes before the window appears on screen, so it never
// flashes in the wrong place.
class TCenteredMessageBox : public QMessageBox {
public:
    TCenteredMessageBox(QWidget* window) : QMessageBox(window), m_window(window) {}

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (m_window)
            move(CenteredPosition(m_window->frameGeometry(), frameGeometry().size()));
    }

private:
    QPointer<QWidget> m_window;
};

QString Caption(TMsgDlgType kind) {
    switch (kind) {
    case TMsgDlgType::Warning:
        return QMessageBox::tr("Warning");
    case TMsgDlgType::Error:
        return QMessageBox::tr("Error");
    case TMsgDlgType::Information:
        return QMessageBox::tr("Information");
    case TMsgDlgType::Confirmation:
        break;
    }
    return QMessageBox::tr("Confirm");
}

QMessageBox::Icon Icon(TMsgDlgType kind) {
    switch (kind) {
    case TMsgDlgType::Warning:
        return QMessageBox::Warning;
    case TMsgDlgType::Error:
        return QMessageBox::Critical;
    case TMsgDlgType::Information:
        return QMessageBox::Information;
    case TMsgDlgType::Confirmation:
        break;
    }
    return QMessageBox::Question;
}

void SetBaseColour(QWidget* edit, QPalette::ColorRole role) {
    QPalette palette = edit->palette();
    palette.setBrush(QPalette::Base, QApplication::palette().brush(role));
    palette.setBrush(QPalette::Disabled, QPalette::Base,
                     QApplication::palette().brush(QPalette::Active, role));
    edit->setPalette(palette);
}

} // namespace

QPoint CenteredPosition(const QRect& window, const QSize& dialog) {
    // Integer division truncates toward zero, which is the rounding wanted here.
    return {window.left() + window.width() / 2 - dialog.width() / 2,
            window.top() + window.height() / 2 - dialog.height() / 2};
}

std::unique_ptr<QMessageBox> CreateCenteredMessage(const QString& text, TMsgDlgType kind,
                                                   QMessageBox::StandardButtons buttons,
                                                   int helpContext, QWidget* window) {
    auto box = std::make_unique<TCenteredMessageBox>(window);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setIcon(Icon(kind));
    box->setWindowTitle(Caption(kind));
    box->setStandardButtons(buttons);
    box->setProperty("helpContext", helpContext);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

QMessageBox::StandardButton ShowCenteredMessage(const QString& text, TMsgDlgType kind,
                                                QMessageBox::StandardButtons buttons,
                                                int helpContext) {
    auto box =
        CreateCenteredMessage(text, kind, buttons, helpContext, QApplication::activeWindow());
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    return clicked ? box->standardButton(clicked) : QMessageBox::NoButton;
}

void SetEditEnabled(QWidget* edit, bool enabled) {
    if (!edit)
        return;
    edit->setEnabled(enabled);
    SetBaseColour(edit, enabled ? QPalette::Base : QPalette::Button);
}

void SetEditReadOnly(QWidget* edit, bool readOnly) {
    if (!edit)
        return;
    if (auto* line = qobject_cast<QLineEdit*>(edit))
        line->setReadOnly(readOnly);
    else if (auto* text = qobject_cast<QTextEdit*>(edit))
        text->setReadOnly(readOnly);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(edit))
        plain->setReadOnly(readOnly);
    else if (auto* spin = qobject_cast<QAbstractSpinBox*>(edit))
        spin->setReadOnly(readOnly);
    SetBaseColour(edit, readOnly ? QPalette::Button : QPalette::Base);
}
