// The configuration image conversions, without a device: every length a backup carries is
// checked before anything is built, and the rebuilt blocks match the V2 layout byte for byte.
#include "device/ConfigImage.h"
#include "device/FlashImage.h"
#include "fuzz/ConfigImageFuzz.h"
#include "support/SimFixture.h"

#include <QDir>
#include <QtEndian>
#include <QtTest>

using namespace ConfigImages;
using sim::FirmwareSetup;
using sim::Layout;

namespace {

quint16 u16(const QByteArray &bytes, int position)
{
    return qFromLittleEndian<quint16>(bytes.constData() + position);
}

void putU16(QByteArray &bytes, int position, quint16 value)
{
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()) + position);
}

QByteArray records(const QList<int> &lengths)
{
    QByteArray bytes;
    for (int i = 0; i < lengths.size(); ++i)
        bytes += sim::macroRecordV1(lengths[i], quint8(i), "macro " + QByteArray::number(i),
                                    0x11223344u + quint32(i), quint8(0x30 + i * 16));
    return bytes;
}

// The format-4 form of one record, written out field by field.
QByteArray expectedV4(const QByteArray &v1)
{
    const int payload = v1.size() - 85;
    QByteArray v4(132 + payload, '\0');
    putU16(v4, 0, quint16(132 + payload));
    v4[4] = 4;
    v4.replace(5, 79, v1.mid(5, 79)); // text and the u32 at 80
    const quint8 mode = quint8(v1.at(4));
    v4[84] = char(mode <= 1 ? 2 : mode == 2 ? 1 : 0);
    v4.replace(132, payload, v1.mid(85));
    return v4;
}

FirmwareSetup v1Setup(const QByteArray &macros, int count)
{
    FirmwareSetup setup;
    setup.layout = Layout::V1;
    setup.minor = 2;
    setup.patch = 20;
    setup.dataA = QByteArray(300, 'a');
    setup.dataB = QByteArray(500, 'b');
    setup.macros = macros;
    setup.macroCount = quint8(count);
    return setup;
}

FirmwareSetup v2Setup(const QByteArray &macros, int count)
{
    FirmwareSetup setup;
    setup.layout = Layout::V2;
    setup.minor = 5;
    setup.patch = 9;
    setup.dataA = QByteArray(400, 'A');
    setup.dataB = QByteArray(600, 'B');
    setup.macros = macros;
    setup.macroCount = quint8(count);
    return setup;
}

} // namespace

class tst_ConfigImage : public QObject
{
    Q_OBJECT

private slots:
    void macroBlockFromV1_data();
    void macroBlockFromV1();
    void recordConversion_data();
    void recordConversion();
    void v2MacroBlockWithoutRecordsKept();
    void validation_data();
    void validation();
    void bootMode_data();
    void bootMode();
    void replayFuzzCorpus();
};

void tst_ConfigImage::macroBlockFromV1_data()
{
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<bool>("copyMacros");
    QTest::addColumn<int>("blockLength");
    QTest::addColumn<int>("bytesField");
    QTest::newRow("no records, copied") << QList<int>{} << true << 66 << 0;
    QTest::newRow("no records, flag false") << QList<int>{} << false << 66 << 0;
    QTest::newRow("100 and 120, copied") << QList<int>{100, 120} << true << 286 << 220;
    // Converted: 147 + 167 = 314 record bytes; the field holds the position after them.
    QTest::newRow("100 and 120, converted") << QList<int>{100, 120} << false << 444 << 378;
    QTest::newRow("header-only record, converted") << QList<int>{85} << false << 262 << 196;
}

void tst_ConfigImage::macroBlockFromV1()
{
    QFETCH(QList<int>, lengths);
    QFETCH(bool, copyMacros);
    QFETCH(int, blockLength);
    QFETCH(int, bytesField);
    const QByteArray v1 = records(lengths);
    const QByteArray image = sim::configImage(v1Setup(v1, int(lengths.size())));
    QVERIFY(validate(image, ConfigLayout::V1, copyMacros).ok());

    const QByteArray block = buildMacroBlock(image, ConfigLayout::V1, copyMacros);
    QByteArray expected(blockLength, '\0');
    putU16(expected, 0, quint16(blockLength));
    expected[2] = char(lengths.size());
    putU16(expected, 3, quint16(bytesField));
    QByteArray content = v1;
    if (!copyMacros) {
        content.clear();
        int at = 0;
        for (const int length : lengths) {
            content += expectedV4(v1.mid(at, length));
            at += length;
        }
    }
    expected.replace(64, content.size(), content);
    expected[blockLength - 2] = char(0xAA);
    expected[blockLength - 1] = char(0x55);
    QCOMPARE(block.toHex(), expected.toHex());
}

void tst_ConfigImage::recordConversion_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("converted");
    QTest::newRow("mode 0") << 0 << 2;
    QTest::newRow("mode 1") << 1 << 2;
    QTest::newRow("mode 2") << 2 << 1;
    QTest::newRow("mode 3") << 3 << 0;
    QTest::newRow("mode 255") << 255 << 0;
}

void tst_ConfigImage::recordConversion()
{
    QFETCH(int, mode);
    QFETCH(int, converted);
    // The text fills its field without a NUL: the log text must stop at the field's end.
    const QByteArray record =
        sim::macroRecordV1(85 + 20, quint8(mode), QByteArray(74, 'T') + 'U', 0xCAFEF00Du, 0x40);
    QList<ConvertedRecord> notes;
    const QByteArray v4 = convertRecords(record, 1, 64, &notes);
    QCOMPARE(v4.size(), 132 + 20);
    QCOMPARE(u16(v4, 0), quint16(152));
    QCOMPARE(u16(v4, 2), quint16(0));
    QCOMPARE(int(v4.at(4)), 4);
    QCOMPARE(v4.mid(5, 79), record.mid(5, 79));
    QCOMPARE(int(quint8(v4.at(84))), converted);
    QCOMPARE(v4.mid(85, 47), QByteArray(47, '\0'));
    QCOMPARE(v4.mid(132), record.mid(85));
    QCOMPARE(v4, expectedV4(record));

    QCOMPARE(notes.size(), 1);
    QCOMPARE(notes[0].length, 152);
    QCOMPARE(notes[0].payloadPosition, 64 + 132);
    QCOMPARE(notes[0].payloadHead, record.mid(85, 10));
    QCOMPARE(notes[0].field57, u16(record, 57));
    QCOMPARE(notes[0].text.size(), 75);
}

void tst_ConfigImage::v2MacroBlockWithoutRecordsKept()
{
    // With count 0 the content is whatever the adapter left there; it travels unchanged even
    // when records would be converted.
    QByteArray image = sim::configImage(v2Setup(QByteArray(40, 'z'), 0));
    image[kMacroBlockOffset + 40] = char(0x5A);
    QVERIFY(validate(image, ConfigLayout::V2, false).ok());
    QCOMPARE(buildMacroBlock(image, ConfigLayout::V2, false),
             image.mid(kMacroBlockOffset, 64 + 40 + 2));
}

void tst_ConfigImage::validation_data()
{
    QTest::addColumn<bool>("v1");
    QTest::addColumn<bool>("copyMacros");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("offset");

    const auto withU16 = [](QByteArray image, int position, int value) {
        putU16(image, position, quint16(value));
        return image;
    };
    const auto none = int(ImageFault::None);
    const QByteArray v1 = sim::configImage(v1Setup(records({100, 120}), 2));
    const QByteArray v2 = sim::configImage(v2Setup(records({100, 120}), 2));

    QTest::newRow("V1 valid") << true << false << v1 << none << -1;
    QTest::newRow("V2 valid") << false << false << v2 << none << -1;
    QTest::newRow("V1 one byte short")
        << true << true << v1.chopped(1) << int(ImageFault::TooShort) << 0x1BFFF;
    QTest::newRow("V2 image read as V1 is long enough") << true << true << v2 << none << -1;
    QTest::newRow("V1 image read as V2")
        << false << true << v1 << int(ImageFault::TooShort) << 0x1C000;
    QTest::newRow("block A 65") << true << true << withU16(v1, 0x4000, 65)
                                << int(ImageFault::DataBlockA) << 0x4000;
    QTest::newRow("block A 66") << true << true << withU16(v1, 0x4000, 66) << none << -1;
    QTest::newRow("block A fills sectors 2 and 3")
        << true << true << withU16(v1, 0x4000, 0x8000) << none << -1;
    QTest::newRow("block A beyond sector 3")
        << false << true << withU16(v2, 0x4000, 0x8001) << int(ImageFault::DataBlockA) << 0x4000;
    QTest::newRow("block B 0") << true << true << withU16(v1, 0xC000, 0)
                               << int(ImageFault::DataBlockB) << 0xC000;
    QTest::newRow("block B 0xFFFF") << false << true << withU16(v2, 0xC000, 0xFFFF) << none << -1;
    QTest::newRow("macro block 2")
        << false << true << withU16(v2, 0x1C000, 2) << int(ImageFault::MacroBlock) << 0x1C000;

    // V1 records start at 356: the second starts at 456.
    QTest::newRow("V1 record 84") << true << true << withU16(v1, 456, 84)
                                  << int(ImageFault::MacroRecord) << 456;
    QTest::newRow("V1 record 0") << true << false << withU16(v1, 356, 0)
                                 << int(ImageFault::MacroRecord) << 356;
    QByteArray offEnd = v1;
    offEnd[292] = char(255); // 255 records of 0xFFFF bytes cannot stay inside the image
    for (int at = 356; at + 2 <= 0x1C000; at += 0xFFFF)
        putU16(offEnd, at, 0xFFFF);
    QTest::newRow("V1 records walk off the image")
        << true << true << offEnd << int(ImageFault::MacroRecord) << 356 + 0xFFFF;
    QByteArray tooMany = v1;
    tooMany[292] = char(3); // the third record would start in the zeros behind the second
    QTest::newRow("V1 count beyond the records")
        << true << true << tooMany << int(ImageFault::MacroRecord) << 576;

    // Copied, the block is total + 66 bytes; converted, total + 47 * count + 130.
    const auto oneRecord = [&](int length) {
        QByteArray image = sim::configImage(v1Setup({}, 0));
        image[292] = 1;
        putU16(image, 356, quint16(length));
        return image;
    };
    QTest::newRow("copied block of 65535") << true << true << oneRecord(65469) << none << -1;
    QTest::newRow("copied block of 65536")
        << true << true << oneRecord(65470) << int(ImageFault::MacroBlockOverflow) << 292;
    QTest::newRow("converted block of 65535") << true << false << oneRecord(65358) << none << -1;
    QTest::newRow("converted block of 65536")
        << true << false << oneRecord(65359) << int(ImageFault::MacroBlockOverflow) << 292;

    // V2 records must stay inside their block's content: 64 + 220 = 284 bytes before the marker.
    const int second = 0x1C000 + 64 + 100;
    QTest::newRow("V2 record past its block")
        << false << false << withU16(v2, second, 121) << int(ImageFault::MacroRecord) << second;
    QTest::newRow("V2 record past its block, copied")
        << false << true << withU16(v2, second, 121) << none << -1;
    QByteArray v2Count = v2;
    v2Count[0x1C000 + 2] = char(3);
    QTest::newRow("V2 count beyond the records")
        << false << false << v2Count << int(ImageFault::MacroRecord) << 0x1C000 + 284;
    QByteArray v2Big = sim::configImage(v2Setup({}, 0));
    v2Big[0x1C000 + 2] = 1;
    putU16(v2Big, 0x1C000, 65535);
    putU16(v2Big, 0x1C000 + 64, 65469);
    QTest::newRow("V2 conversion overflows")
        << false << false << v2Big << int(ImageFault::MacroBlockOverflow) << 0x1C000;
}

void tst_ConfigImage::validation()
{
    QFETCH(bool, v1);
    QFETCH(bool, copyMacros);
    QFETCH(QByteArray, image);
    QFETCH(int, fault);
    QFETCH(int, offset);
    const ConfigLayout source = v1 ? ConfigLayout::V1 : ConfigLayout::V2;
    const Validation result = validate(image, source, copyMacros);
    QCOMPARE(int(result.fault), fault);
    QCOMPARE(result.offset, offset);

    auto flash = FlashImages::makeImage();
    const QByteArray current = sim::configurationBlock(v2Setup({}, 0));
    QCOMPARE(int(buildRestoreImage(*flash, image, current, source, copyMacros).fault), fault);
    if (!result.ok()) { // nothing at all was put into the programming image
        QCOMPARE(quint32(flash->eraseCount), 0u);
        QCOMPARE(quint32(flash->total), 0u);
        return;
    }
    // A valid image gives four segments, each within its area and carrying its own length.
    QCOMPARE(FlashImages::segmentCount(*flash), 4);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(flash->eraseList), int(flash->eraseCount)),
             QByteArray("\x01\x02\x03\x04\x05", 5));
    const quint32 areas[] = {0x4000, 0x8000, 0x10000, 0x20000};
    quint32 total = 0;
    for (int i = 0; i < 4; ++i) {
        const QByteArray segment = FlashImages::segmentBytes(*flash, i);
        QVERIFY(quint32(segment.size()) <= areas[i]);
        if (i > 0)
            QCOMPARE(int(u16(segment, 0)), int(segment.size()));
        total += quint32(segment.size());
    }
    QCOMPARE(quint32(flash->total), total);
}

void tst_ConfigImage::bootMode_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("read");
    QTest::newRow("auto") << 0 << 0;
    QTest::newRow("PS5(KOVALT)") << 5 << 5;
    QTest::newRow("6") << 6 << 6;
    QTest::newRow("9 reads as 6") << 9 << 6;
    QTest::newRow("255 reads as 6") << 255 << 6;
}

void tst_ConfigImage::bootMode()
{
    QFETCH(int, stored);
    QFETCH(int, read);
    const QByteArray block = sim::configurationBlock(v2Setup({}, 0));
    const QByteArray changed = withBootMode(block, stored + 0x300); // only the low byte counts
    QCOMPARE(ConfigImages::bootMode(changed), read);
    QCOMPARE(int(quint8(changed.at(130))), stored);
    QCOMPARE(changed.left(130) + changed.mid(131), block.left(130) + block.mid(131));
}

void tst_ConfigImage::replayFuzzCorpus()
{
    const QDir corpus(QStringLiteral(HALVERN_FUZZ_CORPUS_DIR));
    const QStringList seeds = corpus.entryList(QDir::Files);
    QVERIFY2(seeds.size() >= 4, qPrintable(corpus.absolutePath()));
    int valid = 0;
    for (const QString &name : seeds) {
        QFile file(corpus.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        valid += ConfigImageFuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                      size_t(bytes.size()))
                     ? 1
                     : 0;
    }
    // The corpus must reach the builders, not only the refusals.
    QVERIFY(valid >= 2);
}

QTEST_GUILESS_MAIN(tst_ConfigImage)
#include "tst_configimage.moc"
