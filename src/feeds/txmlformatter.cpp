#include "feeds/txmlformatter.h"

#include "feeds/xmlnode.h"

#include <QByteArray>

#include <climits>
#include <memory>

namespace feeds {

namespace {

constexpr int kIndentWidth = 4;

QByteArrayView View(const xmlChar* text) {
    return text ? QByteArrayView(reinterpret_cast<const char*>(text)) : QByteArrayView();
}

// A carriage return survives a parse only as a character reference, so a document written to be
// read as XML again keeps it as one.
void AppendEscaped(QByteArray& out, QByteArrayView text, bool attribute, bool keepReturns) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += attribute || keepReturns ? "&#13;" : "\r";
            break;
        case '"':
            out += attribute ? "&quot;" : "\"";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        default:
            out += c;
        }
    }
}

// Serialises nodes; with indent set it lays them out as TXmlFormatter::WriteIndented says.
class TMarkupWriter {
public:
    TMarkupWriter(QByteArray& out, int* depth) : out_(out), depth_(depth) {}

    void Node(const xmlNode* node) {
        switch (node->type) {
        case XML_ELEMENT_NODE:
            Element(node);
            break;
        case XML_TEXT_NODE:
            Indent();
            AppendEscaped(out_, View(node->content), false, depth_ != nullptr);
            break;
        case XML_CDATA_SECTION_NODE:
            Indent();
            out_ += "<![CDATA[";
            out_ += View(node->content);
            out_ += "]]>";
            break;
        case XML_COMMENT_NODE:
            Indent();
            out_ += "<!--";
            out_ += View(node->content);
            out_ += "-->";
            break;
        case XML_PI_NODE:
            Indent();
            out_ += "<?";
            out_ += View(node->name);
            if (node->content && *node->content) {
                out_ += ' ';
                out_ += View(node->content);
            }
            out_ += "?>";
            break;
        case XML_ENTITY_REF_NODE:
            Indent();
            out_ += '&';
            out_ += View(node->name);
            out_ += ';';
            break;
        case XML_DTD_NODE:
            Indent();
            DocumentType(node);
            break;
        default:
            break;
        }
    }

    void Indent() {
        if (depth_)
            out_.append(*depth_ * kIndentWidth, ' ');
    }

private:
    void Element(const xmlNode* element) {
        const QByteArray name = NodeName(element);
        Indent();
        out_ += '<';
        out_ += name;
        for (const xmlNs* ns = element->nsDef; ns; ns = ns->next) {
            out_ += " xmlns";
            if (ns->prefix) {
                out_ += ':';
                out_ += View(ns->prefix);
            }
            out_ += "=\"";
            AppendEscaped(out_, View(ns->href), true, true);
            out_ += '"';
        }
        for (const xmlAttr* attribute = element->properties; attribute;
             attribute = attribute->next) {
            const auto* node = reinterpret_cast<const xmlNode*>(attribute);
            out_ += ' ';
            out_ += NodeName(node);
            out_ += "=\"";
            AppendEscaped(out_, TextContent(node).toUtf8(), true, true);
            out_ += '"';
        }
        if (!element->children) {
            out_ += "/>";
            if (depth_)
                out_ += '\n';
            return;
        }
        out_ += '>';
        if (depth_) {
            ++*depth_;
            out_ += '\n';
        }
        for (const xmlNode* child = element->children; child; child = child->next)
            Node(child);
        if (depth_) {
            out_ += '\n';
            --*depth_;
            Indent();
        }
        out_ += "</";
        out_ += name;
        out_ += '>';
        if (depth_)
            out_ += '\n';
    }

    // libxml2 writes the declaration with its internal subset.
    void DocumentType(const xmlNode* node) {
        const std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(),
                                                                          &xmlBufferFree);
        if (!buffer)
            return;
        auto* writable = const_cast<xmlNode*>(node);
        if (xmlNodeDump(buffer.get(), writable->doc, writable, 0, 0) < 0)
            return;
        out_ += QByteArrayView(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                               xmlBufferLength(buffer.get()));
    }

    QByteArray& out_;
    int* depth_;
};

} // namespace

void TXmlFormatter::WriteIndented(const xmlDoc& document, platform::TStream& stream) {
    depth_ = 0;
    QByteArray out;
    TMarkupWriter writer(out, &depth_);
    writer.Indent();
    out += R"(<?xml version="1.0" encoding="utf-8"?>)";
    for (const xmlNode* child = document.children; child; child = child->next)
        writer.Node(child);
    qsizetype written = 0;
    while (written < out.size()) {
        const auto chunk = static_cast<int32_t>(std::min<qsizetype>(out.size() - written, INT_MAX));
        const int32_t count = stream.Write(out.constData() + written, chunk);
        if (count <= 0)
            throw EXmlWriteError(QStringLiteral("Stream write error"));
        written += count;
    }
}

QString TNodeFormatter::NodeToText(const xmlNode* element) {
    if (!element)
        return {};
    QByteArray out;
    TMarkupWriter(out, nullptr).Node(element);
    return QString::fromUtf8(out);
}

} // namespace feeds
