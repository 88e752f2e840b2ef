#pragma once
// The "system code page" of 8-bit texts (keys, names, addresses). In memory such texts
// are UTF-8. Files written on Windows hold them in the writer's ANSI code page, which is
// Windows-1252 for the programs' Western users: bytes that are not valid UTF-8 are read
// as Windows-1252, so old files still show their accented letters.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Every byte below 0x80.
bool IsAscii(QByteArrayView bytes);

// A well-formed UTF-8 byte sequence (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool IsValidUtf8(QByteArrayView bytes);

// Windows-1252 to UTF-16. The five bytes the code page leaves undefined map to the C1
// control of the same value, as Windows itself does.
QString FromWindows1252(QByteArrayView bytes);

// An 8-bit text as the user reads it: UTF-8 when valid, else Windows-1252.
QString FromSystemCodePage(QByteArrayView bytes);

// A user's text as an 8-bit text.
QByteArray ToSystemCodePage(const QString& text);

// An 8-bit text from outside (a file) as it is kept in memory: unchanged when it is
// valid UTF-8, else re-encoded from Windows-1252.
QByteArray NormalizeSystemCodePage(const QByteArray& bytes);
