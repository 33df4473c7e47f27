// The demo's pieces started as its main() starts them: the product's window must find the
// simulated adapter through the arrival path and the catalog on the demo's own server.
#include "demo/DemoCatalogServer.h"
#include "demo/SimulatedAdapterWindow.h"
#include "sim/SimBus.h"
#include "ui/FirmwareFileName.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QDir>
#include <QNetworkProxy>
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

QTEST_MAIN(tst_Demo)
#include "tst_demo.moc"
