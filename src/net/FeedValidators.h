#pragma once
// The validators (ETag, Last-Modified) each channel's feed was last delivered with, so
// that the next refresh can ask "only if changed" and a server that answers 304 costs
// neither the body nor a merge.
//
// They are kept in a small file of their own next to the document file, not in the
// document: the document's records keep their format, and losing this file costs only
// one full download per channel. Entries are keyed by the channel's storage name and
// remember the address they belong to, so that a channel whose address was changed is
// fetched in full.

#include "shell/Errors.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <functional>
#include <optional>

QUILLMAR_DECLARE_EXCEPTION(EFeedValidatorsError, Exception)

struct TFeedValidator {
    QByteArray Url;
    QByteArray ETag;
    QByteArray LastModified;
};

class TFeedValidators {
public:
    // Longest ETag or date kept; a longer one is not remembered.
    static constexpr int kMaxValueLength = 1024;
    // A larger file is not read (it cannot be one we wrote for any sane document).
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    explicit TFeedValidators(QString fileName = {});

    // "Quillmar.validators" beside "Quillmar.bin".
    static QString FileNameFor(const QString& documentFileName);

    const QString& FileName() const { return m_fileName; }
    // Reads the file; a missing, unreadable or damaged file gives no validators (every
    // channel is then fetched in full once).
    void Load();
    // Writes the file in one step (a new file renamed over the old one) when something
    // changed since Load or the last Save. Raises EFeedValidatorsError when it cannot.
    void Save();

    // The validators remembered for the channel, when they belong to this address.
    std::optional<TFeedValidator> Find(const QByteArray& storageName, const QByteArray& url) const;
    // Remembers the validators of the copy just merged; without any usable validator the
    // channel's entry is forgotten.
    void Remember(const QByteArray& storageName, const QByteArray& url, const QByteArray& etag,
                  const QByteArray& lastModified);
    void Forget(const QByteArray& storageName);
    // Forgets the entries of channels for which keep answers false.
    void Prune(const std::function<bool(const QByteArray& storageName)>& keep);

    int Count() const { return int(m_entries.size()); }
    bool Changed() const { return m_changed; }

private:
    QString m_fileName;
    QHash<QByteArray, TFeedValidator> m_entries;
    bool m_changed = false;
};
