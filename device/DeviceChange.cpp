#include "device/DeviceChange.h"

#include <QStringList>
#include <QtEndian>

namespace DeviceChanges {

const char *const kUsbDeviceClass = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
const char *const kDiskClass = "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";

namespace {

quint32 hexOrZero(const QString &text)
{
    bool ok = false;
    const quint32 value = text.toUInt(&ok, 16);
    return ok ? value : 0;
}

} // namespace

InterfaceName parseInterfaceName(const QString &name)
{
    InterfaceName result;
    const QStringList parts = name.split(QLatin1Char('#'));
    if (parts.size() < 2)
        return result;
    const QStringList fields = parts.at(1).split(QLatin1Char('&'));
    // The layout follows the enumerator ("\\?\USBSTOR" or "\\?\USB"), which says what the
    // device is; the rest of the name holds the serial, whatever text that may contain.
    const QString enumerator = parts.at(0).section(QLatin1Char('\\'), -1);
    if (enumerator.compare(QLatin1String("USBSTOR"), Qt::CaseInsensitive) == 0) {
        if (fields.size() < 4)
            return result;
        result.vendorText = fields.at(1).mid(4);
        result.productText = fields.at(2).mid(5);
        result.thirdText = fields.at(3).mid(4);
    } else {
        if (fields.size() < 2 || parts.size() < 3)
            return result;
        result.vendorText = fields.at(0).mid(4);
        result.productText = fields.at(1).mid(4);
        result.thirdText = parts.at(2);
    }
    result.vendorId = hexOrZero(result.vendorText);
    result.productId = hexOrZero(result.productText);
    result.valid = true;
    return result;
}

std::optional<DeviceChange> decodeWindowsMessage(quint32 message, quint64 wParam,
                                                 const QByteArray &record)
{
    if (message != WM_DEVICECHANGE_)
        return std::nullopt;
    DeviceChange change;
    if (wParam == DBT_DEVICEARRIVAL_)
        change.event = DeviceChange::Event::Arrival;
    else if (wParam == DBT_DEVICEREMOVECOMPLETE_)
        change.event = DeviceChange::Event::RemoveComplete;
    // Other events (device nodes changed, query remove, ...) carry no record worth reading.
    if (change.event == DeviceChange::Event::Other || record.size() < 8)
        return change;

    const auto *bytes = reinterpret_cast<const uchar *>(record.constData());
    const quint32 type = qFromLittleEndian<quint32>(bytes + 4);
    if (type == DBT_DEVTYP_VOLUME_ && record.size() >= 18) {
        change.type = DeviceChange::Type::Volume;
        change.volumeFlags = qFromLittleEndian<quint16>(bytes + 16);
    } else if (type == DBT_DEVTYP_DEVICEINTERFACE_) {
        change.type = DeviceChange::Type::Interface;
        // Zero-terminated UTF-16 from offset 28, never read past the record.
        for (qsizetype at = 28; at + 1 < record.size(); at += 2) {
            const char16_t unit = qFromLittleEndian<quint16>(bytes + at);
            if (unit == 0)
                break;
            change.name.append(QChar(unit));
        }
    }
    return change;
}

std::optional<DeviceChange> fromUdev(const QString &action,
                                     const QMap<QString, QString> &properties)
{
    DeviceChange change;
    if (action == QLatin1String("add"))
        change.event = DeviceChange::Event::Arrival;
    else if (action == QLatin1String("remove"))
        change.event = DeviceChange::Event::RemoveComplete;
    else
        return std::nullopt;
    if (properties.value(QStringLiteral("SUBSYSTEM")) != QLatin1String("usb") ||
        properties.value(QStringLiteral("DEVTYPE")) != QLatin1String("usb_device"))
        return std::nullopt;

    // PRODUCT ("e3a/b372/100") is in every event, also on removal when the sysfs entry and the
    // udev database may already be gone.
    const QStringList product = properties.value(QStringLiteral("PRODUCT")).split(QLatin1Char('/'));
    bool vendorOk = false;
    bool productOk = false;
    quint32 vendorId = 0;
    quint32 productId = 0;
    if (product.size() >= 2) {
        vendorId = product.at(0).toUInt(&vendorOk, 16);
        productId = product.at(1).toUInt(&productOk, 16);
    }
    if (!vendorOk || !productOk) {
        vendorId = properties.value(QStringLiteral("ID_VENDOR_ID")).toUInt(&vendorOk, 16);
        productId = properties.value(QStringLiteral("ID_MODEL_ID")).toUInt(&productOk, 16);
    }
    if (!vendorOk || !productOk || vendorId > 0xFFFF || productId > 0xFFFF)
        return std::nullopt;

    QString serial = properties.value(QStringLiteral("ID_SERIAL_SHORT"));
    serial.remove(QLatin1Char('#'));
    change.type = DeviceChange::Type::Interface;
    change.name = QStringLiteral("\\\\?\\USB#VID_%1&PID_%2#%3#%4")
                      .arg(vendorId, 4, 16, QLatin1Char('0'))
                      .arg(productId, 4, 16, QLatin1Char('0'))
                      .arg(serial, QLatin1String(kUsbDeviceClass))
                      .toUpper();
    return change;
}

} // namespace DeviceChanges
