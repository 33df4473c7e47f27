#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

// The byte-level pieces that every running copy of the program must agree on: the key that names
// the shared block and the local server, the layout of the shared block, and the connection
// message a secondary instance sends to the primary. Nothing here touches the operating system.
namespace InstanceProtocol {

// Everything that enters the key, in the order it is hashed. A part that the mode flags leave out
// is passed empty: an empty part adds no bytes to the hash.
struct KeyInputs
{
    QString applicationName;
    QString organizationName;
    QString organizationDomain;
    QStringList extraKeyData;
    QString applicationVersion;
    QString executablePath; // already in lower case
    QString userName;
};

// SHA-256 of the inputs, Base64-encoded with "/" made "_" so that the key is a valid file name.
QString deriveKey(const KeyInputs &inputs);

// The block shared by all copies of the program. Its bytes are read by other processes, possibly
// built by another compiler, so the layout is fixed by hand and checked below.
#pragma pack(push, 1)
struct InstanceBlock
{
    // One byte, read as "non-zero is true": a damaged block must not put an invalid bool value
    // into our hands.
    quint8 primary;
    quint8 reserved1[3];
    quint32 secondary;
    qint64 primaryPid;
    char primaryUser[128];
    quint16 checksum;
    quint8 reserved2[6];
};
#pragma pack(pop)

static_assert(sizeof(InstanceBlock) == 152, "the shared block is 152 bytes");
static_assert(offsetof(InstanceBlock, primary) == 0);
static_assert(offsetof(InstanceBlock, secondary) == 4);
static_assert(offsetof(InstanceBlock, primaryPid) == 8);
static_assert(offsetof(InstanceBlock, primaryUser) == 16);
static_assert(offsetof(InstanceBlock, checksum) == 144);

constexpr int PrimaryUserCapacity = int(sizeof(InstanceBlock::primaryUser));

// CRC-16 (ISO 3309) over the bytes in front of the checksum field.
quint16 blockChecksum(const InstanceBlock &block);
bool isConsistent(const InstanceBlock &block);
void stampChecksum(InstanceBlock &block);

// No primary, no secondaries, no process, no user; checksum stamped.
void initialiseBlock(InstanceBlock &block);
// Records a running primary; the secondary count is kept. Checksum stamped.
void recordPrimary(InstanceBlock &block, qint64 pid, const QString &userName);
// Forgets the primary; the secondary count is kept. Checksum stamped.
void clearPrimary(InstanceBlock &block);
// The user name in UTF-8, cut to at most 127 bytes on a character boundary, NUL-terminated.
void setPrimaryUser(InstanceBlock &block, const QString &userName);

enum class ConnectionType : quint8 {
    NewInstance = 1,       // a start that is not allowed to run and exits right away
    SecondaryInstance = 2, // a secondary instance announcing itself
    Reconnect = 3,         // a secondary instance that wants to send a message
};

struct ConnectionBody
{
    QByteArray key;
    quint8 type = 0;
    quint32 instanceId = 0;
};

// The header is a 64-bit body length; a real body is some 55 bytes, so anything over this cap is
// not one of ours and is refused before it is buffered.
constexpr int HeaderSize = 8;
constexpr quint64 MaxBodyLength = 256;

// Header and body, in the data stream format of Qt 5.6 (big-endian).
QByteArray encodeConnectionMessage(const QString &key, ConnectionType type, quint32 instanceId);
// The body length carried by the first HeaderSize bytes of data.
quint64 decodeBodyLength(const QByteArray &header);
// The body when it reads completely, names expectedKey and carries a matching checksum.
std::optional<ConnectionBody> decodeConnectionBody(const QByteArray &body,
                                                   const QString &expectedKey);

} // namespace InstanceProtocol
