#include "app/InstanceProtocol.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDataStream>
#include <QtEndian>

#include <cstring>

namespace InstanceProtocol {

namespace {

constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_6;

QByteArrayView blockBytesBeforeChecksum(const InstanceBlock &block)
{
    return QByteArrayView(reinterpret_cast<const char *>(&block),
                          offsetof(InstanceBlock, checksum));
}

} // namespace

QString deriveKey(const KeyInputs &inputs)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView("SingleApplication"));
    hash.addData(inputs.applicationName.toUtf8());
    hash.addData(inputs.organizationName.toUtf8());
    hash.addData(inputs.organizationDomain.toUtf8());
    if (!inputs.extraKeyData.isEmpty())
        hash.addData(inputs.extraKeyData.join(QString()).toUtf8());
    hash.addData(inputs.applicationVersion.toUtf8());
    hash.addData(inputs.executablePath.toUtf8());
    hash.addData(inputs.userName.toUtf8());
    return QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
}

quint16 blockChecksum(const InstanceBlock &block)
{
    return qChecksum(blockBytesBeforeChecksum(block));
}

bool isConsistent(const InstanceBlock &block)
{
    return block.checksum == blockChecksum(block);
}

void stampChecksum(InstanceBlock &block)
{
    block.checksum = blockChecksum(block);
}

void initialiseBlock(InstanceBlock &block)
{
    std::memset(&block, 0, sizeof block);
    block.primaryPid = -1;
    stampChecksum(block);
}

void recordPrimary(InstanceBlock &block, qint64 pid, const QString &userName)
{
    block.primary = 1;
    block.primaryPid = pid;
    setPrimaryUser(block, userName);
    stampChecksum(block);
}

void clearPrimary(InstanceBlock &block)
{
    block.primary = 0;
    block.primaryPid = -1;
    setPrimaryUser(block, QString());
    stampChecksum(block);
}

void setPrimaryUser(InstanceBlock &block, const QString &userName)
{
    QByteArray utf8 = userName.toUtf8();
    int length = qMin(int(utf8.size()), PrimaryUserCapacity - 1);
    // Never end inside a multi-byte sequence: step back over continuation bytes.
    while (length > 0 && length < utf8.size() && (quint8(utf8.at(length)) & 0xC0) == 0x80)
        --length;
    std::memset(block.primaryUser, 0, sizeof block.primaryUser);
    std::memcpy(block.primaryUser, utf8.constData(), size_t(length));
}

QByteArray encodeConnectionMessage(const QString &key, ConnectionType type, quint32 instanceId)
{
    QByteArray body;
    {
        QDataStream stream(&body, QIODevice::WriteOnly);
        stream.setVersion(StreamVersion);
        stream << key.toLatin1() << quint8(type) << instanceId;
    }
    const quint16 checksum = qChecksum(body);
    {
        QDataStream stream(&body, QIODevice::WriteOnly | QIODevice::Append);
        stream.setVersion(StreamVersion);
        stream << checksum;
    }

    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream.setVersion(StreamVersion);
    stream << quint64(body.size());
    stream.writeRawData(body.constData(), int(body.size()));
    return message;
}

quint64 decodeBodyLength(const QByteArray &header)
{
    Q_ASSERT(header.size() >= HeaderSize);
    return qFromBigEndian<quint64>(header.constData());
}

std::optional<ConnectionBody> decodeConnectionBody(const QByteArray &body,
                                                   const QString &expectedKey)
{
    QBuffer buffer;
    buffer.setData(body);
    buffer.open(QIODevice::ReadOnly);
    QDataStream stream(&buffer);
    stream.setVersion(StreamVersion);

    ConnectionBody result;
    stream >> result.key >> result.type >> result.instanceId;
    const qint64 checkedLength = buffer.pos();
    quint16 checksum = 0;
    stream >> checksum;
    if (stream.status() != QDataStream::Ok)
        return std::nullopt;
    if (result.key != expectedKey.toLatin1())
        return std::nullopt;
    if (checksum != qChecksum(QByteArrayView(body.constData(), checkedLength)))
        return std::nullopt;
    return result;
}

} // namespace InstanceProtocol
