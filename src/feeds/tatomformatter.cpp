#include "feeds/tatomformatter.h"

#include "feeds/htmlentities.h"
#include "feeds/txmlformatter.h"
#include "feeds/xmlnode.h"

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace feeds {

namespace {

constexpr char kAtom03Namespace[] = "http://purl.org/atom/ns#";
constexpr char kAtom10Namespace[] = "http://www.w3.org/2005/atom";

bool IsAtomRoot(const xmlNode* root, const char* ns) {
    return TLowerName(root) == "feed" &&
           AttributeValue(root, "xmlns").value_or(QString()).toLower() == QLatin1StringView(ns);
}

// A trimmed attribute, empty when missing, for comparing: it points into the document.
QByteArray Attribute(const xmlNode* element, QByteArrayView name) {
    return TrimmedAttributeUtf8(element, name).value_or(QByteArray());
}

// The text of the last "name" child of an "author" element; nothing without one.
void ReadAuthor(const xmlNode* author, QString& value) {
    for (const xmlNode* child = author->children; child; child = child->next) {
        if (TLowerName(child) == "name")
            value = QString::fromUtf8(TextUtf8(child));
    }
}

// The markup inside an xhtml text construct's div, without the div itself and with the div's
// prefix taken off every tag.
QString XhtmlContent(const xmlNode* element) {
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name.View() != "div" && !name.View().contains(":div"))
            continue;
        QString markup = TNodeFormatter::NodeToText(child);
        markup.replace(u'\r', u' ');
        markup = TrimWhite(markup);
        const QByteArray qualified = NodeName(child);
        const qsizetype colon = qualified.indexOf(':');
        const QString prefix = colon < 0 ? QString() : QString::fromUtf8(qualified.left(colon + 1));
        if (!prefix.isEmpty()) {
            markup.replace(u"</"_s + prefix, u"</"_s, Qt::CaseInsensitive);
            markup.replace(u'<' + prefix, u"<"_s, Qt::CaseInsensitive);
        }
        const qsizetype end = markup.indexOf(u'>');
        markup.remove(0, end < 0 ? markup.size() : end + 1);
        markup.chop(std::min<qsizetype>(6, markup.size()));
        return markup;
    }
    return {};
}

// An Atom 1.0 text construct by its "type" (trimmed, lower-cased, "text" when missing).
QString TextConstruct(const xmlNode* element) {
    const QByteArray type =
        TrimmedAttributeUtf8(element, "type").value_or(QByteArrayLiteral("text")).toLower();
    if (type == "text" || type == "html")
        return DecodeHtmlEntities(Text(element));
    if (type == "xhtml")
        return XhtmlContent(element);
    return {};
}

// A feed-level link of the relation wanted: its href, trimmed and with character references
// decoded. Without "rel" a link is "alternate" in Atom 1.0 and nothing in Atom 0.3; a link
// without "href" never matches.
std::optional<QString> FeedLink(const xmlNode* link, QByteArrayView relation,
                                bool bareIsAlternate) {
    const std::optional<QByteArray> rel = TrimmedAttributeUtf8(link, "rel");
    const bool matches =
        rel ? *rel == relation : bareIsAlternate && (relation.isEmpty() || relation == "alternate");
    const std::optional<QString> href = AttributeValue(link, "href");
    if (!matches || !href)
        return std::nullopt;
    return DecodeHtmlEntities(TrimWhite(*href));
}

void ReadEnclosureLink(const xmlNode* link, const QByteArray& type, TEnclosure& enclosure) {
    enclosure.Url = TXmlHost::Instance().GetAttribute(link, "href");
    enclosure.Type = QString::fromUtf8(type);
    bool ok = false;
    const int length = Attribute(link, "length").toInt(&ok, 10);
    // No size, or one that cannot be a size, is 0 here.
    enclosure.FileSize = ok && length > 0 ? length : 0;
}

void FirstEntry(const xmlNode* root, const xmlNode*& first, const xmlNode*& current) {
    first = FirstChildElement(root, "entry");
    current = nullptr;
}

} // namespace

std::unique_ptr<TFeedFormatter> TAtomFormatter::Create() {
    return std::make_unique<TAtomFormatter>();
}

bool TAtomFormatter::Accepts() {
    return IsAtomRoot(Root(), kAtom03Namespace);
}

void TAtomFormatter::ReadChannel(TChannelInfo& channel) {
    for (const xmlNode* child = Root()->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name == "title") {
            channel.Title = Text(child);
        } else if (name == "link") {
            if (const std::optional<QString> href = FeedLink(child, "alternate", false)) {
                channel.Link = *href;
            } else if (const std::optional<QString> icon = FeedLink(child, "icon", false)) {
                channel.ImageUrl = *icon;
                if (const std::optional<QString> title = AttributeValue(child, "title"))
                    channel.ImageTitle = *title;
            }
        } else if (name == "tagline") {
            channel.Description = Text(child);
        } else if (name == "copyright") {
            channel.Copyright = Text(child);
        } else if (name == "author") {
            ReadAuthor(child, channel.Author);
        } else if (name == "modified") {
            channel.Date = Iso8601Date(child);
        }
    }
}

void TAtomFormatter::FirstItem() {
    FirstEntry(Root(), FirstItemNode, CurrentItemNode);
}

bool TAtomFormatter::NextItem() {
    return FindNextItem("entry");
}

void TAtomFormatter::ReadItem(TTopic& topic) {
    if (!CurrentItemNode)
        throw EFeedTopicsExceeded();
    const TXmlHost& host = TXmlHost::Instance();
    topic.Date = platform::Now();
    bool modified = false;
    for (const xmlNode* child = CurrentItemNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name == "title") {
            topic.Title = Text(child);
        } else if (name == "link") {
            const QByteArray rel = Attribute(child, "rel");
            if (rel == "alternate")
                topic.Link = host.GetAttribute(child, "href");
            else if (rel == "enclosure")
                ReadEnclosureLink(child, Attribute(child, "type"), topic.Enclosure);
        } else if (name == "content") {
            const std::optional<QByteArray> type = TrimmedAttributeUtf8(child, "type");
            if (type && (*type == "text/html" || *type == "application/xhtml+xml" ||
                         *type == "application/xhtml"))
                topic.Description = Text(child);
        } else if (name == "modified") {
            topic.Date = Iso8601Date(child);
            modified = true;
        } else if (name == "issued" || name == "published" || name == "updated") {
            if (!modified)
                topic.Date = Iso8601Date(child);
        } else if (name == "author") {
            ReadAuthor(child, topic.Author);
        } else if (name == "id") {
            topic.Id = TextUtf8(child);
        }
    }
}

std::unique_ptr<TFeedFormatter> TAtom10Formatter::Create() {
    return std::make_unique<TAtom10Formatter>();
}

bool TAtom10Formatter::Accepts() {
    return IsAtomRoot(Root(), kAtom10Namespace);
}

void TAtom10Formatter::ReadChannel(TChannelInfo& channel) {
    for (const xmlNode* child = Root()->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name == "title") {
            channel.Title = TextConstruct(child);
        } else if (name == "link") {
            if (const std::optional<QString> href = FeedLink(child, "alternate", true))
                channel.Link = *href;
        } else if (name == "subtitle") {
            channel.Description = TextConstruct(child);
        } else if (name == "rights") {
            channel.Copyright = TextConstruct(child);
        } else if (name == "logo") {
            channel.ImageUrl = Text(child);
        } else if (name == "author") {
            ReadAuthor(child, channel.Author);
        } else if (name == "updated") {
            channel.Date = Iso8601Date(child);
        }
    }
}

void TAtom10Formatter::FirstItem() {
    FirstEntry(Root(), FirstItemNode, CurrentItemNode);
}

bool TAtom10Formatter::NextItem() {
    return FindNextItem("entry");
}

void TAtom10Formatter::ReadItem(TTopic& topic) {
    if (!CurrentItemNode)
        throw EFeedTopicsExceeded();
    const TXmlHost& host = TXmlHost::Instance();
    topic.Date = platform::Now();
    for (const xmlNode* child = CurrentItemNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name == "title") {
            topic.Title = TextConstruct(child);
        } else if (name == "link") {
            const QByteArray rel = Attribute(child, "rel");
            const QByteArray type = Attribute(child, "type");
            if ((rel.isEmpty() || rel == "alternate") && (type.isEmpty() || type == "text/html"))
                topic.Link = host.GetAttribute(child, "href");
            else if (rel == "enclosure")
                ReadEnclosureLink(child, type, topic.Enclosure);
        } else if (name == "content") {
            const std::optional<QByteArray> type = TrimmedAttributeUtf8(child, "type");
            if (type && (*type == "text" || *type == "html" || *type == "xhtml"))
                topic.Description = TextConstruct(child);
        } else if (name == "published" || name == "updated") {
            topic.Date = Iso8601Date(child);
        } else if (name == "author") {
            ReadAuthor(child, topic.Author);
        } else if (name == "id") {
            topic.Id = TextUtf8(child);
        }
    }
}

} // namespace feeds
