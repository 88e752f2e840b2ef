#pragma once
// Watches every input event of the program and tells the idle clock of the core about
// it (NoteUserInput): where the display server does not say how long the user has
// been away, the program's own input is the measure. Installed once on the
// application object; it lets every event through.

#include <QObject>

class TUserInputFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
