// How long do adding and looking up 100,000 topic keys (MD5 digests in hexadecimal)
// take in the program's hash tables, beside QHash and beside a walk of the fixed
// buckets alone (what a lookup would cost without the side index)?
//
//   bench_Hashes [KEYS]   (default 100000)

#include "store/Hashes.h"
#include "store/MD5.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

struct Figures {
    double addMs;
    double lookupMs;
};

void Print(const char* what, int keys, const Figures& f) {
    std::printf("%-34s add %8.1f ms (%6.0f ns/key)   look up %8.1f ms (%6.0f ns/key)\n", what,
                f.addMs, f.addMs * 1e6 / keys, f.lookupMs, f.lookupMs * 1e6 / keys);
}

double Ms(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

// Every key is looked up once in a different order than it was added, plus as many
// absent keys, as a topic merge does with known and new items.
template <class Add, class Find>
Figures Measure(const QList<QByteArray>& keys, const QList<QByteArray>& absent, Add add,
                Find find) {
    QElapsedTimer timer;
    timer.start();
    for (qsizetype i = 0; i < keys.size(); ++i)
        add(keys[i], int(i));
    const double addMs = Ms(timer);

    long long found = 0;
    timer.restart();
    for (qsizetype i = keys.size() - 1; i >= 0; --i)
        found += find(keys[i]) ? 1 : 0;
    for (const QByteArray& key : absent)
        found += find(key) ? 1 : 0;
    const double lookupMs = Ms(timer);
    if (found != keys.size()) {
        std::fprintf(stderr, "lookups found %lld of %lld keys\n", found, (long long)keys.size());
        std::exit(1);
    }
    return {addMs, lookupMs};
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: %s [KEYS]\n", argv[0]);
        return 2;
    }
    QList<QByteArray> keys;
    QList<QByteArray> absent;
    for (int i = 0; i < count; ++i) {
        keys.append(MD5Digest("topic title " + QByteArray::number(i) + "https://example.net/item/" +
                              QByteArray::number(i)));
        absent.append(MD5Digest("absent " + QByteArray::number(i)));
    }
    std::set<int> buckets;
    for (const QByteArray& key : keys)
        buckets.insert(THash::BucketOf(key));
    std::printf("%d MD5 keys fall into %zu of the %d buckets\n\n", count, buckets.size(),
                THash::BucketCount);

    {
        TIntegerHash table;
        Print("TIntegerHash", count,
              Measure(
                  keys, absent, [&](const QByteArray& k, int v) { table.SetItem(k, v); },
                  [&](const QByteArray& k) { return table.Exists(k); }));
    }
    {
        struct Entry {
            int value;
        };
        TObjectHash<Entry> table(true);
        Print("TObjectHash (owning)", count,
              Measure(
                  keys, absent, [&](const QByteArray& k, int v) { table.SetItem(k, new Entry{v}); },
                  [&](const QByteArray& k) { return table.Exists(k) && table.Items(k); }));
    }
    {
        QHash<QByteArray, int> table;
        Print("QHash<QByteArray, int> (reference)", count,
              Measure(
                  keys, absent, [&](const QByteArray& k, int v) { table.insert(k, v); },
                  [&](const QByteArray& k) { return table.contains(k); }));
    }
    {
        // The fixed buckets searched linearly, as they would be without the side index.
        // Its cost grows with the square of the keys, so it runs on the first 10,000 only.
        const int few = std::min(count, 10000);
        const QList<QByteArray> someKeys = keys.first(few);
        const QList<QByteArray> someAbsent = absent.first(few);
        std::array<QList<QByteArray>, THash::BucketCount> table;
        auto find = [&](const QByteArray& k) {
            for (const QByteArray& stored : table[THash::BucketOf(k)])
                if (stored == k)
                    return true;
            return false;
        };
        std::printf("\nthe first %d keys only:\n", few);
        Print("buckets only (no side index)", few,
              Measure(
                  someKeys, someAbsent,
                  [&](const QByteArray& k, int) {
                      if (!find(k))
                          table[THash::BucketOf(k)].append(k);
                  },
                  find));
    }
    return 0;
}
