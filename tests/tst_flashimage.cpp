// The programming images, byte for byte, without a device.
#include "device/FlashImage.h"
#include "device/FlashMap.h"

#include <QtTest>

using namespace FlashImages;

namespace {

QByteArray eraseList(const FlashImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.eraseList),
                      int(quint32(image.eraseCount)));
}

quint16 u16(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

quint32 u32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

// A configuration block whose every byte is 0x11, so that each patched byte stands out.
QByteArray markedBlock()
{
    return QByteArray(FlashMap::kConfigBlockSize, '\x11');
}

} // namespace

class tst_FlashImage : public QObject
{
    Q_OBJECT

private slots:
    void imageStartsEmpty();
    void segmentsAndCapacity();
    void versionBytes_data();
    void versionBytes();
    void applicationSectors_data();
    void applicationSectors();
    void migrations_data();
    void migrations();
    void stampedBlock();
    void updateImage_data();
    void updateImage();
    void factoryImage_data();
    void factoryImage();
};

void tst_FlashImage::imageStartsEmpty()
{
    auto image = makeImage();
    QCOMPARE(quint32(image->eraseCount), 0u);
    QCOMPARE(quint32(image->total), 0u);
    QCOMPARE(segmentCount(*image), 0);
    const auto *bytes = reinterpret_cast<const char *>(image.get());
    QCOMPARE(QByteArray(bytes, sizeof(FlashImage)).count('\0'), qsizetype(sizeof(FlashImage)));
}

void tst_FlashImage::segmentsAndCapacity()
{
    auto image = makeImage();
    for (int i = 0; i < 15; ++i)
        QVERIFY(appendErase(*image, quint8(i)));
    QVERIFY(!appendErase(*image, 1)); // the list holds 15 sectors

    QVERIFY(appendSegment(*image, 0x08004000, QByteArray(100, 'a')));
    // A segment may run on into the areas after its own, up to the total field.
    QVERIFY(appendSegment(*image, 0x08040000, QByteArray(14 * 0x20000, 'b')));
    QCOMPARE(segmentCount(*image), 2);
    QCOMPARE(quint32(image->total), 100u + 14 * 0x20000);
    QVERIFY(!appendSegment(*image, 0x08040000, QByteArray(13 * 0x20000 + 1, 'c')));

    auto full = makeImage();
    QVERIFY(!appendSegment(*full, 0x08040000, QByteArray(15 * 0x20000 + 1, 'x')));
    for (int i = 0; i < 15; ++i)
        QVERIFY(appendSegment(*full, 0x08004000 + quint32(i) * 64, QByteArray(64, char(i))));
    QVERIFY(!appendSegment(*full, 0x08004000, QByteArray(1, 'x')));
    QCOMPARE(segmentBytes(*full, 14), QByteArray(64, char(14)));
}

void tst_FlashImage::versionBytes_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << "5.6.1" << QByteArray("\x05\x06\x01", 3);
    QTest::newRow("beta patch") << "5.6.1-beta" << QByteArray("\x05\x06\x00", 3);
    QTest::newRow("low eight bits") << "5.6.300" << QByteArray("\x05\x06\x2C", 3);
    QTest::newRow("negative") << "5.-1.2" << QByteArray("\x05\x00\x02", 3);
}

void tst_FlashImage::versionBytes()
{
    QFETCH(QString, version);
    QFETCH(QByteArray, bytes);
    const VersionBytes result = FlashImages::versionBytes(version.split('.'));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(result.data()), 3), bytes);
}

void tst_FlashImage::applicationSectors_data()
{
    QTest::addColumn<bool>("v2");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("sectors");
    QTest::addColumn<bool>("fits");
    QTest::newRow("V1 small") << false << 1000 << QByteArray("\x05\x06") << true;
    QTest::newRow("V1 at capacity") << false << 0x40000 - 2 << QByteArray("\x05\x06") << true;
    QTest::newRow("V1 over capacity") << false << 0x40000 - 1 << QByteArray("\x05\x06") << false;
    QTest::newRow("V2 one sector") << true << 131069 << QByteArray("\x06") << true;
    QTest::newRow("V2 two sectors") << true << 131070 << QByteArray("\x06\x07") << true;
    QTest::newRow("V2 six sectors")
        << true << 0xC0000 - 2 << QByteArray("\x06\x07\x08\x09\x0A\x0B") << true;
    QTest::newRow("V2 over capacity")
        << true << 0xC0000 << QByteArray("\x06\x07\x08\x09\x0A\x0B") << false;
}

void tst_FlashImage::applicationSectors()
{
    QFETCH(bool, v2);
    QFETCH(int, size);
    QFETCH(QByteArray, sectors);
    QFETCH(bool, fits);
    const ConfigLayout layout = v2 ? ConfigLayout::V2 : ConfigLayout::V1;
    QByteArray result;
    for (const quint8 sector : FlashImages::applicationSectors(layout, size))
        result.append(char(sector));
    QCOMPARE(result, sectors);
    QCOMPARE(firmwareFits(layout, size), fits);
}

void tst_FlashImage::migrations_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("v2");
    QTest::addColumn<QString>("patches"); // which of the four steps apply
    QTest::newRow("4.9.9 V1") << "4.9.9" << false << "1234";
    QTest::newRow("4.9.9 V2") << "4.9.9" << true << "234";
    QTest::newRow("5.2.9 V1") << "5.2.9" << false << "124";
    QTest::newRow("5.2.14 V1") << "5.2.14" << false << "24";
    QTest::newRow("5.2.20 V1") << "5.2.20" << false << "24";
    QTest::newRow("5.2.44 V1") << "5.2.44" << false << "4";
    QTest::newRow("5.3.0 V1") << "5.3.0" << false << "";
    QTest::newRow("5.6.3 V2") << "5.6.3" << true << "";
}

void tst_FlashImage::migrations()
{
    QFETCH(QString, current);
    QFETCH(bool, v2);
    QFETCH(QString, patches);
    const QByteArray before = markedBlock();
    const QByteArray after =
        migrateConfigBlock(before, current.split('.'), v2 ? ConfigLayout::V2 : ConfigLayout::V1);
    QCOMPARE(after.size(), before.size());

    QByteArray expected = before;
    if (patches.contains('1'))
        expected.replace(292, 3, QByteArray(3, '\0'));
    if (patches.contains('2'))
        expected[127] = 0;
    if (patches.contains('3')) {
        expected[126] = char(0x10);
        expected[127] = 0;
        expected.replace(70, 10, QByteArray::fromHex("4512521251124f125012"));
        expected.replace(16158, 3, QByteArray("\x01\x00\x00", 3));
    }
    if (patches.contains('4')) {
        expected.replace(16157, 226, QByteArray(226, '\0'));
        expected[16157] = char(0x55);
        expected[16382] = char(0xAA);
        expected[16158] = 1;
    }
    QCOMPARE(after, expected);
}

void tst_FlashImage::stampedBlock()
{
    const QByteArray block = stampConfigBlock(markedBlock(), ConfigLayout::V2, 200000, {5, 6, 7});
    QCOMPARE(block.left(4), QByteArray("\x55\x05\x06\x07", 4));
    QCOMPARE(u32(block, 4), 0x08040000u);
    QCOMPARE(u32(block, 8), 200000u);
    QCOMPARE(u16(block, 64), quint16(0xAA55));
    QCOMPARE(quint8(block.at(16383)), quint8(0xAA));
    // The user's settings stay as they were.
    QCOMPARE(block.mid(66, 16383 - 66), markedBlock().mid(66, 16383 - 66));
    QCOMPARE(block.mid(12, 52), markedBlock().mid(12, 52));
}

void tst_FlashImage::updateImage_data()
{
    QTest::addColumn<bool>("v2");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("erase");
    QTest::newRow("V1") << false << 70000 << QByteArray("\x01\x05\x06");
    QTest::newRow("V2") << true << 200000 << QByteArray("\x01\x06\x07");
}

void tst_FlashImage::updateImage()
{
    QFETCH(bool, v2);
    QFETCH(int, size);
    QFETCH(QByteArray, erase);
    const ConfigLayout layout = v2 ? ConfigLayout::V2 : ConfigLayout::V1;
    QByteArray firmware(size, '\0');
    for (int i = 0; i < size; ++i)
        firmware[i] = char(i * 7);
    const QByteArray config = stampConfigBlock(markedBlock(), layout, quint32(size), {5, 6, 0});

    auto image = makeImage();
    buildUpdateImage(*image, config, firmware, layout);
    QCOMPARE(eraseList(*image), erase);
    QCOMPARE(segmentCount(*image), 2);
    QCOMPARE(quint32(image->segments[0].address), 0x08004000u);
    QCOMPARE(segmentBytes(*image, 0), config);
    QCOMPARE(quint32(image->segments[1].address), v2 ? 0x08040000u : 0x08020000u);
    QCOMPARE(segmentBytes(*image, 1), firmware + QByteArray("\x55\xAA", 2));
    QCOMPARE(quint32(image->total), quint32(16384 + size + 2));
}

void tst_FlashImage::factoryImage_data()
{
    QTest::addColumn<bool>("v2");
    QTest::newRow("V1") << false;
    QTest::newRow("V2") << true;
}

void tst_FlashImage::factoryImage()
{
    QFETCH(bool, v2);
    const ConfigLayout layout = v2 ? ConfigLayout::V2 : ConfigLayout::V1;
    const QByteArray firmware(1000, '\x42');
    auto image = makeImage();
    buildFactoryImage(*image, firmware, layout, {5, 5, 24});

    const QByteArray marker = v2 ? QByteArray("\xAA\x55", 2) : QByteArray("\x55\xAA", 2);
    QByteArray emptyA(66, '\0');
    emptyA[0] = 66;
    emptyA.replace(3, 6, QByteArray(6, char(0xFF)));
    emptyA.replace(64, 2, marker);
    QByteArray emptyB(66, '\0');
    emptyB[0] = 66;
    emptyB.replace(64, 2, marker);

    QByteArray config(16384, '\0');
    config.replace(0, 4, QByteArray("\x55\x05\x05\x18", 4));
    qToLittleEndian<quint32>(v2 ? 0x08040000 : 0x08020000, config.data() + 4);
    qToLittleEndian<quint32>(1000, config.data() + 8);
    config.replace(64, 2, QByteArray("\x55\xAA", 2));
    config.replace(70, 10, QByteArray::fromHex("4512521251124f125012"));
    config[126] = 0x10;
    config[16157] = 0x55;
    config[16158] = 1;
    config[16382] = char(0xAA);
    config[16383] = char(0xAA);

    QList<QPair<quint32, QByteArray>> expected = {
        {0x08004000, config}, {0x08008000, emptyA}, {0x08010000, emptyB}};
    if (v2)
        expected.append({0x08020000, emptyB});
    expected.append({v2 ? 0x08040000u : 0x08020000u, firmware + QByteArray("\x55\xAA", 2)});

    QCOMPARE(segmentCount(*image), int(expected.size()));
    quint32 total = 0;
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(quint32(image->segments[i].address), expected[i].first);
        QCOMPARE(segmentBytes(*image, i), expected[i].second);
        total += quint32(expected[i].second.size());
    }
    QCOMPARE(quint32(image->total), total);
    // V1: the application sectors 5 and 6; V2: the macro sector 5, then the application from 6.
    QCOMPARE(eraseList(*image), QByteArray("\x01\x02\x04\x05\x06", 5));
}

QTEST_GUILESS_MAIN(tst_FlashImage)
#include "tst_flashimage.moc"
