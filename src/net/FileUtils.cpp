#include "FileUtils.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Where the file name starts within a path.
qsizetype NameStart(const QString& path) {
    return path.lastIndexOf(u'/') + 1;
}

} // namespace

qint64 GetFileSize(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.size();
}

QString ExtractExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < NameStart(name))
        return {};
    return name.mid(dot + 1);
}

QString MakeUniqueFileName(const QString& path) {
    if (!QFileInfo::exists(path))
        return path;
    const qsizetype nameStart = NameStart(path);
    const QString folder = path.left(nameStart);
    const QString name = path.mid(nameStart);
    const QString extension = ExtractExtension(name);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot < 0 ? name : name.left(dot);
    for (int n = 1; n <= 99; ++n) {
        QString candidate = folder + base + u'.' + QString::number(n);
        if (dot >= 0)
            candidate += u'.' + extension;
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
    return {};
}
