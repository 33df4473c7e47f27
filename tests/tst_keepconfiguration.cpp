// The configuration survives every change of firmware: a copy before each erase, updates across
// the flash layout as copy, factory restore and restore, and the return of a kept copy.
#include "device/DeviceFlash.h"
#include "support/DeviceSignalLog.h"
#include "support/DeviceTestSteps.h"
#include "support/SimFixture.h"

#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

using sim::Fault;
using sim::FirmwareSetup;
using sim::Layout;
using sim::SimBus;
using Copy = DeviceFlash::SafetyCopy;

namespace {

constexpr quint32 kConfigAddress = 0x08004000;

FirmwareSetup setupFor(const QString &version, int applicationSize = 30000)
{
    const QStringList parts = version.split('.');
    FirmwareSetup setup;
    setup.minor = quint8(parts[1].toUInt());
    setup.patch = quint8(parts[2].toUInt());
    setup.layout = VersionRules::compare(version, "5.5.0") < 0 ? Layout::V1 : Layout::V2;
    setup.applicationSize = applicationSize;
    setup.bootMode = 4;
    setup.dataA = QByteArray(900, 'A') + version.toLatin1();
    setup.dataB = QByteArray(1700, 'B');
    if (setup.layout == Layout::V2) {
        setup.macros = sim::macroRecordV1(100, 0, "jump", 7, 0x10);
        setup.macroCount = 1;
    }
    return setup;
}

int imageLength(const QString &version)
{
    return VersionRules::compare(version, "5.5.0") < 0 ? 0x1C000 : 0x3C000;
}

// Keeps every copy the device hands over; answers as told.
struct CopyStore
{
    QMutex mutex;
    QList<Copy> copies;
    bool accept = true;
    void attach(DeviceFlash &device)
    {
        device.setSafetyCopySink([this](const Copy &copy) {
            QMutexLocker lock(&mutex);
            copies.append(copy);
            return accept;
        });
    }
};

} // namespace

class tst_KeepConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void init() { SimBus::instance().reset(); }
    void cleanup() { SimBus::instance().reset(); }
    void copyBeforeErasing_data();
    void copyBeforeErasing();
    void crossLayoutUpdate_data();
    void crossLayoutUpdate();
    void restoreKeptCopy_data();
    void restoreKeptCopy();

private:
    QString firmwareFile(int size, quint32 seed);
    void start(DeviceFlash &device, const QString &operation);
    QTemporaryDir m_dir;
};

QString tst_KeepConfiguration::firmwareFile(int size, quint32 seed)
{
    const QString path = m_dir.filePath(QStringLiteral("fw-%1-%2.hfw").arg(size).arg(seed));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::applicationImage(size, seed)) != size)
        qFatal("cannot write the test firmware");
    return path;
}

void tst_KeepConfiguration::start(DeviceFlash &device, const QString &operation)
{
    if (operation == "update") {
        device.updateFirmware(firmwareFile(30000, 2), "5.6.7");
    } else if (operation == "boot mode") {
        device.selectBootMode(1);
    } else if (operation == "factory") {
        device.restoreFactorySettings(firmwareFile(30000, 3), "5.6.3");
    } else {
        QByteArray image = sim::configImage(setupFor("5.6.1"));
        device.dataRestore(image, "5.6.1");
    }
}

void tst_KeepConfiguration::copyBeforeErasing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("written");
    for (const char *operation : {"update", "boot mode", "factory", "restore"}) {
        QTest::addRow("%s", operation) << QString(operation) << true;
        QTest::addRow("%s, copy not written", operation) << QString(operation) << false;
    }
}

// Sector 1 alone comes from the block already read; anything wider is read whole first. A copy
// that cannot be kept stops the operation before its erase.
void tst_KeepConfiguration::copyBeforeErasing()
{
    QFETCH(QString, operation);
    QFETCH(bool, written);
    auto adapter = plugAdapter(setupFor("5.6.3"));
    DeviceFlash device;
    CopyStore store;
    store.accept = written;
    store.attach(device);
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    adapter->clearCommands();
    start(device, operation);
    waitIdle(log);

    const bool block = operation == "update" || operation == "boot mode";
    QCOMPARE(store.copies.size(), 1);
    const Copy copy = store.copies.constFirst();
    QCOMPARE(copy.kind, block ? Copy::Kind::ConfigBlock : Copy::Kind::FullBackup);
    QCOMPARE(copy.bytes.size(), block ? 16384 : 0x3C000);
    QCOMPARE(copy.bytes, before.mid(0x4000, copy.bytes.size()));
    QCOMPARE(copy.firmwareVersion, QString("5.6.3"));
    QCOMPARE(copy.serial, device.serialNumber());
    const auto commands = adapter->commands();
    const auto erase = std::find_if(commands.cbegin(), commands.cend(),
                                    [](const sim::ReceivedCommand &c) { return c.code == 0x55; });
    // Reads before the erase: none for a block copy, the whole image (4727 chunks) otherwise.
    QCOMPARE(int(erase - commands.cbegin()), written ? (block ? 0 : 4727) : int(commands.size()));
    QCOMPARE(!log.entries().filter("safetyCopyProgressChanged").isEmpty(), !block);
    if (!written) {
        QCOMPARE(errors(log), QStringList{"error(DeviceError_SafetyCopyFailed)"});
        QCOMPARE(adapter->peek(0x08000000, 0x100000), before);
    } else {
        QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    }
}

void tst_KeepConfiguration::crossLayoutUpdate_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("V1 up to V2") << "5.4.2"
                                 << "5.7.3";
    QTest::newRow("V2 down to V1") << "5.6.3"
                                   << "5.4.1";
}

// An update across 5.5.0 ends as a factory restore with the new firmware followed by a restore
// of the copy: byte for byte what the two steps by hand give on a second adapter. Going down,
// V1 takes no restore: the factory state and the kept copy.
void tst_KeepConfiguration::crossLayoutUpdate()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    const QString firmware = firmwareFile(40000, 6);
    const FirmwareSetup setup = setupFor(from);
    const QByteArray oldImage = sim::configImage(setup);

    auto adapter = plugAdapter(setup, 0xB372, "M7-SIM-00001");
    QByteArray kept;
    {
        DeviceFlash device;
        CopyStore store;
        store.attach(device);
        DeviceSignalLog log(&device, true);
        connectSession(device, log);
        device.updateFirmware(firmware, to);
        waitIdle(log);
        QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
        QCOMPARE(device.version(), to);
        QCOMPARE(store.copies.size(), 1);
        kept = store.copies.constFirst().bytes;
        // One bar for the whole operation: it reaches its total once, at the very end.
        const QStringList progress = log.entries().filter("write2FlashProgressChanged");
        const QStringList last = progress.constLast().mid(27).chopped(1).split(',');
        QCOMPARE(last[0], last[1]);
        QCOMPARE(progress.filter(QRegularExpression("\\((\\d+),\\1\\)")).size(), 1);
    }
    QCOMPARE(kept, oldImage);

    // The same by hand on an adapter of its own.
    SimBus::instance().unplug(adapter);
    auto byHand = plugAdapter(setup, 0xB372, "M7-SIM-00002");
    {
        DeviceFlash device;
        DeviceSignalLog log(&device, true);
        connectSession(device, log);
        device.restoreFactorySettings(firmware, to);
        waitIdle(log);
        if (VersionRules::compare(to, "5.5.0") >= 0) {
            QByteArray image = oldImage;
            device.dataRestore(image, from);
            waitIdle(log, 2);
        }
        QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    }
    QCOMPARE(adapter->peek(kConfigAddress, 0x3C000 + 0x40000).toHex(),
             byHand->peek(kConfigAddress, 0x3C000 + 0x40000).toHex());
}

void tst_KeepConfiguration::restoreKeptCopy_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("unplugAt"); // exchange of the operation; 0: runs to its end
    QTest::addColumn<bool>("withFirmware");
    QTest::newRow("factory restore, full copy back") << "factory" << 0 << true;
    QTest::newRow("update cut after the erase, block copy back") << "update" << 40 << true;
    QTest::newRow("boot mode, block copy back on its own") << "boot mode" << 0 << false;
}

// A copy goes back byte for byte: its configuration area, read again, is the copy.
void tst_KeepConfiguration::restoreKeptCopy()
{
    QFETCH(QString, operation);
    QFETCH(int, unplugAt);
    QFETCH(bool, withFirmware);
    const FirmwareSetup setup = setupFor("5.6.3");
    auto adapter = plugAdapter(setup);
    const QByteArray before = adapter->peek(kConfigAddress, 0x3C000);
    DeviceFlash device;
    CopyStore store;
    store.attach(device);
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    if (unplugAt > 0)
        adapter->armFault(Fault::Unplug, unplugAt);
    start(device, operation);
    waitIdle(log);
    QCOMPARE(store.copies.size(), 1);
    if (unplugAt > 0) {
        // Plugged in again: a session finds the firmware and its block gone.
        SimBus::instance().plug(adapter);
        device.connected();
        waitIdle(log, 2);
        QVERIFY(log.count("error(DeviceError_FirmwareLost)") > 0);
    }
    log.clear();
    const Copy copy = store.copies.constFirst();
    const QString firmware =
        withFirmware ? firmwareFile(setup.applicationSize, setup.applicationSeed) : QString();
    device.restoreSafetyCopy(copy, firmware, withFirmware ? QStringLiteral("5.6.3") : QString());
    waitIdle(log);
    QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    QCOMPARE(store.copies.size(), 1); // the copy being restored is not copied again
    QCOMPARE(adapter->peek(kConfigAddress, copy.bytes.size()).toHex(), copy.bytes.toHex());
    QCOMPARE(adapter->peek(kConfigAddress, imageLength("5.6.3")).toHex(), before.toHex());

    DeviceFlash fresh;
    DeviceSignalLog freshLog(&fresh);
    fresh.connected();
    waitIdle(freshLog);
    QVERIFY2(errors(freshLog).isEmpty(), qPrintable(errors(freshLog).join(' ')));
    QCOMPARE(fresh.version(), QString("5.6.3"));
}

QTEST_GUILESS_MAIN(tst_KeepConfiguration)
#include "tst_keepconfiguration.moc"
