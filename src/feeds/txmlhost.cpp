#include "feeds/txmlhost.h"

#include "feeds/xmlnode.h"

#include <libxml/parser.h>

#include <climits>
#include <mutex>
#include <new>

namespace feeds {

namespace {

// Never read a file or fetch an address named in a document: no external subset, no external
// entity, whatever the options of a parse say.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

// Errors end the parse; they are not printed.
void IgnoreParseError(void*, xmlErrorPtr) {}

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(RefuseExternalEntity);
    });
}

// Entities are substituted (internal ones only, see RefuseExternalEntity); XML_PARSE_HUGE stays
// off so that libxml2 keeps its limits on entity amplification, text size and depth.
constexpr int kParseOptions =
    XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

struct TParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

const xmlChar* Chars(const QByteArray& text) {
    return reinterpret_cast<const xmlChar*>(text.constData());
}

std::mutex& InstanceMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

TXmlHost::TXmlHost() {
    throw EXmlHostError(QStringLiteral("There can be only one... Please use Instance()"));
}

TXmlHost::TXmlHost(TCreation) {
    InitialiseLibrary();
}

TXmlHost& TXmlHost::Instance() {
    return *AccessInstance(1);
}

TXmlHost* TXmlHost::AccessInstance(int request) {
    static std::unique_ptr<TXmlHost> instance;
    const std::lock_guard lock(InstanceMutex());
    switch (request) {
    case 0:
        return instance.get();
    case 1:
        if (!instance)
            instance.reset(new TXmlHost(TCreation{}));
        return instance.get();
    case 2:
        instance.reset();
        return nullptr;
    default:
        throw EXmlHostError(QStringLiteral("Invalid request"));
    }
}

TXmlDocument TXmlHost::CreateDocument() const {
    TXmlDocument document(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (!document)
        throw std::bad_alloc();
    return document;
}

TXmlDocument TXmlHost::Parse(QByteArrayView bytes) const {
    if (bytes.size() > INT_MAX)
        throw EInvalidXmlDocument();
    const std::unique_ptr<xmlParserCtxt, TParserContextDeleter> context(xmlNewParserCtxt());
    if (!context)
        throw std::bad_alloc();
    context->sax->serror = IgnoreParseError;
    xmlDoc* document =
        xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr,
                          nullptr, kParseOptions);
    if (!document)
        throw EInvalidXmlDocument();
    return TXmlDocument(document);
}

TXmlDocument TXmlHost::Parse(platform::TStream& stream) const {
    QByteArray bytes;
    stream.SetPosition(0);
    char buffer[65536];
    for (;;) {
        const int32_t count = stream.Read(buffer, sizeof buffer);
        if (count <= 0)
            break;
        if (bytes.size() > INT_MAX - count)
            throw EInvalidXmlDocument();
        bytes.append(buffer, count);
    }
    return Parse(bytes);
}

TXmlNode TXmlHost::CreateElement(xmlDoc* document, const QByteArray& name) const {
    TXmlNode element(xmlNewDocNode(document, nullptr, Chars(name), nullptr));
    if (!element)
        throw std::bad_alloc();
    return element;
}

TXmlAttribute TXmlHost::CreateAttribute(xmlDoc* document, const QByteArray& name,
                                        const QString& value) const {
    TXmlAttribute attribute(xmlNewDocProp(document, Chars(name), nullptr));
    if (!attribute)
        throw std::bad_alloc();
    // Set as a text child, so that "&" and "<" in the value stay characters.
    xmlNode* text = xmlNewDocText(document, Chars(value.toUtf8()));
    if (!text)
        throw std::bad_alloc();
    text->parent = reinterpret_cast<xmlNode*>(attribute.get());
    attribute->children = text;
    attribute->last = text;
    return attribute;
}

TXmlAttribute TXmlHost::CreateIntegerAttribute(xmlDoc* document, const QByteArray& name,
                                               int value) const {
    return CreateAttribute(document, name, QString::number(value));
}

TXmlNode TXmlHost::CreateTextElement(xmlDoc* document, const QByteArray& name,
                                     const QString& text) const {
    TXmlNode element = CreateElement(document, name);
    xmlNode* child = xmlNewDocText(document, Chars(text.toUtf8()));
    if (!child || !xmlAddChild(element.get(), child)) {
        xmlFreeNode(child);
        throw std::bad_alloc();
    }
    return element;
}

QString TXmlHost::GetAttribute(const xmlNode* element, QByteArrayView name,
                               const QString& defaultValue) const {
    const std::optional<QByteArray> value = TrimmedAttributeUtf8(element, name);
    return value ? QString::fromUtf8(*value) : defaultValue;
}

int TXmlHost::GetIntegerAttribute(const xmlNode* element, QByteArrayView name) const {
    const std::optional<QByteArray> value = TrimmedAttributeUtf8(element, name);
    bool ok = false;
    const int number = value ? value->toInt(&ok, 10) : 0;
    return ok ? number : -1;
}

xmlNode* AppendChild(xmlNode* parent, TXmlNode child) {
    xmlNode* added = xmlAddChild(parent, child.get());
    if (!added)
        throw std::bad_alloc();
    // Adjacent text children merge: the added node is then freed by libxml2.
    child.release();
    return added;
}

xmlNode* AppendChild(xmlDoc* document, TXmlNode child) {
    return AppendChild(reinterpret_cast<xmlNode*>(document), std::move(child));
}

xmlAttr* SetAttributeNode(xmlNode* element, TXmlAttribute attribute) {
    xmlAttr* raw = attribute.release();
    xmlNode* added = xmlAddChild(element, reinterpret_cast<xmlNode*>(raw));
    if (!added) {
        xmlFreeProp(raw);
        throw std::bad_alloc();
    }
    return reinterpret_cast<xmlAttr*>(added);
}

} // namespace feeds
