#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"
#include "ui_mainwindow.h"

#include "support/LogCapture.h"

#include <QFontDatabase>
#include <QImageReader>
#include <QMovie>
#include <QRawFont>
#include <QRegularExpression>
#include <QResource>
#include <QtTest>

namespace {
const char StyleSheetPath[] = ":/ui/style.qss";

QByteArray readResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString styleSheet()
{
    return QString::fromUtf8(readResource(StyleSheetPath));
}
} // namespace

// The compiled-in bundle: the style sheet, every picture it and the forms name, the spinner
// and the fonts the languages select.
class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void styleSheetStored();
    void styleSheetRuleOrder();
    void styleSheetAddressesExistingObjects();
    void styleSheetParsesCleanly();
    void referencedResourcesExist();
    void imageSizes_data();
    void imageSizes();
    void spinner();
    void fonts_data();
    void fonts();
};

void tst_Resources::styleSheetStored()
{
    QResource resource(StyleSheetPath);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::ZlibCompression);
    const QByteArray data = readResource(StyleSheetPath);
    QVERIFY(data.startsWith("\xEF\xBB\xBF"));
    // Valid UTF-8 all through: decoding (which drops the mark) and encoding again gives the
    // same bytes.
    QCOMPARE(QString::fromUtf8(data).toUtf8(), data.mid(3));
}

void tst_Resources::styleSheetRuleOrder()
{
    QStringList selectors;
    static const QRegularExpression rule(QStringLiteral("([^{}]+)\\{"));
    for (auto it = rule.globalMatch(styleSheet()); it.hasNext();) {
        // A rule that names several of the tool's parts is listed by the last of them.
        QString selector = it.next().captured(1).section(QLatin1Char(','), -1).trimmed();
        selector.remove(QChar(0xFEFF));
        // Hover, pressed and disabled variants only swap the picture or the colour; they follow
        // their base rule.
        if (!selector.endsWith(":hover") && !selector.endsWith(":pressed") &&
            !selector.endsWith(":disabled"))
            selectors << selector;
    }
    const QStringList expected{
        "SettingsDialog QPushButton",
        "QPushButton#pushButton_MsgOK",
        "QPushButton#pushButton_DataBackup",
        "QPushButton#pushButton_DataRestore",
        "QPushButton#pushButton_RestoreCopy",
        "QPushButton#pushButton_Update",
        "QPushButton#pushButton_Restore",
        "QPushButton#pushButton_MsgUpdate",
        "QPushButton#pushButton_MsgRestore",
        "SettingsDialog QToolButton",
        "QToolButton#toolButton_Network:enabled",
        "QToolButton#toolButton_Network:!enabled",
        "QToolButton#toolButton_Close",
        "QToolButton#toolButton_VersionInfo",
        "SettingsDialog QLabel",
        "QLabel#label_Title",
        "QLabel#label_Copyright",
        "QLabel#label_Version",
        "QLabel#label_CurrentVersion",
        "QLabel#label_PC",
        "QLabel#label_Product",
        "QLabel#label_Line",
        "QLabel#label_ProductConnected",
        "MessageDialog QTextBrowser",
        "SettingsDialog QProgressBar",
        "SettingsDialog QProgressBar::chunk",
        "SettingsDialog QComboBox",
        "QComboBox#comboBox_Version",
        "QComboBox#comboBox_Languages",
        "SettingsDialog QComboBox QAbstractItemView",
        "SettingsDialog QComboBox QAbstractItemView::item",
        "SettingsDialog QComboBox QAbstractItemView::item:selected",
        "SettingsDialog QComboBox QAbstractScrollArea QScrollBar:vertical",
        "SettingsDialog QComboBox QAbstractScrollArea QScrollBar::handle:vertical",
        "SettingsDialog QComboBox::drop-down",
        "SettingsDialog QComboBox::down-arrow",
        "QFrame#frame_Header",
        "SettingsDialog",
        "MessageDialog",
        "SettingsDialog QToolTip",
    };
    QCOMPARE(selectors, expected);
}

void tst_Resources::styleSheetAddressesExistingObjects()
{
    QWidget window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    auto *message = new MessageDialog(&window);
    auto *settings = new SettingsDialog(&window);
    Q_UNUSED(message)
    Q_UNUSED(settings)

    static const QRegularExpression selector(QStringLiteral("(\\w+)#(\\w+)"));
    int checked = 0;
    for (auto it = selector.globalMatch(styleSheet()); it.hasNext(); ++checked) {
        const auto match = it.next();
        const QString className = match.captured(1);
        const QString name = match.captured(2);
        const auto widgets = window.findChildren<QWidget *>(name);
        QVERIFY2(!widgets.isEmpty(), qPrintable(name));
        for (QWidget *widget : widgets)
            QVERIFY2(widget->inherits(className.toLatin1().constData()), qPrintable(name));
    }
    QVERIFY(checked > 20);
}

void tst_Resources::styleSheetParsesCleanly()
{
    LogCapture log;
    QWidget window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    new MessageDialog(&window);
    new SettingsDialog(&window);
    window.setStyleSheet(styleSheet());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (QWidget *page : {ui.page_Start, ui.page_Unconnected, ui.page_Connected}) {
        ui.stackedWidget->setCurrentWidget(page);
        window.grab();
    }
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains("stylesheet", Qt::CaseInsensitive), qPrintable(line));
}

void tst_Resources::referencedResourcesExist()
{
    QStringList paths;
    static const QRegularExpression url(QStringLiteral("url\\((:[^)]+)\\)"));
    for (auto it = url.globalMatch(styleSheet()); it.hasNext();)
        paths << it.next().captured(1);
    // What the form and the window controller name directly.
    paths << ":/images/K1/finger.png"
          << ":/images/K1/threedots.png"
          << ":/images/K1/settings.png"
          << ":/images/K2/beijing.png"
          << ":/images/loading.gif";
    for (const QString &path : paths)
        QVERIFY2(QFile::exists(path), qPrintable(path));
}

void tst_Resources::imageSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("twice");
    auto add = [](const QString &path, QSize size, bool twice = true) {
        QTest::newRow(qPrintable(path)) << path << size << twice;
    };
    // Pictures drawn far larger than shown (the spinner, the finger, the dots and the gear) come
    // without a 2x version; Qt picks name@2x.png on a screen scaled to 200 %.
    add(":/images/loading.gif", QSize(512, 512), false);
    add(":/images/K2/beijing.png", QSize(474, 664));
    add(":/images/K2/fuwuqi.png", QSize(150, 150));
    add(":/images/K2/chanpin.png", QSize(162, 164));
    add(":/images/K2/lianjiexian.png", QSize(136, 77));
    add(":/images/K1/finger.png", QSize(148, 181), false);
    add(":/images/K1/beijing.png", QSize(500, 310));
    for (const char *name :
         {"UF-normal", "UF-hover", "UF-anxia", "RD-normal", "RD-hover", "RD-anxia"})
        add(QStringLiteral(":/images/K1/%1.png").arg(name), QSize(401, 72));
    for (const char *name : {"wangluo", "duanwang", "guanb-anxia", "guanbi-hover", "guanbi-noamal",
                             "jingshi-normal", "jingshi-hover", "jingshi-anxia", "xiala"})
        add(QStringLiteral(":/images/K1/%1.png").arg(name), QSize(26, 26));
    add(":/images/K1/threedots.png", QSize(200, 200), false);
    add(":/images/K1/settings.png", QSize(200, 200), false);
    for (const char *name : {"button-normal", "button-hover", "button-press"})
        add(QStringLiteral(":/images/K3/%1.png").arg(name), QSize(200, 30));
}

void tst_Resources::imageSizes()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QImageReader reader(path);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QFETCH(bool, twice);
    if (twice)
        QCOMPARE(QImageReader(QString(path).replace(".png", "@2x.png")).size(), size * 2);
}

void tst_Resources::spinner()
{
    QMovie movie(":/images/loading.gif");
    QVERIFY(movie.isValid());
    QCOMPARE(movie.frameCount(), 60);
    QImageReader reader(":/images/loading.gif");
    QCOMPARE(reader.imageCount(), 60);
    for (int frame = 0; frame < 60; ++frame) {
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), QSize(512, 512));
        QCOMPARE(reader.nextImageDelay(), 30);
    }
    // A bundle that stays small: the spinner is the biggest picture.
    QVERIFY(QFileInfo(":/images/loading.gif").size() < 150 * 1024);
}

void tst_Resources::fonts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("sample");
    QTest::newRow("Chinese") << ":/fonts/cn-msyh.ttf"
                             << "DengXian"
                             << "中文 固件更新成功！";
    QTest::newRow("English") << ":/fonts/en-micross.ttf"
                             << "Microsoft Sans Serif"
                             << "Update Firmware русский Français";
    QTest::newRow("Japanese") << ":/fonts/jp-msgothic.ttf"
                              << "Kochi Gothic"
                              << "日本語 ファームウェアを更新";
    QTest::newRow("Russian") << ":/fonts/ru-consola.ttf"
                             << "Consolas"
                             << "русский 5.6.1";
    QTest::newRow("French") << ":/fonts/arbutusslab-regular.ttf"
                            << "Arbutus Slab"
                            << "Français œuvre à jour";
    QTest::newRow("icons") << ":/fonts/FontAwesome.otf"
                           << "FontAwesome" << QString(QChar(0xF013));
}

void tst_Resources::fonts()
{
    QFETCH(QString, path);
    QFETCH(QString, family);
    QFETCH(QString, sample);
    const int id = QFontDatabase::addApplicationFont(path);
    QVERIFY2(id >= 0, qPrintable(path));
    QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{family});
    const QRawFont raw(readResource(path), 12);
    QVERIFY(raw.isValid());
    for (const QChar character : sample) {
        if (character.isSpace())
            continue;
        QVERIFY2(raw.supportsCharacter(character), qPrintable(QString(character)));
    }
}

QTEST_MAIN(tst_Resources)
#include "tst_resources.moc"
