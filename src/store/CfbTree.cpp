#include "CfbTree.h"

#include <algorithm>

namespace cfb {

namespace {

QString TreeBroken(uint32_t storage, const QString& why) {
    return QStringLiteral("the element tree of directory entry %1 is damaged: %2")
        .arg(storage)
        .arg(why);
}

} // namespace

SiblingTree::SiblingTree(std::vector<Entry>& entries, uint32_t storage,
                         std::function<void(uint32_t)> touched)
    : m_entries(entries), m_storage(storage), m_touched(std::move(touched)) {}

uint32_t SiblingTree::Find(const QString& key) const {
    uint32_t node = Root();
    for (size_t steps = 0; node != NoEntry && steps <= m_entries.size(); ++steps) {
        if (node >= m_entries.size())
            return NoEntry;
        const int c = CompareNames(key, m_entries[node].key);
        if (c == 0)
            return node;
        node = c < 0 ? m_entries[node].left : m_entries[node].right;
    }
    return NoEntry;
}

std::vector<uint32_t> SiblingTree::Members() const {
    std::vector<uint32_t> out;
    std::vector<uint32_t> stack;
    uint32_t node = Root();
    while (node != NoEntry || !stack.empty()) {
        while (node != NoEntry) {
            if (node >= m_entries.size())
                Fail(Status::DocfileCorrupt,
                     TreeBroken(m_storage, QStringLiteral("it refers to entry %1, which does not "
                                                          "exist")
                                               .arg(node)));
            if (stack.size() + out.size() > m_entries.size())
                Fail(Status::DocfileCorrupt,
                     TreeBroken(m_storage, QStringLiteral("its sibling links form a cycle")));
            stack.push_back(node);
            node = m_entries[node].left;
        }
        node = stack.back();
        stack.pop_back();
        out.push_back(node);
        if (out.size() > m_entries.size())
            Fail(Status::DocfileCorrupt,
                 TreeBroken(m_storage, QStringLiteral("its sibling links form a cycle")));
        node = m_entries[node].right;
    }
    return out;
}

TreeHealth SiblingTree::Examine(const std::vector<uint32_t>& members) const {
    for (size_t i = 1; i < members.size(); ++i)
        if (CompareNames(m_entries[members[i - 1]].key, m_entries[members[i]].key) >= 0)
            return TreeHealth::Unordered;
    if (IsRed(Root()))
        return TreeHealth::Ordered;
    // Every path from the root to a missing child must pass the same number of black
    // nodes, and no red node may have a red child.
    struct Step {
        uint32_t node;
        int blacks;
    };
    std::vector<Step> stack;
    int expected = -1;
    stack.push_back({Root(), 0});
    while (!stack.empty()) {
        const Step step = stack.back();
        stack.pop_back();
        if (step.node == NoEntry) {
            if (expected < 0)
                expected = step.blacks;
            else if (expected != step.blacks)
                return TreeHealth::Ordered;
            continue;
        }
        const Entry& e = m_entries[step.node];
        if (e.color == Color::Red && (IsRed(e.left) || IsRed(e.right)))
            return TreeHealth::Ordered;
        const int blacks = step.blacks + (e.color == Color::Black ? 1 : 0);
        stack.push_back({e.left, blacks});
        stack.push_back({e.right, blacks});
    }
    return TreeHealth::RedBlack;
}

bool SiblingTree::IsRed(uint32_t node) const {
    return node != NoEntry && node < m_entries.size() && m_entries[node].color == Color::Red;
}

void SiblingTree::Paint(uint32_t node, Color color) {
    if (node != NoEntry && m_entries[node].color != color) {
        m_entries[node].color = color;
        m_touched(node);
    }
}

uint32_t SiblingTree::ParentOf(uint32_t node) const {
    const QString& key = m_entries[node].key;
    uint32_t parent = NoEntry;
    uint32_t at = Root();
    for (size_t steps = 0; steps <= m_entries.size(); ++steps) {
        if (at == node)
            return parent;
        if (at == NoEntry || at >= m_entries.size())
            break;
        parent = at;
        at = CompareNames(key, m_entries[at].key) < 0 ? m_entries[at].left : m_entries[at].right;
    }
    Fail(Status::DocfileCorrupt,
         TreeBroken(m_storage, QStringLiteral("entry %1 cannot be found by its name").arg(node)));
}

void SiblingTree::Relink(uint32_t parent, uint32_t oldChild, uint32_t newChild) {
    if (parent == NoEntry) {
        m_entries[m_storage].child = newChild;
        m_touched(m_storage);
    } else if (m_entries[parent].left == oldChild) {
        m_entries[parent].left = newChild;
        m_touched(parent);
    } else {
        m_entries[parent].right = newChild;
        m_touched(parent);
    }
}

void SiblingTree::RotateLeft(uint32_t x) {
    const uint32_t parent = ParentOf(x);
    const uint32_t y = m_entries[x].right;
    m_entries[x].right = m_entries[y].left;
    m_entries[y].left = x;
    m_touched(x);
    m_touched(y);
    Relink(parent, x, y);
}

void SiblingTree::RotateRight(uint32_t x) {
    const uint32_t parent = ParentOf(x);
    const uint32_t y = m_entries[x].left;
    m_entries[x].left = m_entries[y].right;
    m_entries[y].right = x;
    m_touched(x);
    m_touched(y);
    Relink(parent, x, y);
}

void SiblingTree::Insert(uint32_t z) {
    Entry& ez = m_entries[z];
    ez.left = ez.right = NoEntry;
    ez.color = Color::Red;
    m_touched(z);
    if (Root() == NoEntry) {
        Relink(NoEntry, NoEntry, z);
    } else {
        uint32_t at = Root();
        for (size_t steps = 0;; ++steps) {
            if (steps > m_entries.size())
                Fail(Status::DocfileCorrupt,
                     TreeBroken(m_storage, QStringLiteral("its sibling links form a cycle")));
            const int c = CompareNames(ez.key, m_entries[at].key);
            if (c == 0)
                Fail(Status::FileAlreadyExists,
                     QStringLiteral("an element named \"%1\" already exists").arg(ez.name));
            uint32_t& next = c < 0 ? m_entries[at].left : m_entries[at].right;
            if (next == NoEntry) {
                next = z;
                m_touched(at);
                break;
            }
            at = next;
        }
    }
    uint32_t x = z;
    while (x != Root()) {
        uint32_t p = ParentOf(x);
        if (!IsRed(p))
            break;
        const uint32_t g = ParentOf(p); // a red parent is never the root
        if (p == m_entries[g].left) {
            const uint32_t uncle = m_entries[g].right;
            if (IsRed(uncle)) {
                Paint(p, Color::Black);
                Paint(uncle, Color::Black);
                Paint(g, Color::Red);
                x = g;
                continue;
            }
            if (x == m_entries[p].right) {
                RotateLeft(p);
                x = p;
                p = ParentOf(x);
            }
            Paint(p, Color::Black);
            Paint(g, Color::Red);
            RotateRight(g);
        } else {
            const uint32_t uncle = m_entries[g].left;
            if (IsRed(uncle)) {
                Paint(p, Color::Black);
                Paint(uncle, Color::Black);
                Paint(g, Color::Red);
                x = g;
                continue;
            }
            if (x == m_entries[p].left) {
                RotateRight(p);
                x = p;
                p = ParentOf(x);
            }
            Paint(p, Color::Black);
            Paint(g, Color::Red);
            RotateLeft(g);
        }
        break;
    }
    Paint(Root(), Color::Black);
}

void SiblingTree::Remove(uint32_t z) {
    uint32_t y = z;
    if (m_entries[z].left != NoEntry && m_entries[z].right != NoEntry) {
        y = m_entries[z].right;
        while (m_entries[y].left != NoEntry)
            y = m_entries[y].left;
    }
    const uint32_t x = m_entries[y].left != NoEntry ? m_entries[y].left : m_entries[y].right;
    const uint32_t yParent = ParentOf(y);
    const uint32_t zParent = ParentOf(z);
    const Color removedColor = m_entries[y].color;
    Relink(yParent, y, x);
    uint32_t xParent = yParent;
    if (y != z) {
        // The successor takes the removed entry's place, links and colour.
        if (xParent == z)
            xParent = y;
        m_entries[y].left = m_entries[z].left;
        m_entries[y].right = m_entries[z].right;
        m_entries[y].color = m_entries[z].color;
        m_touched(y);
        Relink(zParent, z, y);
    }
    m_entries[z].left = m_entries[z].right = NoEntry;
    m_touched(z);
    if (removedColor == Color::Black)
        RepairAfterRemove(x, xParent);
}

void SiblingTree::RepairAfterRemove(uint32_t x, uint32_t parent) {
    while (x != Root() && !IsRed(x) && parent != NoEntry) {
        if (x == m_entries[parent].left) {
            uint32_t w = m_entries[parent].right;
            if (w == NoEntry)
                break;
            if (IsRed(w)) {
                Paint(w, Color::Black);
                Paint(parent, Color::Red);
                RotateLeft(parent);
                w = m_entries[parent].right;
                if (w == NoEntry)
                    break;
            }
            if (!IsRed(m_entries[w].left) && !IsRed(m_entries[w].right)) {
                Paint(w, Color::Red);
                x = parent;
                parent = ParentOf(x);
                continue;
            }
            if (!IsRed(m_entries[w].right)) {
                Paint(m_entries[w].left, Color::Black);
                Paint(w, Color::Red);
                RotateRight(w);
                w = m_entries[parent].right;
            }
            Paint(w, m_entries[parent].color);
            Paint(parent, Color::Black);
            Paint(m_entries[w].right, Color::Black);
            RotateLeft(parent);
        } else {
            uint32_t w = m_entries[parent].left;
            if (w == NoEntry)
                break;
            if (IsRed(w)) {
                Paint(w, Color::Black);
                Paint(parent, Color::Red);
                RotateRight(parent);
                w = m_entries[parent].left;
                if (w == NoEntry)
                    break;
            }
            if (!IsRed(m_entries[w].left) && !IsRed(m_entries[w].right)) {
                Paint(w, Color::Red);
                x = parent;
                parent = ParentOf(x);
                continue;
            }
            if (!IsRed(m_entries[w].left)) {
                Paint(m_entries[w].right, Color::Black);
                Paint(w, Color::Red);
                RotateLeft(w);
                w = m_entries[parent].left;
            }
            Paint(w, m_entries[parent].color);
            Paint(parent, Color::Black);
            Paint(m_entries[w].left, Color::Black);
            RotateRight(parent);
        }
        x = Root();
        break;
    }
    Paint(x, Color::Black);
}

void SiblingTree::Rebuild(std::vector<uint32_t> members) {
    std::stable_sort(members.begin(), members.end(), [this](uint32_t a, uint32_t b) {
        return CompareNames(m_entries[a].key, m_entries[b].key) < 0;
    });
    const int64_t n = int64_t(members.size());
    // Split at the middle: every level but the deepest is full, so painting the deepest
    // level red (when it is not full) gives equal black counts on every path.
    int deepest = 0;
    while ((int64_t(2) << deepest) - 1 < n)
        ++deepest;
    const bool deepestFull = (int64_t(2) << deepest) - 1 == n;
    struct Span {
        int64_t lo, hi; // inclusive lo, exclusive hi
        uint32_t parent;
        bool left;
        int depth;
    };
    std::vector<Span> todo;
    todo.push_back({0, n, NoEntry, false, 0});
    m_entries[m_storage].child = NoEntry;
    m_touched(m_storage);
    while (!todo.empty()) {
        const Span span = todo.back();
        todo.pop_back();
        uint32_t node = NoEntry;
        if (span.lo < span.hi) {
            const int64_t mid = span.lo + (span.hi - span.lo - 1) / 2;
            node = members[size_t(mid)];
            Entry& e = m_entries[node];
            e.left = e.right = NoEntry;
            e.color = span.depth == deepest && !deepestFull ? Color::Red : Color::Black;
            m_touched(node);
            todo.push_back({span.lo, mid, node, true, span.depth + 1});
            todo.push_back({mid + 1, span.hi, node, false, span.depth + 1});
        }
        if (span.parent == NoEntry)
            m_entries[m_storage].child = node;
        else if (span.left)
            m_entries[span.parent].left = node;
        else
            m_entries[span.parent].right = node;
    }
}

} // namespace cfb
