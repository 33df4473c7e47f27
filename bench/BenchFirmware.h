#pragma once

#include "sim/SimProvision.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// The firmware both update benchmarks flash: the largest that fits the V2 application area.
constexpr int kFirmwareSize = 6 * 0x20000 - 2;

inline QByteArray benchFirmware()
{
    return sim::applicationImage(kFirmwareSize, 11);
}

// Writes it into the folder and returns its path; a benchmark without it cannot run.
inline QString writeBenchFirmware(const QDir &folder)
{
    const QByteArray firmware = benchFirmware();
    const QString path = folder.filePath(QStringLiteral("firmware.hfw"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(firmware) != firmware.size())
        qFatal("cannot write the firmware file");
    return path;
}
