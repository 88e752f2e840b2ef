#pragma once
// Fills page templates. A template is 8-bit text in which a placeholder is a name of at
// most 20 bytes between two dollar signs; callers set named values and render. The
// engine knows nothing of channels or topics, and nothing of HTML either: values go in
// byte for byte, so whoever sets a value makes it fit where it lands (ChannelPages
// escapes every value it sets).
//
// A template comes from the program's resources (":/templates/NAME", looked up by the
// name in upper case, so "channel" finds "CHANNEL") or from a file. Text that a value
// brings in is never scanned for placeholders again.

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class TTemplateParser {
public:
    // A template file larger than this is taken as unreadable rather than loaded.
    static constexpr qint64 MaxTemplateFileSize = 16 * 1024 * 1024;
    // The longest placeholder name.
    static constexpr int MaxNameLength = 20;

    TTemplateParser() = default;

    // The template is the resource of that name; forgets the text read so far. Whether
    // the name is a resource or a file does not change.
    void SetResourceName(const QString& name);
    // The template is the file at path; forgets the text read so far.
    void SetFileName(const QString& path);
    const QString& TemplateName() const { return m_templateName; }
    bool FromFile() const { return m_fromFile; }

    // Stores the value under the name (case does not matter), replacing an earlier one;
    // it is inserted unchanged. Values stay for later renders until they are set again.
    void SetValue(const QByteArray& name, const QByteArray& value);
    // The value as UTF-8: characters beyond U+FFFF become one four-byte sequence; a
    // surrogate without its partner becomes U+FFFD.
    void SetWideValue(const QByteArray& name, const QString& value);
    // A copy of content stands for the placeholder; it takes precedence over a value set
    // under the same name.
    void SetStream(const QByteArray& name, const QByteArray& content);

    // Appends the filled template to target. False, and nothing written, when the
    // template cannot be read or is empty; a template that could not be read is tried
    // again on the next render.
    bool Render(QByteArray& target);

private:
    struct TTemplateItem {
        QByteArray Name; // lower case
        QByteArray Value;
        std::optional<QByteArray> Stream;
    };

    TTemplateItem& itemFor(const QByteArray& name);
    const TTemplateItem* findItem(const char* name, qsizetype length) const;
    void loadTemplate();

    QByteArray m_templateText;
    QString m_templateName;
    bool m_fromFile = false;
    std::vector<TTemplateItem> m_items;
};

// The bytes of the program's resource of that name (":/templates/" + the name in upper
// case) up to its first zero byte; empty when there is no such resource.
QByteArray LoadResourceText(const QString& name);
