#include "LanguageController.h"

#include "shell/UIUtils.h"

#include <QAction>
#include <QDockWidget>
#include <QGroupBox>
#include <QMenu>
#include <QMetaProperty>
#include <QWidget>

namespace {

bool HasProperty(const QObject* object, const char* name) {
    return object->metaObject()->indexOfProperty(name) >= 0;
}

QByteArray QtProperty(const QObject* object, bool isWindow, const QString& name) {
    const QString lower = name.toLower();
    if (lower == QStringLiteral("caption")) {
        if (isWindow || qobject_cast<const QDockWidget*>(object))
            return "windowTitle";
        if (qobject_cast<const QGroupBox*>(object) || qobject_cast<const QMenu*>(object))
            return "title";
        if (HasProperty(object, "text"))
            return "text";
        return "windowTitle";
    }
    if (lower == QStringLiteral("hint"))
        return "toolTip";
    if (lower == QStringLiteral("text") && !HasProperty(object, "text") &&
        HasProperty(object, "plainText"))
        return "plainText";
    QByteArray property = name.toUtf8();
    if (!property.isEmpty())
        property[0] = char(QChar::toLower(uint(uchar(property[0]))));
    return property;
}

} // namespace

TLanguageController::TLanguageController(QWidget* window) : QObject(window), m_window(window) {
    connect(&TLanguageManager::Instance(), &TLanguageManager::LanguageChanged, this,
            &TLanguageController::Apply);
    Apply();
}

QString TLanguageController::WindowName() const {
    if (!m_window)
        return {};
    if (!m_window->objectName().isEmpty())
        return m_window->objectName();
    QString name = QString::fromLatin1(m_window->metaObject()->className());
    if (name.startsWith(u'T'))
        name.remove(0, 1);
    return name;
}

TLanguageController::TTarget TLanguageController::resolve(const QString& entry) const {
    const qsizetype dot = entry.indexOf(u'.');
    QObject* object = m_window;
    QString property = entry;
    if (dot >= 0) {
        const QString component = entry.left(dot);
        property = entry.mid(dot + 1);
        object = m_window->findChild<QObject*>(component);
    }
    if (!object || property.isEmpty())
        return {};
    const QByteArray name = QtProperty(object, object == m_window, property);
    if (!HasProperty(object, name.constData()))
        return {};
    return {object, name};
}

void TLanguageController::Apply() {
    if (!m_window)
        return;
    const TWindowTexts texts = TLanguageManager::Instance().WindowTranslations(WindowName());
    // What the previous language changed and this one does not: the form's own value.
    for (auto it = m_original.begin(); it != m_original.end();) {
        if (texts.contains(it.key())) {
            ++it;
            continue;
        }
        const TTarget target = resolve(it.key());
        if (target.object)
            target.object->setProperty(target.property.constData(), it.value());
        it = m_original.erase(it);
    }
    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        const TTarget target = resolve(it.key());
        if (!target.object)
            continue;
        if (!m_original.contains(it.key()))
            m_original.insert(it.key(), target.object->property(target.property.constData()));
        target.object->setProperty(target.property.constData(), it.value());
    }
}
