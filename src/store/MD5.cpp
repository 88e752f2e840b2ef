#include "MD5.h"

#include <QCryptographicHash>

QByteArray MD5Digest(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper();
}
