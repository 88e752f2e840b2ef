#include "Attachments.h"

#include "feeds/Uri.h"
#include "shell/Clock.h"
#include "shell/ReaderConfig.h"
#include "shell/SystemCodePage.h"
#include "shell/UIUtils.h"
#include "store/ValueStream.h"

#include <QDir>
#include <QLocale>
#include <algorithm>
#include <limits>

namespace {

QString Text(const char* name) {
    return GetConstant(QString::fromLatin1(name));
}

QString DateTimeText(double days) {
    const QDateTime moment = DaysToDateTime(days);
    const QLocale locale = QLocale::system();
    return locale.toString(moment.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(moment.time(), locale.timeFormat(QLocale::LongFormat));
}

bool IsSeparator(QChar c) {
    return c == u'/' || c == u'\\';
}

// The stored 32-bit fields cannot hold more than 2 GB; a larger count is "unknown".
qint32 StoredCount(qint64 value) {
    return value < 0 || value > std::numeric_limits<qint32>::max() ? -1 : qint32(value);
}

qint64 CountFromFile(qint32 value) {
    return value < 0 ? -1 : value;
}

quint8 StateInRange(qint32 state) {
    // Nothing is downloading while the list is read: a record saved as downloading was
    // cut off by a crash or a power loss, and waits for its turn again (its partial file
    // is resumed), where it would otherwise never be started again.
    if (state == TAttachment::StateDownloading)
        return TAttachment::StateQueued;
    return state >= TAttachment::StateQueued && state <= TAttachment::StateCleared
               ? quint8(state)
               : quint8(TAttachment::StateError);
}

quint8 PriorityInRange(qint32 priority) {
    return priority >= TAttachment::PriorityHigh && priority <= TAttachment::PriorityBlocked
               ? quint8(priority)
               : quint8(TAttachment::PriorityBlocked);
}

quint8 KindInRange(qint32 kind) {
    return kind == TAttachment::KindMusic ? quint8(TAttachment::KindMusic)
                                          : quint8(TAttachment::KindOther);
}

QString ReadText(TValueReader& r, bool wide) {
    return wide ? r.ReadWideString() : FromSystemCodePage(r.ReadString());
}

} // namespace

double NotDownloadedDate() {
    return EncodeDays(QDate(1980, 6, 1), QTime(13, 0));
}

QByteArray DecodeAttachmentName(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.append(' ');
        } else if (c == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            const int value = HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]);
            if (value != 0)
                out.append(char(value));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString SafeAttachmentFileName(const QString& name) {
    QString safe;
    safe.reserve(name.size());
    for (const QChar c : name) {
        // Separators would lead out of the folder; control characters make names that
        // cannot be typed or shown.
        if (IsSeparator(c) || c.unicode() < 0x20 || c.unicode() == 0x7F)
            safe.append(u'_');
        else
            safe.append(c);
    }
    qsizetype start = 0;
    while (start < safe.size() && (safe[start] == u'.' || safe[start] == u' '))
        ++start;
    safe = safe.mid(start);
    if (safe.toUtf8().size() > MaxAttachmentNameBytes) {
        // The extension decides how the file is opened, so it survives the cut.
        const qsizetype dot = safe.lastIndexOf(u'.');
        QString extension = dot > 0 ? safe.mid(dot) : QString();
        if (extension.toUtf8().size() > 16)
            extension.clear();
        QString stem = extension.isEmpty() ? safe : safe.left(dot);
        const int room = MaxAttachmentNameBytes - int(extension.toUtf8().size());
        while (!stem.isEmpty() && stem.toUtf8().size() > room) {
            stem.chop(1);
            if (!stem.isEmpty() && stem.back().isHighSurrogate())
                stem.chop(1);
        }
        safe = stem + extension;
    }
    if (safe.isEmpty() || safe == u"." || safe == u"..")
        return FallbackAttachmentName;
    return safe;
}

QString AttachmentExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    return fileName.mid(dot + 1).trimmed().toLower();
}

QSet<QString> ExtensionList(const QString& text) {
    QSet<QString> extensions;
    QString current;
    const auto take = [&] {
        if (!current.isEmpty())
            extensions.insert(current.toLower());
        current.clear();
    };
    for (const QChar c : text) {
        if (c == u';' || c.isSpace())
            take();
        else
            current.append(c);
    }
    take();
    return extensions;
}

// --- TAttachment ------------------------------------------------------------------

TAttachment::TAttachment() : Added(NowLocal()), Completed(NotDownloadedDate()) {}

void TAttachment::SetFileName(const QString& name) {
    SetDecodedFileName(FromSystemCodePage(DecodeAttachmentName(ToSystemCodePage(name))));
}

void TAttachment::SetDecodedFileName(const QString& name) {
    m_fileName = SafeAttachmentFileName(name);
}

void TAttachment::SetFullPath(const QString& path) {
    if (path.isEmpty())
        return;
    qsizetype slash = path.size() - 1;
    while (slash >= 0 && !IsSeparator(path[slash]))
        --slash;
    SetDecodedFileName(path.mid(slash + 1));
    Directory = slash < 0 ? QString() : path.left(slash + 1);
}

void TAttachment::SetState(quint8 state) {
    m_state = state;
    if (state == StateComplete)
        Completed = NowLocal();
}

QString TAttachment::DirectoryText() const {
    if (Directory.isEmpty())
        return {};
    return IsSeparator(Directory.back()) ? Directory : Directory + QDir::separator();
}

QString TAttachment::TargetDirectory(TConfiguration& configuration) const {
    const QString own = DirectoryText();
    if (!own.isEmpty())
        return own;
    if (Kind == KindMusic && configuration.UseOverrideMusicFolder)
        return configuration.GetMusicFolder();
    return configuration.GetAttachmentsFolder();
}

QString TAttachment::TargetDirectory() const {
    return TargetDirectory(TConfiguration::Instance());
}

QString TAttachment::FullPath(TConfiguration& configuration) const {
    return TargetDirectory(configuration) + m_fileName;
}

QString TAttachment::FullPath() const {
    return FullPath(TConfiguration::Instance());
}

QString TAttachment::DisplayUrl() const {
    return FromSystemCodePage(DecodeAttachmentName(ToSystemCodePage(Url)));
}

QString TAttachment::AddedText() const {
    return DateTimeText(Added);
}

QString TAttachment::CompletedText() const {
    if (Completed == NotDownloadedDate())
        return Text(SAttachWasntDownloaded);
    return DateTimeText(Completed);
}

QString TAttachment::SizeText() const {
    return SizeKnown() ? QString::number(Size) : Text(SFileLengthNotAvailable);
}

QString TAttachment::KindText() const {
    return Kind == KindMusic ? Text(SAttachTypeMusic) : Text(SAttachTypeUnknown);
}

QString TAttachment::PriorityText() const {
    switch (Priority) {
    case PriorityHigh:
        return Text(SAttachPriorityHigh);
    case PriorityNormal:
        return Text(SAttachPriorityNormal);
    default:
        return Text(SAttachPriorityBlocked);
    }
}

QString TAttachment::ProgressText() const {
    if (Downloaded < 0)
        return Text(SContentStatusDownloadingNoInfo);
    // A size of 0 or less is not known: there is nothing to divide by.
    if (!SizeKnown())
        return FormatMessage(Text(SContentStatusDownloadingNoLength), {qlonglong(Downloaded)});
    return FormatMessage(Text(SContentStatusDownloading),
                         {double(Downloaded) / double(Size) * 100.0});
}

QString TAttachment::StateText() const {
    if (Priority == PriorityBlocked)
        return Text(SContentStatusBlocked);
    switch (m_state) {
    case StateQueued:
        return Text(SContentStatusQueued);
    case StateDownloading:
        return ProgressText();
    case StateComplete:
    case StatePlaylistFailed:
        return Text(SContentStatusDownloaded);
    case StatePaused:
        return Text(SContentStatusPaused);
    case StateCanceled:
        return Text(SContentStatusCanceled);
    case StateError:
        return Text(SContentStatusError);
    default:
        return {};
    }
}

// --- the records ------------------------------------------------------------------

TAttachment* TAttachmentRecords::Find(const QByteArray& key) const {
    if (key.isEmpty() || !m_attachments.Exists(key))
        return nullptr;
    return m_attachments.Items(key);
}

TOrderedAttachmentsList* TAttachmentRecords::ListOf(quint8 priority) {
    switch (priority) {
    case TAttachment::PriorityHigh:
        return &m_high;
    case TAttachment::PriorityNormal:
        return &m_normal;
    case TAttachment::PriorityBlocked:
        return &m_blocked;
    default:
        return nullptr;
    }
}

TAttachment* TAttachmentRecords::Add(std::unique_ptr<TAttachment> record) {
    if (!record || record->Key.isEmpty() || m_attachments.Exists(record->Key))
        return nullptr;
    TAttachment* added = record.get();
    m_attachments.SetItem(added->Key, std::move(record));
    m_order.append(added);
    switch (added->State()) {
    case TAttachment::StateQueued:
    case TAttachment::StateDownloading:
    case TAttachment::StatePaused:
    case TAttachment::StateError:
        if (TOrderedAttachmentsList* list = ListOf(added->Priority))
            list->append(added);
        break;
    default:
        break;
    }
    return added;
}

bool TAttachmentRecords::SetPriority(TAttachment& record, quint8 priority) {
    TOrderedAttachmentsList* target = ListOf(priority);
    if (!target || record.Priority == priority)
        return false;
    if (TOrderedAttachmentsList* old = ListOf(record.Priority))
        old->removeOne(&record);
    record.Priority = priority;
    target->append(&record);
    return true;
}

bool TAttachmentRecords::HasQueued() const {
    const auto queued = [](const TOrderedAttachmentsList& list) {
        return std::any_of(list.begin(), list.end(), [](const TAttachment* a) {
            return a->State() == TAttachment::StateQueued;
        });
    };
    return queued(m_high) || queued(m_normal);
}

void TAttachmentRecords::ClearInStates(const QSet<quint8>& states) {
    for (qsizetype i = m_order.size() - 1; i >= 0; --i) {
        if (states.contains(m_order[i]->State()))
            m_order[i]->SetState(TAttachment::StateCleared);
    }
}

void TAttachmentRecords::Clear() {
    m_order.clear();
    m_high.clear();
    m_normal.clear();
    m_blocked.clear();
    m_attachments.Clear();
}

void TAttachmentRecords::Read(TValueReader& r) {
    r.ReadRawInt32(); // the list's version: every version lists the records alike
    r.ReadListBegin();
    while (!r.EndOfList()) {
        auto record = std::make_unique<TAttachment>();
        const qint32 version = r.ReadRawInt32();
        const bool wide = version >= 30;
        record->Key = r.ReadString();
        record->Url = ReadText(r, wide);
        record->MimeType = ReadText(r, wide);
        record->Size = CountFromFile(r.ReadRawInt32());
        record->Downloaded = CountFromFile(r.ReadRawInt32());
        record->SetState(StateInRange(r.ReadRawInt32()));
        record->Priority = PriorityInRange(r.ReadRawInt32());
        record->Comment = ReadText(r, wide);
        record->Added = r.ReadRawDouble();
        record->Completed = r.ReadRawDouble();
        record->Directory = ReadText(r, wide);
        // The stored name was decoded when the record was made; decoding it again would
        // change a name that holds "%" or "+" and lose the downloaded file.
        record->SetDecodedFileName(ReadText(r, wide));
        if (version >= 20) {
            record->Kind = KindInRange(r.ReadRawInt32());
            record->ErrorMessage = ReadText(r, wide);
        }
        Add(std::move(record)); // a duplicate or empty key is dropped here
    }
    r.ReadListEnd();
}

void TAttachmentRecords::Write(TValueWriter& w) const {
    w.WriteRawInt32(ListVersion);
    w.WriteListBegin();
    for (const TAttachment* a : m_order) {
        w.WriteRawInt32(RecordVersion);
        w.WriteString(a->Key);
        // 16-bit texts: an address outside the 8-bit range must read back as it was.
        w.WriteWideString(a->Url);
        w.WriteWideString(a->MimeType);
        w.WriteRawInt32(StoredCount(a->Size));
        w.WriteRawInt32(StoredCount(a->Downloaded));
        w.WriteRawInt32(a->State());
        w.WriteRawInt32(a->Priority);
        w.WriteWideString(a->Comment);
        w.WriteRawDouble(a->Added);
        w.WriteRawDouble(a->Completed);
        w.WriteWideString(a->DirectoryText());
        w.WriteWideString(a->FileName());
        w.WriteRawInt32(a->Kind);
        w.WriteWideString(a->ErrorMessage);
    }
    w.WriteListEnd();
}

// --- priority -----------------------------------------------------------------------

void AssignPriority(TAttachment& record, const TConfiguration& configuration) {
    const QString extension = AttachmentExtension(record.FileName());
    if (!extension.isEmpty() &&
        ExtensionList(configuration.NeverDownloadExtensions).contains(extension)) {
        record.Priority = TAttachment::PriorityBlocked;
        return;
    }
    if (!extension.isEmpty() && ExtensionList(configuration.MusicExtensions).contains(extension))
        record.Kind = TAttachment::KindMusic;
    const qint32 option = configuration.IdleDownloadingOption;
    record.Priority = option == 3 || (option != 1 && record.Kind == TAttachment::KindMusic)
                          ? TAttachment::PriorityHigh
                          : TAttachment::PriorityNormal;
}
