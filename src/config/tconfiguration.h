#pragma once

#include "platform/tinstancestore.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace config {

class TBranding;

// Where the settings live and what they need to know from outside.
struct TConfigurationEnvironment {
    // The INI file that holds the product key. Created readable by its owner only: it holds the
    // account password.
    QString SettingsFile;
    // The desktop entry whose presence starts the program with the desktop session.
    QString AutostartFile;
    // The program the autostart entry starts.
    QString ProgramFile;
    // The folder of the document file, ending with "/" (empty: the current folder). Asked once,
    // the first time a folder setting is needed.
    std::function<QString()> DocumentFolder;
    // Theme names the user interface can apply; any other stored name reads as "Default".
    QStringList KnownThemes{QStringLiteral("Default")};

    // The current user's places: QSettings' user-scope INI file of organisation "Dunmerrow" and
    // application "Velquint", the XDG autostart folder, the running program and "My <product>"
    // in the documents folder.
    static TConfigurationEnvironment ForUser(const QString& productName);
};

// The main window's bounds, each part only when it is stored.
struct TWindowPlacement {
    std::optional<int32_t> Left;
    std::optional<int32_t> Top;
    std::optional<int32_t> Height;
    std::optional<int32_t> Width;
    std::optional<bool> IsMaximized;
};

// Splits a list of extensions as the attachment settings hold them: lower-cased, items separated
// by ";" and by blanks and control characters unless inside double quotes ("" stands for one
// quote there), leading blanks skipped; two ";" in a row, or one at the end, give an empty item.
QStringList ExtensionList(const QString& text);

// Every user setting, as plain fields that the rest of the program reads and writes directly.
//
// Storage is an INI file through QSettings; each value has its own name, and the main window's
// placement is in the group named after the window ("frmMain/Left"). Booleans are stored as the
// numbers 0 and 1 and read as true when not 0. A value of the wrong type reads as absent, so it
// keeps its default: a number (or boolean) must be one INI text that is a whole base-10 32-bit
// integer ("30", "-4", "\"12\""; not "", "30 px", "0x1E", "true", "1, 2" or @ByteArray data),
// or an integer @Variant; a text must be one INI text (unquoted commas make a list in INI syntax,
// and @ByteArray or @Variant data is not a text either). Numbers are clamped into their ranges
// when read; defaults are never clamped.
//
// Nothing here raises: a file that cannot be read leaves the defaults, one that cannot be
// written is left as it was (Save and SavePlacement answer false). Used from the user-interface
// thread only.
class TConfiguration {
public:
    static constexpr int MaxParallelDownloads = 2;

    // The defaults; the theme defaults to the one branding names.
    TConfiguration(const TBranding& branding, TConfigurationEnvironment environment);
    // In the current user's places.
    explicit TConfiguration(const TBranding& branding);

    // The process-wide configuration for the current user and the process-wide branding
    // (request codes of platform::TInstanceStore); the program entry loads it.
    static TConfiguration* Instance(int request = platform::irGetOrCreate);

    // Overrides the fields from what is stored; with no settings file every default stays.
    void Load();
    // Writes every value except the read-only ones, and creates or removes the autostart entry.
    bool Save() const;

    TWindowPlacement LoadPlacement(const QString& formName) const;
    // Writes the parts that are set.
    bool SavePlacement(const QString& formName, const TWindowPlacement& placement) const;

    // Every value of the product key by its name, in reading order, as the program holds it:
    // numbers as int, booleans as bool, texts and folders as QString.
    std::vector<std::pair<QString, QVariant>> Values() const;

    QStringList NeverDownloadExtensionList() const {
        return ExtensionList(NeverDownloadExtensions);
    }
    QStringList MusicExtensionList() const { return ExtensionList(MusicExtensions); }
    static QString DefaultNeverDownloadExtensions();
    static QString DefaultMusicExtensions();

    // The folder of the document file followed by "Downloaded Content/".
    QString DefaultAttachmentsFolder() const;
    // The three folders end with "/"; setting one to an empty text leaves it as it is.
    QString PathToAttachments() const;
    void SetPathToAttachments(const QString& folder);
    // PathToAttachments until one is set.
    QString OverrideMusicFolder() const;
    void SetOverrideMusicFolder(const QString& folder);
    // Empty until one is set.
    QString WinAmpPlaylistPath() const { return winAmpPlaylistPath_; }
    void SetWinAmpPlaylistPath(const QString& folder);

    // Kept as the presence of the autostart entry rather than in the settings file.
    bool StartWithSystem = false;

    int32_t TopicsSortOrder = 1;
    bool TopicsInvertedOrder = true;
    int32_t FoldersSortOrder = 0;
    bool RunMinimized = false;
    bool AutoDelete = false;
    int32_t AutoDeletePeriod = 30;
    bool RefreshAtStartup = true;
    bool AutoRefresh = true;
    int32_t AutoRefreshPeriod = 30;
    // 0 minutes, 1 hours.
    int32_t AutoRefreshMeasure = 0;
    bool NotifyOnNewContent = true;
    int32_t PopupTime = 10;
    bool TopicPanelVisible = true;
    bool ChannelPanelVisible = true;
    bool FolderPanelVisible = true;
    int32_t FolderPanelWidth = 135;
    int32_t ChannelPanelHeight = 217;
    QString Theme;
    bool ScriptingEnabled = false;
    // Below the floor of 100 that stored values get.
    int32_t ContentDownloaderHeight = 90;
    bool NoDownloads = false;
    // 1 everything but unsafe files, 2 only digital music.
    int32_t DownloaderMode = 1;
    QString NeverDownloadExtensions = DefaultNeverDownloadExtensions();
    QString MusicExtensions = DefaultMusicExtensions();
    bool UseOverrideMusicFolder = false;
    bool PopulateITunesPlaylist = false;
    bool PopulateMediaPlayerPlaylist = false;
    bool PopulateWinAmpPlaylist = false;
    bool IncludeAbsolutePathInWinAmpPlaylist = true;
    QString PlaylistName = QStringLiteral("Downloaded Podcasts");
    // 1 everything when idle, 2 music at once and the rest when idle, 3 everything at once.
    int32_t IdleDownloadingOption = 1;
    bool ForceIPodSynchronization = false;
    bool PriorityLeverageWarningShown = false;
    // Minutes.
    int32_t IdleTime = 15;
    bool IntroducedToDownloader = false;
    bool DoNotShowDownloaderAutomatically = false;
    bool NotifyDownloadsComplete = true;
    // Read, never written.
    bool NormalClose = false;
    bool PlayNewContentNotificationSound = false;
    // Read, never written; the account texts are read and written only while it is true.
    bool LockedInToService = false;
    // Read, never written; the location texts are read and written only while it is true.
    bool UseGeoLocation = false;
    QString GeoCountry;
    QString GeoCity;
    QString GeoZip;
    QString AccountUserName;
    // Plain text, as the account service needs it back.
    QString AccountPassword;

private:
    struct TSetting;
    static std::span<const TSetting> Settings();

    bool SaveAutostart() const;
    std::unique_ptr<QSettings> OpenForWriting() const;
    bool FinishWriting(QSettings& settings) const;

    TConfigurationEnvironment environment_;
    QString displayName_;
    mutable std::optional<QString> defaultAttachmentsFolder_;
    QString pathToAttachments_;
    QString overrideMusicFolder_;
    QString winAmpPlaylistPath_;
};

} // namespace config
