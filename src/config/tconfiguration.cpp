#include "config/tconfiguration.h"

#include "config/programfile.h"
#include "config/tbranding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace config {

namespace {

template <class... Handlers> struct TOverloaded : Handlers... { using Handlers::operator()...; };
template <class... Handlers> TOverloaded(Handlers...) -> TOverloaded<Handlers...>;

enum TAccess { kReadWritten, kReadOnly };

// See the class comment for what counts as a number. QSettings keeps the values it wrote in this
// process as they were given, so an integer comes back as an integer until the file is read anew.
std::optional<int32_t> Number(const QSettings& settings, const QString& name) {
    const QVariant value = settings.value(name);
    bool ok = false;
    int32_t number = 0;
    switch (value.typeId()) {
    case QMetaType::QString:
        number = value.toString().toInt(&ok, 10);
        break;
    case QMetaType::Int:
        number = value.toInt(&ok);
        break;
    default:
        break;
    }
    return ok ? std::optional<int32_t>(number) : std::nullopt;
}

std::optional<QString> Text(const QSettings& settings, const QString& name) {
    const QVariant value = settings.value(name);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<bool> Boolean(const QSettings& settings, const QString& name) {
    const std::optional<int32_t> number = Number(settings, name);
    return number ? std::optional<bool>(*number != 0) : std::nullopt;
}

QString Folder(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

// Creates the file empty and owner-only before QSettings first writes it: QSaveFile gives its
// temporary file the permissions of the file it replaces, so the file never exists any wider.
bool RestrictToOwner(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        ::close(fd);
    else if (errno != EEXIST)
        return false;
    return ::chmod(native.constData(), S_IRUSR | S_IWUSR) == 0;
}

// Desktop entry values escape backslashes and line breaks.
QString DesktopString(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The program path as one quoted Exec argument: inside the quotes '"', '`', '$' and '\' take a
// backslash, and '%' is doubled so that it is not taken for a field code.
QString ExecArgument(const QString& program) {
    QString quoted(u'"');
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return DesktopString(quoted);
}

} // namespace

struct TConfiguration::TSetting {
    struct TFolderAccess {
        QString (TConfiguration::*Get)() const;
        void (TConfiguration::*Set)(const QString&);
    };
    using TField = std::variant<int32_t TConfiguration::*, bool TConfiguration::*,
                                QString TConfiguration::*, TFolderAccess>;

    const char* Name;
    TField Field;
    std::optional<int32_t> Minimum = std::nullopt;
    std::optional<int32_t> Maximum = std::nullopt;
    TAccess Access = kReadWritten;
    // Read and written only while this flag is true; emptied on reading otherwise.
    bool TConfiguration::*Condition = nullptr;
};

std::span<const TConfiguration::TSetting> TConfiguration::Settings() {
    using C = TConfiguration;
    using F = TSetting::TFolderAccess;
    constexpr std::nullopt_t none = std::nullopt;
    static constexpr TSetting kSettings[] = {
        {"TopicsSortOrder", &C::TopicsSortOrder, 0, 2},
        {"TopicsInvertedOrder", &C::TopicsInvertedOrder},
        {"FoldersSortOrder", &C::FoldersSortOrder, 0, 1},
        {"RunMinimized", &C::RunMinimized},
        {"AutoDelete", &C::AutoDelete},
        {"AutoDeletePeriod", &C::AutoDeletePeriod, 1, 31},
        {"RefreshAtStartup", &C::RefreshAtStartup},
        {"AutoRefresh", &C::AutoRefresh},
        {"AutoRefreshPeriod", &C::AutoRefreshPeriod, 1, 100},
        {"AutoRefreshMeasure", &C::AutoRefreshMeasure, 0, 1},
        {"NotifyOnNewContent", &C::NotifyOnNewContent},
        {"PopupTime", &C::PopupTime, 1, 60},
        {"TopicPanelVisible", &C::TopicPanelVisible},
        {"ChannelPanelVisible", &C::ChannelPanelVisible},
        {"FolderPanelVisible", &C::FolderPanelVisible},
        {"FolderPanelWidth", &C::FolderPanelWidth, 135, none},
        {"ChannelPanelHeight", &C::ChannelPanelHeight, 30, none},
        {"Theme", &C::Theme},
        {"ScriptingEnabled", &C::ScriptingEnabled},
        {"ContentDownloaderHeight", &C::ContentDownloaderHeight, 100, none},
        {"NoDownloads", &C::NoDownloads},
        {"PathToAttachments", F{&C::PathToAttachments, &C::SetPathToAttachments}},
        {"DownloaderMode", &C::DownloaderMode, 1, 2},
        {"NeverDownloadExtensions", &C::NeverDownloadExtensions},
        {"MusicExtensions", &C::MusicExtensions},
        {"UseOverrideMusicFolder", &C::UseOverrideMusicFolder},
        {"OverrideMusicFolder", F{&C::OverrideMusicFolder, &C::SetOverrideMusicFolder}},
        {"PopulateITunesPlaylist", &C::PopulateITunesPlaylist},
        {"PopulateMediaPlayerPlaylist", &C::PopulateMediaPlayerPlaylist},
        {"PopulateWinAmpPlaylist", &C::PopulateWinAmpPlaylist},
        {"IncludeAbsolutePathInWinAmpPlaylist", &C::IncludeAbsolutePathInWinAmpPlaylist},
        {"PlaylistName", &C::PlaylistName},
        {"WinAmpPlaylistPath", F{&C::WinAmpPlaylistPath, &C::SetWinAmpPlaylistPath}},
        {"IdleDownloadingOption", &C::IdleDownloadingOption, 1, 3},
        {"ForceIPodSynchronization", &C::ForceIPodSynchronization},
        {"PriorityLeverageWarningShown", &C::PriorityLeverageWarningShown},
        {"IdleTime", &C::IdleTime, 5, none},
        {"IntroducedToDownloader", &C::IntroducedToDownloader},
        {"DoNotShowDownloaderAutomatically", &C::DoNotShowDownloaderAutomatically},
        {"NotifyDownloadsComplete", &C::NotifyDownloadsComplete},
        {"NormalClose", &C::NormalClose, none, none, kReadOnly},
        {"PlayNewContentNotificationSound", &C::PlayNewContentNotificationSound},
        {"LockedInToService", &C::LockedInToService, none, none, kReadOnly},
        {"UseGeoLocation", &C::UseGeoLocation, none, none, kReadOnly},
        {"GeoCountry", &C::GeoCountry, none, none, kReadWritten, &C::UseGeoLocation},
        {"GeoCity", &C::GeoCity, none, none, kReadWritten, &C::UseGeoLocation},
        {"GeoZip", &C::GeoZip, none, none, kReadWritten, &C::UseGeoLocation},
        {"AccountUserName", &C::AccountUserName, none, none, kReadWritten, &C::LockedInToService},
        {"AccountPassword", &C::AccountPassword, none, none, kReadWritten, &C::LockedInToService},
    };
    return kSettings;
}

TConfigurationEnvironment TConfigurationEnvironment::ForUser(const QString& productName) {
    TConfigurationEnvironment environment;
    environment.SettingsFile = QSettings(QSettings::IniFormat, QSettings::UserScope,
                                         QStringLiteral("Dunmerrow"), QStringLiteral("Velquint"))
                                   .fileName();
    const QString configFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!configFolder.isEmpty())
        environment.AutostartFile = configFolder + QStringLiteral("/autostart/velquint.desktop");
    environment.ProgramFile = config::ProgramFile();
    environment.DocumentFolder = [productName] {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return documents.isEmpty() ? QString()
                                   : documents + QStringLiteral("/My %1/").arg(productName);
    };
    return environment;
}

QStringList ExtensionList(const QString& text) {
    const QString lower = text.toLower();
    const qsizetype size = lower.size();
    const auto blank = [&](qsizetype at) { return at < size && lower[at].unicode() <= u' '; };
    QStringList items;
    qsizetype at = 0;
    while (blank(at))
        ++at;
    while (at < size) {
        QString item;
        if (lower[at] == u'"') {
            // Up to the closing quote, or the end when there is none.
            for (++at; at < size; ++at) {
                if (lower[at] != u'"') {
                    item += lower[at];
                } else if (at + 1 < size && lower[at + 1] == u'"') {
                    item += u'"';
                    ++at;
                } else {
                    ++at;
                    break;
                }
            }
        } else {
            const qsizetype start = at;
            while (at < size && lower[at].unicode() > u' ' && lower[at] != u';')
                ++at;
            item = lower.mid(start, at - start);
        }
        items.append(item);
        while (blank(at))
            ++at;
        if (at < size && lower[at] == u';') {
            if (at + 1 == size)
                items.append(QString());
            do
                ++at;
            while (blank(at));
        }
    }
    return items;
}

TConfiguration::TConfiguration(const TBranding& branding, TConfigurationEnvironment environment)
    : Theme(branding.Theme), environment_(std::move(environment)),
      displayName_(branding.DisplayName()) {}

TConfiguration::TConfiguration(const TBranding& branding)
    : TConfiguration(branding, TConfigurationEnvironment::ForUser(branding.ProductName)) {}

QString TConfiguration::DefaultNeverDownloadExtensions() {
    return QStringLiteral("exe;com;ocx;dll;cpl;bat;cmd;ade;adp;bas;chm;crt;doc;dot;hlp;hta;inf;"
                          "ins;isp;js;jse;lnk;mdb;mde;msc;msi;msp;mst;pcd;pif;pot;ppt;reg;scr;"
                          "sct;shb;shs;sys;url;vb;vbe;vbs;wsc;wsf;wsh;xls;xlt");
}

QString TConfiguration::DefaultMusicExtensions() {
    return QStringLiteral("mp3;wav;wma;aac;ape;cue;asf;asx;au;avi;mdn;mpga;m3u;ogg;pls;ra;ram;xm");
}

QString TConfiguration::DefaultAttachmentsFolder() const {
    if (!defaultAttachmentsFolder_) {
        const QString documentFolder =
            environment_.DocumentFolder ? environment_.DocumentFolder() : QString();
        defaultAttachmentsFolder_ =
            (documentFolder.isEmpty() ? QString() : Folder(documentFolder)) +
            QStringLiteral("Downloaded Content/");
    }
    return *defaultAttachmentsFolder_;
}

QString TConfiguration::PathToAttachments() const {
    return pathToAttachments_.isEmpty() ? DefaultAttachmentsFolder() : pathToAttachments_;
}

void TConfiguration::SetPathToAttachments(const QString& folder) {
    if (!folder.isEmpty())
        pathToAttachments_ = Folder(folder);
}

QString TConfiguration::OverrideMusicFolder() const {
    return overrideMusicFolder_.isEmpty() ? PathToAttachments() : overrideMusicFolder_;
}

void TConfiguration::SetOverrideMusicFolder(const QString& folder) {
    if (!folder.isEmpty())
        overrideMusicFolder_ = Folder(folder);
}

void TConfiguration::SetWinAmpPlaylistPath(const QString& folder) {
    if (!folder.isEmpty())
        winAmpPlaylistPath_ = Folder(folder);
}

void TConfiguration::Load() {
    DefaultAttachmentsFolder();
    StartWithSystem =
        !environment_.AutostartFile.isEmpty() && QFileInfo::exists(environment_.AutostartFile);

    if (!QFileInfo::exists(environment_.SettingsFile))
        return;
    const QSettings settings(environment_.SettingsFile, QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError)
        return;

    for (const TSetting& setting : Settings()) {
        const QString name = QString::fromLatin1(setting.Name);
        if (setting.Condition && !(this->*setting.Condition)) {
            if (const auto* text = std::get_if<QString TConfiguration::*>(&setting.Field))
                (this->**text).clear();
            continue;
        }
        std::visit(TOverloaded{
                       [&](int32_t TConfiguration::*field) {
                           if (const std::optional<int32_t> number = Number(settings, name))
                               this->*field =
                                   std::clamp(*number, setting.Minimum.value_or(INT32_MIN),
                                              setting.Maximum.value_or(INT32_MAX));
                       },
                       [&](bool TConfiguration::*field) {
                           if (const std::optional<bool> flag = Boolean(settings, name))
                               this->*field = *flag;
                       },
                       [&](QString TConfiguration::*field) {
                           if (const std::optional<QString> text = Text(settings, name))
                               this->*field = *text;
                       },
                       [&](const TSetting::TFolderAccess& folder) {
                           if (const std::optional<QString> text = Text(settings, name))
                               (this->*folder.Set)(*text);
                       },
                   },
                   setting.Field);
    }

    if (!environment_.KnownThemes.contains(Theme))
        Theme = QStringLiteral("Default");
    // The window needs a pane to show and the list side needs one of its two.
    if (!TopicPanelVisible && !ChannelPanelVisible && !FolderPanelVisible)
        FolderPanelVisible = true;
    if (!TopicPanelVisible && !ChannelPanelVisible)
        ChannelPanelVisible = true;
    if (PlaylistName.isEmpty()) {
        PopulateITunesPlaylist = false;
        PopulateMediaPlayerPlaylist = false;
        PopulateWinAmpPlaylist = false;
    }
    if (WinAmpPlaylistPath().isEmpty())
        PopulateWinAmpPlaylist = false;
}

bool TConfiguration::Save() const {
    DefaultAttachmentsFolder();
    const bool autostartSaved = SaveAutostart();

    const std::unique_ptr<QSettings> settings = OpenForWriting();
    if (!settings)
        return false;
    for (const TSetting& setting : Settings()) {
        if (setting.Access == kReadOnly || (setting.Condition && !(this->*setting.Condition)))
            continue;
        const QString name = QString::fromLatin1(setting.Name);
        std::visit(
            TOverloaded{
                [&](int32_t TConfiguration::*field) { settings->setValue(name, this->*field); },
                [&](bool TConfiguration::*field) {
                    settings->setValue(name, this->*field ? 1 : 0);
                },
                [&](QString TConfiguration::*field) { settings->setValue(name, this->*field); },
                [&](const TSetting::TFolderAccess& folder) {
                    settings->setValue(name, (this->*folder.Get)());
                },
            },
            setting.Field);
    }
    return FinishWriting(*settings) && autostartSaved;
}

TWindowPlacement TConfiguration::LoadPlacement(const QString& formName) const {
    TWindowPlacement placement;
    if (!QFileInfo::exists(environment_.SettingsFile))
        return placement;
    QSettings settings(environment_.SettingsFile, QSettings::IniFormat);
    settings.beginGroup(formName);
    placement.Left = Number(settings, QStringLiteral("Left"));
    placement.Top = Number(settings, QStringLiteral("Top"));
    placement.Height = Number(settings, QStringLiteral("Height"));
    placement.Width = Number(settings, QStringLiteral("Width"));
    placement.IsMaximized = Boolean(settings, QStringLiteral("IsMaximized"));
    return placement;
}

bool TConfiguration::SavePlacement(const QString& formName,
                                   const TWindowPlacement& placement) const {
    const std::unique_ptr<QSettings> settings = OpenForWriting();
    if (!settings)
        return false;
    settings->beginGroup(formName);
    const auto put = [&](const QString& name, const std::optional<int32_t>& value) {
        if (value)
            settings->setValue(name, *value);
    };
    put(QStringLiteral("Left"), placement.Left);
    put(QStringLiteral("Top"), placement.Top);
    put(QStringLiteral("Height"), placement.Height);
    put(QStringLiteral("Width"), placement.Width);
    if (placement.IsMaximized)
        settings->setValue(QStringLiteral("IsMaximized"), *placement.IsMaximized ? 1 : 0);
    settings->endGroup();
    return FinishWriting(*settings);
}

std::vector<std::pair<QString, QVariant>> TConfiguration::Values() const {
    std::vector<std::pair<QString, QVariant>> values;
    for (const TSetting& setting : Settings()) {
        const QVariant value = std::visit(
            TOverloaded{
                [&](int32_t TConfiguration::*field) { return QVariant(int(this->*field)); },
                [&](bool TConfiguration::*field) { return QVariant(this->*field); },
                [&](QString TConfiguration::*field) { return QVariant(this->*field); },
                [&](const TSetting::TFolderAccess& folder) {
                    return QVariant((this->*folder.Get)());
                },
            },
            setting.Field);
        values.emplace_back(QString::fromLatin1(setting.Name), value);
    }
    return values;
}

bool TConfiguration::SaveAutostart() const {
    const QString& path = environment_.AutostartFile;
    if (!StartWithSystem) {
        const QFileInfo entry(path);
        return path.isEmpty() || !(entry.exists() || entry.isSymLink()) || QFile::remove(path);
    }
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=%1\n"
                       "Exec=%2\n")
            .arg(DesktopString(displayName_), ExecArgument(environment_.ProgramFile));
    file.write(entry.toUtf8());
    return file.commit();
}

std::unique_ptr<QSettings> TConfiguration::OpenForWriting() const {
    const QString& path = environment_.SettingsFile;
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()) || !RestrictToOwner(path))
        return nullptr;
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

bool TConfiguration::FinishWriting(QSettings& settings) const {
    settings.sync();
    // Should QSettings have had to write in place after all, narrow the file again.
    const bool restricted = RestrictToOwner(environment_.SettingsFile);
    return settings.status() == QSettings::NoError && restricted;
}

TConfiguration* TConfiguration::Instance(int request) {
    return platform::TInstanceStore<TConfiguration>::Request(
        request, [] { return std::make_unique<TConfiguration>(*TBranding::Instance()); });
}

} // namespace config
