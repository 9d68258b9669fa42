#pragma once

#include "platform/exception.h"
#include "platform/tstream.h"

#include <QString>

#include <libxml/tree.h>

namespace feeds {

// The stream took fewer bytes than written.
class EXmlWriteError : public platform::Exception {
public:
    using Exception::Exception;
};

// Writes whole documents as indented UTF-8 with an XML declaration. One instance serves the whole
// run; one WriteIndented at a time (the depth counter belongs to the call under way).
class TXmlFormatter {
public:
    // Layout, with an indentation of 4 spaces per depth level: before a start tag the indentation;
    // after it depth + 1 and a line feed; before an end tag a line feed, depth - 1 and the
    // indentation; after it a line feed; before any other piece (text, CDATA, comment,
    // processing instruction, document type, the XML declaration) the indentation and nothing
    // after. An element without children is one piece "<name/>" with the indentation before and a
    // line feed after. Raises EXmlWriteError when the stream does not take every byte.
    void WriteIndented(const xmlDoc& document, platform::TStream& stream);

private:
    int depth_ = 0;
};

// Markup of one element subtree.
class TNodeFormatter {
public:
    // The element and its subtree as UTF-8 markup without XML declaration or added white space,
    // namespace declarations written where the tree holds them, carriage returns in text written
    // as they are (the markup becomes HTML, not XML to be read again). Empty for a null node.
    static QString NodeToText(const xmlNode* element);
};

} // namespace feeds
