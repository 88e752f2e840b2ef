#include "UserInputFilter.h"

#include "net/SensApi.h"

#include <QEvent>

bool TUserInputFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        NoteUserInput();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
