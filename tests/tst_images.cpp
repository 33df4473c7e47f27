// The pure byte builders, without a device: programming images, the conversions a restore makes
// of a backup image, and the version rules both depend on. Expected bytes sit at exact offsets.
#include "device/ConfigImage.h"
#include "device/DeviceFlash.h"
#include "device/FlashImage.h"
#include "fuzz/ConfigImageFuzz.h"
#include "support/SimFixture.h"

#include <QDir>
#include <QtTest>

using namespace ConfigImages;
using namespace FlashImages;
using Bytes = QList<QByteArray>;

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

QByteArray withU16(QByteArray bytes, int at, int value)
{
    qToLittleEndian(quint16(value), bytes.data() + at);
    return bytes;
}

// The erase list, then the address and bytes of each segment; a total that does not add up
// shows as a last entry.
Bytes contents(const FlashImage &image)
{
    Bytes out{QByteArray(reinterpret_cast<const char *>(image.eraseList), int(image.eraseCount))};
    quint32 total = 0;
    for (int i = 0; i < segmentCount(image); ++i) {
        out << QByteArray::number(quint32(image.segments[i].address), 16) << segmentBytes(image, i);
        total += quint32(out.last().size());
    }
    if (total != image.total)
        out << "total " + QByteArray::number(quint32(image.total));
    return out;
}

// A backup image with data blocks of 300 and 500 bytes and V1 macro records of these lengths.
QByteArray backupImage(bool v2, const QList<int> &lengths = {})
{
    QByteArray records;
    for (int i = 0; i < lengths.size(); ++i)
        records += sim::macroRecordV1(lengths[i], quint8(i), "macro " + QByteArray::number(i),
                                      0x11223344u + quint32(i), quint8(0x30 + i * 16));
    return sim::configImage({5, 6, 0, v2 ? sim::Layout::V2 : sim::Layout::V1, 4096, 1, 0,
                             QByteArray(300, 'A'), QByteArray(500, 'B'), records,
                             quint8(lengths.size())});
}

// The format-4 form of one record: the header grows from 85 to 132 bytes, bytes 2 and 3 cleared.
QByteArray expectedV4(const QByteArray &v1, int mode)
{
    QByteArray v4 =
        withU16(v1.left(85) + QByteArray(47, '\0') + v1.mid(85), 0, int(v1.size()) + 47);
    v4[84] = char(mode);
    return v4.replace(2, 3, hex("000004"));
}

} // namespace

class tst_Images : public QObject
{
    Q_OBJECT

private slots:
    void flashImage()
    {
        auto image = makeImage();
        for (int i = 0; i < 15; ++i)
            QVERIFY(appendErase(*image, quint8(i)));
        QVERIFY(!appendErase(*image, 1)); // the list holds 15 sectors
        QVERIFY(!appendSegment(*image, 0x08004000, {}));
        QVERIFY(appendSegment(*image, 0x08004000, QByteArray(100, 'a')));
        // A segment may run on into the areas after its own, up to the total field.
        QVERIFY(appendSegment(*image, 0x08040000, QByteArray(14 * 0x20000, 'b')));
        QVERIFY(!appendSegment(*image, 0x08040000, QByteArray(13 * 0x20000 + 1, 'c')));
        QCOMPARE(contents(*image).mid(1), (Bytes{"8004000", QByteArray(100, 'a'), "8040000",
                                                 QByteArray(14 * 0x20000, 'b')}));
        for (int i = 2; i < 15; ++i) // the table holds 15 segments
            QVERIFY(appendSegment(*image, 0x08004000, "x"));
        QVERIFY(!appendSegment(*image, 0x08004000, "x"));
        const std::pair<const char *, const char *> versions[] = {{"5.6.1", "050601"},
                                                                  {"5.6.1-beta", "050600"},
                                                                  {"5.6.300", "05062c"},
                                                                  {"5.-1.2", "050002"},
                                                                  {"5.6", "050600"}};
        for (const auto &[version, bytes] : versions) {
            const VersionBytes result = versionBytes(QString(version).split('.'));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(result.data()), 3), hex(bytes));
        }
        const std::tuple<bool, int, const char *, bool> sectors[] = {
            {false, 0x40000 - 2, "0506", true},
            {false, 0x40000 - 1, "0506", false},
            {true, 131069, "06", true},
            {true, 131070, "0607", true},
            {true, 0xC0000 - 2, "060708090a0b", true},
            {true, 0xC0000, "060708090a0b", false}};
        for (const auto &[v2, size, expected, fits] : sectors) {
            QByteArray result;
            for (const quint8 sector : applicationSectors(ConfigLayout(v2), size))
                result.append(char(sector));
            QCOMPARE(result, hex(expected));
            QCOMPARE(firmwareFits(ConfigLayout(v2), size), fits);
        }
    }

    void configBlockUpdate()
    {
        // Which of the four patches apply for the adapter's current version. The block is cut
        // short, so that its growth back to 16384 zero-filled bytes shows as well.
        const std::tuple<const char *, bool, QString> rows[] = {
            {"4.9.9", false, "1234"}, {"4.9.9", true, "234"},  {"5.2.9", false, "124"},
            {"5.2.14", false, "24"},  {"5.2.20", false, "24"}, {"5.2.44", false, "4"},
            {"5.3.0", false, ""},     {"5.6.3", true, ""}};
        const QByteArray before(16300, '\x11');
        for (const auto &[current, v2, patches] : rows) {
            QByteArray expected = before + QByteArray(84, '\0');
            if (patches.contains('1'))
                expected.replace(292, 3, QByteArray(3, '\0'));
            if (patches.contains('2'))
                expected[127] = 0;
            if (patches.contains('3'))
                expected.replace(70, 10, hex("4512521251124f125012"))
                    .replace(126, 2, hex("1000"))
                    .replace(16158, 3, hex("010000"));
            if (patches.contains('4'))
                expected.replace(16157, 226, hex("5501") + QByteArray(223, '\0') + hex("aa"));
            QCOMPARE(migrateConfigBlock(before, QString(current).split('.'), ConfigLayout(v2)),
                     expected);
        }
        // The stamp names the new firmware and leaves the user's settings as they were.
        QCOMPARE(stampConfigBlock(before, ConfigLayout::V2, 200000, {5, 6, 7}),
                 QByteArray(before + QByteArray(84, '\0'))
                     .replace(0, 12,
                              hex("55050607"
                                  "00000408"
                                  "400d0300"))
                     .replace(64, 2, hex("55aa"))
                     .replace(16383, 1, hex("aa")));
    }

    void programmingImages()
    {
        for (const bool v2 : {false, true}) {
            const QByteArray app = v2 ? "8040000" : "8020000";
            const QByteArray firmware = sim::applicationImage(v2 ? 200000 : 70000);
            const QByteArray config(16384, '\x11');
            auto update = makeImage();
            buildUpdateImage(*update, config + "beyond the block", firmware, ConfigLayout(v2));
            QCOMPARE(contents(*update), (Bytes{v2 ? hex("010607") : hex("010506"), "8004000",
                                               config, app, firmware + hex("55aa")}));

            QByteArray factory =
                QByteArray(16384, '\0')
                    .replace(0, 12,
                             hex("55050518") + hex(v2 ? "00000408" : "00000208") + hex("e8030000"))
                    .replace(64, 16, hex("55aa000000004512521251124f125012"))
                    .replace(126, 1, hex("10"))
                    .replace(16157, 2, hex("5501"))
                    .replace(16382, 2, hex("aaaa"));
            const QByteArray emptyB =
                hex("4200") + QByteArray(62, '\0') + hex(v2 ? "aa55" : "55aa");
            const QByteArray emptyA = QByteArray(emptyB).replace(3, 6, QByteArray(6, '\xff'));
            Bytes expected{hex("0102040506"), "8004000", factory, "8008000", emptyA,
                           "8010000",         emptyB};
            if (v2) // the macro block's sector 5; the application starts at sector 6
                expected << "8020000" << emptyB;
            auto image = makeImage();
            buildFactoryImage(*image, QByteArray(1000, '\x42'), ConfigLayout(v2), {5, 5, 24});
            QCOMPARE(contents(*image), expected << app << QByteArray(1000, '\x42') + hex("55aa"));
        }
    }

    void macroBlock()
    {
        const std::tuple<bool, bool, QList<int>, int, int> rows[] = {
            {false, true, {}, 66, 0},
            {false, false, {}, 66, 0},
            {false, true, {100, 120}, 286, 220},
            // Converted: 147 + 167 = 314 record bytes; the field holds the position after them.
            {false, false, {100, 120}, 444, 378},
            {false, false, {85}, 262, 196},
            {true, true, {100, 120}, 286, 220},
            {true, false, {100, 120}, 444, 378}};
        for (const auto &[v2, copy, lengths, length, bytesField] : rows) {
            const QByteArray image = backupImage(v2, lengths);
            QVERIFY(validate(image, ConfigLayout(v2), copy).ok());
            QByteArray expected = v2 ? image.mid(kMacroBlockOffset, 64) : QByteArray(64, '\0');
            expected = withU16(withU16(expected, 0, length), 3, bytesField);
            expected[2] = char(lengths.size());
            for (int i = 0, at = 356 + (v2 ? kMacroBlockOffset - 292 : 0); i < lengths.size();
                 at += lengths[i++])
                expected +=
                    copy ? image.mid(at, lengths[i]) : expectedV4(image.mid(at, lengths[i]), 2);
            expected.resize(length - 2, '\0'); // the marker follows bytesField + 64 bytes
            QCOMPARE(buildMacroBlock(image, ConfigLayout(v2), copy).toHex(),
                     (expected + hex("aa55")).toHex());
        }
        // With count 0 the content is whatever the adapter left there; it travels unchanged
        // even when records would be converted.
        QByteArray image = backupImage(true);
        image[kMacroBlockOffset + 40] = char(0x5A);
        QCOMPARE(buildMacroBlock(image, ConfigLayout::V2, false), image.mid(kMacroBlockOffset, 66));
        // The text fills its field without a NUL: the log text must stop at the field's end.
        for (const auto &[mode, v4Mode] : {std::pair(0, 2), {1, 2}, {2, 1}, {3, 0}, {255, 0}}) {
            const QByteArray record =
                sim::macroRecordV1(105, quint8(mode), QByteArray(75, 'T'), 7, 0x40);
            QList<ConvertedRecord> notes;
            QCOMPARE(convertRecords(record, 1, 64, &notes), expectedV4(record, v4Mode));
            QCOMPARE(notes.size(), 1);
            const ConvertedRecord &n = notes[0];
            QCOMPARE(std::tuple(n.length, n.payloadPosition, n.payloadHead, n.field57, n.text),
                     std::tuple(152, 64 + 132, record.mid(85, 10), quint16(0x5454),
                                QByteArray(75, 'T')));
        }
    }

    void restoreImage()
    {
        const QByteArray v1 = backupImage(false, {100, 120}), v2 = backupImage(true, {100, 120});
        QByteArray offEnd = v1, tooMany = v1, v2Count = v2, v1One = backupImage(false);
        offEnd[292] = char(255); // 255 records of 0xFFFF bytes cannot stay inside the image
        for (int at = 356; at + 2 <= 0x1C000; at += 0xFFFF)
            offEnd = withU16(offEnd, at, 0xFFFF);
        tooMany[292] = 3; // the third record would start in the zeros behind the second
        v2Count[0x1C000 + 2] = 3;
        v1One[292] = 1;
        QByteArray v2Big = withU16(withU16(backupImage(true), 0x1C000, 65535), 0x1C040, 65469);
        v2Big[0x1C000 + 2] = 1;
        const int second = 0x1C000 + 64 + 100; // V2 records must end before 0x1C000 + 284
        using F = ImageFault;
        const std::tuple<bool, bool, QByteArray, F, int> rows[] = {
            {false, true, v1.chopped(1), F::TooShort, 0x1BFFF},
            {true, true, v2, F::None, -1},
            {true, true, v1, F::TooShort, 0x1C000},
            {false, true, withU16(v1, 0x4000, 65), F::DataBlockA, 0x4000},
            {false, true, withU16(v1, 0x4000, 66), F::None, -1},
            {false, true, withU16(v1, 0x4000, 0x8000), F::None, -1},
            {true, true, withU16(v2, 0x4000, 0x8001), F::DataBlockA, 0x4000},
            {false, true, withU16(v1, 0xC000, 0), F::DataBlockB, 0xC000},
            {true, true, withU16(v2, 0xC000, 0xFFFF), F::None, -1},
            {true, true, withU16(v2, 0x1C000, 2), F::MacroBlock, 0x1C000},
            {false, true, withU16(v1, 456, 84), F::MacroRecord, 456},
            {false, false, withU16(v1, 356, 0), F::MacroRecord, 356},
            {false, true, offEnd, F::MacroRecord, 356 + 0xFFFF},
            {false, true, tooMany, F::MacroRecord, 576},
            // Copied, the block is total + 66 bytes; converted, total + 47 * count + 130.
            {false, true, withU16(v1One, 356, 65469), F::None, -1},
            {false, true, withU16(v1One, 356, 65470), F::MacroBlockOverflow, 292},
            {false, false, withU16(v1One, 356, 65358), F::None, -1},
            {false, false, withU16(v1One, 356, 65359), F::MacroBlockOverflow, 292},
            {true, false, withU16(v2, second, 121), F::MacroRecord, second},
            {true, true, withU16(v2, second, 121), F::None, -1},
            {true, false, v2Count, F::MacroRecord, 0x1C000 + 284},
            {true, false, v2Big, F::MacroBlockOverflow, 0x1C000}};
        // The header names the firmware the adapter runs now.
        const QByteArray current = QByteArray(v2.left(0x4000)).replace(0, 4, hex("00070809"));
        for (const auto &[isV2, copy, image, fault, offset] : rows) {
            const Validation result = validate(image, ConfigLayout(isV2), copy);
            QCOMPARE(std::pair(result.fault, result.offset), std::pair(fault, offset));
            auto flash = makeImage();
            QCOMPARE(buildRestoreImage(*flash, image, current, ConfigLayout(isV2), copy).fault,
                     fault);
            // A refused image puts nothing at all into the programming image.
            QCOMPARE(contents(*flash).first(), result.ok() ? hex("0102030405") : QByteArray());
        }
        // From V1 only settings A (66 to 227) and B (16157 to 16382) come over; its data blocks
        // get the V2 marker.
        for (const QByteArray &image : {v1, v2}) {
            const bool isV2 = image.size() > 0x1C000;
            QByteArray config = isV2 ? image.left(0x4000) : QByteArray(0x4000, '\0');
            config.replace(66, 162, image.mid(66, 162))
                .replace(16157, 227, image.mid(16157, 226) + hex("aa"));
            config.replace(0, 66, hex("55") + current.mid(1, 65));
            auto flash = makeImage();
            QVERIFY(buildRestoreImage(*flash, image, current, ConfigLayout(isV2), false).ok());
            QCOMPARE(contents(*flash), (Bytes{hex("0102030405"), "8004000", config, "8008000",
                                              image.mid(0x4000, 364) + hex("aa55"), "8010000",
                                              image.mid(0xC000, 564) + hex("aa55"), "8020000",
                                              buildMacroBlock(image, ConfigLayout(isV2), false)}));
        }
    }

    void configBlockFields()
    {
        const QByteArray block = backupImage(true).left(0x4000);
        for (const int stored : {0, 5, 6, 9, 255}) {
            const QByteArray changed = withBootMode(block, stored + 0x300); // the low byte counts
            QCOMPARE(bootMode(changed), qMin(stored, 6));
            QCOMPARE(changed, QByteArray(block).replace(130, 1, QByteArray(1, char(stored))));
        }
        QCOMPARE(withBootMode({}, 5), QByteArray(16384, '\0').replace(130, 1, "\x05"));
        QCOMPARE(bootMode(QByteArray(130, 5)), 0);
        // Only a whole block with its three guard bytes is one to rebuild sector 1 from.
        QVERIFY(isConfigBlockValid(block) && !isConfigBlockValid(block + 'x'));
        for (const int at : {0, 64, 65, 0x3FFF})
            QVERIFY(!isConfigBlockValid(QByteArray(block).replace(at, 1, "\x01")));
    }

    void replayFuzzCorpus()
    {
        const QDir corpus(QStringLiteral(HALVERN_FUZZ_CORPUS_DIR));
        int valid = 0;
        for (const QString &name : corpus.entryList(QDir::Files)) {
            QFile file(corpus.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            valid += ConfigImageFuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                          size_t(bytes.size()));
        }
        QVERIFY(corpus.count() >= 4 && valid >= 2); // the builders are reached, not only refusals
    }

    void versionRules()
    {
        const std::tuple<const char *, const char *, int> rows[] = {
            {"5.5.24", "5.5.0", 1},  {"5.4.99", "5.5.0", -1},    {"5.5.0", "5.5.0", 0},
            {"4.9.9", "5.5.0", -1},  {"5.10.0", "5.9.0", 1},     {"5.x.1", "5.0.1", 0},
            {"", "0.0.0", 0},        {"5.6.1-beta", "5.6.0", 0}, {"5.6.1.9", "5.6.1", 0},
            {"5.2.9", "5.2.14", -1}, {"5.2.20", "5.2.44", -1},   {"", "5.0.0", -1}};
        DeviceFlash device;
        for (const auto &[a, b, order] : rows) {
            QCOMPARE(std::pair(VersionRules::compare(a, b), VersionRules::compare(b, a)),
                     std::pair(order, -order));
            QCOMPARE(VersionRules::isBelow(QString(a).split('.'), b), order < 0);
            QCOMPARE(VersionRules::isBelow(QString(b).split('.'), a), order > 0);
            QCOMPARE(device.compareFirmwareVersion(a, b), order);
        }
        // Versions of equal major * 10 + minor are compatible.
        QCOMPARE(device.compareCompatibleVersion("5.5.0", "5.5.31"), 0);
        QCOMPARE(device.compareCompatibleVersion("5.5.0", "5.6.0"), -1);
        QCOMPARE(device.compareCompatibleVersion("5.6.2", "5.5.9"), 1);
        QVERIFY(device.isCompatibleVersion("4.15.0", "5.5.0") &&
                !device.isCompatibleVersion("5.5.0", "5.6.0"));
        // V2 from 5.5.0 on, unless the application is too large for the V2 area.
        for (const auto &[version, size, layout] : {std::tuple("5.5.0", 0xE0000u, ConfigLayout::V1),
                                                    {"5.5.0", 0xDFFFFu, ConfigLayout::V2},
                                                    {"5.4.9", 0x1000u, ConfigLayout::V1},
                                                    {"5.6.3", 0x30000u, ConfigLayout::V2}})
            QCOMPARE(VersionRules::configLayout(version, size), layout);
    }
};

QTEST_GUILESS_MAIN(tst_Images)
#include "tst_images.moc"
