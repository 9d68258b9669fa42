#include "platform/tvelquint.h"

#include "platform/tcommandline.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A folder of our own inside the shared temporary folder: only one that this user owns and
// nobody else may enter is trusted, since anyone can create names there.
QString PrivateTemporaryFolder() {
    const QString folder = QDir::tempPath() + QStringLiteral("/velquint-%1").arg(getuid());
    const QByteArray encoded = QFile::encodeName(folder);
    mkdir(encoded.constData(), 0700);
    struct stat status {};
    if (lstat(encoded.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != getuid() || (status.st_mode & 077) != 0)
        return {};
    return folder;
}

} // namespace

QString RuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return QDir::cleanPath(runtime);
    return PrivateTemporaryFolder();
}

TInstanceNames TInstanceNames::ForRuntimeFolder(const QString& folder) {
    const QString uid = QString::number(getuid());
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(folder), QCryptographicHash::Sha1);
    TInstanceNames names;
    // Shared memory names are one namespace for the whole system.
    names.sharedBlock =
        QByteArray("/") + kSharedBlockName + '.' + uid.toLatin1() + '.' + digest.left(8).toHex();
    if (!folder.isEmpty()) {
        names.lockFile =
            folder + QLatin1Char('/') + QLatin1String(kInstanceMutexName) + QLatin1String(".lock");
        names.handOverSocket = folder + QStringLiteral("/Velquint.%1.socket").arg(uid);
    }
    return names;
}

TVelquint* TVelquint::Instance(int request) {
    return TInstanceStore<TVelquint>::Request(request);
}

TVelquint::TVelquint() : TVelquint(ProcessArguments(), RuntimeFolder()) {}

TVelquint::TVelquint(const QStringList& arguments, const QString& runtimeFolder)
    : names_(TInstanceNames::ForRuntimeFolder(runtimeFolder)), lock_(names_.lockFile),
      block_(names_.sharedBlock) {
    const TCommandLine commandLine = ParseCommandLine(arguments);
    showUI_ = commandLine.showUI;
    for (const QByteArray& url : commandLine.urls)
        SetPendingUrl(url);
}

TVelquint::~TVelquint() = default;

QByteArray TVelquint::PendingUrl() {
    if (pendingUrl_.isEmpty())
        pendingUrl_ = block_.ReadUrl();
    return pendingUrl_;
}

void TVelquint::SetPendingUrl(const QByteArray& url) {
    pendingUrl_.clear();
    const QByteArray stored = block_.WriteUrl(url);
    if (stored.isEmpty())
        return;
    pendingUrl_ = stored;
    if (block_.Valid())
        Broadcast(kAddFeedMessageName);
}

void TVelquint::RequestShow() {
    Broadcast(kShowMessageName);
}

void TVelquint::Broadcast(const char* messageName) const {
    if (AlreadyRunning())
        SendHandOver(names_.handOverSocket, messageName);
}

QString TVelquint::WebFolder() {
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFileInfo(program).absolutePath() + QStringLiteral("/web/");
}

std::unique_ptr<THandOverServer> TVelquint::Listen(TInstanceReceiver& receiver) const {
    // Holding the lock proves that no other instance serves, so a socket file found at the
    // name is a dead instance's and may be replaced.
    if (!lock_.Acquired() || names_.handOverSocket.isEmpty())
        return nullptr;
    return std::make_unique<THandOverServer>(names_.handOverSocket, receiver);
}

} // namespace platform
