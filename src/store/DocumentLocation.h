#pragma once
// Where the document file lives: the folder "My <product name>" in the user's
// documents folder, and in it "Quillmar.bin" when such a file exists, else
// "Reader.bin". The command-line tool and the tests may name another folder.

#include <QString>

// The folder of the document file; created on first need by the store, not here.
QString DocumentFolder();
// The full name of the document file in that folder.
QString DocumentFileName();
// Replaces the folder for this process (empty: back to the rule above).
void SetDocumentFolderOverride(const QString& folder);
