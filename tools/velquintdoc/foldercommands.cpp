#include "foldercommands.h"

#include "session.h"
#include "storagenames.h"

#include "platform/ansicodepage.h"
#include "platform/exception.h"
#include "store/tvelquintdoc.h"

#include <QJsonArray>
#include <QJsonObject>

namespace velquintdoc {

namespace {

using store::TChannel;
using store::TFolder;
using store::TSearchChannel;
using store::TVelquintDoc;

const QString kParent = QStringLiteral("--parent");
const QString kName = QStringLiteral("--name");

QString Kind(const TFolder& item) {
    if (dynamic_cast<const TSearchChannel*>(&item))
        return QStringLiteral("search");
    if (dynamic_cast<const TChannel*>(&item))
        return QStringLiteral("channel");
    return QStringLiteral("folder");
}

// Whether the item belongs to the searches rather than to the folder tree.
bool IsSearchItem(const TVelquintDoc& doc, const TFolder& item) {
    const TFolder* top = &item;
    while (top->Parent())
        top = top->Parent();
    return top == &doc.SearchRoot();
}

// The folder --parent names, or none (the root folder) without the option.
TFolder* ParentFolder(const TVelquintDoc& doc, const Invocation& invocation) {
    if (!invocation.Has(kParent))
        return nullptr;
    TFolder& parent = FindItem(doc, invocation.Option(kParent));
    const QString name = ShortName(parent.StorageName());
    if (IsSearchItem(doc, parent))
        throw ToolError(QStringLiteral("%1 is a saved search, not a folder").arg(name));
    if (dynamic_cast<const TChannel*>(&parent))
        throw ToolError(QStringLiteral("%1 is a channel, not a folder").arg(name));
    return &parent;
}

QString Describe(const TFolder* folder) {
    return folder ? ShortName(folder->StorageName()) : QStringLiteral("the root folder");
}

QString NonEmpty(const QString& text, const char* what) {
    if (text.isEmpty())
        throw ToolError(QStringLiteral("the %1 must not be empty").arg(QLatin1StringView(what)),
                        kExitUsage);
    return text;
}

// ---------------------------------------------------------------------------------------------
// tree

QJsonObject ItemJson(const TFolder& item) {
    QJsonObject object;
    object.insert(QStringLiteral("storageName"), QString::fromUtf8(item.StorageName()));
    object.insert(QStringLiteral("shortName"), ShortName(item.StorageName()));
    object.insert(QStringLiteral("storagePath"), QString::fromUtf8(item.StoragePath()));
    object.insert(QStringLiteral("kind"), Kind(item));
    object.insert(QStringLiteral("name"), item.Name());
    object.insert(QStringLiteral("protected"), item.Protected());
    object.insert(QStringLiteral("subscribed"), item.Subscribed);
    object.insert(QStringLiteral("hidden"), item.Hidden);
    object.insert(QStringLiteral("unread"), item.UnreadCount());
    object.insert(QStringLiteral("topics"), item.TopicCount());
    if (const auto* const channel = dynamic_cast<const TChannel*>(&item))
        object.insert(QStringLiteral("url"), channel->Url());
    QJsonArray children;
    for (const TFolder* folder : item.Folders())
        children.append(ItemJson(*folder));
    for (const TChannel* channel : item.Channels())
        children.append(ItemJson(*channel));
    object.insert(QStringLiteral("children"), children);
    return object;
}

QJsonArray ChildrenJson(const TFolder& folder) {
    return ItemJson(folder).value(QStringLiteral("children")).toArray();
}

void PrintItem(const Session& session, const TFolder& item, int depth) {
    QString line =
        QString(2 * depth, u' ') + Kind(item) + u' ' + ShortName(item.StorageName()) + u' ' +
        Quoted(item.Name()) +
        QStringLiteral(" unread %1 topics %2").arg(item.UnreadCount()).arg(item.TopicCount());
    if (const auto* const channel = dynamic_cast<const TChannel*>(&item))
        line += QStringLiteral(" <") + channel->Url() + u'>';
    QStringList flags;
    if (item.Protected())
        flags.append(QStringLiteral("protected"));
    if (item.Subscribed)
        flags.append(QStringLiteral("subscribed"));
    if (item.Hidden)
        flags.append(QStringLiteral("hidden"));
    if (!flags.isEmpty())
        line += QStringLiteral(" [") + flags.join(u' ') + u']';
    session.Print(line + u'\n');
    for (const TFolder* folder : item.Folders())
        PrintItem(session, *folder, depth + 1);
    for (const TChannel* channel : item.Channels())
        PrintItem(session, *channel, depth + 1);
}

int Tree(Session& session, const Invocation& invocation) {
    const TVelquintDoc& doc = session.Document(false);
    if (invocation.json) {
        QJsonObject searches;
        searches.insert(QStringLiteral("name"), doc.SearchRoot().Name());
        searches.insert(QStringLiteral("children"), ChildrenJson(doc.SearchRoot()));
        QJsonObject object;
        object.insert(QStringLiteral("file"), doc.FileName());
        object.insert(QStringLiteral("children"), ChildrenJson(doc.RootFolder()));
        object.insert(QStringLiteral("searches"), searches);
        session.PrintJson(object);
        return kExitOk;
    }
    session.Print(doc.FileName() + u'\n');
    for (const TFolder* folder : doc.RootFolder().Folders())
        PrintItem(session, *folder, 0);
    for (const TChannel* channel : doc.RootFolder().Channels())
        PrintItem(session, *channel, 0);
    session.Print(QStringLiteral("searches ") + Quoted(doc.SearchRoot().Name()) + u'\n');
    for (const TFolder* folder : doc.SearchRoot().Folders())
        PrintItem(session, *folder, 1);
    for (const TChannel* channel : doc.SearchRoot().Channels())
        PrintItem(session, *channel, 1);
    return kExitOk;
}

// ---------------------------------------------------------------------------------------------
// Changes

int AddFolder(Session& session, const Invocation& invocation) {
    const QString name = NonEmpty(invocation.operands.at(0), "folder name");
    TVelquintDoc& doc = session.Document(true);
    TFolder* const parent = ParentFolder(doc, invocation);
    Update update(doc);
    TFolder* const folder = doc.AddFolder(parent);
    if (!folder)
        throw ToolError(QStringLiteral("cannot create the storage of a new folder in %1")
                            .arg(Describe(parent)));
    folder->SetName(name);
    doc.SaveFolder(*folder);
    update.End();
    session.Print(ShortName(folder->StorageName()) + u'\n');
    return kExitOk;
}

int AddChannel(Session& session, const Invocation& invocation) {
    const QString url = NonEmpty(invocation.operands.at(0), "URL");
    const QString name = invocation.Has(kName) ? NonEmpty(invocation.Option(kName), "name") : url;
    TVelquintDoc& doc = session.Document(true);
    TFolder* const parent = ParentFolder(doc, invocation);
    // A feed is subscribed once, wherever it is; registering it twice would hide the first.
    if (const TChannel* const existing =
            doc.ChannelsByUrl().Find(platform::WideToUtf8(url.toLower())))
        throw ToolError(QStringLiteral("%1 is already subscribed as %2")
                            .arg(url, ShortName(existing->StorageName())));
    Update update(doc);
    TChannel* const channel = doc.AddChannel(parent);
    if (!channel)
        throw ToolError(QStringLiteral("cannot create the storage of a new channel in %1")
                            .arg(Describe(parent)));
    channel->SetUrl(url);
    channel->SetName(name);
    doc.SaveChannel(*channel);
    update.End();
    session.Print(ShortName(channel->StorageName()) + u'\n');
    return kExitOk;
}

int Rename(Session& session, const Invocation& invocation) {
    const QString name = NonEmpty(invocation.operands.at(1), "name");
    TVelquintDoc& doc = session.Document(false);
    TFolder& item = FindItem(doc, invocation.operands.at(0));
    Update update(doc);
    item.SetName(name);
    doc.SaveFolder(item);
    update.End();
    return kExitOk;
}

int Move(Session& session, const Invocation& invocation) {
    TVelquintDoc& doc = session.Document(false);
    TFolder& item = FindItem(doc, invocation.operands.at(0));
    if (IsSearchItem(doc, item))
        throw ToolError(QStringLiteral("%1 is a saved search; searches stay with the searches")
                            .arg(ShortName(item.StorageName())));
    TFolder* const parent = ParentFolder(doc, invocation);
    Update update(doc);
    try {
        doc.MoveFolder(item, parent);
    } catch (const platform::Exception& e) {
        QString why = e.Message();
        if (parent == &item) {
            why += QStringLiteral(" (an item cannot go into itself)");
        } else {
            for (const TFolder* above = parent; above; above = above->Parent()) {
                if (above == &item) {
                    why += QStringLiteral(" (%1 lies inside %2)")
                               .arg(Describe(parent), ShortName(item.StorageName()));
                    break;
                }
            }
        }
        throw ToolError(QStringLiteral("cannot move %1 into %2: %3")
                            .arg(ShortName(item.StorageName()), Describe(parent), why));
    }
    update.End();
    return kExitOk;
}

int Delete(Session& session, const Invocation& invocation) {
    TVelquintDoc& doc = session.Document(false);
    TFolder& item = FindItem(doc, invocation.operands.at(0));
    const QString name = ShortName(item.StorageName());
    const bool hides = item.Subscribed;
    Update update(doc);
    try {
        doc.DeleteFolder(item);
    } catch (const platform::Exception& e) {
        throw ToolError(QStringLiteral("cannot delete %1: %2").arg(name, e.Message()));
    }
    update.End();
    if (hides)
        session.Print(QStringLiteral("%1 came with the subscription list: hidden, kept so that "
                                     "the next import does not bring it back\n")
                          .arg(name));
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"tree",
     "",
     "folders and channels in tree order (sub-folders, then channels), one a line:\n"
     "kind (folder, channel, search), storage name, name, unread and topic counts,\n"
     "a channel's URL in <>, and [protected subscribed hidden] when set; then the\n"
     "saved searches. Hidden items are listed, marked hidden",
     0,
     {nullptr, nullptr},
     true,
     true,
     Tree},
    {"add-folder",
     "NAME [--parent STORAGENAME]",
     "a new folder in the root folder or in the folder --parent names; prints its\n"
     "storage name",
     1,
     {"--parent", nullptr},
     false,
     true,
     AddFolder},
    {"add-channel",
     "URL [--parent STORAGENAME] [--name NAME]",
     "a new channel for the feed at URL, named NAME (default: the URL); prints its\n"
     "storage name. A URL already subscribed anywhere is refused",
     1,
     {"--parent", "--name"},
     false,
     true,
     AddChannel},
    {"rename",
     "STORAGENAME NAME",
     "gives the folder or channel a new name",
     2,
     {nullptr, nullptr},
     false,
     true,
     Rename},
    {"move",
     "STORAGENAME [--parent STORAGENAME]",
     "moves the folder or channel with everything in it into the folder --parent\n"
     "names, or into the root folder",
     1,
     {"--parent", nullptr},
     false,
     true,
     Move},
    {"delete",
     "STORAGENAME",
     "deletes the folder or channel with everything in it; one that came with the\n"
     "subscription list is hidden instead",
     1,
     {nullptr, nullptr},
     false,
     true,
     Delete},
};

} // namespace

std::span<const Command> FolderCommands() {
    return kCommands;
}

} // namespace velquintdoc
