#include "ui/BackupFile.h"

#include <QCryptographicHash>
#include <QSaveFile>

namespace BackupFile {

QByteArray key(const QByteArray &serialText)
{
    return QCryptographicHash::hash(serialText, QCryptographicHash::Md5);
}

void scramble(QByteArray &data, const QByteArray &key)
{
    if (key.isEmpty())
        return;
    char *bytes = data.data();
    const qsizetype keySize = key.size();
    for (qsizetype i = 0; i < data.size(); ++i)
        bytes[i] = char(bytes[i] ^ key.at(i % keySize));
}

QByteArray encode(const QByteArray &image, const QByteArray &serialText)
{
    QByteArray file = image;
    file.append(QCryptographicHash::hash(image, QCryptographicHash::Md5));
    scramble(file, key(serialText));
    return file;
}

Contents decode(const QByteArray &file, const QByteArray &serialText)
{
    Contents contents;
    contents.content = file;
    scramble(contents.content, key(serialText));
    const qsizetype imageSize = qMax<qsizetype>(0, contents.content.size() - kDigestSize);
    contents.digest =
        QCryptographicHash::hash(contents.content.first(imageSize), QCryptographicHash::Md5);
    if (file.size() != kImageSizeV1 + kDigestSize && file.size() != kImageSizeV2 + kDigestSize)
        contents.check = Check::WrongLength;
    else if (contents.content.last(kDigestSize) != contents.digest)
        contents.check = Check::WrongDigest;
    else
        contents.check = Check::Valid;
    return contents;
}

QString imageVersion(const QByteArray &content)
{
    if (content.size() < 4)
        return {};
    return QStringLiteral("%1.%2.%3")
        .arg(quint8(content.at(1)))
        .arg(quint8(content.at(2)))
        .arg(quint8(content.at(3)));
}

bool save(const QString &path, const QByteArray &file, QString *error)
{
    QSaveFile out(path);
    bool written = out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
    if (written)
        written = out.commit();
    else
        out.cancelWriting();
    if (!written && error)
        *error = out.errorString();
    return written;
}

} // namespace BackupFile
