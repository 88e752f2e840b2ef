#include "Hashes.h"

#include <vector>

THash::THash() = default;

THash::~THash() = default;

quint32 THash::HashOf(const QByteArray& key) {
    if (key.isEmpty())
        throw EHashInvalidKeyError(QStringLiteral("Key cannot be an empty string"));
    // The seed and the top bits that stay set once they appear are deliberate: the
    // stored indexes were written in the bucket order this exact function gives.
    quint32 h = 0x12345670u;
    for (const char c : key) {
        h = (h << 4) + quint32(quint8(c));
        const quint32 g = h & 0xF0000000u;
        if (g != 0)
            h |= g >> 24;
    }
    return h;
}

void THash::RaiseNotFound(const QByteArray& key) {
    throw EHashFindError(QStringLiteral("Key \"%1\" not found").arg(QString::fromUtf8(key)));
}

bool THash::Exists(const QByteArray& key) const {
    return !key.isEmpty() && m_index.contains(key);
}

int THash::FindSlot(const QByteArray& key) const {
    const int bucket = BucketOf(key);
    const auto found = m_index.constFind(key);
    if (found == m_index.constEnd())
        return -1;
    return m_buckets[bucket][*found].slot;
}

int THash::SlotOf(const QByteArray& key) const {
    const int slot = FindSlot(key);
    if (slot < 0)
        RaiseNotFound(key);
    return slot;
}

int THash::AddKey(const QByteArray& key) {
    const quint32 hash = HashOf(key);
    int slot;
    if (!m_freeSlots.isEmpty()) {
        slot = m_freeSlots.takeLast();
    } else {
        slot = ItemsHigh() + 1;
    }
    if (ItemsHigh() < slot)
        TrimItems(slot + 1);
    QList<KeyRecord>& bucket = m_buckets[hash & BucketMask];
    m_index.insert(key, int(bucket.size()));
    bucket.append(KeyRecord{hash, slot, key});
    m_iterationValid = false;
    return slot;
}

void THash::Delete(const QByteArray& key) {
    m_iterationValid = false;
    const int bucketNumber = BucketOf(key);
    const auto found = m_index.find(key);
    if (found == m_index.end())
        RaiseNotFound(key);
    const int position = *found;
    QList<KeyRecord>& bucket = m_buckets[bucketNumber];
    const int slot = bucket[position].slot;
    m_index.erase(found);

    DeleteItem(slot);
    m_freeSlots.append(slot);

    // The bucket's last record takes the deleted one's place: this reordering is part
    // of the walking order the stored indexes depend on.
    const int last = int(bucket.size()) - 1;
    if (position != last) {
        bucket[position] = std::move(bucket[last]);
        m_index[bucket[position].key] = position;
    }
    bucket.removeLast();

    if (m_autoCompaction && m_freeSlots.size() >= CompactionThreshold)
        Compact();
}

void THash::Compact() {
    const int high = ItemsHigh();
    std::vector<bool> isFree(size_t(high + 1), false);
    std::vector<int> newSlot(size_t(high + 1));
    for (int i = 0; i <= high; ++i)
        newSlot[size_t(i)] = i;
    for (const int slot : std::as_const(m_freeSlots))
        if (slot >= 0 && slot <= high)
            isFree[size_t(slot)] = true;

    int i = 0;
    int last = high;
    while (i < last) {
        if (isFree[size_t(i)]) {
            while (i < last && isFree[size_t(last)])
                --last;
            if (i < last) {
                isFree[size_t(i)] = false;
                isFree[size_t(last)] = true;
                MoveItem(last, i);
                newSlot[size_t(last)] = i;
            }
        } else {
            ++i;
        }
    }

    int highestUsed = high;
    while (highestUsed >= 0 && isFree[size_t(highestUsed)])
        --highestUsed;
    TrimItems(highestUsed + 1);
    m_freeSlots.clear();

    for (QList<KeyRecord>& bucket : m_buckets)
        for (KeyRecord& record : bucket)
            record.slot = newSlot[size_t(record.slot)];
}

void THash::Clear() {
    ClearItems();
    m_freeSlots.clear();
    for (QList<KeyRecord>& bucket : m_buckets)
        bucket.clear();
    m_index.clear();
}

void THash::Restart() {
    m_currentBucket = -1;
    m_positionInBucket = 0;
    m_currentKey.clear();
    m_iterationValid = true;
}

bool THash::Next() {
    if (!m_iterationValid)
        throw EHashIterateError(QStringLiteral(
            "Cannot get Next as the hash has been modified since Restart was called"));
    if (m_currentBucket == -1) {
        m_currentBucket = 0;
        m_positionInBucket = 0;
    }
    while (m_currentBucket < BucketCount) {
        const QList<KeyRecord>& bucket = m_buckets[m_currentBucket];
        if (m_positionInBucket < bucket.size()) {
            m_currentKey = bucket[m_positionInBucket].key;
            ++m_positionInBucket;
            return true;
        }
        ++m_currentBucket;
        m_positionInBucket = 0;
    }
    return false;
}

QByteArray THash::CurrentKey() const {
    if (!m_iterationValid)
        throw EHashIterateError(QStringLiteral(
            "Cannot find CurrentKey as the hash has been modified since Restart was called"));
    if (m_currentKey.isEmpty())
        throw EHashIterateError(
            QStringLiteral("Cannot find CurrentKey as Next has not yet been called after Restart"));
    return m_currentKey;
}

// --- TStringHash

QByteArray TStringHash::Items(const QByteArray& key) const {
    return m_items[SlotOf(key)];
}

void TStringHash::SetItem(const QByteArray& key, const QByteArray& value) {
    int slot = FindSlot(key);
    if (slot < 0)
        slot = AddKey(key);
    m_items[slot] = value;
}

void TStringHash::DeleteItem(int slot) {
    m_items[slot].clear();
}
void TStringHash::MoveItem(int fromSlot, int toSlot) {
    m_items[toSlot] = m_items[fromSlot];
}
void TStringHash::TrimItems(int count) {
    m_items.resize(count);
}
void TStringHash::ClearItems() {
    m_items.clear();
}

// --- TIntegerHash

qint32 TIntegerHash::Items(const QByteArray& key) const {
    return m_items[SlotOf(key)];
}

void TIntegerHash::SetItem(const QByteArray& key, qint32 value) {
    int slot = FindSlot(key);
    if (slot < 0)
        slot = AddKey(key);
    m_items[slot] = value;
}

void TIntegerHash::DeleteItem(int slot) {
    m_items[slot] = 0;
}
void TIntegerHash::MoveItem(int fromSlot, int toSlot) {
    m_items[toSlot] = m_items[fromSlot];
}
void TIntegerHash::TrimItems(int count) {
    m_items.resize(count, 0);
}
void TIntegerHash::ClearItems() {
    m_items.clear();
}
