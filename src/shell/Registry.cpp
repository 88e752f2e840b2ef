#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

const QString TRegistry::RootKey = QStringLiteral("Software\\Vantrell\\Quillmar");

namespace {

QString g_fileNameOverride;

QString DefaultFileName() {
    QSettings probe(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vantrell"),
                    QStringLiteral("Quillmar"));
    return probe.fileName();
}

// A registry DWORD is 32 bits; accept both its signed and unsigned spellings.
std::optional<qint32> ParseDWord(const QString& text) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return static_cast<qint32>(static_cast<quint32>(v));
}

// A hand-edited value with an unquoted comma comes back from QSettings as a list.
QString ValueText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

} // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetFileName(const QString& fileName) {
    g_fileNameOverride = fileName;
}

QString TRegistry::FileName() {
    return g_fileNameOverride.isEmpty() ? DefaultFileName() : g_fileNameOverride;
}

QString TRegistry::groupOf(const QString& key) const {
    QString k = key;
    while (k.startsWith(u'\\'))
        k.remove(0, 1);
    while (k.endsWith(u'\\'))
        k.chop(1);
    if (k.compare(RootKey, Qt::CaseInsensitive) == 0)
        return {};
    if (k.startsWith(RootKey + u'\\', Qt::CaseInsensitive))
        return k.mid(RootKey.size() + 1).replace(u'\\', u'/');
    return QStringLiteral("HKCU/") + k.replace(u'\\', u'/');
}

QString TRegistry::path(const QString& name) const {
    // A key's unnamed (default) value is written "@", as registry export files do.
    const QString valueName = name.isEmpty() ? QStringLiteral("@") : name;
    return m_group.isEmpty() ? valueName : m_group + u'/' + valueName;
}

bool TRegistry::KeyExists(const QString& key) const {
    QSettings settings(FileName(), QSettings::IniFormat);
    const QString group = groupOf(key);
    if (group.isEmpty()) {
        QStringList groups = settings.childGroups();
        groups.removeAll(QStringLiteral("HKCU"));
        return !settings.childKeys().isEmpty() || !groups.isEmpty();
    }
    settings.beginGroup(group);
    return !settings.childKeys().isEmpty() || !settings.childGroups().isEmpty();
}

bool TRegistry::OpenKey(const QString& key, bool canCreate) {
    CloseKey();
    if (!canCreate && !KeyExists(key))
        return false;
    m_settings = std::make_unique<QSettings>(FileName(), QSettings::IniFormat);
    m_group = groupOf(key);
    m_open = true;
    m_writable = true;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const QString& key) {
    if (!OpenKey(key, false))
        return false;
    m_writable = false;
    return true;
}

void TRegistry::CloseKey() {
    if (m_settings && m_dirty) {
        ensurePrivateFile();
        m_settings->sync();
        // The file holds the account password: it stays readable by its owner only.
        QFile::setPermissions(m_settings->fileName(), QFile::ReadOwner | QFile::WriteOwner);
    }
    m_settings.reset();
    m_group.clear();
    m_open = false;
    m_writable = false;
    m_dirty = false;
}

void TRegistry::ensurePrivateFile() {
    const QString name = m_settings->fileName();
    if (QFileInfo::exists(name))
        return;
    const QFileInfo info(name);
    QDir().mkpath(info.absolutePath());
    QFile::setPermissions(info.absolutePath(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Created empty and private before QSettings writes into it: the atomic save
    // keeps the permissions of the file it replaces.
    QFile file(name);
    if (file.open(QIODevice::WriteOnly))
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

bool TRegistry::DeleteKey(const QString& key) {
    const QString group = groupOf(key);
    if (group.isEmpty())
        return false;
    QSettings settings(FileName(), QSettings::IniFormat);
    settings.remove(group);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool TRegistry::ValueExists(const QString& name) const {
    return m_open && m_settings->contains(path(name));
}

TRegistry::TDataType TRegistry::GetDataType(const QString& name) const {
    if (!ValueExists(name))
        return TDataType::None;
    return ParseDWord(ValueText(m_settings->value(path(name)))) ? TDataType::DWord
                                                                : TDataType::String;
}

QStringList TRegistry::GetValueNames() const {
    if (!m_open)
        return {};
    m_settings->beginGroup(m_group);
    QStringList names = m_settings->childKeys();
    m_settings->endGroup();
    return names;
}

std::optional<qint32> TRegistry::ReadInteger(const QString& name) const {
    if (!ValueExists(name))
        return std::nullopt;
    return ParseDWord(ValueText(m_settings->value(path(name))));
}

std::optional<bool> TRegistry::ReadBool(const QString& name) const {
    const auto value = ReadInteger(name);
    if (!value)
        return std::nullopt;
    return *value != 0;
}

std::optional<QString> TRegistry::ReadString(const QString& name) const {
    if (!ValueExists(name))
        return std::nullopt;
    return ValueText(m_settings->value(path(name)));
}

void TRegistry::WriteInteger(const QString& name, qint32 value) {
    if (!m_open || !m_writable)
        return;
    m_settings->setValue(path(name), value);
    m_dirty = true;
}

void TRegistry::WriteBool(const QString& name, bool value) {
    WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteString(const QString& name, const QString& value) {
    if (!m_open || !m_writable)
        return;
    m_settings->setValue(path(name), value);
    m_dirty = true;
}

bool TRegistry::DeleteValue(const QString& name) {
    if (!m_open || !m_writable || !ValueExists(name))
        return false;
    m_settings->remove(path(name));
    m_dirty = true;
    return true;
}
