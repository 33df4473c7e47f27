// How much the tool's own stack adds to a firmware update: a full V2 update of the largest
// firmware that fits, against a bare loop that sends the same write frames straight through the
// hidapi functions, both on a simulated adapter without link delay.
#include "bench/BenchFirmware.h"
#include "device/DeviceFlash.h"
#include "support/SimFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>
#include <QtEndian>

#include <hidapi.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr int kRuns = 10;

long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double updateOnce(sim::SimAdapter &adapter, const QString &path, int &writeFrames)
{
    DeviceFlash device;
    QEventLoop loop;
    QObject::connect(&device, &DeviceFlash::isBusyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    // An update needs the configuration block that the connection reads first.
    device.connected();
    loop.exec();
    if (!device.isConnected())
        qFatal("no simulated adapter");
    QObject::connect(&device, &DeviceFlash::error, &loop,
                     [](DeviceFlash::DeviceError e) { qFatal("update failed: %d", int(e)); });
    adapter.clearCommands();
    QElapsedTimer timer;
    timer.start();
    device.updateFirmware(path, QStringLiteral("5.7.0"));
    loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    writeFrames = 0;
    for (const auto &command : adapter.commands())
        writeFrames += command.code == 0x57 ? 1 : 0;
    return seconds;
}

double bareLoop(sim::SimAdapter &adapter, const QByteArray &firmware, int frames)
{
    for (int sector = 6; sector <= 11; ++sector)
        adapter.eraseSector(sector);
    adapter.clearCommands();
    hid_device *handle = hid_open(0x0E3A, 0xB372, nullptr);
    unsigned char out[65];
    unsigned char in[64];
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i) {
        const int offset = (i * 52) % (firmware.size() - 52);
        std::memset(out, 0, sizeof out);
        qToLittleEndian<quint32>(0x57, out + 1);
        qToLittleEndian<quint32>(0x08040000 + quint32(offset), out + 5);
        qToLittleEndian<quint32>(52, out + 9);
        std::memcpy(out + 13, firmware.constData() + offset, 52);
        if (hid_write(handle, out, sizeof out) != 65 ||
            hid_read_timeout(handle, in, sizeof in, 1000) != 64 ||
            std::memcmp(in + 12, out + 13, 52) != 0)
            qFatal("bare exchange failed at frame %d", i);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    hid_close(handle);
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{if-critical}%{message}%{endif}"));
    QTemporaryDir dir;
    const QString path = writeBenchFirmware(QDir(dir.path()));
    const QByteArray firmware = benchFirmware();

    sim::FirmwareSetup setup;
    auto adapter = plugAdapter(setup);

    double best = 1e9;
    double bestBare = 1e9;
    double bestPooled = 1e9;
    int frames = 0;
    long peak = 0;
    for (int run = 0; run < kRuns; ++run) {
        sim::provision(*adapter, setup);
        const long before = peakResidentKiB();
        resetPeak();
        best = std::min(best, updateOnce(*adapter, path, frames));
        peak = std::max(peak, peakResidentKiB() - before);
        bestBare = std::min(bestBare, bareLoop(*adapter, firmware, frames));
        // The same loop on a pool thread, where the tool's task runs.
        bestPooled = std::min(bestPooled, QtConcurrent::run([&] {
                                              return bareLoop(*adapter, firmware, frames);
                                          }).result());
    }
    std::printf("V2 update of %d bytes: %d write frames\n", kFirmwareSize, frames);
    std::printf("  tool stack: %.3f s (best of %d, includes erase and the version re-read)\n", best,
                kRuns);
    std::printf("  bare loop:  %.3f s (same number of write frames)\n", bestBare);
    std::printf("  bare loop on a pool thread: %.3f s\n", bestPooled);
    std::printf("  ratio:      %.3f (against the pool-thread loop: %.3f)\n", best / bestBare,
                best / bestPooled);
    std::printf("  peak resident memory during the update: %ld KiB above the start\n", peak);
    return 0;
}
