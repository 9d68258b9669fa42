#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>

#include <chrono>

namespace platform {

inline constexpr char kAddFeedMessageName[] = "Velquint.{9A5F22BC-C87D-4E39-96EE-AEB8A67B49DD}";
inline constexpr char kShowMessageName[] = "Velquint.{80618A53-C7E6-444B-9D08-D8ADAC135DD6}";

// What the running instance does with the messages a second start sends it (the main window).
// Handlers run on the thread that owns the server, from its event loop; they may open modal
// dialogs. They must not raise.
class TInstanceReceiver {
public:
    virtual ~TInstanceReceiver() = default;
    // A URL waits in the shared block.
    virtual void AddFeedMessage() = 0;
    // The user started the program again.
    virtual void ShowMessage() = 0;
};

// The running instance's end of the hand-over: a local socket server. A sender connects,
// writes a message name and a line feed, and the server answers with a line feed once the
// receiver's handler has returned. Unknown names are answered without calling anything; a
// connection that sends more than a name's worth without a line feed is dropped.
class THandOverServer {
public:
    // Listens at path (a socket file; a stale one from an ended process is replaced), for this
    // user only. receiver must outlive the server.
    THandOverServer(const QString& path, TInstanceReceiver& receiver);
    ~THandOverServer();
    THandOverServer(const THandOverServer&) = delete;
    THandOverServer& operator=(const THandOverServer&) = delete;

    bool Listening() const { return server_.isListening(); }

private:
    void Accept();
    void Serve(QLocalSocket* socket);
    void Dispatch(const QByteArray& name);

    QLocalServer server_;
    TInstanceReceiver& receiver_;
};

// How long a sender keeps trying when nobody listens yet (the running instance may still be
// starting).
constexpr std::chrono::milliseconds kHandOverPatience{5000};

// Sends the message called name to the server at path and returns once the server has answered
// or closed the connection: true when it answered. Tries to connect for up to patience while no
// server listens there; does not need an event loop.
bool SendHandOver(const QString& path, const QByteArray& name,
                  std::chrono::milliseconds patience = kHandOverPatience);

} // namespace platform
