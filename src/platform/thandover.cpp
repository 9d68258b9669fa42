#include "platform/thandover.h"

#include <QFile>
#include <QLocalSocket>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

// Longer than any message name; more without a line feed is not a sender of ours.
constexpr qsizetype kMaxLine = 256;
constexpr std::chrono::milliseconds kRetryInterval{50};

// A connected socket to path, or -1. Waits while nobody listens there yet.
int Connect(const QString& path, std::chrono::milliseconds patience) {
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (encoded.isEmpty() || encoded.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return -1;
    std::memcpy(address.sun_path, encoded.constData(), encoded.size());
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return fd;
        const int error = errno;
        close(fd);
        const bool notYet = error == ENOENT || error == ECONNREFUSED || error == EAGAIN;
        if (error != EINTR && (!notYet || std::chrono::steady_clock::now() >= deadline))
            return -1;
        std::this_thread::sleep_for(kRetryInterval);
    }
}

bool SendAll(int fd, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Blocks until the answer's line feed arrives; false when the server closed the connection
// before.
bool AwaitAnswer(int fd) {
    char byte;
    for (;;) {
        const ssize_t n = recv(fd, &byte, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (byte == '\n')
            return true;
    }
}

} // namespace

THandOverServer::THandOverServer(const QString& path, TInstanceReceiver& receiver)
    : receiver_(receiver) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] { Accept(); });
    QLocalServer::removeServer(path);
    server_.listen(path);
}

THandOverServer::~THandOverServer() = default;

void THandOverServer::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket,
                         [this, socket] { Serve(socket); });
        if (socket->bytesAvailable() > 0)
            Serve(socket);
    }
}

void THandOverServer::Serve(QLocalSocket* socket) {
    // A handler may run a nested event loop in which the sender goes away and its socket is
    // deleted.
    const QPointer<QLocalSocket> alive(socket);
    while (alive && alive->canReadLine()) {
        Dispatch(alive->readLine().trimmed());
        if (!alive)
            return;
        alive->write("\n");
        alive->flush();
    }
    if (alive && alive->bytesAvailable() > kMaxLine)
        alive->abort();
}

void THandOverServer::Dispatch(const QByteArray& name) {
    if (name == kAddFeedMessageName)
        receiver_.AddFeedMessage();
    else if (name == kShowMessageName)
        receiver_.ShowMessage();
}

bool SendHandOver(const QString& path, const QByteArray& name, std::chrono::milliseconds patience) {
    const int fd = Connect(path, patience);
    if (fd < 0)
        return false;
    const bool answered = SendAll(fd, name + '\n') && AwaitAnswer(fd);
    close(fd);
    return answered;
}

} // namespace platform
