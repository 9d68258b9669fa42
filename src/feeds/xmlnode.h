#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <libxml/tree.h>

#include <array>
#include <optional>

// Read-only views of libxml2 nodes in the terms of a DOM: node names, text content and attribute
// values. Every function accepts a null node and then answers as for a node without content.
namespace feeds {

// The DOM name of a node: the qualified name (prefix:local) of an element or attribute,
// "#text", "#cdata-section", "#comment" and "#document" for those kinds, the target of a
// processing instruction, the name of an entity reference. UTF-8.
QByteArray NodeName(const xmlNode* node);

// NodeName lower-cased with QString::toLower. Short ASCII names, nearly all of them, stay on the
// stack: the readers compare the name of every node they pass.
class TLowerName {
public:
    explicit TLowerName(const xmlNode* node);
    QByteArrayView View() const {
        return heap_.isNull() ? QByteArrayView(buffer_.data(), size_) : QByteArrayView(heap_);
    }
    friend bool operator==(const TLowerName& name, QByteArrayView text) {
        return name.View() == text;
    }

private:
    std::array<char, 48> buffer_;
    qsizetype size_ = 0;
    QByteArray heap_;
};

// Whether the node is an element whose qualified name is exactly name.
bool IsElementNamed(const xmlNode* node, QByteArrayView name);

// The first child element whose qualified name is exactly name, or null.
const xmlNode* FirstChildElement(const xmlNode* parent, QByteArrayView name);

// The text content: for an element the text and CDATA of all its descendants in document order;
// for any other node its own content.
QString TextContent(const xmlNode* node);

// TextContent without the characters up to U+0020 (controls and space) at either end.
QString Text(const xmlNode* node);
// The same as UTF-8.
QByteArray TextUtf8(const xmlNode* node);

// The text without the characters up to U+0020 (controls and space) at either end.
QString TrimWhite(const QString& text);

// The value of an element's attribute by its qualified name, as written (untrimmed); "xmlns" and
// "xmlns:prefix" name the namespace declarations of the element. Nothing when it has none.
std::optional<QString> AttributeValue(const xmlNode* element, QByteArrayView name);
// The same as UTF-8. Usually it points into the document, so it is valid only while the document
// lives: the readers test many attributes of every item and keep few of them.
std::optional<QByteArray> AttributeUtf8(const xmlNode* element, QByteArrayView name);
// AttributeUtf8 without the bytes up to 0x20 at either end.
std::optional<QByteArray> TrimmedAttributeUtf8(const xmlNode* element, QByteArrayView name);

} // namespace feeds
