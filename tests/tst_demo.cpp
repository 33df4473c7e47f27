// The demo's pieces started as its main() starts them: the product's window must find the
// simulated adapter through the arrival path and the catalog on the demo's own server.
#include "demo/DemoCatalogServer.h"
#include "demo/SimulatedAdapterWindow.h"
#include "demo/WidgetDescriptionFile.h"
#include "sim/SimBus.h"
#include "ui/FirmwareFileName.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QNetworkProxy>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

namespace {
constexpr int kTimeoutMs = 20000;
}

class tst_Demo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowReachesConnectedPage();
    void adapterControls();
    void sampleFilesSuitTheFileFlow();
    void widgetDescription();
};

void tst_Demo::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool Demo"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void tst_Demo::init()
{
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
    sim::SimBus::instance().reset();
}

void tst_Demo::cleanup()
{
    sim::SimBus::instance().reset();
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
}

void tst_Demo::windowReachesConnectedPage()
{
    DemoCatalogServer server;
    QVERIFY(server.listen());
    SimulatedAdapterWindow adapterWindow;
    MainWindow window(nullptr, server.url());
    window.findChild<DeviceFlash *>()->addDeviceChangeSource(adapterWindow.deviceSource());
    window.show();
    adapterWindow.show();

    // Nothing on the bus until the arrival.
    QTest::qWait(200);
    auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QVERIFY(pages->currentWidget() !=
            window.findChild<QWidget *>(QStringLiteral("page_Connected")));

    adapterWindow.plugIn();
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentWidget(),
                              window.findChild<QWidget *>(QStringLiteral("page_Connected")),
                              kTimeoutMs);
    auto *versions = window.findChild<QComboBox *>(QStringLiteral("comboBox_Version"));
    QTRY_COMPARE_WITH_TIMEOUT(versions->count(), 3, kTimeoutMs);
    QStringList listed;
    for (int i = 0; i < versions->count(); ++i)
        listed << versions->itemText(i);
    QCOMPARE(listed, DemoCatalogServer::versions());

    adapterWindow.unplug();
    QTRY_VERIFY_WITH_TIMEOUT(pages->currentWidget() !=
                                 window.findChild<QWidget *>(QStringLiteral("page_Connected")),
                             kTimeoutMs);
}

void tst_Demo::adapterControls()
{
    SimulatedAdapterWindow adapterWindow;
    QVERIFY(adapterWindow.stateText().startsWith(QStringLiteral("unplugged")));
    QVERIFY(adapterWindow.stateText().contains(QStringLiteral("firmware 5.6.0 | layout V2")));
    QVERIFY(adapterWindow.stateText().contains(QStringLiteral("configuration intact")));

    adapterWindow.plugIn();
    QVERIFY(adapterWindow.isPlugged());
    QVERIFY(adapterWindow.stateText().startsWith(QStringLiteral("plugged in")));

    adapterWindow.provision(sim::Layout::V1);
    QVERIFY(adapterWindow.stateText().contains(QStringLiteral("firmware 5.4.2 | layout V1")));
    adapterWindow.breakConfiguration();
    QVERIFY(adapterWindow.stateText().contains(QStringLiteral("configuration damaged")));

    adapterWindow.unplug();
    QVERIFY(!adapterWindow.isPlugged());
}

void tst_Demo::sampleFilesSuitTheFileFlow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimulatedAdapterWindow adapterWindow;
    const QStringList written = adapterWindow.writeSampleFiles(dir.filePath(QStringLiteral("fw")));
    QCOMPARE(written.size(), 2);
    for (const QString &name : written) {
        const auto version = FirmwareFileName::versionFromPath(name);
        QVERIFY2(version && FirmwareFileName::isFlashableVersion(*version), qPrintable(name));
        QVERIFY(FirmwareFileName::isNewerVersion(QStringLiteral("5.6.0"), *version));
        QFileInfo file(dir.filePath(QStringLiteral("fw/") + name));
        QCOMPARE(file.size(), DemoCatalogServer::firmware(*version).size());
    }
}

void tst_Demo::widgetDescription()
{
    QWidget window;
    window.setObjectName(QStringLiteral("Top"));
    window.setWindowTitle(QStringLiteral("A\tB"));
    auto *button = new QPushButton(QStringLiteral("Go\\on\nnow"), &window);
    button->setObjectName(QStringLiteral("pushButton_Go"));
    button->setGeometry(10, 20, 30, 40);
    button->setEnabled(false);
    new QLabel(QStringLiteral("unnamed"), &window);
    auto *hidden = new QLabel(QStringLiteral("hidden"), &window);
    hidden->setObjectName(QStringLiteral("label_Hidden"));
    hidden->hide();
    // A dialog parented to the window is a window of its own; a popup without a name goes by
    // its class.
    auto *dialog = new QDialog(&window);
    dialog->setObjectName(QStringLiteral("Dialog"));
    auto *dialogLabel = new QLabel(QStringLiteral("in the dialog"), dialog);
    dialogLabel->setObjectName(QStringLiteral("label_InDialog"));
    QComboBox popup;
    popup.setWindowFlags(Qt::Popup);
    window.show();
    dialog->show();
    popup.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QPoint at = button->mapToGlobal(QPoint(0, 0));
    const QStringList lines = WidgetDescriptionFile::describe().split(u'\n', Qt::SkipEmptyParts);
    const QStringList expected = {
        QStringLiteral("Dialog\tDialog\tQDialog"),
        QStringLiteral("Dialog\tlabel_InDialog\tQLabel"),
        QStringLiteral("QComboBox\tQComboBox\tQComboBox"),
        QStringLiteral("Top\tTop\tQWidget"),
        QStringLiteral("Top\tpushButton_Go\tQPushButton"),
    };
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(expected.at(i)), qPrintable(lines.at(i)));
    QVERIFY(lines.at(3).endsWith(QStringLiteral("\t1\tA\\tB")));
    QCOMPARE(lines.at(4), QStringLiteral("Top\tpushButton_Go\tQPushButton\t%1\t%2\t30\t40\t0\t"
                                         "Go\\\\on\\nnow")
                              .arg(at.x())
                              .arg(at.y()));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("\tin the dialog")));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("widgets.txt"));
    WidgetDescriptionFile file(path);
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()), WidgetDescriptionFile::describe());
}

QTEST_MAIN(tst_Demo)
#include "tst_demo.moc"
