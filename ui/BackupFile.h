#pragma once

#include <QByteArray>
#include <QString>

// The backup file: the adapter's configuration image followed by its MD5 digest, every byte
// XORed with the MD5 of the adapter's serial number text, so that only the adapter that made a
// file can read it back. No header, no magic.
namespace BackupFile {

constexpr qsizetype kDigestSize = 16;
constexpr qsizetype kImageSizeV1 = 114688;
constexpr qsizetype kImageSizeV2 = 245760;

enum class Check { Valid, WrongLength, WrongDigest };

struct Contents
{
    Check check = Check::WrongLength;
    QByteArray content; // the unscrambled file, digest included
    QByteArray digest;  // MD5 of the content without its last 16 bytes
};

// The 16-byte key: MD5 of the 24 lower-case hexadecimal characters of the serial number.
QByteArray key(const QByteArray &serialText);

// XOR with the key, the key index starting at 0 with the first byte; its own inverse.
void scramble(QByteArray &data, const QByteArray &key);

// The file bytes for an image: image, MD5 of the image, all scrambled.
QByteArray encode(const QByteArray &image, const QByteArray &serialText);

// Unscrambles a file and checks it. Only the lengths of a V1 or a V2 image plus the digest
// pass: the digest alone would let a 16-byte file or an image of any size through.
Contents decode(const QByteArray &file, const QByteArray &serialText);

// "%1.%2.%3" from content bytes 1, 2 and 3; empty for a content shorter than that.
QString imageVersion(const QByteArray &content);

// Writes the file bytes whole or not at all: an existing backup is never left half overwritten,
// also when the program dies while writing. On failure `error` (if given) says why.
bool save(const QString &path, const QByteArray &file, QString *error = nullptr);

} // namespace BackupFile
