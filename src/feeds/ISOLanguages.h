#pragma once
// The language codes a channel can carry: a fixed table of culture names with their
// Windows language identifiers. A feed's language text is looked up in it, so that
// "EN-us" and "en-US" are one language and unknown codes fall back to English (United
// States).

#include <QString>
#include <QStringView>
#include <span>

struct TISOLanguage {
    const char* Code;     // culture name, "en-US"
    const char* Name;     // English display name, "English (United States)"
    quint16 LangId;       // Windows language identifier, 1033
    const char* CodePage; // Windows code page name, "Windows-1252"
    const char* Charset;  // MIME charset name, "iso-8859-1"
};

class TISOLanguages {
public:
    // The 136 rows in table order.
    static std::span<const TISOLanguage> Rows();
    static const TISOLanguage& Row(int index) { return Rows()[size_t(index)]; }

    // The row whose code equals the code ignoring case (surrounding spaces aside); the
    // row of 1033 (en-US) when none does.
    static int IndexOfCode(QStringView code);
    // The row with that identifier; the row of 1033 when none has it.
    static int IndexOfLangId(quint16 langId);
    // The row of the user's own language (the system locale).
    static int DefaultLanguage();

    // The table's spelling of a language code: "EN-us" gives "en-US", "en" gives "en-US".
    static QString CodeOf(QStringView code) {
        return QString::fromLatin1(Row(IndexOfCode(code)).Code);
    }
    // The code of the user's own language.
    static QString DefaultCode() { return QString::fromLatin1(Row(DefaultLanguage()).Code); }

    // The language identifier of the system locale; 1033 when the table lacks it.
    static quint16 UserDefaultLangId();
};
