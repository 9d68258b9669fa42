#include "consolereceiver.h"

#include <cstdio>

namespace app {

void TConsoleReceiver::Started() {
    if (!velquint_.PendingUrl().isEmpty())
        AddFeedMessage();
}

void TConsoleReceiver::AddFeedMessage() {
    Report("add-feed");
}

void TConsoleReceiver::ShowMessage() {
    Report("show");
}

void TConsoleReceiver::Report(const char* message) {
    QByteArray line(message);
    const QByteArray url = velquint_.PendingUrl();
    if (!url.isEmpty())
        line += ' ' + url;
    line += '\n';
    std::fwrite(line.constData(), 1, line.size(), stdout);
    std::fflush(stdout);
    if (!url.isEmpty())
        velquint_.SetPendingUrl(QByteArray());
}

} // namespace app
