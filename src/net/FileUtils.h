#pragma once
// Small helpers for the files that downloads write.

#include <QString>

// Size in bytes of an existing file; 0 when it cannot be opened.
qint64 GetFileSize(const QString& path);

// The extension of a file name without its dot ("mp3" for "show.mp3"); empty when the
// name has none. Dots in folder names do not count.
QString ExtractExtension(const QString& name);

// path itself when no such file exists; otherwise the first free name of the form
// "folder/base.N.ext" for N from 1 to 99 ("folder/base.N" when the name has no
// extension); empty when all of them exist.
QString MakeUniqueFileName(const QString& path);
