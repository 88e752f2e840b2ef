// A language file is text a stranger may have written: parsing it must never fail in
// any other way than by rejecting it, and its texts must survive the formatter.
#include "shell/LanguageFile.h"
#include "shell/MessageFormat.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto content = ParseLanguageFile(bytes);
    if (!content)
        return 0;
    for (const QString& text : content->Constants)
        FormatMessage(text, {"title", 42, 12.5});
    return 0;
}
