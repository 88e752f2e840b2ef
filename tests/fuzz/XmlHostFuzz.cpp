// Loads arbitrary bytes as an XML document and, when they are one, reads every element
// the way the feed readers do, keeps and writes back unrecognised elements, and checks
// that what the formatter writes loads again.
#include "feeds/XDomFormatter.h"
#include "feeds/XDomHost.h"

#include <cstdint>
#include <cstdlib>

namespace {

void ReadEverything(const xmlNode* root, TXmlDocumentPart& part) {
    // Iterative, as the readers are: depth is the input's choice.
    for (const xmlNode* node = root; node;) {
        if (TXmlHost::IsElement(node)) {
            TXmlHost::NodeText(node);
            TXmlHost::NodeName(node);
            const XmlAttributeList attributes = TXmlHost::Attributes(node);
            TXmlHost::FindAttribute(attributes, "xmlns");
            TXmlHost::AttributeInteger(node, "length", -1);
            if (node->parent == root)
                part.KeepUnresolved(node);
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (node && node != root && !node->next)
            node = node->parent;
        node = node && node != root ? node->next : nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlDocument document;
    try {
        document = TXmlHost::LoadDocument(
            QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const EInvalidXmlDocument&) {
        return 0;
    }
    const xmlNode* root = TXmlHost::DocumentElement(document.get());
    TXmlDocumentPart part;
    part.SourceFormat = "RSS";
    ReadEverything(root, part);
    TNodeFormatter::NodeXml(root);

    XmlDocument copy = TXmlHost::CreateDocument();
    xmlNode* copyRoot = TXmlHost::CreateElement(copy.get(), "rss", {});
    TXmlHost::SetDocumentElement(copy.get(), copyRoot);
    part.WriteUnresolved(copyRoot, "RSS");
    TXmlHost::SaveDocument(copy.get());

    const QByteArray written = TXmlFormatter().WriteDocument(document.get());
    try {
        TXmlHost::LoadDocument(written);
    } catch (const EInvalidXmlDocument&) {
        std::abort(); // the formatter wrote something that is not XML
    }
    return 0;
}
