#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QHidDevicePrivate;

// Owns one hidapi device handle. The handle may be closed from the GUI thread while a pool
// thread is inside read or write: the transfer in flight keeps its own reference and the handle
// is released when it returns, so a closed or freed handle is never used.
class QHidDevice : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QHidDevice)

public:
    // What keeps an adapter from opening, as the system reports it.
    struct OpenProblem
    {
        enum class Kind { None, Permission, Busy, Other };
        Kind kind = Kind::None; // None: no adapter attached, or one that opens now
        QString detail;         // the system's words, for Other
    };

    explicit QHidDevice(QObject *parent = nullptr);

    // Lists the attached devices with the vendor ID and one of the product IDs and tries to open
    // each: the first refusal says why none could be used.
    static OpenProblem diagnose(quint16 vendorId, const QList<quint16> &productIds);
    ~QHidDevice() override;

    bool open(quint16 vendorId, quint16 productId);
    bool isOpen() const;
    void close();

    // Bytes read (0 on time-out), negative on failure. size 0xFFFFFFFF reads as many bytes as
    // the buffer holds; timeout -1 waits without limit.
    int read(QByteArray &buffer, uint size = 0xFFFFFFFF, int timeout = -1);
    // The same into caller memory, without an allocation per report.
    int read(void *data, size_t size, int timeout);
    // Bytes written, negative on failure; size -1 writes the whole array.
    int write(const QByteArray &data, int size = -1);

private:
    std::unique_ptr<QHidDevicePrivate> d;
};
