#pragma once

#include "platform/thandover.h"
#include "platform/tinstancelock.h"
#include "platform/tinstancestore.h"
#include "platform/tsharedblock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace platform {

inline constexpr char kInstanceMutexName[] = "Velquint.{B7CEC90E-B1F8-43CD-AFFF-CCA64818FB61}";
inline constexpr char kSharedBlockName[] = "Velquint.{55DAF62D-3811-4308-B13A-A6E902A9E0F8}";

// The folder of the user's session objects: $XDG_RUNTIME_DIR when it names a folder, else a
// folder of this user's own in the temporary folder (created 0700); empty when neither can be
// had safely.
QString RuntimeFolder();

// Where the instance objects of one session live. Everything derives from the runtime folder, so
// two sessions (or two test runs) with different runtime folders never meet.
struct TInstanceNames {
    QString lockFile;       // <folder>/Velquint.{B7CE...}.lock, the instance mutex
    QByteArray sharedBlock; // /Velquint.{55DA...}.<uid>.<16 hex digits of the folder's SHA-1>
    QString handOverSocket; // <folder>/Velquint.<uid>.socket

    static TInstanceNames ForRuntimeFolder(const QString& folder);
};

// The instance controller: one instance of the program per user session. Creating it takes the
// instance lock (or finds another instance holding it), opens the shared block and handles the
// command line, so a second instance started with "/add" has delivered its URL by the time the
// constructor returns. Used on the main thread only.
class TVelquint {
public:
    // The process's controller, for the process's own command line and runtime folder; the
    // request codes are those of TInstanceStore.
    static TVelquint* Instance(int request = irGetOrCreate);

    // A controller for arguments (after the program name) in the session of runtimeFolder.
    TVelquint(const QStringList& arguments, const QString& runtimeFolder);
    ~TVelquint();
    TVelquint(const TVelquint&) = delete;
    TVelquint& operator=(const TVelquint&) = delete;

    // Whether another instance held the instance lock when this one started.
    bool AlreadyRunning() const { return lock_.HeldElsewhere(); }
    bool ShowUI() const { return showUI_; }
    const TInstanceNames& Names() const { return names_; }

    // The cached URL if there is one, else the one in the shared block (then cached).
    QByteArray PendingUrl();
    // Stores url in the shared block (cut to fit, see TSharedBlock::Fit); an empty url clears
    // it. A non-empty one becomes the cached value and, in a second instance, is announced to
    // the running one with the add-feed message, returning once it has been handled. Without a
    // shared block the URL stays in this process.
    void SetPendingUrl(const QByteArray& url);
    // A second instance asks the running one to show its window and waits until it has.
    // The running instance's own requests need no message: its window handles them itself.
    void RequestShow();

    // The folder of the program file with "web/": the HTML templates and scripts.
    static QString WebFolder();

    // Starts answering second instances; only the instance holding the lock serves (null
    // otherwise). Needs the application object, whose event loop serves the connections.
    std::unique_ptr<THandOverServer> Listen(TInstanceReceiver& receiver) const;

private:
    friend class TInstanceStore<TVelquint>;
    TVelquint();

    void Broadcast(const char* messageName) const;

    TInstanceNames names_;
    TInstanceLock lock_;
    TSharedBlock block_;
    QByteArray pendingUrl_;
    bool showUI_ = false;
};

} // namespace platform
