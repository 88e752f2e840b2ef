#include "FeedValidators.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr int kFormatVersion = 1;

// A value goes back into a request header: anything that could end the header line or
// smuggle another one in is refused, whatever the file says.
bool UsableHeaderValue(const QByteArray& value) {
    if (value.size() > TFeedValidators::kMaxValueLength)
        return false;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            return false;
    }
    return true;
}

QByteArray Utf8(const QJsonValue& value) {
    return value.toString().toUtf8();
}

} // namespace

TFeedValidators::TFeedValidators(QString fileName) : m_fileName(std::move(fileName)) {}

QString TFeedValidators::FileNameFor(const QString& documentFileName) {
    const QFileInfo info(documentFileName);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".validators"));
}

void TFeedValidators::Load() {
    m_entries.clear();
    m_changed = false;
    if (m_fileName.isEmpty())
        return;
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return;
    const QJsonDocument json = QJsonDocument::fromJson(file.read(kMaxFileSize));
    const QJsonObject root = json.object();
    if (root.value(QStringLiteral("version")).toInt() != kFormatVersion)
        return;
    const QJsonObject channels = root.value(QStringLiteral("channels")).toObject();
    for (auto it = channels.begin(); it != channels.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        TFeedValidator v{Utf8(entry.value(QStringLiteral("url"))),
                         Utf8(entry.value(QStringLiteral("etag"))),
                         Utf8(entry.value(QStringLiteral("lastModified")))};
        const QByteArray name = it.key().toUtf8();
        if (name.isEmpty() || v.Url.isEmpty() || !UsableHeaderValue(v.ETag) ||
            !UsableHeaderValue(v.LastModified) || (v.ETag.isEmpty() && v.LastModified.isEmpty()))
            continue;
        m_entries.insert(name, std::move(v));
    }
}

void TFeedValidators::Save() {
    if (!m_changed || m_fileName.isEmpty())
        return;
    QJsonObject channels;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        QJsonObject entry{{QStringLiteral("url"), QString::fromUtf8(it->Url)}};
        if (!it->ETag.isEmpty())
            entry.insert(QStringLiteral("etag"), QString::fromUtf8(it->ETag));
        if (!it->LastModified.isEmpty())
            entry.insert(QStringLiteral("lastModified"), QString::fromUtf8(it->LastModified));
        channels.insert(QString::fromUtf8(it.key()), entry);
    }
    const QJsonObject root{{QStringLiteral("version"), kFormatVersion},
                           {QStringLiteral("channels"), channels}};
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0 || !file.commit())
        throw EFeedValidatorsError(
            QStringLiteral("Cannot write %1: %2").arg(m_fileName, file.errorString()));
    m_changed = false;
}

std::optional<TFeedValidator> TFeedValidators::Find(const QByteArray& storageName,
                                                    const QByteArray& url) const {
    const auto it = m_entries.constFind(storageName);
    if (it == m_entries.cend() || it->Url != url)
        return std::nullopt;
    return *it;
}

void TFeedValidators::Remember(const QByteArray& storageName, const QByteArray& url,
                               const QByteArray& etag, const QByteArray& lastModified) {
    TFeedValidator v{url, UsableHeaderValue(etag) ? etag : QByteArray(),
                     UsableHeaderValue(lastModified) ? lastModified : QByteArray()};
    if (storageName.isEmpty() || url.isEmpty() || (v.ETag.isEmpty() && v.LastModified.isEmpty())) {
        Forget(storageName);
        return;
    }
    const auto it = m_entries.constFind(storageName);
    if (it != m_entries.cend() && it->Url == v.Url && it->ETag == v.ETag &&
        it->LastModified == v.LastModified)
        return;
    m_entries.insert(storageName, std::move(v));
    m_changed = true;
}

void TFeedValidators::Forget(const QByteArray& storageName) {
    if (m_entries.remove(storageName) > 0)
        m_changed = true;
}

void TFeedValidators::Prune(const std::function<bool(const QByteArray&)>& keep) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (keep(it.key())) {
            ++it;
        } else {
            it = m_entries.erase(it);
            m_changed = true;
        }
    }
}
