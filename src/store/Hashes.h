#pragma once
// String-keyed tables with 8-bit, case-sensitive keys. The keys live in 128 fixed
// buckets chosen by a small shift-and-or hash; walking a table visits the buckets in
// order, and that order is what the document file's indexes are written in, so the
// hash, the bucket layout and the way deletion reorders a bucket must never change.
//
// The buckets spread real keys badly (hexadecimal digests land in a handful of them),
// so lookups go through a side index and cost the same whatever the bucket; the
// buckets only decide the walking order.
//
// Values sit in a dense store addressed by slot numbers. A deletion only releases its
// slot, which the next new key takes back (last freed, first reused); once 100 slots are
// free the store is compacted.

#include "shell/Errors.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <array>
#include <memory>
#include <utility>

QUILLMAR_DECLARE_EXCEPTION(EHashError, Exception)
QUILLMAR_DECLARE_EXCEPTION(EHashFindError, EHashError)
QUILLMAR_DECLARE_EXCEPTION(EHashIterateError, EHashError)
QUILLMAR_DECLARE_EXCEPTION(EHashInvalidKeyError, EHashError)

class THash {
public:
    static constexpr int BucketBits = 7;
    static constexpr int BucketCount = 1 << BucketBits;
    static constexpr int BucketMask = BucketCount - 1;
    // Free slots that trigger a compaction when auto-compaction is on.
    static constexpr int CompactionThreshold = 100;

    THash();
    virtual ~THash();
    THash(const THash&) = delete;
    THash& operator=(const THash&) = delete;

    // The key's hash; raises EHashInvalidKeyError for an empty key.
    static quint32 HashOf(const QByteArray& key);
    static int BucketOf(const QByteArray& key) { return int(HashOf(key) & BucketMask); }

    // False for an empty key, which can never be stored.
    bool Exists(const QByteArray& key) const;
    // Raises EHashFindError when the key is absent; ends any walk either way.
    void Delete(const QByteArray& key);
    void Clear();
    int ItemCount() const { return int(m_index.size()); }

    // Walking: Restart, then Next until it returns false, reading CurrentKey after each
    // true. Adding or deleting a key ends the walk (Next and CurrentKey then raise
    // EHashIterateError); replacing an existing key's value does not.
    void Restart();
    bool Next();
    QByteArray CurrentKey() const;

    bool AutoCompaction() const { return m_autoCompaction; }
    void SetAutoCompaction(bool on) { m_autoCompaction = on; }
    // Moves the live values into the lowest slots and drops the free ones.
    void Compact();
    // The highest slot of the value store, -1 when it is empty.
    virtual int ItemsHigh() const = 0;

protected:
    // The value store, supplied by each table for its own kind of value.
    virtual void DeleteItem(int slot) = 0;
    virtual void MoveItem(int fromSlot, int toSlot) = 0;
    virtual void TrimItems(int count) = 0;
    virtual void ClearItems() = 0;

    // The slot holding the key's value; raises EHashInvalidKeyError for an empty key and
    // EHashFindError when the key is absent.
    int SlotOf(const QByteArray& key) const;
    // The slot holding the key's value, or -1 when it is absent; raises for an empty key.
    int FindSlot(const QByteArray& key) const;
    // Adds an absent key and returns the slot its value must be stored in; the value
    // store has at least slot + 1 entries afterwards.
    int AddKey(const QByteArray& key);

private:
    struct KeyRecord {
        quint32 hash;
        int slot;
        QByteArray key;
    };

    [[noreturn]] static void RaiseNotFound(const QByteArray& key);

    std::array<QList<KeyRecord>, BucketCount> m_buckets;
    // Every key's position in its bucket; the bucket follows from the key's hash.
    QHash<QByteArray, int> m_index;
    QList<int> m_freeSlots;
    bool m_iterationValid = false;
    QByteArray m_currentKey;
    bool m_autoCompaction = true;
    int m_currentBucket = -1;
    int m_positionInBucket = 0;
};

// 8-bit text values.
class TStringHash : public THash {
public:
    QByteArray Items(const QByteArray& key) const;
    void SetItem(const QByteArray& key, const QByteArray& value);
    int ItemsHigh() const override { return int(m_items.size()) - 1; }

protected:
    void DeleteItem(int slot) override;
    void MoveItem(int fromSlot, int toSlot) override;
    void TrimItems(int count) override;
    void ClearItems() override;

private:
    QList<QByteArray> m_items;
};

// 32-bit integer values.
class TIntegerHash : public THash {
public:
    qint32 Items(const QByteArray& key) const;
    void SetItem(const QByteArray& key, qint32 value);
    int ItemsHigh() const override { return int(m_items.size()) - 1; }

protected:
    void DeleteItem(int slot) override;
    void MoveItem(int fromSlot, int toSlot) override;
    void TrimItems(int count) override;
    void ClearItems() override;

private:
    QList<qint32> m_items;
};

// Object values. A table built with ownsObjects = true owns what is stored in it: the
// object passed to SetItem is the table's from that moment on (even when the call
// raises), and the table deletes it when its key is deleted, its value is replaced by
// another object, the table is cleared or the table is destroyed. Storing the object a
// key already holds changes nothing. An owning table must not hold one object under two
// keys. A table that does not own its objects only keeps references.
template <class T> class TObjectHash : public THash {
public:
    TObjectHash() = default;
    explicit TObjectHash(bool ownsObjects) : m_ownsObjects(ownsObjects) {}
    ~TObjectHash() override { ClearItems(); }

    bool OwnsObjects() const { return m_ownsObjects; }

    // The stored reference (which may be null); raises EHashFindError when the key is
    // absent.
    T* Items(const QByteArray& key) const { return m_items[SlotOf(key)]; }

    void SetItem(const QByteArray& key, T* value) {
        // An owning table has taken the object over already, so a refused key must not
        // leak it.
        std::unique_ptr<T> guard(m_ownsObjects ? value : nullptr);
        int slot = FindSlot(key);
        if (slot < 0)
            slot = AddKey(key);
        guard.release();
        T* previous = std::exchange(m_items[slot], value);
        if (previous != value)
            Release(previous);
    }

    // Hands an object to an owning table; a table that does not own its objects refuses
    // it (and the object is freed) rather than leaking it.
    void SetItem(const QByteArray& key, std::unique_ptr<T> value) {
        if (!m_ownsObjects)
            throw EHashError(QStringLiteral("The table does not own its objects"));
        SetItem(key, value.release());
    }

    int ItemsHigh() const override { return int(m_items.size()) - 1; }

protected:
    void DeleteItem(int slot) override {
        T* dropped = m_items[slot];
        m_items[slot] = nullptr;
        Release(dropped);
    }
    // The old slot is emptied so no stale copy of an owned reference survives.
    void MoveItem(int fromSlot, int toSlot) override {
        m_items[toSlot] = std::exchange(m_items[fromSlot], nullptr);
    }
    void TrimItems(int count) override { m_items.resize(count, nullptr); }
    void ClearItems() override {
        // The store is emptied before the objects go, so a destructor that looks back
        // into the table finds nothing half-freed.
        QList<T*> dropped;
        dropped.swap(m_items);
        for (T* object : dropped)
            Release(object);
    }

private:
    void Release(T* object) {
        if (m_ownsObjects)
            delete object;
    }

    QList<T*> m_items;
    bool m_ownsObjects = false;
};
