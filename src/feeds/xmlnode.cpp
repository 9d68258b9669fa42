#include "feeds/xmlnode.h"

#include <algorithm>

namespace feeds {

namespace {

QByteArrayView View(const xmlChar* text) {
    return text ? QByteArrayView(reinterpret_cast<const char*>(text)) : QByteArrayView();
}

bool HasQualifiedName(const xmlNs* ns, const xmlChar* local, QByteArrayView name) {
    const QByteArrayView localName = View(local);
    if (!ns || !ns->prefix)
        return localName == name;
    const QByteArrayView prefix = View(ns->prefix);
    return name.size() == prefix.size() + 1 + localName.size() && name.startsWith(prefix) &&
           name[prefix.size()] == ':' && name.endsWith(localName);
}

void AppendText(const xmlNode* node, QByteArray& out) {
    for (const xmlNode* child = node->children; child; child = child->next) {
        switch (child->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            out += View(child->content);
            break;
        case XML_ELEMENT_NODE:
            AppendText(child, out);
            break;
        default:
            break;
        }
    }
}

// A node's DOM name in two parts: the prefix (empty when none) and the rest.
void NameParts(const xmlNode* node, QByteArrayView& prefix, QByteArrayView& local) {
    prefix = {};
    switch (node->type) {
    case XML_ELEMENT_NODE:
        if (node->ns && node->ns->prefix)
            prefix = View(node->ns->prefix);
        local = View(node->name);
        break;
    case XML_ATTRIBUTE_NODE: {
        const auto* attribute = reinterpret_cast<const xmlAttr*>(node);
        if (attribute->ns && attribute->ns->prefix)
            prefix = View(attribute->ns->prefix);
        local = View(attribute->name);
        break;
    }
    case XML_TEXT_NODE:
        local = "#text";
        break;
    case XML_CDATA_SECTION_NODE:
        local = "#cdata-section";
        break;
    case XML_COMMENT_NODE:
        local = "#comment";
        break;
    case XML_DOCUMENT_NODE:
        local = "#document";
        break;
    default:
        local = View(node->name);
        break;
    }
}

bool IsAscii(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

QByteArrayView TrimBytes(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    return text.sliced(begin, end - begin);
}

// Bytes of the document, not copied.
QByteArray Borrowed(QByteArrayView bytes) {
    return QByteArray::fromRawData(bytes.isNull() ? "" : bytes.data(), bytes.size());
}

// Calls use with the text content as UTF-8, without copying when the node holds one piece of text.
template <typename Use> auto WithContent(const xmlNode* node, Use use) {
    if (!node)
        return use(QByteArrayView());
    if (node->type != XML_ELEMENT_NODE && node->type != XML_ATTRIBUTE_NODE &&
        node->type != XML_DOCUMENT_NODE)
        return use(View(node->content));
    const xmlNode* child = node->children;
    if (!child)
        return use(QByteArrayView());
    if (!child->next && (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE))
        return use(View(child->content));
    QByteArray text;
    AppendText(node, text);
    return use(QByteArrayView(text));
}

// The attribute's value; borrowed tells whether it points into the document.
std::optional<QByteArray> FindAttribute(const xmlNode* element, QByteArrayView name,
                                        bool& borrowed) {
    borrowed = true;
    if (!element || element->type != XML_ELEMENT_NODE)
        return std::nullopt;
    if (name == "xmlns" || name.startsWith("xmlns:")) {
        const QByteArrayView prefix = name.size() > 5 ? name.sliced(6) : QByteArrayView();
        for (const xmlNs* ns = element->nsDef; ns; ns = ns->next) {
            const bool match =
                prefix.isNull() ? ns->prefix == nullptr : ns->prefix && View(ns->prefix) == prefix;
            if (match)
                return Borrowed(View(ns->href));
        }
        return std::nullopt;
    }
    for (const xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
        if (!HasQualifiedName(attribute->ns, attribute->name, name))
            continue;
        const xmlNode* child = attribute->children;
        if (!child)
            return QByteArray("");
        if (!child->next && child->type == XML_TEXT_NODE)
            return Borrowed(View(child->content));
        QByteArray text;
        AppendText(reinterpret_cast<const xmlNode*>(attribute), text);
        borrowed = false;
        return text;
    }
    return std::nullopt;
}

} // namespace

QByteArray NodeName(const xmlNode* node) {
    if (!node)
        return {};
    QByteArrayView prefix;
    QByteArrayView local;
    NameParts(node, prefix, local);
    if (prefix.isEmpty())
        return local.toByteArray();
    QByteArray name = prefix.toByteArray();
    name += ':';
    name += local;
    return name;
}

TLowerName::TLowerName(const xmlNode* node) {
    if (!node)
        return;
    QByteArrayView prefix;
    QByteArrayView local;
    NameParts(node, prefix, local);
    const qsizetype size = (prefix.isEmpty() ? 0 : prefix.size() + 1) + local.size();
    if (size > qsizetype(buffer_.size()) || !IsAscii(prefix) || !IsAscii(local)) {
        heap_ = QString::fromUtf8(NodeName(node)).toLower().toUtf8();
        return;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    char* out = buffer_.data();
    if (!prefix.isEmpty()) {
        out = std::transform(prefix.begin(), prefix.end(), out, lower);
        *out++ = ':';
    }
    std::transform(local.begin(), local.end(), out, lower);
    size_ = size;
}

bool IsElementNamed(const xmlNode* node, QByteArrayView name) {
    return node && node->type == XML_ELEMENT_NODE && HasQualifiedName(node->ns, node->name, name);
}

const xmlNode* FirstChildElement(const xmlNode* parent, QByteArrayView name) {
    if (!parent)
        return nullptr;
    for (const xmlNode* child = parent->children; child; child = child->next) {
        if (IsElementNamed(child, name))
            return child;
    }
    return nullptr;
}

QString TextContent(const xmlNode* node) {
    return WithContent(node, [](QByteArrayView text) { return QString::fromUtf8(text); });
}

QString Text(const xmlNode* node) {
    return WithContent(node,
                       [](QByteArrayView text) { return QString::fromUtf8(TrimBytes(text)); });
}

QByteArray TextUtf8(const xmlNode* node) {
    return WithContent(node, [](QByteArrayView text) { return TrimBytes(text).toByteArray(); });
}

QString TrimWhite(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

std::optional<QByteArray> AttributeUtf8(const xmlNode* element, QByteArrayView name) {
    bool borrowed = true;
    return FindAttribute(element, name, borrowed);
}

std::optional<QString> AttributeValue(const xmlNode* element, QByteArrayView name) {
    const std::optional<QByteArray> value = AttributeUtf8(element, name);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(*value);
}

std::optional<QByteArray> TrimmedAttributeUtf8(const xmlNode* element, QByteArrayView name) {
    bool borrowed = true;
    const std::optional<QByteArray> value = FindAttribute(element, name, borrowed);
    if (!value)
        return std::nullopt;
    const QByteArrayView trimmed = TrimBytes(*value);
    return borrowed ? Borrowed(trimmed) : trimmed.toByteArray();
}

} // namespace feeds
