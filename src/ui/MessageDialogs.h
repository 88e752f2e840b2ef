#pragma once
// The program's one kind of message box, centred on the window the user works in, and
// the colouring of edits by their state.

#include <QMessageBox>
#include <QPoint>
#include <QRect>
#include <memory>

class QWidget;

enum class TMsgDlgType { Warning, Error, Information, Confirmation };

// Where a dialog of the given size stands centred on a window's frame: the window's
// left + half its width - half the dialog's width (halves rounded toward zero), and the
// same for top and height.
QPoint CenteredPosition(const QRect& window, const QSize& dialog);

// The message box, built but not shown: it centres itself on `window` (when not null)
// as it is shown. The text is always plain text, since it often carries feed titles or
// addresses that must not be read as markup.
std::unique_ptr<QMessageBox> CreateCenteredMessage(const QString& text, TMsgDlgType kind,
                                                   QMessageBox::StandardButtons buttons,
                                                   int helpContext, QWidget* window);

// Shows the message modally over the active window and answers the button pressed
// (NoButton when the box was closed without one). Errors use TMsgDlgType::Error with
// QMessageBox::Ok; questions TMsgDlgType::Confirmation with Yes and No.
QMessageBox::StandardButton ShowCenteredMessage(const QString& text, TMsgDlgType kind,
                                                QMessageBox::StandardButtons buttons,
                                                int helpContext = 0);

// Enables or disables an edit; an enabled edit has the window colour, a disabled one the
// button-face colour.
void SetEditEnabled(QWidget* edit, bool enabled);

// Makes an edit read-only, coloured like a button face, or writable in the window colour.
void SetEditReadOnly(QWidget* edit, bool readOnly);
