#include "DocumentLocation.h"

#include "shell/ReaderBranding.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString g_folderOverride;
}

void SetDocumentFolderOverride(const QString& folder) {
    g_folderOverride = folder;
}

QString DocumentFolder() {
    if (!g_folderOverride.isEmpty())
        return QDir::cleanPath(QFileInfo(g_folderOverride).absoluteFilePath());
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath();
    return documents + u'/' + TBranding::Instance().DocumentFolderName();
}

QString DocumentFileName() {
    const QString folder = DocumentFolder();
    const QString own = folder + QStringLiteral("/Quillmar.bin");
    return QFileInfo::exists(own) ? own : folder + QStringLiteral("/Reader.bin");
}
