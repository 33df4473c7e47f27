// Firmware update and factory restore, end to end against the simulated adapter.
#include "device/DeviceFlash.h"
#include "device/FlashImage.h"
#include "support/DeviceSignalLog.h"
#include "support/DeviceTestSteps.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"

#include <QTemporaryDir>
#include <QtTest>

using sim::Fault;
using sim::FirmwareSetup;
using sim::Layout;
using sim::SimBus;

namespace {

FirmwareSetup adapterSetup(bool v2)
{
    FirmwareSetup setup;
    setup.layout = v2 ? Layout::V2 : Layout::V1;
    setup.major = 5;
    setup.minor = v2 ? 6 : 2;
    setup.patch = v2 ? 3 : 20;
    setup.applicationSize = v2 ? 250000 : 90000;
    setup.dataA = QByteArray(500, 'A');
    setup.dataB = QByteArray(700, 'B');
    setup.macros = v2 ? QByteArray(300, 'M') : QByteArray();
    return setup;
}

// Progress must only rise and, when nothing failed, end at its total.
void checkProgress(const DeviceSignalLog &log, qlonglong expectedTotal, bool complete)
{
    qlonglong last = 0;
    qlonglong total = -1;
    for (const QString &entry : log.entries()) {
        if (!entry.startsWith("write2FlashProgressChanged("))
            continue;
        const QStringList values = entry.mid(27).chopped(1).split(',');
        const qlonglong current = values[0].toLongLong();
        QVERIFY(current > last);
        QVERIFY(current - last <= 52);
        last = current;
        total = values[1].toLongLong();
    }
    if (total < 0) { // stopped at the first chunk
        QVERIFY(!complete);
        return;
    }
    QCOMPARE(total, expectedTotal);
    QCOMPARE(last == total, complete);
}

} // namespace

class tst_FlashProgramming : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void update_data();
    void update();
    void factoryRestore_data();
    void factoryRestore();
    void refusedBeforeErasing_data();
    void refusedBeforeErasing();
    void failuresDuringProgramming_data();
    void failuresDuringProgramming();
    void writeWalksTheSegmentTable();
    void layoutFollowsTheVersion_data();
    void layoutFollowsTheVersion();

private:
    QString firmwareFile(const QByteArray &bytes, const QString &name = "firmware.hfw");
    QTemporaryDir m_dir;
};

void tst_FlashProgramming::init()
{
    SimBus::instance().reset();
}

void tst_FlashProgramming::cleanup()
{
    SimBus::instance().reset();
}

QString tst_FlashProgramming::firmwareFile(const QByteArray &bytes, const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test firmware");
    return path;
}

void tst_FlashProgramming::update_data()
{
    QTest::addColumn<bool>("v2");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("size");
    QTest::newRow("V1 5.2.20 to 5.4.1") << false << "5.4.1" << 70001;
    QTest::newRow("V2 5.6.3 to 5.7.2") << true << "5.7.2" << 300000;
}

void tst_FlashProgramming::update()
{
    QFETCH(bool, v2);
    QFETCH(QString, target);
    QFETCH(int, size);
    const FirmwareSetup setup = adapterSetup(v2);
    auto adapter = plugAdapter(setup);
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);

    const QByteArray firmware = sim::applicationImage(size, 7);
    device.updateFirmware(firmwareFile(firmware), target);
    waitIdle(log);

    QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    QCOMPARE(device.version(), target);
    checkProgress(log, 16384 + size + 2, true);
    QCOMPARE(log.entries().constFirst(), QString("isBusyChanged(true)"));
    QCOMPARE(log.entries().mid(log.entries().size() - 3),
             (QStringList{"versionChanged(" + target + ")", "settingChanged()",
                          "isBusyChanged(false)"}));

    // Configuration: the old block, migrated for the old version and stamped for the new one.
    const auto layout = v2 ? VersionRules::ConfigLayout::V2 : VersionRules::ConfigLayout::V1;
    QByteArray config = sim::configurationBlock(setup);
    config = FlashImages::migrateConfigBlock(
        config, QString("5.%1.%2").arg(setup.minor).arg(setup.patch).split('.'), layout);
    config = FlashImages::stampConfigBlock(config, layout, quint32(size),
                                           FlashImages::versionBytes(target.split('.')));
    QCOMPARE(adapter->peek(0x08004000, 16384), config);

    const quint32 appAddress = v2 ? 0x08040000 : 0x08020000;
    QCOMPARE(adapter->peek(appAddress, size + 2), firmware + QByteArray("\x55\xAA", 2));
    // Data blocks, and the macros in V2, survive an update.
    const quint32 keptEnd = v2 ? 0x08040000 : 0x08020000;
    QCOMPARE(adapter->peek(0x08008000, int(keptEnd - 0x08008000)),
             before.mid(0x8000, int(keptEnd - 0x08008000)));
    QCOMPARE(adapter->erasedSectorCount(2) + adapter->erasedSectorCount(3) +
                 adapter->erasedSectorCount(4),
             0);

    // A fresh session reads the new firmware without complaint.
    DeviceFlash fresh;
    DeviceSignalLog freshLog(&fresh);
    fresh.connected();
    waitIdle(freshLog);
    QVERIFY(errors(freshLog).isEmpty());
    QCOMPARE(fresh.version(), target);
    QCOMPARE(fresh.configLayout(), layout);
}

void tst_FlashProgramming::factoryRestore_data()
{
    QTest::addColumn<bool>("v2");
    QTest::addColumn<QString>("target");
    QTest::newRow("V1") << false << "5.4.0";
    QTest::newRow("V2") << true << "5.5.24";
}

void tst_FlashProgramming::factoryRestore()
{
    QFETCH(bool, v2);
    QFETCH(QString, target);
    // The adapter starts out damaged: the restore must leave it whole.
    auto adapter = plugAdapter(adapterSetup(!v2));
    sim::breakDataBlockMarker(*adapter, 0x08010000);
    const QByteArray hardware = adapter->peek(0x08000000, 0x4000);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);

    const QByteArray firmware = sim::applicationImage(120000, 3);
    device.restoreFactorySettings(firmwareFile(firmware), target);
    waitIdle(log);
    QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    QCOMPARE(device.version(), target);

    const auto layout = v2 ? VersionRules::ConfigLayout::V2 : VersionRules::ConfigLayout::V1;
    auto image = FlashImages::makeImage();
    FlashImages::buildFactoryImage(*image, firmware, layout,
                                   FlashImages::versionBytes(target.split('.')));
    checkProgress(log, quint32(image->total), true);
    for (int i = 0; i < FlashImages::segmentCount(*image); ++i) {
        const QByteArray expected = FlashImages::segmentBytes(*image, i);
        const quint32 address = image->segments[i].address;
        QCOMPARE(adapter->peek(address, int(expected.size())), expected);
        // The rest of the segment's sector is erased.
        const sim::FlashSector sector = sim::SimAdapter::sector(sim::SimAdapter::sectorOf(address));
        const int tail = int(sector.address + sector.size - address) - int(expected.size());
        if (tail > 0)
            QCOMPARE(adapter->peek(address + quint32(expected.size()), tail),
                     QByteArray(tail, char(0xFF)));
    }
    QCOMPARE(adapter->peek(0x08000000, 0x4000), hardware); // the boot sector is never touched

    DeviceFlash fresh;
    DeviceSignalLog freshLog(&fresh);
    fresh.connected();
    waitIdle(freshLog);
    QVERIFY(errors(freshLog).isEmpty());
    QCOMPARE(fresh.configLayout(), layout);
}

void tst_FlashProgramming::refusedBeforeErasing_data()
{
    QTest::addColumn<bool>("factory");
    QTest::addColumn<QString>("file"); // "empty", "missing" or a size
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("empty file") << false << "empty"
                                << "5.6.0"
                                << "error(DeviceError_FirmwareDataEmpty)"
                                << "updateFirmware Error! firmware_data.isEmpty true";
    QTest::newRow("missing file") << false << "missing"
                                  << "5.6.0"
                                  << "error(DeviceError_FirmwareDataEmpty)"
                                  << "getFirmwareData is Empty!";
    QTest::newRow("factory, empty file")
        << true << "empty"
        << "5.6.0"
        << "error(DeviceError_FirmwareDataEmpty)"
        << "restoreFactorySettings Error! firmware_data.isEmpty true";
    QTest::newRow("too large for V2") << false << "786431"
                                      << "5.6.0"
                                      << "error(DeviceError_FirmwareTooLarge)"
                                      << "firmware too large:";
    QTest::newRow("3 GiB, measured before it is read") << false << "sparse"
                                                       << "5.6.0"
                                                       << "error(DeviceError_FirmwareTooLarge)"
                                                       << "firmware too large:";
    QTest::newRow("a device that never ends") << false << "/dev/zero"
                                              << "5.6.0"
                                              << "error(DeviceError_FirmwareDataEmpty)"
                                              << "getFirmwareData is Empty!";
    QTest::newRow("too large for V1") << true << "262143"
                                      << "5.4.0"
                                      << "error(DeviceError_FirmwareTooLarge)"
                                      << "firmware too large:";
    QTest::newRow("two-part version")
        << false << "1000"
        << "5.6"
        << ""
        << "updateFirmware Error! firmware_data.isEmpty false Device.isOpen true "
           "firmware_version.size is 3 false";
    QTest::newRow("four-part version") << true << "1000"
                                       << "5.6.1.2"
                                       << ""
                                       << "restoreFactorySettings Error!";
}

void tst_FlashProgramming::refusedBeforeErasing()
{
    QFETCH(bool, factory);
    QFETCH(QString, file);
    QFETCH(QString, version);
    QFETCH(QString, error);
    QFETCH(QString, logLine);
    auto adapter = plugAdapter(adapterSetup(true));
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    adapter->clearCommands();

    QString path = m_dir.filePath("missing.hfw");
    if (file == "empty") {
        path = firmwareFile({}, "empty.hfw");
    } else if (file == "sparse") {
        path = firmwareFile({}, "sparse.hfw");
        QVERIFY(QFile::resize(path, 3LL << 30));
    } else if (file.startsWith('/')) {
        path = file;
    } else if (file != "missing")
        path = firmwareFile(QByteArray(file.toInt(), 'F'));
    LogCapture lines;
    if (factory)
        device.restoreFactorySettings(path, version);
    else
        device.updateFirmware(path, version);
    waitIdle(log);

    QCOMPARE(errors(log), error.isEmpty() ? QStringList() : QStringList{error});
    QVERIFY2(lines.contains(logLine), qPrintable(lines.lines().join('\n')));
    QVERIFY(!device.isBusy());
    QCOMPARE(adapter->peek(0x08000000, 0x100000), before);
    // Nothing was erased or written; only the factory restore re-reads the version.
    for (const auto &command : adapter->commands())
        QCOMPARE(command.code, 0x56u);
    QCOMPARE(adapter->commands().size(), factory ? 316 : 0);
}

void tst_FlashProgramming::failuresDuringProgramming_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<QStringList>("expectedErrors");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("unplug in the write")
        << int(Fault::Unplug) << 400 << QStringList{"error(DeviceError_WriteFlashFailure)"}
        << "write2Flash USB_ERR_DATA_VERIFY 2";
    QTest::newRow("corrupt echo") << int(Fault::CorruptPayload) << 20
                                  << QStringList{"error(DeviceError_WriteFlashFailure)"}
                                  << "write2Flash USB_ERR_DATA_VERIFY 1";
    QTest::newRow("wrong echoed length")
        << int(Fault::WrongEchoLength) << 2 << QStringList{"error(DeviceError_WriteFlashFailure)"}
        << "write2Flash USB_ERR_DATA_VERIFY 2";
    QTest::newRow("dropped erase reply")
        << int(Fault::DropReply) << 1 << QStringList{"error(DeviceError_EraseFlashFailure)"}
        << "erase error !";
    QTest::newRow("refused erase")
        << int(Fault::RefuseErase) << 1 << QStringList{"error(DeviceError_EraseFlashFailure)"}
        << "erase error !";
}

void tst_FlashProgramming::failuresDuringProgramming()
{
    QFETCH(int, fault);
    QFETCH(int, exchange);
    QFETCH(QStringList, expectedErrors);
    QFETCH(QString, logLine);
    auto adapter = plugAdapter(adapterSetup(true));
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);

    LogCapture lines;
    adapter->clearCommands();
    adapter->armFault(Fault(fault), exchange);
    device.updateFirmware(firmwareFile(sim::applicationImage(60000, 9)), "5.6.4");
    waitIdle(log);
    QCOMPARE(errors(log), expectedErrors);
    QVERIFY2(lines.contains(logLine), qPrintable(logLine));
    QVERIFY(!device.isBusy());
    const bool eraseFailed = expectedErrors.contains("error(DeviceError_EraseFlashFailure)");
    const bool complete =
        !eraseFailed && !expectedErrors.contains("error(DeviceError_WriteFlashFailure)");
    checkProgress(log, 16384 + 60002, complete);
    // Over flash that was not erased nothing is written: only the version re-read follows.
    const auto commands = adapter->commands();
    for (int i = exchange; eraseFailed && i < commands.size(); ++i)
        QCOMPARE(commands[i].code, 0x56u);
    // The error comes before the task lets go of the busy flag.
    QVERIFY(log.entries().indexOf(expectedErrors.constLast()) <
            log.entries().indexOf("isBusyChanged(false)"));
}

void tst_FlashProgramming::writeWalksTheSegmentTable()
{
    plugAdapter(adapterSetup(true));
    auto adapter = sim::SimBus::instance().find(0x0E3A, 0xB372);
    DeviceFlash device;
    QVERIFY(device.open(0x0E3A, 0xB372));
    DeviceSignalLog log(&device, true);

    auto empty = FlashImages::makeImage();
    empty->segments[1].address = 0x08060000; // behind an empty first segment: never reached
    empty->segments[1].length = 10;
    QVERIFY(device.write2Flash(*empty, 0));
    QCOMPARE(adapter->exchangeCount(), 0);
    QVERIFY(log.entries().isEmpty());

    adapter->eraseSector(8);
    auto small = FlashImages::makeImage();
    QVERIFY(FlashImages::appendSegment(*small, 0x08080000, QByteArray(66, 'x')));
    QVERIFY(device.write2Flash(*small, 2));
    QCOMPARE(log.entries(),
             (QStringList{"settingProgressChanged(52,66)", "settingProgressChanged(66,66)"}));
    QCOMPARE(adapter->commands().at(1).length, 14u);
    QCOMPARE(adapter->commands().at(1).address, 0x08080000u + 52);

    adapter->eraseSector(9);
    adapter->clearCommands();
    log.clear();
    auto full = FlashImages::makeImage();
    for (int i = 0; i < 15; ++i)
        QVERIFY(FlashImages::appendSegment(*full, 0x080A0000 + quint32(i) * 0x100,
                                           QByteArray(10, char(i))));
    QVERIFY(device.write2Flash(*full, 7)); // an unknown selector reports no progress
    QCOMPARE(adapter->exchangeCount(), 15);
    QVERIFY(log.entries().isEmpty());
    QCOMPARE(adapter->peek(0x080A0000 + 14 * 0x100, 10), QByteArray(10, char(14)));
}

void tst_FlashProgramming::layoutFollowsTheVersion_data()
{
    QTest::addColumn<bool>("fromV2");
    QTest::addColumn<QString>("target");
    QTest::newRow("V1 to V2") << false << "5.6.0";
    QTest::newRow("V2 to V1") << true << "5.4.1";
}

// The session decides the layout on every read of the version, not only when it connects: a
// restore or a boot-mode change after an update across 5.5.0 must see the new layout.
void tst_FlashProgramming::layoutFollowsTheVersion()
{
    QFETCH(bool, fromV2);
    QFETCH(QString, target);
    auto adapter = plugAdapter(adapterSetup(fromV2));
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    device.updateFirmware(firmwareFile(sim::applicationImage(40000, 4)), target);
    waitIdle(log);
    QCOMPARE(device.version(), target);
    QCOMPARE(device.configLayout(),
             fromV2 ? VersionRules::ConfigLayout::V1 : VersionRules::ConfigLayout::V2);
}

QTEST_GUILESS_MAIN(tst_FlashProgramming)
#include "tst_flashprogramming.moc"
