#pragma once

#include "platform/exception.h"
#include "platform/tstream.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <libxml/tree.h>

#include <memory>

namespace feeds {

struct TXmlDocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct TXmlNodeDeleter {
    void operator()(xmlNode* node) const { xmlFreeNode(node); }
};
struct TXmlAttributeDeleter {
    void operator()(xmlAttr* attribute) const { xmlFreeProp(attribute); }
};

// A document, and a node or attribute not (yet) attached to any document tree. Attaching one with
// AppendChild or SetAttributeNode hands it to its new parent.
using TXmlDocument = std::unique_ptr<xmlDoc, TXmlDocumentDeleter>;
using TXmlNode = std::unique_ptr<xmlNode, TXmlNodeDeleter>;
using TXmlAttribute = std::unique_ptr<xmlAttr, TXmlAttributeDeleter>;

// Misuse of the host: constructing it directly, an unknown request code.
class EXmlHostError : public platform::Exception {
public:
    using Exception::Exception;
};

// The text is not well-formed XML. Carries no message: the caller words the failure.
class EInvalidXmlDocument : public platform::Exception {
public:
    EInvalidXmlDocument() : Exception(QString()) {}
};

// The process-wide XML host: every document the program creates or parses comes from here.
// Parsing is safe for untrusted input: no network access, no external entity or DTD is ever
// loaded, and libxml2's limits against entity expansion and deep nesting stay in force. Each
// parse has its own parser context, so parsing is safe on any thread; the instance store itself
// is guarded.
class TXmlHost {
public:
    // Raises EXmlHostError "There can be only one... Please use Instance()".
    TXmlHost();
    TXmlHost(const TXmlHost&) = delete;
    TXmlHost& operator=(const TXmlHost&) = delete;

    // The host, created on the first call.
    static TXmlHost& Instance();
    // Request 0 answers the current host or null, 1 answers it after creating it if needed, 2
    // frees and forgets it (and answers null). Any other request raises EXmlHostError
    // "Invalid request".
    static TXmlHost* AccessInstance(int request);

    // A new empty document (XML 1.0).
    TXmlDocument CreateDocument() const;

    // Parses a whole document; the byte-order mark or the encoding declaration decides how the
    // bytes become text. Entity references are expanded into their text. Raises
    // EInvalidXmlDocument when the bytes are not a well-formed document.
    TXmlDocument Parse(QByteArrayView bytes) const;
    // The same for the whole stream, read from its start.
    TXmlDocument Parse(platform::TStream& stream) const;

    // A new element of the document, not attached.
    TXmlNode CreateElement(xmlDoc* document, const QByteArray& name) const;
    // A new attribute of the document, not attached to any element.
    TXmlAttribute CreateAttribute(xmlDoc* document, const QByteArray& name,
                                  const QString& value) const;
    TXmlAttribute CreateIntegerAttribute(xmlDoc* document, const QByteArray& name, int value) const;
    // A new element, not attached, with exactly one text child holding text (also when empty).
    TXmlNode CreateTextElement(xmlDoc* document, const QByteArray& name, const QString& text) const;

    // The attribute's value without the white space around it; defaultValue when the element has
    // no such attribute.
    QString GetAttribute(const xmlNode* element, QByteArrayView name,
                         const QString& defaultValue = QString()) const;
    // The trimmed value as a decimal integer; -1 when missing or not an integer.
    int GetIntegerAttribute(const xmlNode* element, QByteArrayView name) const;

private:
    struct TCreation {};
    explicit TXmlHost(TCreation);
};

// Attaches child as the last child of parent (an element or a document) and answers it.
xmlNode* AppendChild(xmlNode* parent, TXmlNode child);
xmlNode* AppendChild(xmlDoc* document, TXmlNode child);
// Attaches the attribute to the element, replacing one of the same name, and answers it.
xmlAttr* SetAttributeNode(xmlNode* element, TXmlAttribute attribute);

} // namespace feeds
