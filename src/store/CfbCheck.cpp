#include "CfbCheck.h"

#include "CfbFile.h"

#include <set>

namespace cfb {

namespace {

// Lets the engine load from a device it does not own.
class BorrowedIo : public Io {
public:
    explicit BorrowedIo(Io& io) : m_io(io) {}
    int64_t Size() override { return m_io.Size(); }
    int64_t ReadAt(int64_t offset, char* buffer, int64_t count) override {
        return m_io.ReadAt(offset, buffer, count);
    }
    void WriteAt(int64_t, const char*, int64_t) override {
        Fail(Status::AccessDenied, QStringLiteral("checking never writes"));
    }
    void Sync() override {}

private:
    Io& m_io;
};

} // namespace

// Walks the parsed state of a file; a friend of File.
class Inspector {
public:
    Inspector(File& file, CheckReport& report) : m_file(file), m_s(file.m_s), m_report(report) {}

    void Run() {
        m_report.sectorSize = m_s.sectorSize;
        m_owner.assign(m_s.fat.count, -1);
        m_miniOwner.assign(m_s.mini.count, -1);
        ClaimAll(m_s.fatSectors, QStringLiteral("the FAT"), false);
        ClaimAll(m_s.difatSectors, QStringLiteral("the DIFAT"), false);
        ClaimAll(m_s.directoryChain, QStringLiteral("the directory"), false);
        ClaimAll(m_s.miniFatChain, QStringLiteral("the MiniFAT"), false);
        ClaimAll(m_s.container, QStringLiteral("the mini stream"), false);
        WalkElements();
        CountSpace();
    }

private:
    void ClaimAll(const std::vector<uint32_t>& chain, const QString& owner, bool mini) {
        const int label = int(m_labels.size());
        m_labels.push_back(owner);
        std::vector<int>& owners = mini ? m_miniOwner : m_owner;
        for (uint32_t s : chain) {
            if (s >= owners.size())
                continue; // the engine has refused such chains already
            if (owners[s] >= 0 && m_reportedClashes.insert(s).second)
                m_report.damage << QStringLiteral("%1 %2 belongs to both %3 and %4")
                                       .arg(mini ? QStringLiteral("mini sector")
                                                 : QStringLiteral("sector"))
                                       .arg(s)
                                       .arg(m_labels[size_t(owners[s])], owner);
            else
                owners[s] = label;
        }
    }

    void WalkElements() {
        std::vector<std::pair<uint32_t, QString>> todo{{File::RootStorage, QString()}};
        while (!todo.empty()) {
            const auto [storage, path] = todo.back();
            todo.pop_back();
            const QString where =
                path.isEmpty() ? QStringLiteral("the root storage") : u'"' + path + u'"';
            const TreeHealth health = m_file.Health(storage);
            if (health == TreeHealth::Unordered)
                m_report.damage << QStringLiteral("the elements of %1 are not in name order, so "
                                                  "other programs may not find some of them")
                                       .arg(where);
            else if (health == TreeHealth::Ordered)
                m_report.notes << QStringLiteral("the element tree of %1 is not balanced as the "
                                                 "format asks; it is rebalanced at the next "
                                                 "change")
                                      .arg(where);
            std::set<QString> keys;
            for (uint32_t child : m_file.Children(storage)) {
                const Entry& e = m_s.entries[child];
                if (e.name.isEmpty()) {
                    m_report.damage << QStringLiteral("directory entry %1 in %2 has no valid name")
                                           .arg(child)
                                           .arg(where);
                    continue;
                }
                if (!keys.insert(e.key).second)
                    m_report.damage
                        << QStringLiteral("%1 holds two elements named \"%2\"").arg(where, e.name);
                if (const QString problem = NameProblem(e.name); !problem.isEmpty())
                    m_report.notes << QStringLiteral("in %1: %2").arg(where, problem);
                const QString childPath = path.isEmpty() ? e.name : path + u'/' + e.name;
                if (e.type == EntryType::Storage) {
                    ++m_report.storages;
                    todo.push_back({child, childPath});
                    continue;
                }
                ++m_report.streams;
                try {
                    const std::vector<uint32_t> chain = m_file.StreamChain(child);
                    ClaimAll(chain, QStringLiteral("stream \"%1\"").arg(childPath),
                             e.size > 0 && e.size < m_s.header.miniStreamCutoff);
                } catch (const Error& error) {
                    m_report.damage << error.Reason();
                }
            }
        }
    }

    void CountSpace() {
        int64_t lost = 0;
        for (uint32_t s = 0; s < m_s.fat.count; ++s) {
            const bool free = s < m_s.fat.table.size() && m_s.fat.table[s] == FreeSector;
            if (free)
                ++m_report.freeSectors;
            else if (m_owner[s] < 0)
                ++lost;
        }
        m_report.sectors = m_s.fat.count;
        if (lost > 0)
            m_report.notes << QStringLiteral("%1 sectors are marked in use but belong to nothing "
                                             "(space lost, no data harmed)")
                                  .arg(lost);
        int64_t lostMini = 0;
        for (uint32_t m = 0; m < m_s.mini.count; ++m)
            if (m_s.mini.table[m] != FreeSector && m_miniOwner[m] < 0)
                ++lostMini;
        if (lostMini > 0)
            m_report.notes << QStringLiteral("%1 mini sectors are marked in use but belong to "
                                             "nothing (space lost, no data harmed)")
                                  .arg(lostMini);
        int orphans = 0;
        for (size_t i = 1; i < m_s.entries.size(); ++i)
            if (m_s.entries[i].type != EntryType::Unused && m_s.parentOf[i] == NoEntry)
                ++orphans;
        if (orphans > 0)
            m_report.notes << QStringLiteral("%1 directory entries are in use but belong to no "
                                             "storage")
                                  .arg(orphans);
        const int64_t size = m_file.Device().Size();
        if (size % m_s.sectorSize != 0)
            m_report.notes << QStringLiteral("the file ends inside a sector");
    }

    File& m_file;
    FileState& m_s;
    CheckReport& m_report;
    std::vector<int> m_owner;
    std::vector<int> m_miniOwner;
    std::vector<QString> m_labels;
    std::set<uint32_t> m_reportedClashes;
};

CheckReport CheckCompoundFile(Io& io) {
    CheckReport report;
    std::unique_ptr<File> file;
    try {
        file = File::Load(std::make_unique<BorrowedIo>(io), false);
    } catch (const Error& e) {
        report.damage << e.Reason();
        return report;
    }
    try {
        Inspector(*file, report).Run();
    } catch (const Error& e) {
        report.damage << e.Reason();
    }
    return report;
}

} // namespace cfb
