#pragma once
// Puts a window's captions, hints and texts into the current language when the window
// is created, and again when the language changes. Each window owns one:
//
//   TfrmAddChannel::TfrmAddChannel(...) { setObjectName("frmAddChannel"); ...
//       new TLanguageController(this); }
//
// The translations come from the window's section of the language file, by the
// window's object name (or its class name without the leading "T"); entries name a
// child by its object name: "btnOk.Caption", "actRefresh.Hint", or "Caption" for the
// window itself. Caption becomes the window title, a group's or menu's title, or the
// text; Hint becomes the tool tip; other names are Qt properties (first letter lower
// case). What the file cannot name is left alone, and the form's own texts come back
// when the program returns to English.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVariant>

class QWidget;

class TLanguageController : public QObject {
    Q_OBJECT
public:
    explicit TLanguageController(QWidget* window);

    // Applies the current language now (the constructor and language changes do it).
    void Apply();

    QString WindowName() const;

private:
    struct TTarget {
        QObject* object = nullptr;
        QByteArray property;
    };
    TTarget resolve(const QString& entry) const;

    QPointer<QWidget> m_window;
    // The form's own values of what a translation replaced, to restore English.
    QHash<QString, QVariant> m_original;
};
