#include "ui/SafetyCopies.h"

#include "ui/BackupFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr qsizetype kConfigBlockSize = 16384;
const QString kStampFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
// As "%1.%2.%3" writes it from three bytes: no sign, no leading zeros.
const QString kVersionPattern =
    QStringLiteral("(?:0|[1-9][0-9]{0,2})(?:\\.(?:0|[1-9][0-9]{0,2})){2}");

struct Entry
{
    SafetyCopies::Copy copy;
    int sequence = 1; // 2, 3… for further copies taken in the same second
};

bool validSerial(const QByteArray &serial)
{
    // Lower case only: the key is the MD5 of this very text, and on a file system that ignores
    // case an upper-case spelling would share the adapter's folder under another key.
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9a-f]{24}")));
    return pattern.match(QString::fromLatin1(serial)).hasMatch();
}

bool validVersion(const QString &version)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(kVersionPattern));
    return pattern.match(version).hasMatch();
}

bool fitsKind(SafetyCopies::Kind kind, qsizetype size)
{
    if (kind == SafetyCopies::Kind::ConfigBlock)
        return size == kConfigBlockSize;
    return size == BackupFile::kImageSizeV1 || size == BackupFile::kImageSizeV2;
}

QString fileName(const QString &stamp, const QString &version, SafetyCopies::Kind kind,
                 int sequence)
{
    return QStringLiteral("%1_fw%2_%3%4.bkp")
        .arg(stamp, version,
             kind == SafetyCopies::Kind::ConfigBlock ? QStringLiteral("block")
                                                     : QStringLiteral("full"),
             sequence > 1 ? QStringLiteral("-%1").arg(sequence) : QString());
}

// The exact inverse of fileName(): anything else in the folder is not ours.
std::optional<Entry> parse(const QFileInfo &file)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("([0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2})_fw(%1)_(block|full)"
                       "(?:-([2-9]|[1-9][0-9]+))?\\.bkp")
            .arg(kVersionPattern)));
    const QRegularExpressionMatch match = pattern.match(file.fileName());
    if (!match.hasMatch())
        return std::nullopt;
    Entry entry;
    entry.copy.taken = QDateTime::fromString(match.captured(1), kStampFormat);
    if (!entry.copy.taken.isValid() || entry.copy.taken.toString(kStampFormat) != match.captured(1))
        return std::nullopt;
    entry.copy.path = file.filePath();
    entry.copy.firmwareVersion = match.captured(2);
    entry.copy.kind = match.captured(3) == QLatin1String("block") ? SafetyCopies::Kind::ConfigBlock
                                                                  : SafetyCopies::Kind::FullBackup;
    bool ok = true;
    if (match.hasCaptured(4))
        entry.sequence = match.captured(4).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return entry;
}

QList<Entry> entries(const QString &folder)
{
    QList<Entry> found;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo &file : files) {
        if (const std::optional<Entry> entry = parse(file))
            found.append(*entry);
    }
    std::sort(found.begin(), found.end(), [](const Entry &a, const Entry &b) {
        if (a.copy.taken != b.copy.taken)
            return a.copy.taken > b.copy.taken;
        if (a.sequence != b.sequence)
            return a.sequence > b.sequence;
        return a.copy.path > b.copy.path;
    });
    return found;
}

} // namespace

SafetyCopies::SafetyCopies(QString root)
    : m_root(std::move(root))
{}

bool SafetyCopies::save(const QByteArray &serial, Kind kind, const QString &firmwareVersion,
                        const QByteArray &bytes, QString *error, Copy *saved, const QDateTime &when)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!validSerial(serial))
        return fail(QStringLiteral("not an adapter serial number: \"%1\"")
                        .arg(QString::fromLatin1(serial)));
    if (!validVersion(firmwareVersion))
        return fail(QStringLiteral("not a firmware version: \"%1\"").arg(firmwareVersion));
    // A copy that could never be loaded would only push a good one out.
    if (!fitsKind(kind, bytes.size()))
        return fail(QStringLiteral("%1 bytes do not make a %2")
                        .arg(bytes.size())
                        .arg(kind == Kind::ConfigBlock ? QStringLiteral("configuration block")
                                                       : QStringLiteral("full backup")));

    if (!when.isValid())
        return fail(QStringLiteral("no time to name the copy by"));

    const QString folder = QDir(m_root).filePath(QString::fromLatin1(serial));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder %1").arg(folder));

    const QString stamp = when.toLocalTime().toString(kStampFormat);
    int sequence = 1;
    for (const Entry &entry : entries(folder)) {
        if (entry.copy.taken.toString(kStampFormat) == stamp)
            sequence = qMax(sequence, entry.sequence + 1);
    }
    const QString path = QDir(folder).filePath(fileName(stamp, firmwareVersion, kind, sequence));
    QString why;
    if (!BackupFile::save(path, BackupFile::encode(bytes, serial), &why))
        return fail(QStringLiteral("%1: %2").arg(path, why));

    // The new copy stays even when the clock puts it behind the others: local time repeats an
    // hour each autumn, and a copy just taken is the one most likely to be wanted.
    int kept = 1;
    for (const Entry &entry : entries(folder)) {
        if (entry.copy.path == path)
            continue;
        if (kept < kKeep)
            ++kept;
        else if (!QFile::remove(entry.copy.path))
            qWarning().noquote() << "SafetyCopies old copy not removed:" << entry.copy.path;
    }
    if (saved)
        *saved = parse(QFileInfo(path)).value_or(Entry{}).copy;
    return true;
}

QList<SafetyCopies::Copy> SafetyCopies::list(const QByteArray &serial) const
{
    QList<Copy> copies;
    if (!validSerial(serial))
        return copies;
    for (const Entry &entry : entries(QDir(m_root).filePath(QString::fromLatin1(serial))))
        copies.append(entry.copy);
    return copies;
}

QByteArray SafetyCopies::load(const Copy &copy, const QByteArray &serial) const
{
    if (!validSerial(serial))
        return {};
    QFile file(copy.path);
    // Nothing longer than the largest copy is read in at all.
    if (!file.open(QIODevice::ReadOnly) ||
        file.size() > BackupFile::kImageSizeV2 + BackupFile::kDigestSize)
        return {};
    const BackupFile::Contents contents = BackupFile::decode(file.readAll(), serial);
    // decode() passes only full backup lengths; its digest serves a configuration block as well.
    const qsizetype size = contents.content.size() - BackupFile::kDigestSize;
    if (size < 0 || !fitsKind(copy.kind, size) ||
        contents.content.last(BackupFile::kDigestSize) != contents.digest)
        return {};
    return contents.content.first(size);
}
