#include "consolereceiver.h"

#include "config/tbranding.h"
#include "config/tconfiguration.h"
#include "platform/tvelquint.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr char kUsage[] =
    "Usage: velquint [/ui] [/add reader:ADDRESS]\n"
    "\n"
    "Velquint Reader, a feed reader. One instance runs per user session: a second start hands\n"
    "its command line to the running instance, which adds the feed or shows its window, and\n"
    "ends at once.\n"
    "\n"
    "  /ui                  show the window even when it is set to start hidden\n"
    "  /add reader:ADDRESS  add the feed at ADDRESS; reader://host/feed stands for\n"
    "                       http://host/feed, reader:http://host/feed for itself\n"
    "  --help               print this text and end\n"
    "\n"
    "Options and the reader: prefix are not case-sensitive; other arguments are ignored.\n";

} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    try {
        platform::TVelquint& velquint = *platform::TVelquint::Instance();
        if (velquint.AlreadyRunning()) {
            velquint.RequestShow();
            return 0;
        }
        config::TBranding::Instance()->Load();
        config::TConfiguration::Instance()->Load();
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Velquint Reader"));
        app::TConsoleReceiver receiver(velquint);
        const auto server = velquint.Listen(receiver);
        receiver.Started();
        return QCoreApplication::exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velquint: %s\n", e.what());
        return 1;
    }
}
