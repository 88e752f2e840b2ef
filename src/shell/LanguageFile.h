#pragma once
// Language files ("*.lng"): UTF-8 text, one entry a line (docs/language-files.md).
//
//   ; a comment
//   LANGID=1031
//   Name=Deutsch
//   [Constants]
//   SStatusRefreshing=Kanäle werden aktualisiert...
//   [frmMain]
//   actRefresh.Caption=&Aktualisieren
//
// A text runs from after the first "=" to the end of the line, spaces included;
// "\n", "\t" and "\\" stand for a line break, a tab and a backslash.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// The translations of one window: "component.property" (or "property" for the window
// itself) to text.
using TWindowTexts = QHash<QString, QString>;

struct TLanguageFileContent {
    std::optional<quint16> LanguageId; // none when LANGID is missing, not a number or 0
    QString Name;                      // the language's own name, may be empty
    QHash<QString, QString> Constants;
    QHash<QString, TWindowTexts> Windows; // by window name
};

// Larger files are not language files; they are skipped without being read.
constexpr qint64 MaxLanguageFileSize = 4 * 1024 * 1024;

// The file's content, or nothing when it is malformed: not UTF-8, a line that is neither
// blank, comment, section nor "name=text", an empty name, a section without a name.
std::optional<TLanguageFileContent> ParseLanguageFile(const QByteArray& bytes);

// "LANGID" values: decimal, or hexadecimal after "0x" or "$"; 1 to 65535.
std::optional<quint16> ParseLanguageId(const QString& text);

// A text as it is written after "=".
QString EscapeLanguageText(const QString& text);
QString UnescapeLanguageText(const QString& text);
