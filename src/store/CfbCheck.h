#pragma once
// A full examination of a compound file: every chain, every tree, every sector's owner.
// Opening a file only checks what it needs; this walks everything and says in plain
// words what is wrong, for "quillmar-cli storage check" and for the fuzz target.

#include <QString>
#include <QStringList>

namespace cfb {

class Io;

struct CheckReport {
    QStringList damage; // faults that lose data or stop other programs reading the file
    QStringList notes;  // harmless oddities (space lost, trees not balanced)
    int storages = 0;
    int streams = 0;
    int64_t sectors = 0;
    int64_t freeSectors = 0;
    int sectorSize = 0;
    bool Damaged() const { return !damage.isEmpty(); }
};

CheckReport CheckCompoundFile(Io& io);

} // namespace cfb
