#pragma once

#include <QByteArray>
#include <QMap>
#include <QMetaType>
#include <QString>

#include <optional>

// One device-change notification, as every platform source reports it, so that one set of
// decisions serves Windows notifications, udev events and the simulator alike.
struct DeviceChange
{
    enum class Event { Arrival, RemoveComplete, Other };
    enum class Type { Interface, Volume, Other };

    Event event = Event::Other;
    Type type = Type::Other;
    QString name; // device-interface name, e.g. \\?\USB#VID_0E3A&PID_B372#serial#{...}
    quint16 volumeFlags = 0;
};

struct InterfaceName
{
    bool valid = false; // false for names with fewer "#" parts or "&" fields than read
    quint32 vendorId = 0;
    quint32 productId = 0;
    QString vendorText;
    QString productText;
    QString thirdText;
};

namespace DeviceChanges {

constexpr quint32 WM_DEVICECHANGE_ = 0x0219;
constexpr quint32 DBT_DEVICEARRIVAL_ = 0x8000;
constexpr quint32 DBT_DEVICEREMOVECOMPLETE_ = 0x8004;
constexpr quint32 DBT_DEVTYP_VOLUME_ = 2;
constexpr quint32 DBT_DEVTYP_DEVICEINTERFACE_ = 5;

extern const char *const kUsbDeviceClass; // {A5DCBF10-6530-11D2-901F-00C04FB951ED}
extern const char *const kDiskClass;      // {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}

// "\\?\USBSTOR#Disk&Ven_x&Prod_y&Rev_z#..." or "\\?\USB#VID_x&PID_y#serial#{class}"; IDs are
// hexadecimal, and text that is not gives 0. Which of the two is read from the enumerator
// before the first "#" only, never from the serial.
InterfaceName parseInterfaceName(const QString &name);

// A WM_DEVICECHANGE message: wParam and the broadcast record lParam points to, as bytes laid out
// like the SDK's DEV_BROADCAST_* structures. Nothing for any other message.
std::optional<DeviceChange> decodeWindowsMessage(quint32 message, quint64 wParam,
                                                 const QByteArray &record);

// A udev event of a USB device ("add" or "remove" with its properties), as the interface name
// Windows would give, or nothing for anything else.
std::optional<DeviceChange> fromUdev(const QString &action,
                                     const QMap<QString, QString> &properties);

} // namespace DeviceChanges

Q_DECLARE_METATYPE(DeviceChange)
