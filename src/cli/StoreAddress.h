#pragma once
// How the tool's commands name what is in the document, shared by every command group
// that works on folders, channels and topics.
//
// An item is named by its title path from the top of the tree ("News/Tech/Example"; the
// search tree by its own title, "Search Results/...") or by its storage path in the file
// (the "f..." names joined by backslashes, as "tree --json" shows them). "/" is the top.
// A topic is named by its item and its key ("News/Example#KEY") or by the storage path
// of its body stream (the item's storage path, a backslash and the "t..." name).

#include "CliCommand.h"
#include "store/QuillmarDoc.h"

#include <QList>
#include <QString>

// The exit code of a command whose item or topic does not exist.
inline constexpr int NotFound = 1;

// The document at the tool's location, opened.
TQuillmarDoc& Document();

// Every item of both trees, parents before children.
QList<TFolder*> AllItems(TQuillmarDoc& doc);
// Sub-folders first, then channels, each in stored order.
QList<TFolder*> Children(const TFolder& item);

// The item an address names, or null; raises when a title path is ambiguous.
TFolder* TryFindItem(TQuillmarDoc& doc, const QString& address);
// As TryFindItem, but a missing item raises (exit code NotFound).
TFolder* FindItem(TQuillmarDoc& doc, const QString& address);

// A folder new items may go into: the top or a folder of the main tree.
TFolder* FindTargetFolder(TQuillmarDoc& doc, const QString& address);

struct TopicRef {
    TFolder* item = nullptr;
    TTopicIndex* entry = nullptr;
};

// The topic an address names (its item's index loaded), or an empty reference.
TopicRef TryFindTopic(TQuillmarDoc& doc, const QString& address);
TopicRef FindTopic(TQuillmarDoc& doc, const QString& address);

// Help texts for the two kinds of address. Functions, not constants: the commands'
// static registrations in other files read them before any global of this file is
// guaranteed to be built.
QString ItemHelp();
QString TopicHelp();
