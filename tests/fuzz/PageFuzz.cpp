// Feeds arbitrary bytes through what a feed's text meets on its way into a page: active
// content removal, the sanitizer, and the template engine (the bytes as a template).
// Beyond not crashing or hanging, every tag the sanitizer writes must be one of its
// own: nothing outside the allow-list, no event handler, no unquoted attribute.
#include "feeds/ChannelPages.h"
#include "feeds/HTMLSanitizer.h"
#include "feeds/HTMLTemplateParser.h"

#include <QTemporaryFile>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// Every "<" of the output opens a tag the sanitizer wrote (text has "&lt;"), and no
// attribute value holds a raw quote or ">", so tags can be read without a parser.
void CheckTags(const QByteArray& html) {
    static const QList<QByteArray> forbidden{"script", "style",  "iframe", "frame", "object",
                                             "embed",  "applet", "meta",   "base",  "link",
                                             "form",   "input",  "svg",    "math",  "textarea"};
    qsizetype at = 0;
    while ((at = html.indexOf('<', at)) >= 0) {
        const qsizetype end = html.indexOf('>', at);
        Check(end > at);
        QByteArray tag = html.mid(at + 1, end - at - 1).toLower();
        if (tag.startsWith('/'))
            tag.remove(0, 1);
        const qsizetype nameEnd = tag.indexOf(' ');
        const QByteArray name = nameEnd < 0 ? tag : tag.left(nameEnd);
        Check(!forbidden.contains(name));
        // Outside the quoted values, only names and "=" remain.
        QByteArray outside;
        bool quoted = false;
        for (char c : tag) {
            if (c == '"')
                quoted = !quoted;
            else if (!quoted)
                outside.append(c);
        }
        Check(!quoted);
        Check(!outside.contains(" on") && !outside.contains(" id=") && !outside.contains("'"));
        at = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromUtf8(input);

    const QString removed = RemoveActiveContent(text);
    const QString clean = SanitizeHtml(removed, QStringLiteral("https://base.example/dir/"));
    CheckTags(clean.toUtf8());
    CheckTags(SanitizeHtml(text).toUtf8());
    (void)SafeLinkAddress(text, TLinkUse::Link, QStringLiteral("http://base.example/"));
    Check(!EscapeHtml(text).contains(u'<'));

    // The bytes as a template, with values that look like placeholders themselves.
    QTemporaryFile file;
    if (file.open()) {
        file.write(input);
        file.flush();
        TTemplateParser parser;
        parser.SetFileName(file.fileName());
        parser.SetValue("a", "$b$");
        parser.SetValue("b", "$a$");
        parser.SetValue("", "empty");
        parser.SetStream("topics", input.left(64));
        QByteArray out;
        parser.Render(out);
        parser.Render(out);
    }
    return 0;
}
