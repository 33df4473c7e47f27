// The pure rules, without a device or a network: programming images, the conversions a restore
// makes of a backup image, version rules, the firmware catalog, the backup file codec and the
// versions in firmware file names. Expected bytes sit at exact offsets.
#include "cloud/CatalogRules.h"
#include "device/ConfigImage.h"
#include "device/FlashImage.h"
#include "fuzz/ConfigImageFuzz.h"
#include "support/SimFixture.h"
#include "ui/BackupFile.h"
#include "ui/FirmwareFileName.h"

#include <QCryptographicHash>
#include <QtTest>

using namespace CatalogRules;
using namespace ConfigImages;
using namespace FlashImages;
using Bytes = QList<QByteArray>;

namespace {

const auto hex = &QByteArray::fromHex;

QByteArray withU16(QByteArray bytes, int at, int value)
{
    qToLittleEndian(quint16(value), bytes.data() + at);
    return bytes;
}

// The erase list, then the address and bytes of each segment. (The fuzz entry checks the total.)
Bytes contents(const FlashImage &image)
{
    Bytes out{QByteArray(reinterpret_cast<const char *>(image.eraseList), int(image.eraseCount))};
    for (int i = 0; i < segmentCount(image); ++i)
        out << QByteArray::number(quint32(image.segments[i].address), 16) << segmentBytes(image, i);
    return out;
}

// A backup image with data blocks of 300 and 500 bytes and format-1 macro records of these
// lengths (0: none).
QByteArray backupImage(bool v2, int first = 0, int second = 0)
{
    const auto record = [](int length) {
        return length ? sim::macroRecordV1(length, 0, "macro", quint32(length), quint8(length))
                      : QByteArray();
    };
    return sim::configImage({5, 6, 0, v2 ? sim::Layout::V2 : sim::Layout::V1, 4096, 1, 0,
                             QByteArray(300, 'A'), QByteArray(500, 'B'),
                             record(first) + record(second), quint8((first != 0) + (second != 0))});
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

class tst_Rules : public QObject
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
        const std::tuple<bool, int, const char *, bool> sectors[] = {
            {false, 262142, "0506", true},        {false, 262143, "0506", false},
            {true, 131069, "06", true},           {true, 131070, "0607", true},
            {true, 786430, "060708090a0b", true}, {true, 786432, "060708090a0b", false}};
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

            QByteArray factory = QByteArray(16384, '\0')
                                     .replace(0, 12, hex("5505051800000008e8030000"))
                                     .replace(64, 16, hex("55aa000000004512521251124f125012"))
                                     .replace(126, 1, hex("10"))
                                     .replace(16157, 2, hex("5501"))
                                     .replace(16382, 2, hex("aaaa"));
            factory[6] = char(v2 ? 4 : 2); // the application address
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
        // Converted, 100 + 120 record bytes become 147 + 167, and the count field holds the
        // position after them; the end marker follows that field plus 64 bytes.
        const std::tuple<bool, bool, int, int, int, int> rows[] = {
            {false, true, 0, 0, 66, 0},        {false, false, 0, 0, 66, 0},
            {false, true, 100, 120, 286, 220}, {false, false, 100, 120, 444, 378},
            {false, false, 85, 0, 262, 196},   {true, true, 100, 120, 286, 220},
            {true, false, 100, 120, 444, 378}};
        for (const auto &[v2, copy, first, second, length, bytesField] : rows) {
            const QByteArray image = backupImage(v2, first, second);
            const int at = v2 ? kMacroBlockOffset + 64 : 356;
            QByteArray expected = v2 ? image.mid(kMacroBlockOffset, 64) : QByteArray(64, '\0');
            expected = withU16(withU16(expected, 0, length), 3, bytesField);
            expected[2] = char((first != 0) + (second != 0));
            const QByteArray records[] = {image.mid(at, first), image.mid(at + first, second)};
            for (int i = 0; i < 2; ++i)
                expected += copy || records[i].isEmpty() ? records[i] : expectedV4(records[i], 2);
            expected.resize(length - 2, '\0');
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
                sim::macroRecordV1(105, quint8(mode), QByteArray(75, 'T'), 7, 64);
            QList<ConvertedRecord> notes;
            QCOMPARE(convertRecords(record, 1, 64, &notes), expectedV4(record, v4Mode));
            QCOMPARE(notes.value(0).text, QByteArray(75, 'T'));
        }
    }

    void restoreImage()
    {
        const QByteArray v1 = backupImage(false, 100, 120), v2 = backupImage(true, 100, 120);
        // Counts written as u16 change only the unread byte behind them.
        const QByteArray v1One = withU16(backupImage(false), 292, 1);
        QByteArray offEnd = withU16(v1, 292, 255); // 255 records of 0xFFFF bytes cannot fit
        for (int at = 356; at + 2 <= 0x1C000; at += 0xFFFF)
            offEnd = withU16(offEnd, at, 0xFFFF);
        const QByteArray v2Big = withU16(
            withU16(withU16(backupImage(true), 0x1C000, 65535), 0x1C002, 1), 0x1C040, 65469);
        const int second = 0x1C000 + 64 + 100; // V2 records must end before 0x1C000 + 284
        using F = ImageFault;
        const std::tuple<bool, bool, QByteArray, F, int> rows[] = {
            {false, true, v1.chopped(1), F::TooShort, 0x1BFFF},
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
            // The third record would start in the zeros behind the second.
            {false, true, withU16(v1, 292, 3), F::MacroRecord, 576},
            // Copied, the block is total + 66 bytes; converted, total + 47 * count + 130.
            {false, true, withU16(v1One, 356, 65469), F::None, -1},
            {false, true, withU16(v1One, 356, 65470), F::MacroBlockOverflow, 292},
            {false, false, withU16(v1One, 356, 65358), F::None, -1},
            {false, false, withU16(v1One, 356, 65359), F::MacroBlockOverflow, 292},
            {true, false, withU16(v2, second, 121), F::MacroRecord, second},
            {true, true, withU16(v2, second, 121), F::None, -1},
            {true, false, withU16(v2, 0x1C002, 3), F::MacroRecord, 0x1C000 + 284},
            {true, false, v2Big, F::MacroBlockOverflow, 0x1C000}};
        for (const auto &[isV2, copy, image, fault, offset] : rows) {
            const Validation result = validate(image, ConfigLayout(isV2), copy);
            QCOMPARE(std::pair(result.fault, result.offset), std::pair(fault, offset));
        }
        // The header names the firmware the adapter runs now. From V1 only settings A (66 to
        // 227) and B (16157 to 16382) come over, and its data blocks get the V2 marker.
        const QByteArray current = QByteArray(v2.left(0x4000)).replace(0, 4, hex("00070809"));
        for (const QByteArray &image : {v1, v2}) {
            const bool isV2 = image.size() > 0x1C000;
            QByteArray config = isV2 ? image.left(0x4000) : QByteArray(0x4000, '\0');
            config.replace(66, 162, image.mid(66, 162))
                .replace(16157, 227, image.mid(16157, 226) + hex("aa"))
                .replace(0, 66, hex("55") + current.mid(1, 65));
            auto flash = makeImage();
            QVERIFY(buildRestoreImage(*flash, image, current, ConfigLayout(isV2), false).ok());
            QCOMPARE(contents(*flash), (Bytes{hex("0102030405"), "8004000", config, "8008000",
                                              image.mid(0x4000, 364) + hex("aa55"), "8010000",
                                              image.mid(0xC000, 564) + hex("aa55"), "8020000",
                                              buildMacroBlock(image, ConfigLayout(isV2), false)}));
        }
        // The fuzz entry's seeds, refused and accepted ones, replayed through all of the above.
        int valid = 0;
        for (const QFileInfo &seed : QDir(HALVERN_FUZZ_CORPUS_DIR).entryInfoList(QDir::Files)) {
            QFile file(seed.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            valid += ConfigImageFuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                          size_t(bytes.size()));
        }
        QVERIFY(valid >= 2);
    }

    void configBlockFields()
    {
        const QByteArray block = backupImage(true).left(0x4000);
        for (const int stored : {0, 5, 6, 9, 255}) // written as its low byte, read up to 6
            QCOMPARE(bootMode(withBootMode(block, stored + 0x300)), qMin(stored, 6));
        QCOMPARE(withBootMode({}, 0x305), QByteArray(16384, '\0').replace(130, 1, "\x05"));
        QCOMPARE(bootMode(QByteArray(130, 5)), 0);
        // Only a whole block with its three guard bytes is one to rebuild sector 1 from.
        QVERIFY(isConfigBlockValid(block) && !isConfigBlockValid(block + 'x'));
        for (const int at : {0, 64, 65, 0x3FFF})
            QVERIFY(!isConfigBlockValid(QByteArray(block).replace(at, 1, "\x01")));
    }

    void versionRules()
    {
        const std::tuple<const char *, const char *, int> rows[] = {
            {"5.5.24", "5.5.0", 1},  {"5.4.99", "5.5.0", -1},    {"5.5.0", "5.5.0", 0},
            {"4.9.9", "5.5.0", -1},  {"5.10.0", "5.9.0", 1},     {"5.x.1", "5.0.1", 0},
            {"", "0.0.0", 0},        {"5.6.1-beta", "5.6.0", 0}, {"5.6.1.9", "5.6.1", 0},
            {"5.2.9", "5.2.14", -1}, {"5.2.20", "5.2.44", -1},   {"", "5.0.0", -1}};
        for (const auto &[a, b, order] : rows) {
            QCOMPARE(VersionRules::compare(a, b), order);
            QCOMPARE(VersionRules::isBelow(QString(a).split('.'), b), order == -1);
        }
        // Versions of equal major * 10 + minor are compatible; 4.15 with 5.5 too.
        QCOMPARE(VersionRules::compatibilityKey("5.6.2"), 56);
        // V2 from 5.5.0 on, unless the application is too large for the V2 area.
        QCOMPARE(VersionRules::configLayout("5.5.0", 0xDFFFF), ConfigLayout::V2);
        QCOMPARE(VersionRules::configLayout("5.5.0", 0xE0000), ConfigLayout::V1);
        QCOMPARE(VersionRules::configLayout("5.4.9", 0x1000), ConfigLayout::V1);
    }

    void catalog();

    void backupFile()
    {
        const QByteArray serial("4d372d53494d2d3030303031");
        // The image, then its MD5, XORed with the MD5 of the serial text from the first byte
        // on: written out, so that the codec cannot drift from files in users' hands.
        QCOMPARE(BackupFile::encode("abc", serial).toHex(),
                 "08fea4eabbd13e82c2d8df6b5d0b822c88e3b5");
        for (const int size : {114688, 245760}) {
            const QByteArray image = sim::applicationImage(size, 11);
            const QByteArray digest = QCryptographicHash::hash(image, QCryptographicHash::Md5);
            const BackupFile::Contents decoded =
                BackupFile::decode(BackupFile::encode(image, serial), serial);
            QCOMPARE(std::tuple(decoded.check, decoded.content, decoded.digest),
                     std::tuple(BackupFile::Check::Valid, image + digest, digest));
        }
        const QByteArray good = BackupFile::encode(sim::applicationImage(245760, 3), serial);
        const auto flipped = [&good](qsizetype at) {
            return QByteArray(good).replace(at, 1, QByteArray(1, char(good.at(at) ^ 1)));
        };
        for (const QByteArray &file : {flipped(0), flipped(100000), flipped(good.size() - 1)})
            QCOMPARE(BackupFile::decode(file, serial).check, BackupFile::Check::WrongDigest);
        // The last two carry a correct digest: only their length gives them away.
        for (const QByteArray &file : {good.chopped(1), good + 'x', QByteArray(10, 'x'),
                                       QByteArray(), BackupFile::encode({}, serial),
                                       BackupFile::encode(sim::applicationImage(4096), serial)})
            QCOMPARE(BackupFile::decode(file, serial).check, BackupFile::Check::WrongLength);
        // Saved whole or not at all, with the system's reason when not.
        QTemporaryDir dir;
        QString error = "untouched";
        QVERIFY(BackupFile::save(dir.filePath("b.bkp"), good, &error));
        QCOMPARE(error, "untouched");
        QVERIFY(!BackupFile::save(dir.filePath("none/b.bkp"), good, &error));
        QVERIFY(!error.isEmpty() && error != "untouched" && !QFile::exists(dir.filePath("none")));
        QCOMPARE(BackupFile::imageVersion(hex("55ff00c8")), "255.0.200");
        QCOMPARE(BackupFile::imageVersion(hex("550506")), "");
    }

    void firmwareFileNames()
    {
        // Nothing ("-") for the catalog's own cache name (underscore before the V), a cancelled
        // dialog, a name holding it twice, and one only the folder holds it in.
        const std::pair<const char *, const char *> names[] = {
            {"/u/FirmwareV5.6.1.hfw", "5.6.1"},       {"/u/firmware v5.6.1 .BIN", "5.6.1"},
            {"/d/firmwarev5.6-beta.bin", "5.6-beta"}, {"/d/firmware\tv5.7.0.bin", "5.7.0"},
            {"/d/Firmware_V5.6.1.hfw", "-"},          {"/d/firmwarev1.2firmwarev.bin", "-"},
            {"/d/firmwarev5.6.1/image.bin", "-"},     {"", "-"}};
        for (const auto &[path, version] : names)
            QCOMPARE(FirmwareFileName::versionFromPath(path).value_or("-"), version);
        QVERIFY(FirmwareFileName::isFlashableVersion("5.6.1-beta"));
        QVERIFY(!FirmwareFileName::isFlashableVersion("5..1"));
        // True exactly when the second is newer. Packed with OR, so a patch above 255 runs into
        // the minor number.
        const std::tuple<const char *, const char *, bool> newer[] = {
            {"V5.5.0", "5.6.1", true},    {"5.6.1", "5.6", false},      {"5.6.0", "5.6.1", true},
            {"1.255.255", "2.0.0", true}, {"( 5.6.1 )", "5.6.2", true}, {"5.6.x", "5.6.0", false},
            {"1.1.0", "1.0.256", false},  {"-1.0.0", "0.0.0", true},    {"", "1.0.0", false}};
        for (const auto &[v1, v2, isNewer] : newer)
            QVERIFY2(FirmwareFileName::isNewerVersion(v1, v2) == isNewer, v2);
    }
};

// Raw JSON strings stay out of the class body, where moc reads.
void tst_Rules::catalog()
{
    for (const char *body : {"", "42", R"({"download":{"firmware":[)"})
        QCOMPARE(int(parseCatalog(body).fault), int(CatalogFault::NotAnObject));
    // The versions in order, duplicates kept; odd members read as empty, and a hostile
    // entry after a good one refuses the catalog, with the reason for the log.
    const std::tuple<const char *, CatalogFault, const char *> rows[] = {
        {R"({"version":"1"})", CatalogFault::None, ""},
        {R"([{"version":"6"},{"version":"5"},{"version":"6"}])", CatalogFault::None, "6 5 6"},
        {R"([{"version":"1"},{"version":"a/b"}])", CatalogFault::HostileEntry, "1 a/b"},
        {R"([{"version":"1","download":"http://h/a b|{c}.hfw"}])", CatalogFault::None, "1"},
        {R"([{"version":"2","download":"ftp://h/a"}])", CatalogFault::HostileEntry, "2"},
        {R"([7,{"version":5},{"download":""}])", CatalogFault::None, "  "}};
    const QByteArray top = R"({"download":{"firmware":)";
    for (const auto &[firmware, fault, versions] : rows) {
        const Catalog catalog = parseCatalog(top + firmware + "}}");
        QCOMPARE(std::pair(int(catalog.fault), catalog.detail.isEmpty()),
                 std::pair(int(fault), fault != CatalogFault::HostileEntry));
        QCOMPARE(versionList(catalog.firmware).join(' '), versions);
    }
    // A version must stay one plain file name directly inside the data directory.
    QVERIFY(isSafeVersion("5.5.24") && isSafeVersion("5.6.1-beta") && isSafeVersion(""));
    for (const QString &version :
         QStringList{"1/2", "1\\2", "..", "1..2", "C:x", "1.0\n", QString(QChar(0)) + "1",
                     QString("1") + QChar(0x7f), QString("1") + QChar(0x202e)})
        QVERIFY2(!isSafeVersion(version), qPrintable(version));
    // Filled in one pass: a data path holding "%2" is not filled again.
    QCOMPARE(firmwareFilePath("/d%2", "5.5.24"), "/d%2/Firmware_V5.5.24.hfw");
    // Characters strict parsing refuses are percent-encoded, not a reason to refuse.
    QCOMPARE(downloadUrl("http://h/5.6.0 beta|{a}.hfw").toEncoded(),
             "http://h/5.6.0%20beta%7C%7Ba%7D.hfw");
    for (const char *url : {"https://127.0.0.1:8443/a.hfw", "HTTP://h/a", "http://h/a b.hfw"})
        QVERIFY2(isAllowedDownload(url), url);
    for (const char *url : {"", "fw/a.hfw", "file:///etc/passwd", "qrc:/style.qss", "data:,abc",
                            "ftp://host/a", "http:///a", "fw/a b.hfw", "ftp://host/a b.hfw",
                            "file:///tmp/{a}.hfw", "http:///a|b.hfw", "http://ho st/a.hfw"})
        QVERIFY2(!isAllowedDownload(url) && downloadUrl(url).isEmpty(), url);
    // MD5 in lower case, compared exactly.
    QVERIFY(checksumMatches("abc", "900150983cd24fb0d6963f7d28e17f72") &&
            !checksumMatches("abc", "900150983CD24FB0D6963F7D28E17F72"));
}

QTEST_GUILESS_MAIN(tst_Rules)
#include "tst_rules.moc"
