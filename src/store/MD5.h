#pragma once
// MD5 digests (RFC 1321) as the program writes them: 32 upper-case hexadecimal
// digits. Topic keys of items without a guid and the topics' content hashes use it,
// so the exact text form matters as much as the digest.

#include <QByteArray>

// The digest of the bytes, e.g. "D41D8CD98F00B204E9800998ECF8427E" for no bytes.
QByteArray MD5Digest(const QByteArray& bytes);
