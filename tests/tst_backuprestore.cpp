// Configuration backup, restore and boot mode, end to end against the simulated adapter.
#include "device/ConfigImage.h"
#include "device/DeviceFlash.h"
#include "support/DeviceSignalLog.h"
#include "support/DeviceTestSteps.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"

#include <QMutex>
#include <QSet>
#include <QtEndian>
#include <QtTest>

using sim::Fault;
using sim::FirmwareSetup;
using sim::Layout;
using sim::SimBus;

namespace {

constexpr quint32 kConfigAddress = 0x08004000;

quint16 u16(const QByteArray &bytes, int position)
{
    return qFromLittleEndian<quint16>(bytes.constData() + position);
}

void putU16(QByteArray &bytes, int position, quint16 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + position);
}

QByteArray v1Records()
{
    return sim::macroRecordV1(100, 0, "jump", 7, 0x10) +
           sim::macroRecordV1(120, 2, "dash", 9, 0x80);
}

// What format 4 makes of one format-1 record.
QByteArray v4Record(const QByteArray &v1)
{
    QByteArray v4(132 + v1.size() - 85, '\0');
    putU16(v4, 0, quint16(v4.size()));
    v4[4] = 4;
    v4.replace(5, 79, v1.mid(5, 79));
    const quint8 mode = quint8(v1.at(4));
    v4[84] = char(mode <= 1 ? 2 : mode == 2 ? 1 : 0);
    v4.replace(132, v1.size() - 85, v1.mid(85));
    return v4;
}

FirmwareSetup setupFor(const QString &version, const QByteArray &macros = {}, int count = 0)
{
    const QStringList parts = version.split('.');
    FirmwareSetup setup;
    setup.major = quint8(parts[0].toUInt());
    setup.minor = quint8(parts[1].toUInt());
    setup.patch = quint8(parts[2].toUInt());
    setup.layout = VersionRules::compare(version, "5.5.0") < 0 ? Layout::V1 : Layout::V2;
    setup.applicationSize = 50000;
    setup.bootMode = 2;
    setup.dataA = QByteArray(700, 'A') + version.toLatin1();
    setup.dataB = QByteArray(1500, 'B') + version.toLatin1();
    setup.macros = macros;
    setup.macroCount = quint8(count);
    return setup;
}

struct Progress
{
    QList<qlonglong> current;
    qlonglong total = -1;
};

// The progress of one signal; fails unless it only rises, by at most 52 at a time.
Progress progressOf(const DeviceSignalLog &log, const QString &signal)
{
    Progress progress;
    for (const QString &entry : log.entries()) {
        if (!entry.startsWith(signal + '('))
            continue;
        const QStringList values = entry.mid(signal.size() + 1).chopped(1).split(',');
        const qlonglong current = values[0].toLongLong();
        if (!progress.current.isEmpty() &&
            (current <= progress.current.last() || current - progress.current.last() > 52))
            qWarning() << "progress out of order:" << entry;
        progress.current.append(current);
        progress.total = values[1].toLongLong();
    }
    return progress;
}

// Takes the image as the window does: the first `total` bytes once current reaches total.
class BackupReceiver
{
public:
    explicit BackupReceiver(DeviceFlash &device)
    {
        QObject::connect(
            &device, &DeviceFlash::dataBackupProgressChanged, &device,
            [this](qlonglong current, qlonglong total, char *data) {
                QMutexLocker lock(&m_mutex);
                m_buffers.insert(data);
                if (current == total)
                    m_image = QByteArray(data, int(total));
            },
            Qt::DirectConnection);
    }
    QByteArray image() const
    {
        QMutexLocker lock(&m_mutex);
        return m_image;
    }
    int bufferCount() const
    {
        QMutexLocker lock(&m_mutex);
        return int(m_buffers.size());
    }

private:
    mutable QMutex m_mutex;
    QByteArray m_image;
    QSet<char *> m_buffers;
};

QByteArray backUp(DeviceFlash &device, DeviceSignalLog &log)
{
    BackupReceiver receiver(device);
    device.dataBackup();
    waitIdle(log);
    return receiver.image();
}

} // namespace

class tst_BackupRestore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void closedDeviceDoesNothing_data();
    void closedDeviceDoesNothing();
    void backup_data();
    void backup();
    void backupUnpluggedHalfWay();
    void restoreV2_data();
    void restoreV2();
    void restoreV1OntoV2_data();
    void restoreV1OntoV2();
    void malformedImagesRefused_data();
    void malformedImagesRefused();
    void restoreOntoV1AdapterRefused();
    void selectBootMode();
    void bootModeReadLimited();
    // Last: it leaves a second idle pool thread behind, and once two pool threads take turns,
    // ThreadSanitizer reports the pool's own bookkeeping, whose locks live inside Qt where it
    // cannot see them.
    void restoreWaitsForBackup();
};

void tst_BackupRestore::init()
{
    SimBus::instance().reset();
}

void tst_BackupRestore::cleanup()
{
    SimBus::instance().reset();
}

void tst_BackupRestore::closedDeviceDoesNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("backup") << "backup";
    QTest::newRow("restore") << "restore";
    QTest::newRow("boot mode") << "bootMode";
}

void tst_BackupRestore::closedDeviceDoesNothing()
{
    QFETCH(QString, operation);
    auto adapter = plugAdapter(setupFor("5.6.3"));
    DeviceFlash device; // never opened
    DeviceSignalLog log(&device, true);
    QByteArray image = sim::configImage(setupFor("5.6.3"));
    if (operation == "backup")
        device.dataBackup();
    else if (operation == "restore")
        device.dataRestore(image, "5.6.3");
    else
        device.selectBootMode(3);
    QTest::qWait(200);
    QVERIFY(log.entries().isEmpty());
    QVERIFY(!device.isBusy());
    QCOMPARE(adapter->exchangeCount(), 0);
}

void tst_BackupRestore::backup_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("chunks");
    QTest::newRow("V1 adapter") << "5.2.20" << 0x1C000 << 2206;
    QTest::newRow("V2 adapter") << "5.6.3" << 0x3C000 << 4727;
}

void tst_BackupRestore::backup()
{
    QFETCH(QString, version);
    QFETCH(int, length);
    QFETCH(int, chunks);
    const bool v1 = length == 0x1C000;
    const FirmwareSetup setup = setupFor(version, v1 ? v1Records() : QByteArray(300, 'M'), 2);
    auto adapter = plugAdapter(setup);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    adapter->clearCommands();

    BackupReceiver receiver(device);
    device.dataBackup();
    waitIdle(log);

    QCOMPARE(receiver.image(), sim::configImage(setup));
    QCOMPARE(receiver.bufferCount(), 1); // every signal points at the one buffer
    const Progress progress = progressOf(log, "dataBackupProgressChanged");
    QCOMPARE(progress.current.size(), chunks);
    QCOMPARE(progress.current.last(), qlonglong(length));
    QCOMPARE(progress.total, qlonglong(length));
    QCOMPARE(adapter->commands().size(), chunks);
    const sim::ReceivedCommand last = adapter->commands().constLast();
    QCOMPARE(last.address, kConfigAddress + quint32(chunks - 1) * 52);
    QCOMPARE(last.length, quint32(length - (chunks - 1) * 52));
    QVERIFY(errors(log).isEmpty());
    QCOMPARE(log.entries().constFirst(), QString("isBusyChanged(true)"));
    QCOMPARE(log.entries().constLast(), QString("isBusyChanged(false)"));
}

void tst_BackupRestore::backupUnpluggedHalfWay()
{
    auto adapter = plugAdapter(setupFor("5.6.3"));
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    adapter->armFault(Fault::Unplug, 2000);
    BackupReceiver receiver(device);
    device.dataBackup();
    waitIdle(log);

    const Progress progress = progressOf(log, "dataBackupProgressChanged");
    QCOMPARE(progress.current.size(), 1999);
    QCOMPARE(progress.current.last(), 1999 * 52);
    QVERIFY(receiver.image().isEmpty()); // the receiver never sees a complete image
    QCOMPARE(errors(log), QStringList{"error(DeviceError_BackupReadFailure)"});
    QCOMPARE(log.entries().constLast(), QString("isBusyChanged(false)"));
    QVERIFY(!device.isBusy());
}

void tst_BackupRestore::restoreV2_data()
{
    QTest::addColumn<QString>("adapterVersion");
    QTest::addColumn<QString>("imageVersion");
    QTest::addColumn<bool>("converted");
    QTest::addColumn<int>("extraInput"); // bytes behind the image, as a backup file's digest
    QTest::newRow("same adapter") << "5.6.3"
                                  << "5.6.3" << false << 16;
    QTest::newRow("compatible patch level") << "5.6.9"
                                            << "5.6.3" << false << 0;
    QTest::newRow("5.5 image onto 5.6") << "5.6.3"
                                        << "5.5.30" << true << 16;
    QTest::newRow("5.6 image onto 5.5.24: never converted") << "5.5.24"
                                                            << "5.6.3" << false << 16;
    QTest::newRow("input longer than the buffer") << "5.6.3"
                                                  << "5.6.3" << false << 5000;
}

void tst_BackupRestore::restoreV2()
{
    QFETCH(QString, adapterVersion);
    QFETCH(QString, imageVersion);
    QFETCH(bool, converted);
    QFETCH(int, extraInput);
    const QByteArray records = v1Records();
    FirmwareSetup source = setupFor(imageVersion, records, 2);
    source.bootMode = 5;
    QByteArray input = sim::configImage(source) + QByteArray(extraInput, char(0xEE));

    // The adapter now holds something else: the restore must bring the image back.
    const FirmwareSetup now = setupFor(adapterVersion);
    auto adapter = plugAdapter(now);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    adapter->clearCommands();
    LogCapture lines;
    device.dataRestore(input, imageVersion);
    waitIdle(log);

    QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    QByteArray config = sim::configurationBlock(source);
    config.replace(1, 65, sim::configurationBlock(now).mid(1, 65));
    QCOMPARE(adapter->peek(0x08004000, 16384), config);
    const QByteArray image = sim::configImage(source);
    const auto blockAt = [&image](int offset) { return image.mid(offset, u16(image, offset)); };
    const QByteArray blockA = blockAt(0x4000);
    const QByteArray blockB = blockAt(0xC000);
    QCOMPARE(adapter->peek(0x08008000, int(blockA.size())), blockA);
    QCOMPARE(adapter->peek(0x08010000, int(blockB.size())), blockB);
    QByteArray macros = blockAt(0x1C000);
    if (converted) {
        const QByteArray content = v4Record(records.left(100)) + v4Record(records.mid(100));
        QByteArray expected = macros.left(64) + content + QByteArray(66, '\0');
        putU16(expected, 0, 444);
        putU16(expected, 3, quint16(64 + content.size()));
        expected[442] = char(0xAA);
        expected[443] = char(0x55);
        macros = expected;
    }
    QCOMPARE(adapter->peek(0x08020000, int(macros.size())).toHex(), macros.toHex());
    QCOMPARE(lines.count("restoreV2ToV2  mmacro v1 to v4"), converted ? 2 : 0);
    QCOMPARE(lines.contains("is not compatible version"), converted);
    QVERIFY(lines.contains("restoreV2ToV2 " + QString::number(now.patch)));

    const qlonglong total = 16384 + blockA.size() + blockB.size() + macros.size();
    const Progress progress = progressOf(log, "dataStoreProgressChanged");
    QCOMPARE(progress.current.constFirst(), 0);
    QCOMPARE(progress.current.constLast(), total);
    QCOMPARE(progress.total, total);
    QCOMPARE(log.entries().mid(log.entries().size() - 2),
             (QStringList{"settingChanged()", "isBusyChanged(false)"}));
    for (int sector = 1; sector <= 5; ++sector)
        QCOMPARE(adapter->erasedSectorCount(sector), 1);
    QCOMPARE(adapter->erasedSectorCount(6), 0); // the application stays
    // Re-read at once: the next change builds on the restored block, not on the one before.
    QCOMPARE(device.bootMode(), 5);

    DeviceFlash fresh;
    DeviceSignalLog freshLog(&fresh);
    fresh.connected();
    waitIdle(freshLog);
    QVERIFY2(errors(freshLog).isEmpty(), qPrintable(errors(freshLog).join(' ')));
    QCOMPARE(fresh.version(), adapterVersion);
}

void tst_BackupRestore::restoreV1OntoV2_data()
{
    QTest::addColumn<QString>("adapterVersion");
    QTest::addColumn<bool>("converted");
    QTest::newRow("onto 5.6.3: converted") << "5.6.3" << true;
    QTest::newRow("onto 5.5.24: copied") << "5.5.24" << false;
}

void tst_BackupRestore::restoreV1OntoV2()
{
    QFETCH(QString, adapterVersion);
    QFETCH(bool, converted);
    // Back up a V1 adapter, then restore its image onto a V2 one.
    const QByteArray records = v1Records();
    const FirmwareSetup old = setupFor("5.2.20", records, 2);
    QByteArray image;
    {
        plugAdapter(old);
        DeviceFlash device;
        DeviceSignalLog log(&device, true);
        connectSession(device, log);
        image = backUp(device, log);
        QCOMPARE(image.size(), 0x1C000);
        SimBus::instance().reset();
    }
    const FirmwareSetup now = setupFor(adapterVersion);
    auto adapter = plugAdapter(now);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    LogCapture lines;
    device.dataRestore(image, "5.2.20");
    waitIdle(log);
    QVERIFY2(errors(log).isEmpty(), qPrintable(errors(log).join(' ')));
    QVERIFY(lines.contains("restoreV1ToV2"));

    // Settings A and B from the image, the header from the adapter, the V1 macro area cleared.
    const QByteArray oldConfig = sim::configurationBlock(old);
    QByteArray config(16384, '\0');
    config.replace(0, 66, sim::configurationBlock(now).left(66));
    config.replace(66, 162, oldConfig.mid(66, 162));
    config.replace(16157, 227, oldConfig.mid(16157, 227));
    QCOMPARE(adapter->peek(0x08004000, 16384).toHex(), config.toHex());
    // Data blocks keep their bytes but carry the V2 end marker.
    for (const int offset : {0x4000, 0xC000}) {
        QByteArray block = image.mid(offset, u16(image, offset));
        block.replace(block.size() - 2, 2, QByteArray("\xAA\x55", 2));
        QCOMPARE(adapter->peek(kConfigAddress + quint32(offset), int(block.size())), block);
    }
    QByteArray content = records;
    int bytesField = 220;
    if (converted) {
        content = v4Record(records.left(100)) + v4Record(records.mid(100));
        bytesField = 64 + 314;
    }
    const int length = bytesField + 66;
    QCOMPARE(length, converted ? 444 : 286);
    QByteArray macros(length, '\0');
    putU16(macros, 0, quint16(length));
    macros[2] = 2;
    putU16(macros, 3, quint16(bytesField));
    macros.replace(64, content.size(), content);
    macros.replace(length - 2, 2, QByteArray("\xAA\x55", 2));
    QCOMPARE(adapter->peek(0x08020000, length).toHex(), macros.toHex());
    QCOMPARE(lines.contains("is not compatible version"), converted);

    DeviceFlash fresh;
    DeviceSignalLog freshLog(&fresh);
    fresh.connected();
    waitIdle(freshLog);
    QVERIFY2(errors(freshLog).isEmpty(), qPrintable(errors(freshLog).join(' ')));
}

void tst_BackupRestore::malformedImagesRefused_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("reason");

    const auto patched = [](QByteArray image, int position, int value) {
        putU16(image, position, quint16(value));
        return image;
    };
    const QByteArray v1 = sim::configImage(setupFor("5.2.20", v1Records(), 2));
    const QByteArray v2 = sim::configImage(setupFor("5.5.9", v1Records(), 2));
    QTest::newRow("V1 cut short") << "5.2.20" << v1.left(0x10000) << "image shorter";
    QTest::newRow("block A 65") << "5.2.20" << patched(v1, 0x4000, 65) << "data block A";
    QTest::newRow("block A 0x8001") << "5.5.9" << patched(v2, 0x4000, 0x8001) << "data block A";
    QTest::newRow("V1 record 84") << "5.2.20" << patched(v1, 356 + 100, 84) << "macro record";
    QTest::newRow("V2 record past its block")
        << "5.5.9" << patched(v2, 0x1C000 + 64, 101) << "macro record";
    QTest::newRow("V1 macro block overflows")
        << "5.2.20" << patched(patched(v1, 356, 0xF000), 356 + 0xF000, 0x1000)
        << "rebuilt macro block too large";
}

void tst_BackupRestore::malformedImagesRefused()
{
    QFETCH(QString, version);
    QFETCH(QByteArray, image);
    QFETCH(QString, reason);
    auto adapter = plugAdapter(setupFor("5.6.3"));
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    adapter->clearCommands();
    LogCapture lines;
    device.dataRestore(image, version);
    waitIdle(log);

    QCOMPARE(log.entries(),
             (QStringList{"isBusyChanged(true)", "error(DeviceError_BackupImageInvalid)",
                          "settingChanged()", "isBusyChanged(false)"}));
    QVERIFY2(lines.contains("restore refused: " + reason), qPrintable(lines.lines().join('\n')));
    QCOMPARE(adapter->exchangeCount(), 0);
    QCOMPARE(adapter->peek(0x08000000, 0x100000), before);
}

void tst_BackupRestore::restoreOntoV1AdapterRefused()
{
    // Sector 5 holds the V1 application: a restore would overwrite it with the macro block.
    auto adapter = plugAdapter(setupFor("5.4.2"));
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    adapter->clearCommands();
    QByteArray image = sim::configImage(setupFor("5.2.20"));
    device.dataRestore(image, "5.2.20");
    waitIdle(log);
    QCOMPARE(errors(log), QStringList{"error(DeviceError_RestoreNotSupported)"});
    QCOMPARE(adapter->exchangeCount(), 0);
    QCOMPARE(adapter->peek(0x08000000, 0x100000), before);
}

void tst_BackupRestore::restoreWaitsForBackup()
{
    const FirmwareSetup setup = setupFor("5.6.3", QByteArray(200, 'M'), 1);
    auto adapter = plugAdapter(setup);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    // A slow backup, and a restore of another image started while it runs.
    adapter->setReportDelay(std::chrono::microseconds(200));
    QByteArray other = sim::configImage(setupFor("5.6.1", QByteArray(90, 'N'), 1));
    BackupReceiver receiver(device);
    device.dataBackup();
    QTRY_VERIFY(log.count("isBusyChanged(true)") == 1);
    device.dataRestore(other, "5.6.1");
    waitIdle(log, 2);

    QCOMPARE(receiver.image(), sim::configImage(setup)); // the restore did not overwrite it
    const QStringList names = log.names();
    QCOMPARE(names.lastIndexOf("dataBackupProgressChanged") + 1,
             names.indexOf("isBusyChanged", names.indexOf("isBusyChanged") + 1));
    QVERIFY(names.indexOf("dataStoreProgressChanged") >
            names.lastIndexOf("dataBackupProgressChanged"));
    QVERIFY(errors(log).isEmpty());
    QCOMPARE(adapter->peek(0x08008000, 800), other.mid(0x4000, 800));
}

void tst_BackupRestore::selectBootMode()
{
    const FirmwareSetup setup = setupFor("5.6.3");
    auto adapter = plugAdapter(setup);
    DeviceFlash device;
    DeviceSignalLog log(&device, true);
    connectSession(device, log);
    QCOMPARE(device.bootMode(), 2);
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    adapter->clearCommands();
    device.selectBootMode(3);
    waitIdle(log);

    QByteArray expected = sim::configurationBlock(setup);
    expected[130] = 3;
    QCOMPARE(adapter->peek(kConfigAddress, 16384).toHex(), expected.toHex());
    QByteArray after = adapter->peek(0x08000000, 0x100000);
    after.replace(0x4000, 16384, before.mid(0x4000, 16384));
    QCOMPARE(after, before); // nothing but the configuration block changed

    const QList<sim::ReceivedCommand> commands = adapter->commands();
    QCOMPARE(commands.size(), 1 + 316 + 316); // erase, write, re-read
    QCOMPARE(commands[0].code, 0x55u);
    QCOMPARE(commands[0].length, 1u);
    QCOMPARE(int(commands[0].payload.at(0)), 1);
    const Progress progress = progressOf(log, "settingProgressChanged");
    QCOMPARE(progress.current.size(), 316);
    QCOMPARE(progress.current.constLast(), 16384);
    QCOMPARE(progress.total, 16384);
    QVERIFY(errors(log).isEmpty());
    QCOMPARE(log.count("settingChanged()"), 1);
    // Re-read at once: a later change must build on the new value, not undo it.
    QCOMPARE(device.bootMode(), 3);
    QCOMPARE(log.entries().constLast(), QString("isBusyChanged(false)"));
}

void tst_BackupRestore::bootModeReadLimited()
{
    FirmwareSetup setup = setupFor("5.6.3");
    setup.bootMode = 9;
    plugAdapter(setup);
    DeviceFlash device;
    QCOMPARE(device.bootMode(), 0);
    DeviceSignalLog log(&device);
    connectSession(device, log);
    QCOMPARE(device.bootMode(), 6);
}

QTEST_GUILESS_MAIN(tst_BackupRestore)
#include "tst_backuprestore.moc"
