// The document's attachment records: their stream, how a record is made for a topic,
// and the list operations of the download manager.
#include "QuillmarDoc.h"
#include "feeds/Uri.h"
#include "shell/ReaderConfig.h"
#include "shell/SystemCodePage.h"
#include "shell/UIUtils.h"
#include "store/CompDoc.h"
#include "store/ValueStream.h"

namespace {

const QByteArray AttachmentsStream = QByteArrayLiteral(".attachments");

// The last element of the address's path, without query or fragment.
QString DocumentPart(const QString& url) {
    const QByteArray address = ToSystemCodePage(url);
    const TUri uri(address);
    QByteArray path = uri.IsSplit() ? uri.UrlPath : address;
    if (!uri.IsSplit()) {
        const qsizetype extra = path.indexOf('?') >= 0 ? path.indexOf('?') : path.indexOf('#');
        if (extra >= 0)
            path.truncate(extra);
    }
    return FromSystemCodePage(path.mid(path.lastIndexOf('/') + 1));
}

} // namespace

void TQuillmarDoc::EnsureAttachmentsLoaded() {
    if (!m_attachmentsLoaded)
        LoadAttachments();
}

void TQuillmarDoc::LoadAttachments() {
    Operation([&] {
        // Loaded also when the read fails part-way: what was read stays, and the next
        // save writes it with the records made since, instead of failing every import
        // that offers an attachment.
        m_attachmentsLoaded = true;
        TStorage& root = RootStorage();
        if (!root.StreamExists(AttachmentsStream))
            return;
        TStorageStream stream(AttachmentsStream, root, StgAccessRead, false);
        TValueReader reader(stream);
        m_attachments.Read(reader);
    });
}

void TQuillmarDoc::SaveAttachments() {
    Operation([&] {
        EnsureAttachmentsLoaded();
        TStorageStream stream(AttachmentsStream, RootStorage(), StgAccessWrite, true);
        TValueWriter writer(stream);
        m_attachments.Write(writer);
        writer.Flush();
    });
}

TAttachment* TQuillmarDoc::FindAttachment(const QByteArray& key) {
    EnsureAttachmentsLoaded();
    return m_attachments.Find(key);
}

bool TQuillmarDoc::CreateAttachmentFor(std::unique_ptr<TAttachment> record,
                                       QuillmarDocCore::TTopic& topic) {
    if (!record)
        return false;
    EnsureAttachmentsLoaded();
    record->Key = ToSystemCodePage(record->Url);
    if (record->Key.isEmpty() || m_attachments.Find(record->Key))
        return false;
    record->SetFileName(DocumentPart(record->Url));
    const QString channelTitle = topic.Owner ? topic.Owner->Title() : QString();
    record->Comment = FormatMessage(GetConstant(QString::fromLatin1(SDefaultAttachmentComment)),
                                    {channelTitle, topic.Title()});
    AssignPriority(*record);
    const QByteArray key = record->Key;
    if (!AddAttachment(std::move(record)))
        return false;
    topic.AddAttachment(key);
    return true;
}

TAttachment* TQuillmarDoc::AddAttachment(std::unique_ptr<TAttachment> record) {
    return m_attachments.Add(std::move(record));
}

void TQuillmarDoc::AssignPriority(TAttachment& record) {
    ::AssignPriority(record, TConfiguration::Instance());
}

bool TQuillmarDoc::SetAttachmentPriority(TAttachment& record, quint8 priority) {
    return m_attachments.SetPriority(record, priority);
}

bool TQuillmarDoc::HasQueuedAttachments() {
    EnsureAttachmentsLoaded();
    return m_attachments.HasQueued();
}

void TQuillmarDoc::AttachmentCompleted(TAttachment& record) {
    record.SetState(TAttachment::StateComplete);
    if (record.Kind != TAttachment::KindMusic)
        return;
    TConfiguration& configuration = TConfiguration::Instance();
    const QString path = record.FullPath(configuration);
    bool ok = true;
    const auto add = [&](bool wanted, TPlaylist playlist) {
        if (!wanted)
            return;
        // Every playlist asked for is tried, also after one failed.
        if (!AddToPlaylist || !AddToPlaylist(playlist, path))
            ok = false;
    };
    add(configuration.PopulateMediaPlayerPlaylist, TPlaylist::MediaPlayer);
    add(configuration.PopulateITunesPlaylist, TPlaylist::ITunes);
    add(configuration.PopulateWinAmpPlaylist, TPlaylist::WinAmp);
    if (!ok)
        record.SetState(TAttachment::StatePlaylistFailed);
}

void TQuillmarDoc::ClearAttachmentsInStates(const QSet<quint8>& states) {
    EnsureAttachmentsLoaded();
    m_attachments.ClearInStates(states);
}
