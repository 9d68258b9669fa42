// Whole-program checks of the one-instance rule: real velquint processes in a session of their
// own (HOME and XDG_RUNTIME_DIR in a temporary folder), so tests never meet each other or an
// instance of the user's.
#include "platform/thandover.h"
#include "platform/tsharedblock.h"
#include "platform/tvelquint.h"

#include "support/coreapp.h"
#include "support/tempdir.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <sys/mman.h>

using namespace platform;

namespace {

constexpr int kTimeout = 20000;

class Instances : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(runtime));
        ASSERT_TRUE(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    void TearDown() override {
        for (auto& process : processes) {
            process->kill();
            process->waitForFinished(kTimeout);
        }
        // A killed instance leaves its block behind.
        shm_unlink(names.sharedBlock.constData());
    }

    QProcess& Start(const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.Path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(QStringLiteral(VELQUINT_APP_BINARY), arguments);
        EXPECT_TRUE(process->waitForStarted(kTimeout)) << process->errorString().toStdString();
        processes.push_back(std::move(process));
        return *processes.back();
    }

    // Starts the first instance and waits until it answers second starts.
    QProcess& StartFirst() {
        QProcess& first = Start({});
        // A message no handler knows: answered, nothing printed.
        EXPECT_TRUE(
            SendHandOver(names.handOverSocket, "probe", std::chrono::milliseconds(kTimeout)));
        return first;
    }

    // Runs a second start to its end: it must end by itself, at once and with code 0.
    void RunSecond(const QStringList& arguments) {
        QProcess& second = Start(arguments);
        ASSERT_TRUE(second.waitForFinished(kTimeout));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
        EXPECT_EQ(second.readAllStandardOutput(), "");
    }

    // Everything the instance printed: a second start returns only after the handler wrote its
    // line, so stopping the instance afterwards loses nothing.
    static QByteArray StopAndRead(QProcess& instance) {
        EXPECT_EQ(instance.state(), QProcess::Running) << "the instance ended by itself";
        instance.kill();
        instance.waitForFinished(kTimeout);
        return instance.readAllStandardOutput();
    }

    testsupport::CoreApplication app;
    testsupport::TempDir home;
    QString runtime = home.File("run");
    TInstanceNames names = TInstanceNames::ForRuntimeFolder(runtime);
    std::vector<std::unique_ptr<QProcess>> processes;
};

} // namespace

TEST_F(Instances, SecondStartHandsItsCommandLineToTheRunningInstance) {
    struct Row {
        QStringList arguments;
        QByteArray received;
    };
    const Row rows[] = {
        {{"/add", "reader://host/feed"}, "add-feed http://host/feed\nshow\n"},
        {{}, "show\n"},
        {{"/add", "reader:"}, "show\n"},
        {{"/add", "http://host/feed", "/ui"}, "show\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(QLatin1Char(' ')).toStdString());
        QProcess& first = StartFirst();
        RunSecond(row.arguments);
        // Nothing is left in the block once the running instance has handled it.
        TSharedBlock block(names.sharedBlock);
        EXPECT_EQ(block.ReadUrl(), "");
        EXPECT_EQ(StopAndRead(first), row.received);
    }
}

TEST_F(Instances, FirstInstanceHandlesTheUrlOfItsOwnCommandLine) {
    QProcess& first = Start({"/add", "Reader:http://host/Feed"});
    ASSERT_TRUE(SendHandOver(names.handOverSocket, "probe", std::chrono::milliseconds(kTimeout)));
    RunSecond({});
    EXPECT_EQ(StopAndRead(first), "add-feed http://host/Feed\nshow\n");
}

TEST_F(Instances, KilledFirstInstanceDoesNotBlockTheNextStart) {
    QProcess& killed = StartFirst();
    {
        // A URL that the killed instance never handled.
        TSharedBlock block(names.sharedBlock);
        block.WriteUrl("http://host/stale");
    }
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(kTimeout));

    QProcess& next = StartFirst();
    RunSecond({});
    EXPECT_EQ(StopAndRead(next), "show\n");
}

TEST_F(Instances, HelpPrintsTheCommandLine) {
    QProcess& help = Start({"--help"});
    ASSERT_TRUE(help.waitForFinished(kTimeout));
    EXPECT_EQ(help.exitCode(), 0);
    const QByteArray text = help.readAllStandardOutput();
    EXPECT_TRUE(text.startsWith("Usage: velquint [/ui] [/add reader:ADDRESS]\n")) << text.data();
    EXPECT_TRUE(text.contains("--help"));
    // It started nothing: the next start is a first instance.
    QProcess& first = StartFirst();
    EXPECT_EQ(StopAndRead(first), "");
}
