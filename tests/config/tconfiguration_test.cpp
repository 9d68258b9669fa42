#include "config/tbranding.h"
#include "config/tconfiguration.h"
#include "support/tempdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using config::ExtensionList;
using config::TBranding;
using config::TConfiguration;
using config::TConfigurationEnvironment;
using config::TWindowPlacement;
using testsupport::TempDir;

namespace {

// Sets an environment variable for the life of the object and puts the old value back.
class TScopedVariable {
public:
    TScopedVariable(const char* name, const QString& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = QByteArray(old);
        ::setenv(name, QFile::encodeName(value).constData(), 1);
    }
    ~TScopedVariable() {
        if (old_)
            ::setenv(name_, old_->constData(), 1);
        else
            ::unsetenv(name_);
    }
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

TWindowPlacement LeftOnly(int32_t left) {
    TWindowPlacement placement;
    placement.Left = left;
    return placement;
}

std::string Str(const QVariant& value) {
    return value.toString().toStdString();
}

mode_t ModeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

class ConfigurationTest : public ::testing::Test {
protected:
    ConfigurationTest() : branding_(temp_.File(u"program"_s)) {}

    TConfigurationEnvironment Environment() const {
        TConfigurationEnvironment environment;
        environment.SettingsFile = SettingsFile();
        environment.AutostartFile = AutostartFile();
        environment.ProgramFile = u"/opt/velquint/bin/velquint"_s;
        environment.DocumentFolder = [folder = DocumentFolder()] { return folder; };
        environment.KnownThemes = {u"Default"_s, u"Aluminium"_s};
        return environment;
    }

    std::unique_ptr<TConfiguration> Make() const {
        return std::make_unique<TConfiguration>(branding_, Environment());
    }

    std::unique_ptr<TConfiguration> Loaded() const {
        auto configuration = Make();
        configuration->Load();
        return configuration;
    }

    QString SettingsFile() const { return temp_.File(u"config/Dunmerrow/Velquint.ini"_s); }
    QString AutostartFile() const { return temp_.File(u"config/autostart/velquint.desktop"_s); }
    QString DocumentFolder() const { return temp_.File(u"My Velquint/"_s); }

    // The settings file as a user or another program may have left it. QSettings rereads a file
    // only when its size or modification time has changed, so each rewrite is dated later.
    void WriteSettings(const QByteArray& ini) const {
        QDir().mkpath(QFileInfo(SettingsFile()).absolutePath());
        const QDateTime before = QFileInfo(SettingsFile()).lastModified();
        QFile file(SettingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(ini);
        file.flush();
        const QDateTime now = QDateTime::currentDateTime();
        file.setFileTime(before.isValid() ? std::max(now, before.addSecs(1)) : now,
                         QFileDevice::FileModificationTime);
    }

    QByteArray SettingsText() const {
        QFile file(SettingsFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QVariant ValueOf(const TConfiguration& configuration, const QString& name) {
        for (const auto& [key, value] : configuration.Values())
            if (key == name)
                return value;
        ADD_FAILURE() << "no value named " << name.toStdString();
        return {};
    }

    TempDir temp_;
    TBranding branding_;
};

TEST_F(ConfigurationTest, FirstStartHasEveryDefaultAndCreatesNoFile) {
    const auto configuration = Loaded();
    const QString attachments = DocumentFolder() + u"Downloaded Content/"_s;
    const std::vector<std::pair<QString, QVariant>> expected = {
        {u"TopicsSortOrder"_s, 1},
        {u"TopicsInvertedOrder"_s, true},
        {u"FoldersSortOrder"_s, 0},
        {u"RunMinimized"_s, false},
        {u"AutoDelete"_s, false},
        {u"AutoDeletePeriod"_s, 30},
        {u"RefreshAtStartup"_s, true},
        {u"AutoRefresh"_s, true},
        {u"AutoRefreshPeriod"_s, 30},
        {u"AutoRefreshMeasure"_s, 0},
        {u"NotifyOnNewContent"_s, true},
        {u"PopupTime"_s, 10},
        {u"TopicPanelVisible"_s, true},
        {u"ChannelPanelVisible"_s, true},
        {u"FolderPanelVisible"_s, true},
        {u"FolderPanelWidth"_s, 135},
        {u"ChannelPanelHeight"_s, 217},
        {u"Theme"_s, u"Default"_s},
        {u"ScriptingEnabled"_s, false},
        {u"ContentDownloaderHeight"_s, 90},
        {u"NoDownloads"_s, false},
        {u"PathToAttachments"_s, attachments},
        {u"DownloaderMode"_s, 1},
        {u"NeverDownloadExtensions"_s, TConfiguration::DefaultNeverDownloadExtensions()},
        {u"MusicExtensions"_s, TConfiguration::DefaultMusicExtensions()},
        {u"UseOverrideMusicFolder"_s, false},
        {u"OverrideMusicFolder"_s, attachments},
        {u"PopulateITunesPlaylist"_s, false},
        {u"PopulateMediaPlayerPlaylist"_s, false},
        {u"PopulateWinAmpPlaylist"_s, false},
        {u"IncludeAbsolutePathInWinAmpPlaylist"_s, true},
        {u"PlaylistName"_s, u"Downloaded Podcasts"_s},
        {u"WinAmpPlaylistPath"_s, QString()},
        {u"IdleDownloadingOption"_s, 1},
        {u"ForceIPodSynchronization"_s, false},
        {u"PriorityLeverageWarningShown"_s, false},
        {u"IdleTime"_s, 15},
        {u"IntroducedToDownloader"_s, false},
        {u"DoNotShowDownloaderAutomatically"_s, false},
        {u"NotifyDownloadsComplete"_s, true},
        {u"NormalClose"_s, false},
        {u"PlayNewContentNotificationSound"_s, false},
        {u"LockedInToService"_s, false},
        {u"UseGeoLocation"_s, false},
        {u"GeoCountry"_s, QString()},
        {u"GeoCity"_s, QString()},
        {u"GeoZip"_s, QString()},
        {u"AccountUserName"_s, QString()},
        {u"AccountPassword"_s, QString()},
    };
    const auto values = configuration->Values();
    ASSERT_EQ(values.size(), expected.size());
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(expected[i].first.toStdString());
        EXPECT_EQ(values[i].first, expected[i].first);
        EXPECT_EQ(values[i].second, expected[i].second);
        EXPECT_EQ(values[i].second.typeId(), expected[i].second.typeId());
    }
    EXPECT_FALSE(configuration->StartWithSystem);
    EXPECT_EQ(configuration->NeverDownloadExtensionList().size(), 47);
    EXPECT_EQ(configuration->MusicExtensionList().size(), 18);
    EXPECT_FALSE(QFileInfo::exists(SettingsFile()));
    EXPECT_FALSE(QFileInfo::exists(AutostartFile()));
}

TEST_F(ConfigurationTest, SaveWritesEveryValueButTheReadOnlyOnesWithBooleansAsNumbers) {
    ASSERT_TRUE(Loaded()->Save());

    QSettings stored(SettingsFile(), QSettings::IniFormat);
    QStringList expected;
    for (const auto& [name, value] : Make()->Values())
        expected << name;
    for (const QString& never :
         {u"NormalClose"_s, u"LockedInToService"_s, u"UseGeoLocation"_s, u"GeoCountry"_s,
          u"GeoCity"_s, u"GeoZip"_s, u"AccountUserName"_s, u"AccountPassword"_s})
        expected.removeOne(never);
    QStringList keys = stored.allKeys();
    keys.sort();
    expected.sort();
    EXPECT_EQ(keys, expected);

    const QByteArray text = SettingsText();
    EXPECT_TRUE(text.contains("\nTopicsInvertedOrder=1\n")) << text.constData();
    EXPECT_TRUE(text.contains("\nRunMinimized=0\n")) << text.constData();
    EXPECT_TRUE(text.contains("\nAutoDeletePeriod=30\n")) << text.constData();
    EXPECT_EQ(stored.value(u"PathToAttachments"_s).toString(),
              DocumentFolder() + u"Downloaded Content/"_s);
}

TEST_F(ConfigurationTest, StoredNumbersAreClampedIntoTheirRanges) {
    struct Row {
        const char* name;
        const char* stored; // nullptr: absent
        int expected;
    };
    const Row rows[] = {
        {"AutoDeletePeriod", "0", 1},
        {"AutoDeletePeriod", "45", 31},
        {"AutoDeletePeriod", "31", 31},
        {"ContentDownloaderHeight", nullptr, 90},
        {"ContentDownloaderHeight", "50", 100},
        {"ContentDownloaderHeight", "2000000000", 2000000000},
        {"IdleTime", "2", 5},
        {"IdleTime", "600", 600},
        {"TopicsSortOrder", "3", 2},
        {"TopicsSortOrder", "-1", 0},
        {"FoldersSortOrder", "7", 1},
        {"AutoRefreshPeriod", "0", 1},
        {"AutoRefreshPeriod", "101", 100},
        {"AutoRefreshMeasure", "2", 1},
        {"PopupTime", "61", 60},
        {"FolderPanelWidth", "100", 135},
        {"FolderPanelWidth", "5000", 5000},
        {"ChannelPanelHeight", "-2147483648", 30},
        {"DownloaderMode", "0", 1},
        {"IdleDownloadingOption", "4", 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + "=" + (row.stored ? row.stored : "(absent)"));
        WriteSettings(row.stored ? QByteArray("[General]\n") + row.name + '=' + row.stored + '\n'
                                 : QByteArray("[General]\n"));
        EXPECT_EQ(ValueOf(*Loaded(), QString::fromLatin1(row.name)), QVariant(row.expected));
    }
}

TEST_F(ConfigurationTest, ValuesOfTheWrongTypeReadAsAbsent) {
    struct Row {
        const char* line;
        const char* name;
        QVariant expected;
    };
    const Row rows[] = {
        {"AutoDeletePeriod=abc", "AutoDeletePeriod", 30},
        {"AutoDeletePeriod=30 px", "AutoDeletePeriod", 30},
        {"AutoDeletePeriod=0x1E", "AutoDeletePeriod", 30},
        {"AutoDeletePeriod=", "AutoDeletePeriod", 30},
        {"AutoDeletePeriod=\"12\"", "AutoDeletePeriod", 12},
        {"IdleTime=99999999999", "IdleTime", 15},
        {"IdleTime=1, 2", "IdleTime", 15},
        {"RunMinimized=true", "RunMinimized", false},
        {"TopicsInvertedOrder=no", "TopicsInvertedOrder", true},
        {"RunMinimized=2", "RunMinimized", true},
        {"RunMinimized=-1", "RunMinimized", true},
        {"PlaylistName=@ByteArray(Mine)", "PlaylistName", u"Downloaded Podcasts"_s},
        {"MusicExtensions=mp3, ogg", "MusicExtensions", TConfiguration::DefaultMusicExtensions()},
        {"MusicExtensions=\"mp3, ogg\"", "MusicExtensions", u"mp3, ogg"_s},
        {"PathToAttachments=@ByteArray(/x)", "PathToAttachments",
         DocumentFolder() + u"Downloaded Content/"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        WriteSettings(QByteArray("[General]\n") + row.line + '\n');
        EXPECT_EQ(ValueOf(*Loaded(), QString::fromLatin1(row.name)), row.expected);
    }
}

TEST_F(ConfigurationTest, AFileOfJunkLeavesTheDefaultsAndIsNotFatal) {
    const char junk[] = "\x00\xff[[=\n=\n\\\n[General\nPopupTime=7\n";
    WriteSettings(QByteArray(junk, sizeof junk - 1));
    const auto configuration = Loaded();
    EXPECT_EQ(configuration->AutoDeletePeriod, 30);
    EXPECT_TRUE(configuration->FolderPanelVisible);
}

TEST_F(ConfigurationTest, PaneFlagsAreRepairedSoThatAPaneShows) {
    struct Row {
        int topic, channel, folder;
        bool topicAfter, channelAfter, folderAfter;
    };
    const Row rows[] = {
        {0, 0, 0, false, true, true},  {0, 0, 1, false, true, true}, {1, 0, 0, true, false, false},
        {0, 1, 0, false, true, false}, {1, 1, 1, true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.topic << row.channel << row.folder);
        WriteSettings(QStringLiteral("[General]\nTopicPanelVisible=%1\nChannelPanelVisible=%2\n"
                                     "FolderPanelVisible=%3\n")
                          .arg(row.topic)
                          .arg(row.channel)
                          .arg(row.folder)
                          .toLatin1());
        const auto configuration = Loaded();
        EXPECT_EQ(configuration->TopicPanelVisible, row.topicAfter);
        EXPECT_EQ(configuration->ChannelPanelVisible, row.channelAfter);
        EXPECT_EQ(configuration->FolderPanelVisible, row.folderAfter);
    }
}

TEST_F(ConfigurationTest, EmptyPlaylistSettingsSwitchThePlaylistOptionsOff) {
    struct Row {
        const char* extra;
        bool iTunes, mediaPlayer, winAmp;
    };
    const Row rows[] = {
        {"PlaylistName=\nWinAmpPlaylistPath=/music", false, false, false},
        {"PlaylistName=Mine", true, true, false},
        {"PlaylistName=Mine\nWinAmpPlaylistPath=", true, true, false},
        {"PlaylistName=Mine\nWinAmpPlaylistPath=/music", true, true, true},
        {"WinAmpPlaylistPath=/music", true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.extra);
        WriteSettings(QByteArray("[General]\nPopulateITunesPlaylist=1\n"
                                 "PopulateMediaPlayerPlaylist=1\nPopulateWinAmpPlaylist=1\n") +
                      row.extra + '\n');
        const auto configuration = Loaded();
        EXPECT_EQ(configuration->PopulateITunesPlaylist, row.iTunes);
        EXPECT_EQ(configuration->PopulateMediaPlayerPlaylist, row.mediaPlayer);
        EXPECT_EQ(configuration->PopulateWinAmpPlaylist, row.winAmp);
    }
}

TEST_F(ConfigurationTest, ReadOnlyValuesSurviveASaveAndGuardTheirTexts) {
    WriteSettings("[General]\nNormalClose=1\nLockedInToService=1\nUseGeoLocation=0\n"
                  "GeoCity=Oslo\nAccountUserName=ann\nAccountPassword=old\n");
    auto configuration = Loaded();
    EXPECT_TRUE(configuration->NormalClose);
    EXPECT_TRUE(configuration->LockedInToService);
    EXPECT_EQ(configuration->AccountUserName, u"ann"_s);
    EXPECT_EQ(configuration->GeoCity, QString());

    configuration->NormalClose = false;
    configuration->LockedInToService = false;
    configuration->UseGeoLocation = true;
    configuration->GeoCity = u"Bergen"_s;
    configuration->AccountPassword = u"new"_s;
    ASSERT_TRUE(configuration->Save());

    QSettings stored(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(u"NormalClose"_s).toString(), u"1"_s);
    EXPECT_EQ(stored.value(u"LockedInToService"_s).toString(), u"1"_s);
    EXPECT_EQ(stored.value(u"UseGeoLocation"_s).toString(), u"0"_s);
    // Written only while their flag is on in memory; otherwise what was stored stays.
    EXPECT_EQ(stored.value(u"GeoCity"_s).toString(), u"Bergen"_s);
    EXPECT_EQ(stored.value(u"AccountPassword"_s).toString(), u"old"_s);

    const auto again = Loaded();
    EXPECT_TRUE(again->NormalClose);
    EXPECT_EQ(again->AccountPassword, u"old"_s);
    EXPECT_EQ(again->GeoCity, QString());
}

TEST_F(ConfigurationTest, UnknownThemesFallBackToDefault) {
    TBranding branded(temp_.File(u"program"_s));
    branded.Theme = u"Aluminium"_s;
    struct Row {
        const char* stored;
        const char* expected;
    };
    const Row rows[] = {{nullptr, "Aluminium"}, {"Aluminium", "Aluminium"}, {"Chrome", "Default"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored ? row.stored : "(absent)");
        WriteSettings(row.stored ? QByteArray("[General]\nTheme=") + row.stored + '\n'
                                 : QByteArray("[General]\n"));
        TConfiguration configuration(branded, Environment());
        configuration.Load();
        EXPECT_EQ(configuration.Theme, QString::fromLatin1(row.expected));
    }
    auto unknown = Environment();
    unknown.KnownThemes = {u"Default"_s};
    TConfiguration configuration(branded, std::move(unknown));
    configuration.Load();
    EXPECT_EQ(configuration.Theme, u"Default"_s);
}

TEST_F(ConfigurationTest, FolderSettingsEndWithASlashAndIgnoreEmptyTexts) {
    WriteSettings("[General]\nPathToAttachments=/data/pods\nOverrideMusicFolder=\n");
    auto configuration = Loaded();
    EXPECT_EQ(configuration->PathToAttachments(), u"/data/pods/"_s);
    EXPECT_EQ(configuration->OverrideMusicFolder(), u"/data/pods/"_s);

    configuration->SetPathToAttachments(QString());
    configuration->SetOverrideMusicFolder(u"/music/"_s);
    configuration->SetWinAmpPlaylistPath(u"/lists"_s);
    EXPECT_EQ(configuration->PathToAttachments(), u"/data/pods/"_s);
    EXPECT_EQ(configuration->OverrideMusicFolder(), u"/music/"_s);
    EXPECT_EQ(configuration->WinAmpPlaylistPath(), u"/lists/"_s);
}

TEST_F(ConfigurationTest, TheSettingsFileIsReadableByItsOwnerOnly) {
    ASSERT_TRUE(Make()->SavePlacement(u"frmMain"_s, LeftOnly(1)));
    EXPECT_EQ(ModeOf(SettingsFile()), 0600u);

    ASSERT_TRUE(::chmod(QFile::encodeName(SettingsFile()).constData(), 0644) == 0);
    auto configuration = Loaded();
    configuration->AccountPassword = u"secret"_s;
    ASSERT_TRUE(configuration->Save());
    EXPECT_EQ(ModeOf(SettingsFile()), 0600u);
}

TEST_F(ConfigurationTest, ASettingsFileThatCannotBeWrittenIsReportedNotRaised) {
    QDir().mkpath(temp_.File(u"config"_s));
    QFile blocker(temp_.File(u"config/Dunmerrow"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto configuration = Loaded();
    EXPECT_FALSE(configuration->Save());
    EXPECT_FALSE(configuration->SavePlacement(u"frmMain"_s, LeftOnly(1)));
}

TEST_F(ConfigurationTest, StartingWithTheSessionIsThePresenceOfTheAutostartEntry) {
    auto configuration = Loaded();
    configuration->StartWithSystem = true;
    ASSERT_TRUE(configuration->Save());
    QFile entry(AutostartFile());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.readAll(), QByteArray("[Desktop Entry]\nType=Application\n"
                                          "Name=Velquint Reader\n"
                                          "Exec=\"/opt/velquint/bin/velquint\"\n"));
    EXPECT_TRUE(Loaded()->StartWithSystem);

    configuration->StartWithSystem = false;
    ASSERT_TRUE(configuration->Save());
    EXPECT_FALSE(QFileInfo::exists(AutostartFile()));
    EXPECT_FALSE(Loaded()->StartWithSystem);
}

TEST_F(ConfigurationTest, TheAutostartEntryQuotesAnAwkwardProgramPath) {
    auto environment = Environment();
    environment.ProgramFile = u"/opt/my \"$app\"/100%/velquint\\x"_s;
    TConfiguration configuration(branding_, std::move(environment));
    configuration.StartWithSystem = true;
    ASSERT_TRUE(configuration.Save());
    QFile entry(AutostartFile());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    // Exec quoting first ("\$", "\\"), then the string escape doubles every backslash.
    EXPECT_TRUE(entry.readAll().contains(
        "\nExec=\"/opt/my \\\\\"\\\\$app\\\\\"/100%%/velquint\\\\\\\\x\"\n"));
}

TEST_F(ConfigurationTest, WindowPlacementLivesInTheFormsGroup) {
    EXPECT_FALSE(Make()->LoadPlacement(u"frmMain"_s).Left);

    const auto configuration = Loaded();
    ASSERT_TRUE(configuration->SavePlacement(
        u"frmMain"_s,
        TWindowPlacement{.Left = -8, .Top = 20, .Height = 600, .Width = 800, .IsMaximized = true}));
    ASSERT_TRUE(configuration->Save());

    QSettings stored(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value(u"frmMain/Left"_s).toString(), u"-8"_s);
    EXPECT_EQ(stored.value(u"frmMain/IsMaximized"_s).toString(), u"1"_s);

    const TWindowPlacement placement = Make()->LoadPlacement(u"frmMain"_s);
    EXPECT_EQ(placement.Left, -8);
    EXPECT_EQ(placement.Top, 20);
    EXPECT_EQ(placement.Height, 600);
    EXPECT_EQ(placement.Width, 800);
    EXPECT_EQ(placement.IsMaximized, true);

    WriteSettings("[frmMain]\nLeft=wide\nTop=5\n");
    const TWindowPlacement partial = Make()->LoadPlacement(u"frmMain"_s);
    EXPECT_FALSE(partial.Left);
    EXPECT_EQ(partial.Top, 5);
    EXPECT_FALSE(partial.IsMaximized);
}

TEST_F(ConfigurationTest, TheUsersPlacesFollowTheXdgFolders) {
    const TScopedVariable home("HOME", temp_.Path());
    const TScopedVariable configHome("XDG_CONFIG_HOME", temp_.File(u"xdg"_s));
    TBranding acme(temp_.File(u"program"_s));
    acme.ProductName = u"Acme"_s;
    const TConfigurationEnvironment environment = TConfigurationEnvironment::ForUser(u"Acme"_s);
    EXPECT_EQ(environment.AutostartFile, temp_.File(u"xdg/autostart/velquint.desktop"_s));
    EXPECT_TRUE(environment.SettingsFile.endsWith(u"/Dunmerrow/Velquint.ini"_s))
        << Str(environment.SettingsFile);
    EXPECT_FALSE(environment.ProgramFile.isEmpty());
    const TConfiguration configuration(acme, environment);
    EXPECT_EQ(configuration.DefaultAttachmentsFolder(),
              temp_.File(u"Documents/My Acme/Downloaded Content/"_s));
}

TEST(ExtensionList, SplitsAsTheAttachmentSettingsExpect) {
    struct Row {
        QString text;
        QStringList expected;
    };
    const Row rows[] = {
        {u"EXE;Com"_s, {u"exe"_s, u"com"_s}},
        {u"a;;b"_s, {u"a"_s, QString(), u"b"_s}},
        {u"a; ;b"_s, {u"a"_s, QString(), u"b"_s}},
        {u"a;"_s, {u"a"_s, QString()}},
        {u"a ; "_s, {u"a"_s}},
        {u"  a b\tc"_s, {u"a"_s, u"b"_s, u"c"_s}},
        {u"\"My Files\";x"_s, {u"my files"_s, u"x"_s}},
        {u"\"a\"\"b\";c"_s, {u"a\"b"_s, u"c"_s}},
        {u"\"open ended"_s, {u"open ended"_s}},
        {u"\"q\"r"_s, {u"q"_s, u"r"_s}},
        {u";"_s, {QString(), QString()}},
        {QString(), {}},
        {u"   "_s, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Str(row.text));
        EXPECT_EQ(ExtensionList(row.text), row.expected);
    }
}

} // namespace
