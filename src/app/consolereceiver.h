#pragma once

#include "platform/thandover.h"
#include "platform/tvelquint.h"

namespace app {

// The running instance's answer to second starts until the main window takes over: each message
// becomes one line on standard output ("add-feed URL", "show" or "show URL" when a URL was
// pending), and a pending URL is then cleared as the window does once it has handled it.
class TConsoleReceiver : public platform::TInstanceReceiver {
public:
    explicit TConsoleReceiver(platform::TVelquint& velquint) : velquint_(velquint) {}

    // The end of the start-up: a URL of the program's own command line counts as an add-feed
    // request.
    void Started();

    void AddFeedMessage() override;
    void ShowMessage() override;

private:
    void Report(const char* message);

    platform::TVelquint& velquint_;
};

} // namespace app
