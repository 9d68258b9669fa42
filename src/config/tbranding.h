#pragma once

#include "platform/tinstancestore.h"

#include "platform/tstream.h"

#include <QString>

#include <cstdint>

namespace config {

// What a distributor may change without rebuilding the program: the product name, the web
// addresses, the default theme, the banners, a subscription list, and templates and a pop-up
// picture beside the program file. Every field starts with its built-in default.
//
// The values come from "brand.cfg" beside the program file, a sequence of tagged values. A file
// that is missing, unreadable, damaged or cut short is never reported: reading stops at the first
// value that cannot be read, what was read before stays, and the rest keep their defaults.
// Used from the user-interface thread only.
class TBranding {
public:
    // programFolder holds brand.cfg, "popup.bmp" and the "web" template folder.
    explicit TBranding(const QString& programFolder);
    // Beside the running program file.
    TBranding();

    // The process-wide branding (request codes of platform::TInstanceStore); the program entry
    // loads it first thing.
    static TBranding* Instance(int request = platform::irGetOrCreate);

    // Reads brand.cfg when it can be opened, then looks which template files exist.
    void Load();
    // Reads the values of brand.cfg from stream, which stands at the file version. Never raises.
    void Read(platform::TStream& stream);

    // The caption of the main window and the application title.
    QString DisplayName() const;

    QString ProgramFolder() const { return programFolder_; }

    QString ProductName = QStringLiteral("Velquint");
    // When set, the About command opens this address instead of the About box.
    QString AboutAddress;
    QString HelpAddress = QStringLiteral("https://www.dunmerrow.net/help");
    QString ForumAddress = QStringLiteral("https://www.dunmerrow.net/help/V149");
    // The start page of the HTML view.
    QString HomeAddress = QStringLiteral("https://www.dunmerrow.net/home");
    QString CreateFeedAddress = QStringLiteral("https://www.dunmerrow.net/writer");
    // The default of the Theme setting.
    QString Theme = QStringLiteral("Default");
    bool ThemeLocked = false;
    int32_t BigBannerHeight = 81;
    int32_t SmallBannerHeight = 81;
    bool BigBannerVisible = false;
    bool SmallBannerVisible = false;
    bool ExpandUnreadFolders = true;
    // When set, this subscription list is fetched at start instead of refreshing.
    QString SubscriptionListAddress;
    // "$search$" stands for the URL-encoded search text.
    QString FeedSearchAddress =
        QStringLiteral("https://directory.dunmerrow.net/feedlist.php"
                       "?ShowMatch=$search$&FormShowStatusCheck=on&FormShowStatus=Syndicated");

    // Files beside the program; the flags are set by Load.
    QString ChannelTemplate;
    QString ChannelTopicTemplate;
    QString BrandedChannelTemplate;
    QString BrandedChannelTopicTemplate;
    QString BrandedTopicTemplate;
    QString TopicTemplate;
    QString PopupBackground;
    // Both channel templates exist.
    bool ChannelTemplatesPresent = false;
    // All three branded templates exist.
    bool BrandedTemplatesPresent = false;
    bool TopicTemplatePresent = false;

private:
    void ReadValues(platform::TStream& stream);

    QString programFolder_;
};

} // namespace config
