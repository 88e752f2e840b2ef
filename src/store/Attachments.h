#pragma once
// Attachment records: one per distinct file address that a topic announced (a podcast
// episode above all), saying where the file goes, how far its download got, its state
// and its priority. The document owns them in one table by address and keeps four
// ordered lists of them (every record in the order added, and the waiting ones by
// priority), and stores them in its ".attachments" stream.
//
// Names come from feeds: a file name is decoded from the address and then made safe,
// so that a record can only ever name a file inside its folder.

#include "store/Hashes.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

class TConfiguration;
class TValueReader;
class TValueWriter;

// 1980-06-01 13:00:00, the completion date of a file not downloaded yet.
double NotDownloadedDate();

// "+" becomes a space; "%" and two hexadecimal digits become that byte, except "%00",
// which is dropped; a "%" without two hexadecimal digits after it is copied as it is.
QByteArray DecodeAttachmentName(const QByteArray& text);
// A name that is safe as the last element of a path: path separators, NUL and other
// control characters replaced, leading dots and spaces removed, at most
// MaxAttachmentNameBytes bytes (the extension kept), and a fallback for what is left
// empty (which covers "." and "..").
QString SafeAttachmentFileName(const QString& name);
inline constexpr int MaxAttachmentNameBytes = 200;
inline const QString FallbackAttachmentName = QStringLiteral("attachment");

// The extension of a file name without its dot, trimmed and in lower case.
QString AttachmentExtension(const QString& fileName);
// A configured list of extensions ("exe;com", blanks also separating), in lower case.
QSet<QString> ExtensionList(const QString& text);

class TAttachment {
public:
    enum : quint8 {
        StateQueued = 1,
        StateDownloading = 2,
        StateComplete = 3,
        StatePlaylistFailed = 4, // complete, but a playlist could not take it
        StatePaused = 5,
        StateCanceled = 6,
        StateError = 7,
        StateCleared = 8 // taken off the downloads list
    };
    enum : quint8 { PriorityHigh = 1, PriorityNormal = 2, PriorityBlocked = 3 };
    enum : quint8 { KindMusic = 1, KindOther = 2 };

    TAttachment();

    // The local file name, always safe (see SafeAttachmentFileName).
    const QString& FileName() const { return m_fileName; }
    // Stores the URL-decoded, made-safe name.
    void SetFileName(const QString& name);
    // Stores a name that is already decoded (as the file keeps it), made safe.
    void SetDecodedFileName(const QString& name);
    // For a non-empty path: the file-name part and the folder part.
    void SetFullPath(const QString& path);

    quint8 State() const { return m_state; }
    // Complete (3) also sets Completed to now.
    void SetState(quint8 state);

    // The folder with a trailing separator, or empty when the default folder applies.
    QString DirectoryText() const;
    // DirectoryText, else the music folder for music when that is configured, else the
    // attachments folder.
    QString TargetDirectory(TConfiguration& configuration) const;
    QString TargetDirectory() const;
    QString FullPath(TConfiguration& configuration) const;
    QString FullPath() const;
    // The address decoded for reading.
    QString DisplayUrl() const;

    // Texts of the downloads list.
    QString AddedText() const;
    QString CompletedText() const;
    QString SizeText() const;
    QString KindText() const;
    QString PriorityText() const;
    QString ProgressText() const;
    // The state as the list shows it: "blocked" for a blocked record whatever its state,
    // the progress while downloading.
    QString StateText() const;

    // The size is known only when it is above 0.
    bool SizeKnown() const { return Size > 0; }

    QString Directory; // empty: the default folder
    QString Url;       // as the feed gave it
    QString MimeType;
    qint64 Size = -1;       // bytes; -1 when not announced
    QByteArray Key;         // Url in 8 bits: the record's identity
    qint64 Downloaded = -1; // bytes received; -1 when nothing is known yet
    quint8 Priority = PriorityNormal;
    QString Comment;
    double Added;
    double Completed;
    quint8 Kind = KindOther;
    QString ErrorMessage; // of the last failed download

private:
    QString m_fileName;
    quint8 m_state = StateQueued;
};

// A table of records by key that owns them.
class TAttachmentsList : public TObjectHash<TAttachment> {
public:
    TAttachmentsList() : TObjectHash<TAttachment>(true) {}
};
// Records in an order; the table owns them.
using TOrderedAttachmentsList = QList<TAttachment*>;

// The records of a document and their lists.
class TAttachmentRecords {
public:
    static constexpr qint32 ListVersion = 10;
    static constexpr qint32 RecordVersion = 30;

    const TAttachmentsList& Attachments() const { return m_attachments; }
    const TOrderedAttachmentsList& AttachmentOrder() const { return m_order; }
    const TOrderedAttachmentsList& HighPriority() const { return m_high; }
    const TOrderedAttachmentsList& NormalPriority() const { return m_normal; }
    const TOrderedAttachmentsList& Blocked() const { return m_blocked; }
    int Count() const { return int(m_order.size()); }

    TAttachment* Find(const QByteArray& key) const;
    // Takes the record into the table and the order, and into its priority's list while
    // it is waiting or unfinished (queued, downloading, paused, error). A record whose
    // key is empty or already taken is refused (and freed); the result is then null.
    TAttachment* Add(std::unique_ptr<TAttachment> record);
    // Moves the record to the list of the new priority, whatever its state; false when
    // the priority is already that one or is not 1 to 3.
    bool SetPriority(TAttachment& record, quint8 priority);
    // Some high-priority record, or else some normal one, is queued.
    bool HasQueued() const;
    // Clears (state 8) every record whose state is in the set, the last added first.
    void ClearInStates(const QSet<quint8>& states);
    void Clear();

    // The ".attachments" stream. Reading appends the records read; a duplicate or empty
    // key is skipped (the first record stays). A read error passes on, the records read
    // before it staying.
    void Read(TValueReader& reader);
    void Write(TValueWriter& writer) const;

private:
    TOrderedAttachmentsList* ListOf(quint8 priority);

    TAttachmentsList m_attachments;
    TOrderedAttachmentsList m_order;
    TOrderedAttachmentsList m_high;
    TOrderedAttachmentsList m_normal;
    TOrderedAttachmentsList m_blocked;
};

// Priority and kind from the file's extension and the configuration: never-download
// extensions are blocked; music extensions make music; then "IdleDownloadingOption"
// 1 = everything when idle, 2 = music at once and the rest when idle, 3 = everything
// at once.
void AssignPriority(TAttachment& record, const TConfiguration& configuration);
