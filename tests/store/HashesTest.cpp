#include "store/Hashes.h"

#include <QList>
#include <QRandomGenerator>
#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

QList<QByteArray> WalkKeys(THash& table) {
    QList<QByteArray> keys;
    table.Restart();
    while (table.Next())
        keys.append(table.CurrentKey());
    return keys;
}

template <class Exception, class Action> QString MessageOf(Action action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

// Exposes the slot a key's value lives in, which is otherwise the table's own affair.
class SlotProbe : public TIntegerHash {
public:
    using THash::FindSlot;
};

// Counts how many of its kind are alive, so the tests see what a table freed.
struct Tracked {
    explicit Tracked(int& alive) : alive(alive) { ++alive; }
    ~Tracked() { --alive; }
    int& alive;
};

} // namespace

TEST(HashesTest, HashAndBucketFollowTheFixedShiftAndOrFunction) {
    struct Case {
        QByteArray key;
        quint32 hash;
        int bucket;
    };
    // Worked out by hand from the seed 0x12345670; "A" shows the top bits being folded
    // back in (0x23456741 | 0x20), which puts it beside "a".
    const Case cases[] = {
        {"a", 0x23456761u, 97},
        {"A", 0x23456761u, 97},
        {"guid", 0x5676fff4u, 116},
        {"ABCDEFGHIJ", 0x7efefefau, 122},
        {"\xff\xfe\x80", 0x45681060u, 96},
        {"D41D8CD98F00B204E9800998ECF8427E", 0xfffffff5u, 117},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(THash::HashOf(c.key), c.hash) << c.key.toHex().constData();
        EXPECT_EQ(THash::BucketOf(c.key), c.bucket) << c.key.constData();
    }
}

TEST(HashesTest, EmptyKeyIsNeverFoundAndRaisesEverywhereElse) {
    TStringHash table;
    const QString message = QStringLiteral("Key cannot be an empty string");
    EXPECT_FALSE(table.Exists(QByteArray()));
    EXPECT_EQ(MessageOf<EHashInvalidKeyError>([&] { table.Items(""); }), message);
    EXPECT_EQ(MessageOf<EHashInvalidKeyError>([&] { table.SetItem("", "x"); }), message);
    EXPECT_EQ(MessageOf<EHashInvalidKeyError>([&] { table.Delete(""); }), message);
    EXPECT_EQ(table.ItemCount(), 0);
}

TEST(HashesTest, KeysDifferingOnlyInCaseAreDifferentKeys) {
    TIntegerHash table;
    table.SetItem("a", 1);
    table.SetItem("A", 2);
    EXPECT_EQ(table.ItemCount(), 2);
    EXPECT_EQ(table.Items("a"), 1);
    EXPECT_EQ(table.Items("A"), 2);
    table.Delete("a");
    EXPECT_FALSE(table.Exists("a"));
    EXPECT_EQ(table.Items("A"), 2);
}

TEST(HashesTest, ReadingOrDeletingAnAbsentKeyRaisesWithTheKeyInTheMessage) {
    TStringHash table;
    table.SetItem("present", "value");
    EXPECT_EQ(MessageOf<EHashFindError>([&] { table.Items("absent"); }),
              QStringLiteral("Key \"absent\" not found"));
    EXPECT_EQ(MessageOf<EHashFindError>([&] { table.Delete("absent"); }),
              QStringLiteral("Key \"absent\" not found"));
    EXPECT_EQ(table.ItemCount(), 1);
    EXPECT_EQ(table.Items("present"), QByteArray("value"));
}

TEST(HashesTest, WritingAnExistingKeyReplacesItsValue) {
    TStringHash table;
    table.SetItem("k", "one");
    table.SetItem("k", "two");
    EXPECT_EQ(table.ItemCount(), 1);
    EXPECT_EQ(table.Items("k"), QByteArray("two"));
}

TEST(HashesTest, WalkVisitsBucketsInOrderAndEachBucketInInsertionOrder) {
    TIntegerHash table;
    // Buckets: "c" 99, "a" and "A" 97, "b" 98.
    for (const char* key : {"c", "a", "b", "A"})
        table.SetItem(key, 0);
    EXPECT_EQ(WalkKeys(table), (QList<QByteArray>{"a", "A", "b", "c"}));
}

TEST(HashesTest, DeletionMovesTheBucketsLastKeyIntoTheGap) {
    TIntegerHash table;
    // All five share bucket 114.
    for (const char* key : {"ab", "er", "fb", "fr", "gb"})
        table.SetItem(key, 0);
    table.Delete("er");
    EXPECT_EQ(WalkKeys(table), (QList<QByteArray>{"ab", "gb", "fb", "fr"}));
    table.Delete("fr");
    EXPECT_EQ(WalkKeys(table), (QList<QByteArray>{"ab", "gb", "fb"}));
    table.SetItem("er", 0);
    EXPECT_EQ(WalkKeys(table), (QList<QByteArray>{"ab", "gb", "fb", "er"}));
    for (const char* key : {"ab", "gb", "fb", "er"})
        EXPECT_TRUE(table.Exists(key)) << key;
}

TEST(HashesTest, NewKeyReusesTheMostRecentlyFreedSlot) {
    SlotProbe table;
    for (const char* key : {"k0", "k1", "k2", "k3"})
        table.SetItem(key, 7);
    const int slotOfK1 = table.FindSlot("k1");
    const int slotOfK3 = table.FindSlot("k3");
    table.Delete("k1");
    table.Delete("k3");
    table.SetItem("new", 9);
    EXPECT_EQ(table.FindSlot("new"), slotOfK3);
    table.SetItem("newer", 10);
    EXPECT_EQ(table.FindSlot("newer"), slotOfK1);
    EXPECT_EQ(table.ItemsHigh(), 3);
    EXPECT_EQ(table.Items("new"), 9);
    EXPECT_EQ(table.Items("newer"), 10);
    EXPECT_EQ(table.Items("k0"), 7);
    EXPECT_EQ(table.Items("k2"), 7);
}

TEST(HashesTest, HundredDeletionsCompactTheValueStore) {
    TIntegerHash table;
    for (int i = 0; i < 300; ++i)
        table.SetItem("key" + QByteArray::number(i), i);
    // Every third key goes, spread over the whole store.
    int deleted = 0;
    for (int i = 0; i < 300 && deleted < 99; i += 3, ++deleted)
        table.Delete("key" + QByteArray::number(i));
    EXPECT_EQ(table.ItemsHigh(), 299) << "no compaction before the hundredth free slot";
    table.Delete("key297");
    EXPECT_EQ(table.ItemCount(), 200);
    EXPECT_EQ(table.ItemsHigh(), 199);
    for (int i = 0; i < 300; ++i) {
        const QByteArray key = "key" + QByteArray::number(i);
        if (table.Exists(key)) {
            EXPECT_EQ(table.Items(key), i) << key.constData();
        }
    }
}

TEST(HashesTest, DeletingEveryKeyCompactsOnEachHundredthFreeSlot) {
    struct Case {
        int keys;
        int itemsHighAfterwards;
    };
    // 150 keys: the hundredth deletion compacts, the last fifty only free their slots.
    const Case cases[] = {{100, -1}, {150, 49}, {200, -1}};
    for (const Case& c : cases) {
        TStringHash table;
        for (int i = 0; i < c.keys; ++i)
            table.SetItem(QByteArray::number(i), QByteArray::number(i));
        for (int i = 0; i < c.keys; ++i)
            table.Delete(QByteArray::number(i));
        EXPECT_EQ(table.ItemCount(), 0);
        EXPECT_EQ(table.ItemsHigh(), c.itemsHighAfterwards) << c.keys << " keys";
        table.SetItem("again", "v");
        EXPECT_EQ(table.Items("again"), QByteArray("v"));
    }
}

TEST(HashesTest, WithoutAutoCompactionFreedSlotsStayUntilCompactIsCalled) {
    TIntegerHash table;
    table.SetAutoCompaction(false);
    for (int i = 0; i < 200; ++i)
        table.SetItem(QByteArray::number(i), i);
    for (int i = 0; i < 200; i += 2)
        table.Delete(QByteArray::number(i));
    EXPECT_EQ(table.ItemsHigh(), 199);
    table.Compact();
    EXPECT_EQ(table.ItemsHigh(), 99);
    for (int i = 1; i < 200; i += 2)
        EXPECT_EQ(table.Items(QByteArray::number(i)), i);
}

TEST(HashesTest, CurrentKeyBeforeTheFirstNextRaisesAlsoAfterAnEarlierWalk) {
    TIntegerHash table;
    table.SetItem("x", 1);
    const QString message =
        QStringLiteral("Cannot find CurrentKey as Next has not yet been called after Restart");
    table.Restart();
    EXPECT_EQ(MessageOf<EHashIterateError>([&] { table.CurrentKey(); }), message);
    WalkKeys(table);
    table.Restart();
    EXPECT_EQ(MessageOf<EHashIterateError>([&] { table.CurrentKey(); }), message);
}

TEST(HashesTest, AddingOrDeletingAKeyEndsTheWalkButReplacingAValueDoesNot) {
    TIntegerHash table;
    table.SetItem("a", 1);
    table.SetItem("b", 2);
    table.Restart();
    ASSERT_TRUE(table.Next());
    table.SetItem("a", 10);
    EXPECT_EQ(table.CurrentKey(), QByteArray("a"));
    ASSERT_TRUE(table.Next());
    EXPECT_EQ(table.CurrentKey(), QByteArray("b"));

    table.Restart();
    ASSERT_TRUE(table.Next());
    table.SetItem("c", 3);
    EXPECT_EQ(MessageOf<EHashIterateError>([&] { table.Next(); }),
              QStringLiteral("Cannot get Next as the hash has been modified since Restart was "
                             "called"));
    EXPECT_EQ(MessageOf<EHashIterateError>([&] { table.CurrentKey(); }),
              QStringLiteral("Cannot find CurrentKey as the hash has been modified since Restart "
                             "was called"));

    // A failed deletion ends the walk too.
    table.Restart();
    EXPECT_THROW(table.Delete("absent"), EHashFindError);
    EXPECT_THROW(table.Next(), EHashIterateError);
}

TEST(HashesTest, NextAfterTheEndKeepsReturningFalseAndKeepsTheLastKey) {
    TIntegerHash table;
    table.SetItem("only", 1);
    table.Restart();
    ASSERT_TRUE(table.Next());
    EXPECT_FALSE(table.Next());
    EXPECT_FALSE(table.Next());
    EXPECT_EQ(table.CurrentKey(), QByteArray("only"));
}

TEST(HashesTest, ClearEmptiesTheTableAndAWalkThenFindsNothing) {
    TStringHash table;
    table.SetItem("a", "1");
    table.SetItem("b", "2");
    table.Restart();
    ASSERT_TRUE(table.Next());
    table.Clear();
    EXPECT_FALSE(table.Next());
    EXPECT_EQ(table.ItemCount(), 0);
    EXPECT_EQ(table.ItemsHigh(), -1);
    EXPECT_FALSE(table.Exists("a"));
    table.SetItem("a", "3");
    EXPECT_EQ(table.Items("a"), QByteArray("3"));
}

TEST(HashesTest, OwningObjectTableFreesWhatItDrops) {
    int alive = 0;
    {
        TObjectHash<Tracked> table(true);
        EXPECT_TRUE(table.OwnsObjects());
        for (const char* key : {"a", "b", "c", "d"})
            table.SetItem(key, new Tracked(alive));
        EXPECT_EQ(alive, 4);
        table.Delete("a");
        EXPECT_EQ(alive, 3);
        table.SetItem("b", new Tracked(alive));
        EXPECT_EQ(alive, 3) << "the replaced object is freed";
        table.SetItem("c", std::make_unique<Tracked>(alive));
        EXPECT_EQ(alive, 3);
        table.Clear();
        EXPECT_EQ(alive, 0);
        table.SetItem("e", new Tracked(alive));
        table.SetItem("f", new Tracked(alive));
    }
    EXPECT_EQ(alive, 0) << "destruction frees the rest";
}

TEST(HashesTest, NonOwningObjectTableFreesNothing) {
    int alive = 0;
    Tracked first(alive);
    Tracked second(alive);
    {
        TObjectHash<Tracked> table;
        EXPECT_FALSE(table.OwnsObjects());
        table.SetItem("a", &first);
        table.SetItem("b", &second);
        table.SetItem("a", &second);
        table.Delete("b");
        EXPECT_EQ(table.Items("a"), &second);
        table.Clear();
        table.SetItem("c", &first);
    }
    EXPECT_EQ(alive, 2);
}

TEST(HashesTest, StoringTheObjectAKeyAlreadyHoldsKeepsItAlive) {
    int alive = 0;
    TObjectHash<Tracked> table(true);
    Tracked* object = new Tracked(alive);
    table.SetItem("k", object);
    table.SetItem("k", object);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(table.Items("k"), object);
    EXPECT_EQ(&table.Items("k")->alive, &alive);
}

TEST(HashesTest, OwningTableFreesAnObjectItRefusesForAnEmptyKey) {
    int alive = 0;
    TObjectHash<Tracked> table(true);
    EXPECT_THROW(table.SetItem("", new Tracked(alive)), EHashInvalidKeyError);
    EXPECT_EQ(alive, 0);
    TObjectHash<Tracked> borrowing;
    EXPECT_THROW(borrowing.SetItem("k", std::make_unique<Tracked>(alive)), EHashError);
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(borrowing.Exists("k"));
}

TEST(HashesTest, OwnedObjectsSurviveCompactionUnderTheirKeys) {
    int alive = 0;
    TObjectHash<Tracked> table(true);
    std::vector<Tracked*> objects;
    for (int i = 0; i < 250; ++i) {
        objects.push_back(new Tracked(alive));
        table.SetItem(QByteArray::number(i), objects.back());
    }
    for (int i = 0; i < 250; i += 2)
        table.Delete(QByteArray::number(i));
    EXPECT_EQ(alive, 125);
    EXPECT_LT(table.ItemsHigh(), 250);
    for (int i = 1; i < 250; i += 2)
        EXPECT_EQ(table.Items(QByteArray::number(i)), objects[size_t(i)]);
}

// A plain model of the table: buckets searched linearly, a free-slot stack, compaction
// as a renumbering. Random work on both must give the same walk, values and slots.
namespace {
struct ModelRecord {
    QByteArray key;
    int slot;
};
struct Model {
    std::vector<std::vector<ModelRecord>> buckets = std::vector<std::vector<ModelRecord>>(128);
    std::vector<int> values;
    std::vector<bool> used;
    std::vector<int> freeSlots;

    ModelRecord* Find(const QByteArray& key) {
        for (ModelRecord& r : buckets[size_t(THash::BucketOf(key))])
            if (r.key == key)
                return &r;
        return nullptr;
    }
    void Set(const QByteArray& key, int value) {
        if (ModelRecord* r = Find(key)) {
            values[size_t(r->slot)] = value;
            return;
        }
        int slot;
        if (!freeSlots.empty()) {
            slot = freeSlots.back();
            freeSlots.pop_back();
        } else {
            slot = int(values.size());
            values.push_back(0);
            used.push_back(false);
        }
        values[size_t(slot)] = value;
        used[size_t(slot)] = true;
        buckets[size_t(THash::BucketOf(key))].push_back({key, slot});
    }
    void Delete(const QByteArray& key) {
        auto& bucket = buckets[size_t(THash::BucketOf(key))];
        for (size_t i = 0; i < bucket.size(); ++i) {
            if (bucket[i].key != key)
                continue;
            used[size_t(bucket[i].slot)] = false;
            freeSlots.push_back(bucket[i].slot);
            bucket[i] = bucket.back();
            bucket.pop_back();
            break;
        }
        if (freeSlots.size() >= 100)
            Compact();
    }
    void Compact() {
        // Fill each free low slot from the highest used slot.
        std::vector<int> newSlot(values.size());
        for (size_t i = 0; i < newSlot.size(); ++i)
            newSlot[i] = int(i);
        int low = 0;
        int high = int(values.size()) - 1;
        while (true) {
            while (low < high && used[size_t(low)])
                ++low;
            while (low < high && !used[size_t(high)])
                --high;
            if (low >= high)
                break;
            values[size_t(low)] = values[size_t(high)];
            used[size_t(low)] = true;
            used[size_t(high)] = false;
            newSlot[size_t(high)] = low;
        }
        size_t size = values.size();
        while (size > 0 && !used[size - 1])
            --size;
        values.resize(size);
        used.resize(size);
        freeSlots.clear();
        for (auto& bucket : buckets)
            for (ModelRecord& r : bucket)
                r.slot = newSlot[size_t(r.slot)];
    }
    QList<QByteArray> Walk() const {
        QList<QByteArray> keys;
        for (const auto& bucket : buckets)
            for (const ModelRecord& r : bucket)
                keys.append(r.key);
        return keys;
    }
};
} // namespace

TEST(HashesTest, RandomWorkWalksAndReadsLikeAPlainBucketTable) {
    QRandomGenerator random(20240611);
    SlotProbe table;
    Model model;
    QList<QByteArray> live;
    for (int step = 0; step < 20000; ++step) {
        const quint32 choice = random.bounded(10u);
        if (choice < 6 || live.isEmpty()) {
            // Few distinct keys, so replacements and re-adds happen often.
            const QByteArray key = "k" + QByteArray::number(random.bounded(600u));
            const int value = int(random.generate());
            if (!table.Exists(key))
                live.append(key);
            table.SetItem(key, value);
            model.Set(key, value);
        } else {
            const QByteArray key = live.takeAt(random.bounded(int(live.size())));
            table.Delete(key);
            model.Delete(key);
        }
        if (step % 1000 == 999) {
            ASSERT_EQ(WalkKeys(table), model.Walk()) << "step " << step;
            ASSERT_EQ(table.ItemsHigh(), int(model.values.size()) - 1) << "step " << step;
        }
    }
    ASSERT_EQ(table.ItemCount(), live.size());
    for (const QByteArray& key : std::as_const(live)) {
        const ModelRecord* r = model.Find(key);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(table.FindSlot(key), r->slot) << key.constData();
        EXPECT_EQ(table.Items(key), model.values[size_t(r->slot)]) << key.constData();
    }
}
