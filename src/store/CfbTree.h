#pragma once
// The children of one storage: a red-black tree threaded through the directory entries'
// left and right sibling fields, ordered by the format's name order. Other readers walk
// it as a binary search tree, so it must stay balanced: a store whose names only grow
// would otherwise turn it into a chain as long as the storage is wide.
//
// Parents are not stored in the format; an operation finds a node's parent by searching
// for its name from the root, which costs O(log n) in a balanced tree.

#include "CfbFormat.h"

#include <functional>
#include <vector>

namespace cfb {

enum class TreeHealth {
    RedBlack,  // a proper red-black search tree: may be changed in place
    Ordered,   // a search tree, but not balanced by the rules: rebuilt before changes
    Unordered, // names out of order: lookups must scan it
};

class SiblingTree {
public:
    // touched(entry) is called for every entry whose fields change.
    SiblingTree(std::vector<Entry>& entries, uint32_t storage,
                std::function<void(uint32_t)> touched);

    uint32_t Root() const { return m_entries[m_storage].child; }
    // The entry with that name key in a search tree, or NoEntry.
    uint32_t Find(const QString& key) const;
    // All members in order, without recursion. Fails on a reference out of range or a
    // tree larger than the directory (a cycle).
    std::vector<uint32_t> Members() const;
    // Adds a new entry (its name set); fails with STG_E_FILEALREADYEXISTS on a clash.
    void Insert(uint32_t entry);
    void Remove(uint32_t entry);
    // Replaces the tree by a balanced red-black tree of the members, sorted by name.
    void Rebuild(std::vector<uint32_t> members);
    // How far the tree may be trusted; members must be its Members().
    TreeHealth Examine(const std::vector<uint32_t>& members) const;

private:
    uint32_t ParentOf(uint32_t node) const;
    void Relink(uint32_t parent, uint32_t oldChild, uint32_t newChild);
    void RotateLeft(uint32_t node);
    void RotateRight(uint32_t node);
    bool IsRed(uint32_t node) const;
    void Paint(uint32_t node, Color color);
    void RepairAfterRemove(uint32_t node, uint32_t parent);

    std::vector<Entry>& m_entries;
    uint32_t m_storage;
    std::function<void(uint32_t)> m_touched;
};

} // namespace cfb
