#pragma once
// The per-user settings store. On Windows this is HKEY_CURRENT_USER; here it is one
// INI file (organisation "Vantrell", application "Quillmar") reached through
// QSettings. Callers speak in registry terms: keys with "\" separators, values of
// type REG_DWORD (ReadInteger/ReadBool) or REG_SZ (ReadString), so a Windows build
// can put the real registry behind the same class.
//
// Key mapping inside the file: the program's own key "Software\Vantrell\Quillmar" is
// the file's top level and its sub-keys are groups ("frmMain"); every other key is
// kept under the group "HKCU" with its full path.

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

class TRegistry {
public:
    enum class TDataType { None, DWord, String };

    TRegistry();
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Opens a key below HKEY_CURRENT_USER. Without canCreate a missing key fails.
    bool OpenKey(const QString& key, bool canCreate);
    bool OpenKeyReadOnly(const QString& key);
    void CloseKey();
    bool KeyExists(const QString& key) const;
    bool DeleteKey(const QString& key);

    bool ValueExists(const QString& name) const;
    TDataType GetDataType(const QString& name) const;
    QStringList GetValueNames() const;

    // Readers answer nothing for a value that is missing or has another type.
    std::optional<qint32> ReadInteger(const QString& name) const;
    std::optional<bool> ReadBool(const QString& name) const;
    std::optional<QString> ReadString(const QString& name) const;

    void WriteInteger(const QString& name, qint32 value);
    void WriteBool(const QString& name, bool value);
    void WriteString(const QString& name, const QString& value);
    bool DeleteValue(const QString& name);

    // The settings file. Tests point it elsewhere; an empty name restores the default.
    static void SetFileName(const QString& fileName);
    static QString FileName();

    static const QString RootKey; // "Software\Vantrell\Quillmar"

private:
    QString groupOf(const QString& key) const;
    QString path(const QString& name) const;
    void ensurePrivateFile();

    std::unique_ptr<QSettings> m_settings;
    QString m_group;
    bool m_open = false;
    bool m_writable = false;
    bool m_dirty = false;
};
