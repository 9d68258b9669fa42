// The attachment records of the document and their queues.

#include "store/tvelquintdoc.h"

#include "config/tconfiguration.h"
#include "platform/ansicodepage.h"
#include "store/recordfields.h"
#include "store/ttopic.h"

namespace store {

using platform::TValueReader;
using platform::TValueWriter;

namespace {

const QByteArray kAttachmentsStream = ".attachments";
constexpr int32_t kAttachmentsStreamVersion = 10;

// The document part of an address: no scheme and host, nothing up to the last "/", no fragment.
QByteArray DocumentPart(const QString& url) {
    QByteArray part = platform::WideToUtf8(url);
    part.replace('\\', '/');
    if (const qsizetype scheme = part.indexOf("://"); scheme >= 0) {
        const qsizetype path = part.indexOf('/', scheme + 3);
        part = path < 0 ? QByteArray() : part.mid(path);
    }
    part = part.mid(part.lastIndexOf('/') + 1);
    if (const qsizetype hash = part.indexOf('#'); hash >= 0)
        part.truncate(hash);
    return part;
}

} // namespace

const config::TConfiguration& TVelquintDoc::Settings() const {
    return configuration_ ? *configuration_ : *config::TConfiguration::Instance();
}

QList<TAttachment*>* TVelquintDoc::PriorityList(uint8_t priority) {
    switch (priority) {
    case TAttachment::High:
        return &highPriorityQueue_;
    case TAttachment::WhenIdle:
        return &idleQueue_;
    case TAttachment::Blocked:
        return &blockedList_;
    default:
        return nullptr;
    }
}

void TVelquintDoc::RegisterAttachment(std::unique_ptr<TAttachment> attachment) {
    TAttachment* const record = attachment.get();
    const QByteArray key = record->Key;
    if (TAttachment* const old = attachmentsByKey_.Find(key)) {
        // A key stored twice: the later record wins everywhere.
        attachments_.removeAll(old);
        for (QList<TAttachment*>* list : {&highPriorityQueue_, &idleQueue_, &blockedList_})
            list->removeAll(old);
    }
    attachmentsByKey_.Set(key, std::move(attachment));
    attachments_.append(record);
    const uint8_t state = record->State;
    if (state == TAttachment::Queued || state == TAttachment::Downloading ||
        state == TAttachment::Paused || state == TAttachment::Error) {
        if (QList<TAttachment*>* const list = PriorityList(record->Priority))
            list->append(record);
    }
}

void TVelquintDoc::LoadAttachments() {
    if (attachmentsLoaded_)
        return;
    attachmentsLoaded_ = true;
    const auto reader = OpenReader(*rootStorage_, kAttachmentsStream);
    if (!reader)
        return;
    TValueReader& values = reader->Values();
    recordfields::GetRawInteger(values);
    values.GetListStart();
    while (!values.AtListEnd()) {
        auto attachment = std::make_unique<TAttachment>();
        attachment->Read(values);
        // New keys must never meet stored ones, whatever the header says.
        bool ok = false;
        const uint32_t number = attachment->Key.toUInt(&ok, 16);
        if (ok && static_cast<uint32_t>(nextAttachmentNumber_) <= number)
            nextAttachmentNumber_ = static_cast<int32_t>(number + 1u);
        RegisterAttachment(std::move(attachment));
    }
    values.GetListEnd();
}

void TVelquintDoc::SaveAttachments() {
    LoadAttachments();
    const auto writer = OpenWriter(*rootStorage_, kAttachmentsStream);
    if (!writer)
        return;
    TValueWriter& values = writer->Values();
    recordfields::PutRawInteger(values, kAttachmentsStreamVersion);
    values.PutListStart();
    for (const TAttachment* attachment : attachments_)
        attachment->Write(values);
    values.PutListEnd();
    writer->Finish();
    WriteHeader();
    Changed();
}

QByteArray TVelquintDoc::NewAttachmentKey() {
    const int32_t number = nextAttachmentNumber_;
    nextAttachmentNumber_ = static_cast<int32_t>(static_cast<uint32_t>(number) + 1u);
    return QByteArray::number(static_cast<uint32_t>(number), 16).toUpper();
}

TAttachment* TVelquintDoc::FindAttachment(const QByteArray& key) {
    LoadAttachments();
    return key.isEmpty() ? nullptr : attachmentsByKey_.Find(key);
}

TAttachment* TVelquintDoc::AddAttachment(std::unique_ptr<TAttachment> attachment, TTopic& topic) {
    LoadAttachments();
    TAttachment* const record = attachment.get();
    record->Key = NewAttachmentKey();
    record->SetFileName(QString::fromUtf8(DocumentPart(record->Url)));
    const QString folderName = topic.Folder ? topic.Folder->Name() : QString();
    record->OriginText = QStringLiteral("From %1 / %2").arg(folderName, topic.Title());
    ClassifyAttachment(*record);
    topic.AddAttachmentKey(record->Key);
    RegisterAttachment(std::move(attachment));
    return record;
}

void TVelquintDoc::ClassifyAttachment(TAttachment& attachment) const {
    const config::TConfiguration& settings = Settings();
    const QString extension = attachment.Extension();
    if (settings.NeverDownloadExtensionList().contains(extension))
        attachment.Priority = TAttachment::Blocked;
    else if (settings.MusicExtensionList().contains(extension))
        attachment.Kind = TAttachment::Music;
    if (attachment.Priority == TAttachment::Blocked)
        return;
    const int32_t option = settings.IdleDownloadingOption;
    const bool atOnce = option == 3 || (option != 1 && attachment.Kind == TAttachment::Music);
    attachment.Priority = atOnce ? TAttachment::High : TAttachment::WhenIdle;
}

QString TVelquintDoc::DefaultAttachmentFolder(const TAttachment& attachment) const {
    const config::TConfiguration& settings = Settings();
    if (attachment.Kind == TAttachment::Music && settings.UseOverrideMusicFolder)
        return settings.OverrideMusicFolder();
    return settings.PathToAttachments();
}

QString TVelquintDoc::TargetFolder(const TAttachment& attachment) const {
    return attachment.TargetFolder(DefaultAttachmentFolder(attachment));
}

QString TVelquintDoc::FullPath(const TAttachment& attachment) const {
    return attachment.FullPath(DefaultAttachmentFolder(attachment));
}

void TVelquintDoc::AttachmentCompleted(TAttachment& attachment) {
    attachment.SetState(TAttachment::Complete);
    if (attachment.Kind != TAttachment::Music)
        return;
    const config::TConfiguration& settings = Settings();
    const std::pair<bool, TPlaylistPlayer> players[] = {
        {settings.PopulateMediaPlayerPlaylist, TPlaylistPlayer::MediaPlayer},
        {settings.PopulateITunesPlaylist, TPlaylistPlayer::ITunes},
        {settings.PopulateWinAmpPlaylist, TPlaylistPlayer::WinAmp},
    };
    bool everyOneAdded = true;
    for (const auto& [enabled, player] : players) {
        if (!enabled)
            continue;
        // Without a way to reach the player the file is not in its playlist.
        if (!playlists_ || !playlists_->AddToPlaylist(player, FullPath(attachment)))
            everyOneAdded = false;
    }
    if (!everyOneAdded)
        attachment.SetState(TAttachment::CompleteNotInPlaylists);
}

bool TVelquintDoc::HasQueuedAttachments() const {
    for (const QList<TAttachment*>* list : {&highPriorityQueue_, &idleQueue_}) {
        for (const TAttachment* attachment : *list) {
            if (attachment->State == TAttachment::Queued)
                return true;
        }
    }
    return false;
}

bool TVelquintDoc::SetAttachmentPriority(TAttachment& attachment, uint8_t priority) {
    if (attachment.Priority == priority)
        return false;
    if (QList<TAttachment*>* const old = PriorityList(attachment.Priority))
        old->removeAll(&attachment);
    attachment.Priority = priority;
    if (QList<TAttachment*>* const list = PriorityList(priority))
        list->append(&attachment);
    return true;
}

void TVelquintDoc::MarkAttachments(const QList<uint8_t>& states) {
    for (qsizetype i = attachments_.size() - 1; i >= 0; --i) {
        if (states.contains(attachments_.at(i)->State))
            attachments_.at(i)->SetState(TAttachment::Cleared);
    }
}

} // namespace store
