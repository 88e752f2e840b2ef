#pragma once
// Feed text made safe to put into our pages. Everything a feed delivers is untrusted:
// titles and authors are escaped, addresses are accepted only with a scheme that cannot
// run anything, and descriptions (HTML) pass an allow-list over libxml2's HTML parser,
// so that no script, event handler, frame, refresh or form of a feed comes alive in the
// browser pane or in an exported page.

#include <QString>

// The text with &, <, >, " and ' written as character references: safe as element
// content and inside a quoted attribute value alike.
QString EscapeHtml(const QString& text);

// Where an address is going to be used.
enum class TLinkUse {
    Link,  // a link to follow: http, https, mailto
    Image, // an image to show: http, https, or an embedded "data:image/..." picture
    Media, // audio or video to play: http, https
};

// The address when it is safe for that use, else an empty string. Tabs, line breaks
// and surrounding control characters and spaces are removed first, as browsers do
// before they look at the scheme. A relative address is resolved against base when base
// is an http or https address, and refused otherwise. Letters beyond ASCII are kept as
// they are.
QString SafeLinkAddress(const QString& address, TLinkUse use, const QString& base = {});

// The description with only harmless markup left:
// - script, style, iframe, frame, frameset, object, embed, applet, param, meta, base,
//   link, form and its controls, svg, math, template, head and title are dropped with
//   their content;
// - elements of ordinary text, lists, tables, images and media are kept with a short
//   list of attributes each; no "on..." attribute, id or class passes; an href or src
//   keeps only addresses that SafeLinkAddress accepts (relative ones resolved against
//   baseAddress), else the attribute goes; a style attribute that could load or run
//   anything goes;
// - any other element gives way to its content, and so does an element nested deeper
//   than MaxSanitizedDepth;
// - comments and processing instructions go.
// The result is well-formed markup whose text is escaped again.
QString SanitizeHtml(const QString& html, const QString& baseAddress = {});

inline constexpr int MaxSanitizedDepth = 200;
