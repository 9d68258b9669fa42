#pragma once

#include <QString>

#include <libxml/tree.h>

namespace feeds {

// The file a feed topic announces: an RSS "enclosure" element or an Atom link with the relation
// "enclosure".
class TEnclosure {
public:
    QString Url;
    QString Type;
    // Bytes; -1 when an RSS enclosure gives no usable size.
    int FileSize = 0;

    // Reads an RSS "enclosure" element (an element of another name is not read): the "url"
    // attribute, and only when it is not empty the "length" and "type" attributes. Nothing is
    // reset first, so a second element without "url" empties the address and keeps the rest.
    // A length that is missing, not a whole number, negative or beyond 32 bits is -1.
    void ReadFrom(const xmlNode* element);
};

} // namespace feeds
