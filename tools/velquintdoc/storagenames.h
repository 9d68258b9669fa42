#pragma once

#include <QByteArray>
#include <QString>

namespace store {
class TFolder;
class TVelquintDoc;
} // namespace store

// Storage names as the command line spells them. A document names its folders and channels "f"
// and a hexadecimal number right-aligned in 28 characters; the short form drops the padding:
// "f1" (or "F1") stands for "f" + 27 spaces + "1".
namespace velquintdoc {

// The registered folder or channel named text, exactly or in the short form; raises ToolError
// "no folder or channel with storage name ..." when there is none.
store::TFolder& FindItem(const store::TVelquintDoc& doc, const QString& text);

// The short form of a name the document made (a folder's or channel's "f" name, a topic
// record's "t" name); any other name as it is.
QString ShortName(const QByteArray& storageName);

// A storage path with every element in its short form, for messages.
QString ShortPath(const QByteArray& storagePath);

} // namespace velquintdoc
