// The main window end to end: the real device link on the simulated adapter, the real catalog
// on a loopback HTTP server, and the window's own widgets and dialogs.
#include "app/ApplicationFonts.h"
#include "cloud/CatalogRules.h"
#include "device/DeviceChangeSource.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"
#include "ui/BackupFile.h"
#include "ui/DiagnosticsBundle.h"
#include "ui/MainWindow.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkProxy>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolButton>
#include <QWindow>
#include <QtTest>

#include <cerrno>
#include <memory>

using Mode = HttpTestServer::Mode;
using Route = HttpTestServer::Route;
using sim::SimBus;

namespace {

const QString kCatalog = QStringLiteral("/download/halvernapp.json");
const QString kAdapterName =
    QStringLiteral(R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2-901F-00C04FB951ED})");
constexpr int kTimeoutMs = 20000;

class TestSource : public DeviceChangeSource
{
public:
    void send(DeviceChange::Event event)
    {
        DeviceChange change;
        change.event = event;
        change.type = DeviceChange::Type::Interface;
        change.name = kAdapterName;
        emit deviceChanged(change);
    }
};

struct DialogCall
{
    MainWindow::FileDialogKind kind;
    QString caption;
    QString folder;
    QString filter;
};

// A text as the window shows it: through the catalog installed for the current language.
QString shown(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

QString versionLine(const QString &version)
{
    return shown("Current Firmware Version") + QStringLiteral(" | ") + version;
}

QString dataPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString settingsPath()
{
    return dataPath() + QStringLiteral("/halvernflashtool.ini");
}

sim::FirmwareSetup adapterAt(quint8 major, quint8 minor, quint8 patch)
{
    sim::FirmwareSetup setup;
    setup.major = major;
    setup.minor = minor;
    setup.patch = patch;
    setup.dataA = QByteArray(200, 'A');
    setup.dataB = QByteArray(300, 'B');
    return setup;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void adapterBeforeCatalog();
    void noAdapter();
    void unplugClosesDialogs();
    void unplugDuringOperation_data();
    void unplugDuringOperation();
    void progressBar_data();
    void progressBar();

    void catalogOperation_data();
    void catalogOperation();
    void catalogDownloadFails();
    void fileOperation_data();
    void fileOperation();
    void fileRefused_data();
    void fileRefused();
    void emptyFirmwareFileLeavesControlsUsable();
    void secondOperationRefusedWhileBusy();
    void layoutChange_data();
    void layoutChange();

    void deviceErrors_data();
    void deviceErrors();
    void hardwareFailureCloses_data();
    void hardwareFailureCloses();
    void closeDuringWrite_data();
    void closeDuringWrite();
    void closeDuringDownload();
    void syncErrors_data();
    void syncErrors();
    void firstRunErrorClosesOnOk();
    void changeLog_data();
    void changeLog();
    void compareVersionSlot();

    void languages();
    void languageFont_data();
    void languageFont();
    void unknownStoredLanguage();
    void versionChangeRebuildsLabels();

    void saveBackup_data();
    void saveBackup();
    void saveBackupCancelled();
    void saveBackupUnwritable_data();
    void saveBackupUnwritable();
    void restoreRefused_data();
    void restoreRefused();
    void restoreVersionRule_data();
    void restoreVersionRule();
    void backupRoundTrip();
    void bootMode();
    void recoveryAfterCutUpdate();
    void copyNotWritableChangesNothing();
    void settingsRestoresKeptCopy();
    void openBlockerShown();
    void saveDiagnostics();

private:
    // info: each version's change log, %1 its version
    void serveCatalog(const QStringList &versions, Mode catalogMode = Mode::Body,
                      const QString &info = QStringLiteral("Fixes;More fixes for %1"));
    QByteArray firmware(const QString &version) const;
    void makeWindow(bool waitForCatalog = true);
    void waitConnected();
    template<typename T>
    T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }
    MessageDialog *messages() const;
    QString messageTitle() const;
    QString messageText() const;
    bool messageShown(const QString &title, const QString &text) const;
    void dismissMessage() const;
    QString writeFirmwareFile(const QString &name, const QString &version);
    // Answers every question the window asks in a dialog of its own, while the timer lives.
    std::unique_ptr<QTimer> answerQuestions(bool accept, QStringList *asked);

    std::unique_ptr<HttpTestServer> m_server;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QTemporaryDir> m_dir;
    DeviceFlash *m_device = nullptr;
    SyncCloud *m_cloud = nullptr;
    SettingsDialog *m_settings = nullptr;
    TestSource *m_source = nullptr;
    QStringList m_fileAnswers;
    QList<DialogCall> m_dialogCalls;
};

void tst_MainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(loadApplicationFonts(applicationFontPaths()) > 0);
}

void tst_MainWindow::init()
{
    QVERIFY(dataPath().contains(QStringLiteral(".qttest")));
    QDir(dataPath()).removeRecursively();
    SimBus::instance().reset();
    m_server = std::make_unique<HttpTestServer>();
    QVERIFY(m_server->listen());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_fileAnswers.clear();
    m_dialogCalls.clear();
    serveCatalog({QStringLiteral("5.7.0"), QStringLiteral("5.6.2")});
}

void tst_MainWindow::cleanup()
{
    m_window.reset();
    m_device = nullptr;
    m_cloud = nullptr;
    m_settings = nullptr;
    m_source = nullptr;
    m_server.reset();
    SimBus::instance().reset();
    QDir(dataPath()).removeRecursively();
}

QByteArray tst_MainWindow::firmware(const QString &version) const
{
    return sim::applicationImage(4096, qHash(version));
}

void tst_MainWindow::serveCatalog(const QStringList &versions, Mode catalogMode,
                                  const QString &info)
{
    QJsonArray list;
    for (const QString &version : versions) {
        const QString path = QStringLiteral("/fw/%1.bin").arg(version);
        const QByteArray bytes = firmware(version);
        m_server->setRoute(path, Route{200, bytes, Mode::Body});
        list.append(QJsonObject{{"version", version},
                                {"download", m_server->url(path).toString()},
                                {"checksum", CatalogRules::md5Hex(bytes)},
                                {"info", info.arg(version)}});
    }
    const QJsonObject download{{"flashTool", QJsonObject{{"version", "2.3.4"}}},
                               {"firmware", list}};
    m_server->setRoute(
        kCatalog,
        Route{200, QJsonDocument(QJsonObject{{"download", download}}).toJson(), catalogMode});
}

void tst_MainWindow::makeWindow(bool waitForCatalog)
{
    m_window = std::make_unique<MainWindow>(nullptr, m_server->url());
    m_window->setFileDialog([this](MainWindow::FileDialogKind kind, const QString &caption,
                                   const QString &folder, const QString &filter) {
        m_dialogCalls.append(DialogCall{kind, caption, folder, filter});
        return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
    });
    m_device = m_window->findChild<DeviceFlash *>();
    m_cloud = m_window->findChild<SyncCloud *>();
    m_settings = m_window->findChild<SettingsDialog *>();
    m_source = new TestSource;
    m_source->setParent(m_window.get());
    m_device->addDeviceChangeSource(m_source);
    m_window->show();
    // The adapter may well be connected first: the catalog's end is what the tests wait for.
    if (waitForCatalog)
        QTRY_VERIFY_WITH_TIMEOUT(widget<QToolButton>("toolButton_Network")->isEnabled(),
                                 kTimeoutMs);
}

void tst_MainWindow::waitConnected()
{
    QTRY_COMPARE_WITH_TIMEOUT(widget<QStackedWidget>("stackedWidget")->currentWidget(),
                              widget<QWidget>("page_Connected"), kTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!m_device->isBusy(), kTimeoutMs);
}

MessageDialog *tst_MainWindow::messages() const
{
    return m_window->findChildren<MessageDialog *>(Qt::FindDirectChildrenOnly).value(0);
}

QString tst_MainWindow::messageTitle() const
{
    return messages()->findChild<QLabel *>(QStringLiteral("label_Title"))->text();
}

// As plain text gives it: no-break spaces read as spaces.
QString tst_MainWindow::messageText() const
{
    return messages()->findChild<QTextBrowser *>(QStringLiteral("textBrowser"))->toPlainText();
}

// Title and text are source texts, compared as the current catalog shows them.
bool tst_MainWindow::messageShown(const QString &title, const QString &text) const
{
    return messages()->isVisible() && messageTitle() == shown(title.toUtf8().constData()) &&
           messageText() == shown(text.toUtf8().constData()).replace(QChar::Nbsp, ' ');
}

// A visible message keeps its place until the dialog's next tick: tests start each step with
// the dialog closed so the next message shows at once.
void tst_MainWindow::dismissMessage() const
{
    messages()->hide();
}

std::unique_ptr<QTimer> tst_MainWindow::answerQuestions(bool accept, QStringList *asked)
{
    auto timer = std::make_unique<QTimer>();
    connect(timer.get(), &QTimer::timeout, this, [this, accept, asked] {
        const auto dialogs = m_window->findChildren<MessageDialog *>(Qt::FindDirectChildrenOnly);
        if (dialogs.size() != 2 || !dialogs[1]->isVisible())
            return;
        *asked << dialogs[1]->findChild<QTextBrowser *>("textBrowser")->toPlainText();
        dialogs[1]
            ->findChild<QAbstractButton *>(accept ? "pushButton_MsgOK" : "toolButton_Close")
            ->click();
    });
    timer->start(10);
    return timer;
}

QString tst_MainWindow::writeFirmwareFile(const QString &name, const QString &version)
{
    const QString path = m_dir->filePath(name);
    return writeFile(path, firmware(version)) ? path : QString();
}

// ---- pages and enabling ---------------------------------------------------------------------

void tst_MainWindow::adapterBeforeCatalog()
{
    // A catalog that takes a while: the adapter is there long before it ends.
    m_server->setTrickleInterval(2);
    serveCatalog({QStringLiteral("5.7.0")}, Mode::Trickle);
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow(false);
    auto *pages = widget<QStackedWidget>("stackedWidget");
    QCOMPARE(pages->currentWidget(), widget<QWidget>("page_Start"));
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentWidget(), widget<QWidget>("page_Connected"),
                              kTimeoutMs);
    QVERIFY(!m_cloud->isSynced());
    QTRY_VERIFY_WITH_TIMEOUT(m_cloud->isSynced(), kTimeoutMs);
    QTRY_VERIFY(widget<QToolButton>("toolButton_Network")->isEnabled());
    QCOMPARE(pages->currentWidget(), widget<QWidget>("page_Connected"));
    QVERIFY(widget<QToolButton>("toolButton_Settings")->isEnabled());
    QCOMPARE(widget<QLabel>("label_CurrentVersion")->text(), versionLine(QStringLiteral("5.6.0")));
    QCOMPARE(widget<QLabel>("label_ProductConnected")->text(),
             shown("SN: %1").arg("4d37 2d53 494d 2d30 3030 3031"));
    QCOMPARE(widget<QLabel>("label_Title")->text(),
             QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
}

void tst_MainWindow::noAdapter()
{
    makeWindow();
    QCOMPARE(widget<QStackedWidget>("stackedWidget")->currentWidget(),
             widget<QWidget>("page_Unconnected"));
    QVERIFY(widget<QToolButton>("toolButton_Network")->isEnabled());
    QVERIFY(!widget<QToolButton>("toolButton_Settings")->isEnabled());
    QVERIFY(widget<QProgressBar>("progressBar")->isHidden());
    QCOMPARE(widget<QComboBox>("comboBox_Version")->count(), 2);
    QCOMPARE(widget<QComboBox>("comboBox_Version")->currentText(), QStringLiteral("5.7.0"));
}

void tst_MainWindow::unplugClosesDialogs()
{
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    widget<QToolButton>("toolButton_Settings")->click();
    QVERIFY(m_settings->isVisible());
    m_window->showMessage(QStringLiteral("Title"), QStringLiteral("Text"));
    QVERIFY(messages()->isVisible());

    SimBus::instance().unplug(adapter);
    m_source->send(DeviceChange::Event::RemoveComplete);
    QTRY_COMPARE(widget<QStackedWidget>("stackedWidget")->currentWidget(),
                 widget<QWidget>("page_Unconnected"));
    QVERIFY(!m_settings->isVisible());
    QVERIFY(!messages()->isVisible());
    QVERIFY(!widget<QToolButton>("toolButton_Settings")->isEnabled());

    // Plugged in again: back on the connected page with everything usable.
    SimBus::instance().plug(adapter);
    m_source->send(DeviceChange::Event::Arrival);
    waitConnected();
    QVERIFY(widget<QToolButton>("toolButton_Settings")->isEnabled());
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
}

void tst_MainWindow::unplugDuringOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("update") << "update";
    QTest::newRow("backup") << "backup";
    QTest::newRow("restore") << "restore";
}

// Pulled out in the middle of a long operation: it ends by itself with busy cleared, the window
// shows the unconnected page, and once plugged in again a factory restore makes the adapter
// whole, whatever the interrupted write left behind.
void tst_MainWindow::unplugDuringOperation()
{
    QFETCH(QString, operation);
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QString backup = m_dir->filePath(QStringLiteral("adapter.bkp"));
    QVERIFY(writeFile(backup,
                      BackupFile::encode(adapter->peek(0x08004000, int(BackupFile::kImageSizeV2)),
                                         m_device->serialNumber())));
    adapter->setReportDelay(std::chrono::microseconds(300));
    const int before = adapter->exchangeCount();
    if (operation == "update") {
        widget<QPushButton>("pushButton_Update")->click();
    } else {
        m_fileAnswers << backup;
        widget<QToolButton>("toolButton_Settings")->click();
        m_settings
            ->findChild<QPushButton *>(operation == "backup" ? "pushButton_DataBackup"
                                                             : "pushButton_DataRestore")
            ->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(adapter->exchangeCount() > before + 100, kTimeoutMs);
    QVERIFY(m_device->isBusy());
    SimBus::instance().unplug(adapter);
    m_source->send(DeviceChange::Event::RemoveComplete);
    QTRY_VERIFY_WITH_TIMEOUT(!m_device->isBusy(), kTimeoutMs);
    QTRY_COMPARE(widget<QStackedWidget>("stackedWidget")->currentWidget(),
                 widget<QWidget>("page_Unconnected"));
    QVERIFY(!m_device->isConnected());

    adapter->setReportDelay(std::chrono::microseconds(0));
    QStringList asked; // the offer of the copy taken before the cut: declined here
    const auto answerer = answerQuestions(false, &asked);
    SimBus::instance().plug(adapter);
    m_source->send(DeviceChange::Event::Arrival);
    waitConnected();
    QTest::qWait(100);
    dismissMessage();
    widget<QComboBox>("comboBox_Version")->setCurrentIndex(0);
    widget<QPushButton>("pushButton_Restore")->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "Restored successfully!"),
                             kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());

    // A fresh session reads the restored adapter without a single complaint.
    DeviceFlash fresh;
    QSignalSpy errors(&fresh, &DeviceFlash::error);
    QSignalSpy busy(&fresh, &DeviceFlash::isBusyChanged);
    fresh.connected();
    QTRY_COMPARE_WITH_TIMEOUT(busy.size(), 2, kTimeoutMs);
    QVERIFY(fresh.isConnected());
    QCOMPARE(errors.size(), 0);
    QCOMPARE(fresh.version(), QStringLiteral("5.7.0"));
}

void tst_MainWindow::progressBar_data()
{
    QTest::addColumn<QList<qlonglong>>("calls"); // pairs of current and total
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("maximum");

    QTest::newRow("running") << QList<qlonglong>{3, 10} << true << 3 << 10;
    QTest::newRow("complete") << QList<qlonglong>{3, 10, 5, 5} << false << 3 << 5;
    QTest::newRow("nothing") << QList<qlonglong>{0, 0} << false << 0 << 0;
    QTest::newRow("new total") << QList<qlonglong>{3, 10, 7, 20} << true << 7 << 20;
}

void tst_MainWindow::progressBar()
{
    QFETCH(QList<qlonglong>, calls);
    QFETCH(bool, visible);
    QFETCH(int, value);
    QFETCH(int, maximum);

    makeWindow();
    auto *bar = widget<QProgressBar>("progressBar");
    bar->setValue(0);
    for (int i = 0; i + 1 < calls.size(); i += 2) {
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "onProgressChanged",
                                          Q_ARG(qlonglong, calls[i]),
                                          Q_ARG(qlonglong, calls[i + 1])));
    }
    QCOMPARE(!bar->isHidden(), visible);
    QCOMPARE(bar->maximum(), maximum);
    if (visible)
        QCOMPARE(bar->value(), value);
}

// ---- update and restore ---------------------------------------------------------------------

void tst_MainWindow::catalogOperation_data()
{
    QTest::addColumn<bool>("update");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("success");
    QTest::addColumn<int>("language"); // chosen while the adapter is written; -1 none
    QTest::newRow("update") << true << 0 << "5.7.0"
                            << "Update successfully!" << -1;
    QTest::newRow("restore") << false << 1 << "5.6.2"
                             << "Restored successfully!" << -1;
    QTest::newRow("update, French meanwhile") << true << 0 << "5.7.0"
                                              << "Update successfully!" << 4;
    QTest::newRow("restore, Russian meanwhile") << false << 1 << "5.6.2"
                                                << "Restored successfully!" << 3;
}

void tst_MainWindow::catalogOperation()
{
    QFETCH(bool, update);
    QFETCH(int, index);
    QFETCH(QString, version);
    QFETCH(QString, success);
    QFETCH(int, language);

    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    widget<QComboBox>("comboBox_Version")->setCurrentIndex(index);
    // The line of the running operation, kept as it is whatever the language becomes.
    const QString running =
        (update ? shown("Update Firmware") : shown("Restore Defaults")) + QStringLiteral("...");

    // Connected after the window, so each record sees the state the window has just set.
    struct State
    {
        qlonglong current, total;
        bool controls, settings;
        QString label;
    };
    QList<State> flash;
    QList<int> downloadMaxima;
    QObject observer;
    auto *updateButton = widget<QPushButton>("pushButton_Update");
    const auto controls = [this, updateButton] {
        return updateButton->isEnabled() &&
               widget<QPushButton>("pushButton_Restore")->isEnabled() &&
               widget<QComboBox>("comboBox_Version")->isEnabled();
    };
    connect(
        m_device, &DeviceFlash::write2FlashProgressChanged, &observer,
        [&](qlonglong current, qlonglong total) {
            flash.append(State{current, total, controls(),
                               widget<QToolButton>("toolButton_Settings")->isEnabled(),
                               widget<QLabel>("label_CurrentVersion")->text()});
            if (language >= 0)
                widget<QComboBox>("comboBox_Languages")->setCurrentIndex(language);
        },
        Qt::QueuedConnection);
    connect(
        m_cloud, &SyncCloud::downloadFirmwareProgress, &observer,
        [&](qint64, qint64) {
            downloadMaxima.append(widget<QProgressBar>("progressBar")->maximum());
        },
        Qt::QueuedConnection);

    (update ? updateButton : widget<QPushButton>("pushButton_Restore"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", success), kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLabel>("label_CurrentVersion")->text(), versionLine(version),
                              kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());

    QCOMPARE(m_server->requestCount(QStringLiteral("/fw/%1.bin").arg(version)), 1);
    QVERIFY(!downloadMaxima.isEmpty());
    QCOMPARE(downloadMaxima.last(), int(firmware(version).size()));
    QVERIFY(flash.size() > 10);
    for (int i = 0; i + 1 < flash.size(); ++i) {
        QVERIFY2(!flash[i].controls && !flash[i].settings, qPrintable(QString::number(i)));
        QCOMPARE(flash[i].label, running);
    }
    QCOMPARE(flash.last().current, flash.last().total);
    QVERIFY(flash.last().controls && flash.last().settings);
    QVERIFY(widget<QProgressBar>("progressBar")->isHidden());
    QCOMPARE(m_device->version(), version);
    // The adapter really holds the new application.
    QCOMPARE(adapter->peek(sim::applicationAddress(sim::Layout::V2), 4096), firmware(version));
}

void tst_MainWindow::catalogDownloadFails()
{
    plugAdapter(adapterAt(5, 6, 0));
    serveCatalog({QStringLiteral("5.7.0")});
    // The file is served with other bytes than the catalog's checksum names.
    m_server->setRoute(QStringLiteral("/fw/5.7.0.bin"),
                       Route{200, QByteArray(8000, 'x'), Mode::Body});
    makeWindow();
    waitConnected();
    widget<QPushButton>("pushButton_Update")->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("Waring", "The firmware downloaded and checksum error."),
                             kTimeoutMs);
    // Nothing started, and the controls the download disabled are usable again.
    QTRY_VERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
    QVERIFY(widget<QPushButton>("pushButton_Restore")->isEnabled());
    QVERIFY(widget<QComboBox>("comboBox_Version")->isEnabled());
    QCOMPARE(widget<QLabel>("label_CurrentVersion")->text(), versionLine(QStringLiteral("5.6.0")));
    QVERIFY(!m_device->isBusy());
}

void tst_MainWindow::fileOperation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("update");
    QTest::addColumn<QString>("success");

    QTest::newRow("update") << "FirmwareV5.7.1.hfw"
                            << "5.7.1" << true << "Update successfully!";
    QTest::newRow("restore") << "FirmwareV5.6.3.hfw"
                             << "5.6.3" << false << "Restored successfully!";
    QTest::newRow("spaces") << "firmware v5.7.2 .BIN"
                            << "5.7.2" << true << "Update successfully!";
}

void tst_MainWindow::fileOperation()
{
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(bool, update);
    QFETCH(QString, success);

    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QString path = writeFirmwareFile(name, version);
    m_fileAnswers << path;
    // Without a download folder the dialog starts at home, not with its name as the file name.
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QDir().rmdir(downloads);
    widget<QToolButton>("toolButton_OpenFile")->click();

    QCOMPARE(m_dialogCalls.size(), 1);
    QCOMPARE(m_dialogCalls[0].kind, MainWindow::FileDialogKind::Open);
    QCOMPARE(m_dialogCalls[0].caption, shown("Open Firmware"));
    QCOMPARE(m_dialogCalls[0].filter, shown("Firmware Files (*.bin *.hfw)"));
    QCOMPARE(m_dialogCalls[0].folder, QDir::homePath());
    QVERIFY(messages()->isVisible());
    QCOMPARE(messageText(), shown("Version: %1").arg(version) + '\n' +
                                shown("Firmware: %1").arg(QFileInfo(path).fileName()));
    QCOMPARE(messages()->findChild<QTextBrowser *>()->toolTip(), QDir::toNativeSeparators(path));
    auto *button = messages()->findChild<QPushButton *>(update ? "pushButton_MsgUpdate"
                                                               : "pushButton_MsgRestore");
    QVERIFY(button->isVisible());
    button->click();
    QCOMPARE(widget<QLabel>("label_CurrentVersion")->text(),
             (update ? shown("Update Firmware") : shown("Restore Defaults")) + QLatin1Char(' ') +
                 version + QStringLiteral("..."));
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", success), kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLabel>("label_CurrentVersion")->text(), versionLine(version),
                              kTimeoutMs);
}

void tst_MainWindow::fileRefused_data()
{
    QTest::addColumn<QString>("name"); // empty: the dialog is cancelled
    QTest::newRow("cancelled") << "";
    QTest::newRow("cache name") << "Firmware_V5.6.1.hfw";
    QTest::newRow("two parts") << "firmwarev5.6.bin";
    QTest::newRow("four parts") << "firmwarev5.6.1.2.bin";
}

void tst_MainWindow::fileRefused()
{
    QFETCH(QString, name);
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    adapter->clearCommands();
    m_fileAnswers << (name.isEmpty() ? QString() : writeFirmwareFile(name, "5.7.0"));
    widget<QToolButton>("toolButton_OpenFile")->click();
    QVERIFY(messageShown("Waring", "Empty file or wrong version!"));
    QVERIFY(!messages()->findChild<QPushButton *>("pushButton_MsgUpdate")->isVisible());
    QTest::qWait(50);
    QVERIFY(!m_device->isBusy());
    QVERIFY(adapter->commands().isEmpty());
    QVERIFY(widget<QProgressBar>("progressBar")->isHidden());
}

void tst_MainWindow::emptyFirmwareFileLeavesControlsUsable()
{
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QString path = m_dir->filePath(QStringLiteral("FirmwareV5.7.0.bin"));
    QVERIFY(writeFile(path, QByteArray()));
    m_fileAnswers << path;
    widget<QToolButton>("toolButton_OpenFile")->click();
    messages()->findChild<QPushButton *>("pushButton_MsgUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("Error", "Firmware data empty!"), kTimeoutMs);
    QVERIFY(widget<QProgressBar>("progressBar")->isHidden());
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
    QVERIFY(widget<QPushButton>("pushButton_Restore")->isEnabled());
    QVERIFY(widget<QToolButton>("toolButton_Settings")->isEnabled());
    QTRY_COMPARE(widget<QLabel>("label_CurrentVersion")->text(),
                 versionLine(QStringLiteral("5.6.0")));
}

void tst_MainWindow::secondOperationRefusedWhileBusy()
{
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    adapter->clearCommands();
    adapter->setReportDelay(std::chrono::microseconds(2000));
    const QString path = writeFirmwareFile(QStringLiteral("FirmwareV5.7.1.bin"), "5.7.1");
    m_fileAnswers << path << path;
    widget<QToolButton>("toolButton_OpenFile")->click();
    messages()->findChild<QPushButton *>("pushButton_MsgUpdate")->click();

    // At once, before the task has even set the busy flag.
    widget<QToolButton>("toolButton_OpenFile")->click();
    messages()->findChild<QPushButton *>("pushButton_MsgRestore")->click();
    QTRY_VERIFY(messageShown("Waring", "HalVern M7 is busy, please wait."));
    dismissMessage();

    QTRY_VERIFY(m_device->isBusy());
    emit m_settings->dataRestore();
    QTRY_VERIFY(messageShown("Waring", "HalVern M7 is busy, please wait."));
    QCOMPARE(m_dialogCalls.size(), 2); // the restore asked for no file
    dismissMessage();
    QSignalSpy backups(m_device, &DeviceFlash::dataBackupProgressChanged);
    emit m_settings->dataBackup();
    QTRY_VERIFY(messageShown("Waring", "HalVern M7 is busy, please wait."));
    dismissMessage();

    adapter->setReportDelay(std::chrono::microseconds(0));
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "Update successfully!"),
                             kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());
    int erases = 0;
    for (const sim::ReceivedCommand &command : adapter->commands())
        erases += command.code == sim::SimAdapter::kCommandErase ? 1 : 0;
    QCOMPARE(erases, 1);
    QCOMPARE(backups.size(), 0);
}

void tst_MainWindow::layoutChange_data()
{
    QTest::addColumn<bool>("fromV2"); // the adapter runs 5.6.0 (V2 layout) or 5.4.2 (V1)
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("byFile");
    QTest::addColumn<QString>("question"); // empty: none is asked
    QTest::addColumn<bool>("accept");

    const QString down = QStringLiteral(
        "This firmware uses the older flash layout: the adapter is reset to factory defaults and "
        "cannot take your macros. A copy of your settings is kept for a newer firmware. "
        "Continue?");
    const QString up = QStringLiteral(
        "This firmware uses the newer flash layout: the adapter is reset to factory defaults, "
        "then your settings are brought back from a copy. Continue?");
    QTest::newRow("down by file, accepted") << true << "5.4.3" << true << down << true;
    QTest::newRow("down by catalog, refused") << true << "5.4.3" << false << down << false;
    QTest::newRow("up by catalog, accepted") << false << "5.7.0" << false << up << true;
    QTest::newRow("up by file, refused") << false << "5.7.0" << true << up << false;
    QTest::newRow("same, V2") << true << "5.7.0" << false << QString() << true;
    QTest::newRow("same, V1") << false << "5.4.3" << true << QString() << true;
}

// An update across the 5.5.0 layout boundary loses data on the adapter: the user is asked
// first, and a refusal leaves the adapter untouched and the window usable.
void tst_MainWindow::layoutChange()
{
    QFETCH(bool, fromV2);
    QFETCH(QString, target);
    QFETCH(bool, byFile);
    QFETCH(QString, question);
    QFETCH(bool, accept);

    sim::FirmwareSetup setup = fromV2 ? adapterAt(5, 6, 0) : adapterAt(5, 4, 2);
    setup.layout = fromV2 ? sim::Layout::V2 : sim::Layout::V1;
    auto adapter = plugAdapter(setup);
    serveCatalog({target});
    makeWindow();
    waitConnected();
    dismissMessage();
    const QString before = m_device->version();
    adapter->clearCommands();

    QStringList asked;
    const auto answerer = answerQuestions(accept, &asked);
    if (byFile) {
        m_fileAnswers << writeFirmwareFile("FirmwareV" + target + ".bin", target);
        widget<QToolButton>("toolButton_OpenFile")->click();
        messages()->findChild<QPushButton *>("pushButton_MsgUpdate")->click();
    } else {
        widget<QPushButton>("pushButton_Update")->click();
    }

    if (question.isEmpty() || accept) {
        // Across the layout the result says what became of the settings.
        QString result = shown("Update successfully!");
        if (!question.isEmpty())
            result += '\n' + shown(fromV2 ? "The adapter has factory settings; a copy of yours "
                                            "is kept."
                                          : "Your settings were kept.");
        QTRY_COMPARE_WITH_TIMEOUT(messages()->isVisible() ? messageText() : QString(), result,
                                  kTimeoutMs);
        QTRY_VERIFY(!m_device->isBusy());
        QCOMPARE(m_device->version(), target);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!asked.isEmpty(), kTimeoutMs);
        QTest::qWait(50);
        QVERIFY(adapter->commands().isEmpty());
        QVERIFY(widget<QProgressBar>("progressBar")->isHidden());
        QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
        QVERIFY(widget<QComboBox>("comboBox_Version")->isEnabled());
        QVERIFY(widget<QToolButton>("toolButton_Settings")->isEnabled());
        QCOMPARE(widget<QLabel>("label_CurrentVersion")->text(), versionLine(before));
    }
    QCOMPARE(asked, question.isEmpty() ? QStringList() : QStringList{shown(qPrintable(question))});
}

// ---- errors and closing ---------------------------------------------------------------------

void tst_MainWindow::deviceErrors_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::newRow("data empty") << 0 << "Firmware data empty!";
    QTest::newRow("erase") << 1 << "Erase flash failure!";
    QTest::newRow("firmware lost") << 3 << "Firmware lost! Please update firmware!";
    QTest::newRow("configuration lost") << 4 << "Configuration lost! Please restore defaults!";
    QTest::newRow("too large") << 5 << "Firmware file too large! Please choose another firmware.";
    QTest::newRow("write") << 6 << "Write flash failure! Please try again.";
    QTest::newRow("backup invalid") << 7 << "Invalid backup file! Please choose another backup.";
    QTest::newRow("backup read") << 8 << "Backup read failure! Please try again.";
    QTest::newRow("restore unsupported")
        << 9 << "Data restore needs firmware 5.5.0 or newer! Please update firmware.";
    QTest::newRow("adapter unread")
        << 10 << "The adapter could not be read completely! Please plug it in again.";
}

void tst_MainWindow::deviceErrors()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    m_settings->setProgress(3, 10);
    m_settings->setEnabled(false);
    widget<QPushButton>("pushButton_Update")->setEnabled(false);
    emit m_device->error(DeviceFlash::DeviceError(error));
    QTRY_VERIFY(messageShown("Error", text));
    QVERIFY(m_settings->findChild<QProgressBar *>()->isHidden());
    QVERIFY(widget<QProgressBar>("progressBar")->isHidden());
    // The adapter is still there: what a failed flow disabled is usable again.
    QVERIFY(m_settings->isEnabled());
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());

    // Connection 24 is made once however often the catalog ends: one error, one message.
    dismissMessage();
    emit m_cloud->syncFinshed();
    QTest::qWait(20);
    int shown = 0;
    connect(messages()->findChild<QTextBrowser *>("textBrowser"), &QTextBrowser::textChanged, this,
            [&shown] { ++shown; });
    emit m_device->error(DeviceFlash::DeviceError(error));
    QTRY_VERIFY(messageShown("Error", text));
    QTest::qWait(20);
    QCOMPARE(shown, 1);
}

void tst_MainWindow::hardwareFailureCloses_data()
{
    QTest::addColumn<bool>("busy");
    QTest::newRow("idle") << false;
    QTest::newRow("during a write") << true;
}

void tst_MainWindow::hardwareFailureCloses()
{
    QFETCH(bool, busy);
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    if (busy) {
        adapter->setReportDelay(std::chrono::microseconds(1500));
        m_fileAnswers << writeFirmwareFile(QStringLiteral("FirmwareV5.7.1.bin"), "5.7.1");
        widget<QToolButton>("toolButton_OpenFile")->click();
        messages()->findChild<QPushButton *>("pushButton_MsgUpdate")->click();
        QTRY_VERIFY(m_device->isBusy());
    }
    QPointer<MessageDialog> temporary;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, this, [&] {
        const auto dialogs = m_window->findChildren<MessageDialog *>(Qt::FindDirectChildrenOnly);
        if (dialogs.size() == 2 && dialogs[1]->isVisible()) {
            temporary = dialogs[1];
            QCOMPARE(temporary->findChild<QLabel *>("label_Title")->text(), shown("Error"));
            QCOMPARE(temporary->findChild<QTextBrowser *>("textBrowser")->toPlainText(),
                     shown("Hardware failure!"));
            QVERIFY(m_window->isVisible()); // not before the user has seen it
            temporary->findChild<QPushButton *>("pushButton_MsgOK")->click();
            clicker.stop();
        }
    });
    clicker.start(20);
    emit m_device->error(DeviceFlash::DeviceError_HardwareFailure);
    QTRY_VERIFY_WITH_TIMEOUT(!clicker.isActive(), kTimeoutMs);
    if (busy) {
        // Acknowledged, but the write still runs: the window waits for it.
        QTest::qWait(100);
        QVERIFY(m_window->isVisible());
        QVERIFY(m_device->isBusy());
        adapter->setReportDelay(std::chrono::microseconds(0));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), kTimeoutMs);
    QVERIFY(!m_device->isBusy());
    QTRY_VERIFY(temporary.isNull()); // the temporary dialog is gone again
    if (!busy)
        QVERIFY(!messages()->isVisible()); // and the shared one was not used
}

void tst_MainWindow::closeDuringWrite_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close button") << "button";
    QTest::newRow("close()") << "close";
    QTest::newRow("window system") << "window";
}

// However the window is asked to close, the write runs to its end first; a second request
// changes nothing.
void tst_MainWindow::closeDuringWrite()
{
    QFETCH(QString, how);
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    LogCapture log;
    adapter->setReportDelay(std::chrono::microseconds(1500));
    m_fileAnswers << writeFirmwareFile(QStringLiteral("FirmwareV5.7.1.bin"), "5.7.1");
    widget<QToolButton>("toolButton_OpenFile")->click();
    messages()->findChild<QPushButton *>("pushButton_MsgUpdate")->click();
    QTRY_VERIFY(m_device->isBusy());

    auto *close = widget<QToolButton>("toolButton_Close");
    for (int request = 0; request < 2; ++request) {
        if (how == "button")
            close->click();
        else if (how == "close")
            m_window->close();
        else
            m_window->windowHandle()->close();
    }
    QVERIFY(m_window->isVisible());
    QVERIFY(!close->isEnabled());
    QTest::qWait(100);
    QVERIFY(m_window->isVisible());
    QVERIFY(!log.contains(QStringLiteral("safe close...")));
    adapter->setReportDelay(std::chrono::microseconds(0));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), kTimeoutMs);
    QVERIFY(!m_device->isBusy());
    QCOMPARE(log.count(QStringLiteral("safe close...")), 1);
    QCOMPARE(m_device->version(), QStringLiteral("5.7.1")); // the write was not cut short
    QCOMPARE(adapter->peek(sim::applicationAddress(sim::Layout::V2), 4096), firmware("5.7.1"));
}

void tst_MainWindow::closeDuringDownload()
{
    plugAdapter(adapterAt(5, 6, 0));
    serveCatalog({QStringLiteral("5.7.0")});
    m_server->setRoute(QStringLiteral("/fw/5.7.0.bin"),
                       Route{200, firmware("5.7.0"), Mode::Trickle});
    makeWindow();
    waitConnected();

    // The product ends with its last window; a watchdog keeps a fault from hanging the suite.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, widget<QPushButton>("pushButton_Update"), &QPushButton::click);
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (widget<QLabel>("label_CurrentVersion")->text() == shown("Firmware downloading...")) {
            closer.stop();
            widget<QToolButton>("toolButton_Close")->click();
        }
    });
    closer.start(10);
    QTimer::singleShot(kTimeoutMs, qApp, [] { QCoreApplication::exit(1); });
    const int result = QCoreApplication::exec();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QCOMPARE(result, 0);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_device->isBusy());
    m_window.reset();
    QTest::qWait(100); // the dropped download must not call back into anything
}

void tst_MainWindow::syncErrors_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("first run") << 0 << "Error"
                               << "When you first install HalVern Firmware Tool must connect "
                                  "network, and restart HalVern Firmware Tool.";
    QTest::newRow("local cache") << 1 << "Waring"
                                 << "Connect server error, will only use local cache firmware.";
    QTest::newRow("information") << 2 << "Waring"
                                 << "The information of server error, contact HalVern for help.";
    QTest::newRow("download") << 3 << "Waring"
                              << "The firmware downloaded and checksum error.";
    QTest::newRow("checksum") << 4 << ""
                              << "";
    QTest::newRow("network") << 5 << "Waring"
                             << "The network error, checking connect and retry.";
}

void tst_MainWindow::syncErrors()
{
    QFETCH(int, error);
    QFETCH(QString, title);
    QFETCH(QString, text);

    // The catalog never answers, so the window is still on its start page.
    m_server->setRoute(kCatalog, Route{200, QByteArray(), Mode::Stall});
    makeWindow(false);
    auto *pages = widget<QStackedWidget>("stackedWidget");
    QCOMPARE(pages->currentWidget(), widget<QWidget>("page_Start"));
    LogCapture log;
    widget<QLabel>("label_Title")->clear();
    emit m_cloud->syncError(SyncCloud::SyncError(error));
    QTRY_COMPARE(pages->currentWidget(), widget<QWidget>("page_Unconnected"));
    QCOMPARE(widget<QLabel>("label_Title")->text(),
             QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
    QVERIFY(log.contains(QStringLiteral("SyncCloud::error")));
    QVERIFY(log.lines()
                .filter(QString::fromLatin1(
                    QMetaEnum::fromType<SyncCloud::SyncError>().valueToKey(error)))
                .size() == 1);
    if (title.isEmpty())
        QVERIFY(!messages()->isVisible());
    else
        QVERIFY(messageShown(title, text));
}

void tst_MainWindow::firstRunErrorClosesOnOk()
{
    makeWindow();
    dismissMessage();
    emit m_cloud->syncError(SyncCloud::SyncError_FirstRunError);
    QTRY_VERIFY(messages()->isVisible());
    // Device errors are no longer reported: the user is only told to restart.
    emit m_device->error(DeviceFlash::DeviceError_FirmwareLost);
    QTest::qWait(50);
    QCOMPARE(messageText(), shown("When you first install HalVern Firmware Tool must connect "
                                  "network, and restart HalVern Firmware Tool."));
    // A second report of the same error adds no second close request.
    emit m_cloud->syncError(SyncCloud::SyncError_FirstRunError);
    QTest::qWait(20);
    LogCapture log;
    messages()->findChild<QPushButton *>("pushButton_MsgOK")->click();
    // Not before the connection task (still retrying to open an adapter) is done.
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), kTimeoutMs);
    QVERIFY(!m_device->isBusy());
}

void tst_MainWindow::changeLog_data()
{
    QTest::addColumn<QString>("info");
    QTest::addColumn<QString>("text");
    QTest::newRow("entries") << "Fixes;More fixes for %1"
                             << "- Fixes\n- More fixes for 5.6.2";
    QTest::newRow("empty entries") << ";Fixes; ;"
                                   << "- Fixes";
    // The server's text is data: markup shows as it comes and no link is made.
    QTest::newRow("markup") << "<b>Faster</b>;<a href=\"http://example.com\">notes</a><br>"
                            << "- <b>Faster</b>\n- <a href=\"http://example.com\">notes</a><br>";
}

void tst_MainWindow::changeLog()
{
    QFETCH(QString, info);
    QFETCH(QString, text);
    serveCatalog({QStringLiteral("5.7.0"), QStringLiteral("5.6.2")}, Mode::Body, info);
    makeWindow();
    dismissMessage();
    widget<QComboBox>("comboBox_Version")->setCurrentIndex(1);
    widget<QToolButton>("toolButton_VersionInfo")->click();
    QVERIFY(messages()->isVisible());
    QCOMPARE(messageTitle(), shown("Version Change LOG"));
    QCOMPARE(messageText(), shown("Version: %1").arg("5.6.2") + '\n' + text);
    const QTextDocument *document = messages()->findChild<QTextBrowser *>()->document();
    QVERIFY(!document->toHtml().contains(QStringLiteral("<a href")));
}

void tst_MainWindow::compareVersionSlot()
{
    makeWindow();
    bool newer = false;
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "compareVersion", Q_RETURN_ARG(bool, newer),
                                      Q_ARG(QString, "V5.5.0"), Q_ARG(QString, "5.6.1")));
    QVERIFY(newer);
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "compareVersion", Q_RETURN_ARG(bool, newer),
                                      Q_ARG(QString, "5.6.1"), Q_ARG(QString, "5.6")));
    QVERIFY(!newer);
}

// ---- languages ------------------------------------------------------------------------------

void tst_MainWindow::languages()
{
    makeWindow();
    auto *combo = widget<QComboBox>("comboBox_Languages");
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(QApplication::font().family(), QStringLiteral("Microsoft Sans Serif"));
    combo->setCurrentIndex(3);
    QCOMPARE(QApplication::font().family(), QStringLiteral("Consolas"));
    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat).value("CurrentLanguage").toInt(), 3);
    QCOMPARE(combo->currentIndex(), 3);
    // Re-translated at once, texts built in code included.
    QCOMPARE(widget<QPushButton>("pushButton_Update")->text(),
             QString::fromUtf8("Обновить прошивку"));
    QCOMPARE(combo->itemText(3), QString::fromUtf8("русский"));
    QVERIFY(widget<QLabel>("label_CurrentVersion")
                ->text()
                .startsWith(shown("Current Firmware Version")));
    QVERIFY(shown("Current Firmware Version") != QStringLiteral("Current Firmware Version"));

    // A new start comes up in the stored language.
    m_window.reset();
    makeWindow();
    QCOMPARE(widget<QComboBox>("comboBox_Languages")->currentIndex(), 3);
    QCOMPARE(QApplication::font().family(), QStringLiteral("Consolas"));

    // Back in English, the English catalog's wording shows, not the source text.
    widget<QComboBox>("comboBox_Languages")->setCurrentIndex(0);
    dismissMessage();
    emit m_cloud->syncError(SyncCloud::SyncError_NetworkError);
    QTRY_VERIFY(messages()->isVisible());
    QCOMPARE(messageTitle(), QStringLiteral("Warning"));
    QCOMPARE(messageText(), QStringLiteral("fail to connect to cloud servers"));
}

void tst_MainWindow::languageFont_data()
{
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<QString>("family");
    QTest::newRow("French") << QList<int>{4} << "Arbutus Slab";
    QTest::newRow("Russian") << QList<int>{3} << "Consolas";
    QTest::newRow("back to English") << QList<int>{4, 0} << "Microsoft Sans Serif";
}

// Style sheet rules size these widgets' fonts; the family must follow the language all the same.
void tst_MainWindow::languageFont()
{
    QFETCH(QList<int>, choices);
    QFETCH(QString, family);
    makeWindow();
    for (int index : choices)
        widget<QComboBox>("comboBox_Languages")->setCurrentIndex(index);
    const QList<QWidget *> widgets{widget<QLabel>("label_Title"), widget<QLabel>("label_Info"),
                                   widget<QPushButton>("pushButton_Update"),
                                   widget<QComboBox>("comboBox_Languages"),
                                   messages()->findChild<QPushButton *>("pushButton_MsgOK")};
    for (QWidget *shown : widgets)
        QVERIFY2(QFontInfo(shown->font()).family() == family,
                 qPrintable(shown->objectName() + ": " + QFontInfo(shown->font()).family()));
}

void tst_MainWindow::unknownStoredLanguage()
{
    QDir().mkpath(dataPath());
    QSettings(settingsPath(), QSettings::IniFormat).setValue("CurrentLanguage", 9);
    makeWindow();
    QCOMPARE(widget<QComboBox>("comboBox_Languages")->currentIndex(), -1);
    QCOMPARE(QApplication::font().family(), QStringLiteral("Microsoft Sans Serif"));
    // Setting the combo box from the stored value never stores a value itself.
    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat).value("CurrentLanguage").toInt(), 9);
}

void tst_MainWindow::versionChangeRebuildsLabels()
{
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    widget<QLabel>("label_Title")->clear();
    widget<QLabel>("label_CurrentVersion")->clear();
    emit m_device->versionChanged(QStringLiteral("ignored"));
    QTRY_COMPARE(widget<QLabel>("label_CurrentVersion")->text(),
                 versionLine(QStringLiteral("5.6.0")));
    QCOMPARE(widget<QLabel>("label_Title")->text(),
             QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
}

// ---- backup files ---------------------------------------------------------------------------

void tst_MainWindow::saveBackup_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<qsizetype>("fileSize");
    QTest::addColumn<QString>("answer"); // the name given in the save dialog
    QTest::addColumn<QString>("written");
    QTest::newRow("V2") << BackupFile::kImageSizeV2 << qsizetype(245776) << "adapter.bkp"
                        << "adapter.bkp";
    QTest::newRow("V1") << BackupFile::kImageSizeV1 << qsizetype(114704) << "adapter.BKP"
                        << "adapter.BKP";
    QTest::newRow("no suffix") << BackupFile::kImageSizeV2 << qsizetype(245776) << "mybackup"
                               << "mybackup.bkp";
    QTest::newRow("dotted folder")
        << BackupFile::kImageSizeV2 << qsizetype(245776) << "my.folder/mybackup"
        << "my.folder/mybackup.bkp";
    QTest::newRow("other suffix") << BackupFile::kImageSizeV2 << qsizetype(245776) << "mybackup.old"
                                  << "mybackup.old";
}

void tst_MainWindow::saveBackup()
{
    QFETCH(qsizetype, size);
    QFETCH(qsizetype, fileSize);
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("my.folder")));
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    m_settings->show();

    // The device's buffer, as the backup task leaves it.
    QByteArray buffer(246784, '\0');
    for (qsizetype i = 0; i < size; ++i)
        buffer[i] = char(i * 7 + 3);
    const QByteArray image = buffer.first(size);
    emit m_device->dataBackupProgressChanged(52, size, buffer.data());
    QTRY_VERIFY(!m_settings->isEnabled());

    m_fileAnswers << m_dir->filePath(answer);
    emit m_device->dataBackupProgressChanged(size, size, buffer.data());
    QTRY_VERIFY(messageShown("HalVern Firmware Tool", "successfully!"));
    QCOMPARE(m_dialogCalls.size(), 1);
    QCOMPARE(m_dialogCalls[0].kind, MainWindow::FileDialogKind::Save);
    QCOMPARE(m_dialogCalls[0].caption, shown("save backup"));
    QCOMPARE(m_dialogCalls[0].filter, QStringLiteral("backup Files (*.bkp)"));
    QVERIFY(m_settings->isEnabled());
    QVERIFY(!m_settings->isVisible());

    const QByteArray file = readFile(m_dir->filePath(written));
    QCOMPARE(file.size(), fileSize);
    QCOMPARE(QFile::exists(m_dir->filePath(answer)), answer == written);
    const BackupFile::Contents contents = BackupFile::decode(file, m_device->serialNumber());
    QCOMPARE(contents.check, BackupFile::Check::Valid);
    QCOMPARE(contents.content.first(size), image);
}

void tst_MainWindow::saveBackupCancelled()
{
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    QByteArray buffer(246784, 'x');
    emit m_device->dataBackupProgressChanged(52, 1000, buffer.data());
    QTRY_VERIFY(!m_settings->isEnabled());
    emit m_device->dataBackupProgressChanged(1000, 1000, buffer.data());
    QTRY_VERIFY(m_settings->isEnabled());
    QCOMPARE(m_dialogCalls.size(), 1);
    QVERIFY(!messages()->isVisible());
    QCOMPARE(buffer, QByteArray(246784, 'x')); // the device's buffer is left as it was
}

void tst_MainWindow::saveBackupUnwritable_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("missing folder") << false;
    QTest::newRow("read-only folder") << true;
}

void tst_MainWindow::saveBackupUnwritable()
{
    QFETCH(bool, readOnlyFolder);
    QString path = m_dir->filePath(QStringLiteral("missing/adapter.bkp"));
    const QByteArray previous("an earlier backup");
    if (readOnlyFolder) {
        const QString folder = m_dir->filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(folder));
        path = folder + QStringLiteral("/adapter.bkp");
        QVERIFY(writeFile(path, previous));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QFile probe(folder + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
            QSKIP("the folder stays writable for this user");
        }
    }
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    QByteArray buffer(246784, 'x');
    m_fileAnswers << path;
    emit m_device->dataBackupProgressChanged(BackupFile::kImageSizeV2, BackupFile::kImageSizeV2,
                                             buffer.data());
    QTRY_VERIFY(messages()->isVisible());
    QCOMPARE(messageTitle(), shown("Error"));
    QCOMPARE(messageText(), QStringLiteral("The backup file could not be written: %1").arg(path));
    QVERIFY(m_settings->isEnabled());
    if (readOnlyFolder) {
        QCOMPARE(readFile(path), previous);
        QFile::setPermissions(QFileInfo(path).path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
    } else {
        QVERIFY(!QFile::exists(path));
    }
}

void tst_MainWindow::restoreRefused_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("other adapter") << "other";
    QTest::newRow("changed byte") << "changed";
    QTest::newRow("cut last byte") << "cut";
    QTest::newRow("10 bytes") << "short";
    QTest::newRow("other image size") << "size";
}

void tst_MainWindow::restoreRefused()
{
    QFETCH(QString, damage);
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QByteArray serial = m_device->serialNumber();
    QByteArray image(BackupFile::kImageSizeV2, 'c');
    image[1] = 5;
    image[2] = 6;
    image[3] = 0;
    QByteArray file = BackupFile::encode(image, serial);
    if (damage == "other")
        file = BackupFile::encode(image, QByteArray("000000000000000000000001"));
    else if (damage == "changed")
        file[200000] = char(file.at(200000) ^ 0x40);
    else if (damage == "cut")
        file.chop(1);
    else if (damage == "short")
        file = QByteArray(10, 'z');
    else if (damage == "size")
        file = BackupFile::encode(image.first(4096), serial);
    const QString path = m_dir->filePath(QStringLiteral("damaged.bkp"));
    QVERIFY(writeFile(path, file));

    widget<QToolButton>("toolButton_Settings")->click();
    m_fileAnswers << path;
    adapter->clearCommands();
    m_settings->findChild<QPushButton *>("pushButton_DataRestore")->click();
    QCOMPARE(m_dialogCalls.size(), 1);
    QCOMPARE(m_dialogCalls[0].caption, shown("restore"));
    QCOMPARE(m_dialogCalls[0].filter, QStringLiteral("backup Files (*.bkp)"));
    QVERIFY(messageShown("HalVern Firmware Tool", "Corrupted file/Unauthorized !"));
    QVERIFY(!m_settings->isVisible());
    QTest::qWait(20);
    QVERIFY(!m_device->isBusy());
    QVERIFY(adapter->commands().isEmpty());
}

void tst_MainWindow::restoreVersionRule_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<bool>("refused");
    QTest::newRow("onto 5.5.9") << 5 << 9 << true;
    QTest::newRow("onto 5.6.0") << 6 << 0 << false;
    QTest::newRow("onto 5.7.0") << 7 << 0 << false;
}

void tst_MainWindow::restoreVersionRule()
{
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(bool, refused);
    plugAdapter(adapterAt(5, quint8(minor), quint8(patch)));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QByteArray image = sim::configImage(adapterAt(5, 6, 1));
    QCOMPARE(image.size(), BackupFile::kImageSizeV2);
    const QString path = m_dir->filePath(QStringLiteral("adapter.bkp"));
    QVERIFY(writeFile(path, BackupFile::encode(image, m_device->serialNumber())));
    m_fileAnswers << path;
    LogCapture log;
    emit m_settings->dataRestore();
    QVERIFY(log.contains(QStringLiteral("dataRestore \"5.6.1\"")));
    if (refused)
        QVERIFY(messages()->isVisible() && messageTitle() == shown("HalVern Firmware Tool") &&
                messageText() == shown("Firmware Update Required") + "( >= 5.6.1) !");
    else
        QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "successfully!"),
                                 kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());
    QCOMPARE(m_device->isConnected(), true);
}

void tst_MainWindow::backupRoundTrip()
{
    sim::FirmwareSetup setup = adapterAt(5, 6, 0);
    setup.macros = QByteArray(300, 'M');
    auto adapter = plugAdapter(setup);
    makeWindow();
    waitConnected();
    dismissMessage();
    const QByteArray before = adapter->peek(0x08004000, int(BackupFile::kImageSizeV2));

    const QString path = m_dir->filePath(QStringLiteral("adapter.bkp"));
    m_fileAnswers << path << path;
    widget<QToolButton>("toolButton_Settings")->click();
    m_settings->findChild<QPushButton *>("pushButton_DataBackup")->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "successfully!"), kTimeoutMs);
    QVERIFY(!m_settings->isVisible());
    const QByteArray file = readFile(path);
    QCOMPARE(file.size(), qsizetype(245776));
    QCOMPARE(BackupFile::decode(file, m_device->serialNumber()).content.first(before.size()),
             before);

    // The adapter's configuration changes; the backup brings it back.
    sim::FirmwareSetup changed = setup;
    changed.dataA = QByteArray(900, 'Z');
    changed.macros = QByteArray(40, 'N');
    sim::provision(*adapter, changed);
    QVERIFY(adapter->peek(0x08004000, int(BackupFile::kImageSizeV2)) != before);
    QTRY_VERIFY(!m_device->isBusy());
    dismissMessage();
    widget<QToolButton>("toolButton_Settings")->click();
    m_settings->findChild<QPushButton *>("pushButton_DataRestore")->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "successfully!"), kTimeoutMs);
    QVERIFY(!m_settings->isVisible());
    QTRY_VERIFY(!m_device->isBusy());
    QCOMPARE(adapter->peek(0x08004000, int(BackupFile::kImageSizeV2)).toHex(), before.toHex());

    // Another adapter cannot read it.
    SimBus::instance().unplug(adapter);
    m_source->send(DeviceChange::Event::RemoveComplete);
    QTRY_COMPARE(widget<QStackedWidget>("stackedWidget")->currentWidget(),
                 widget<QWidget>("page_Unconnected"));
    auto other = plugAdapter(setup, 0xB372, "M7-SIM-00002");
    m_source->send(DeviceChange::Event::Arrival);
    waitConnected();
    dismissMessage();
    other->clearCommands();
    m_fileAnswers << path;
    emit m_settings->dataRestore();
    QVERIFY(messageShown("HalVern Firmware Tool", "Corrupted file/Unauthorized !"));
    QVERIFY(other->commands().isEmpty());
}

void tst_MainWindow::bootMode()
{
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    widget<QToolButton>("toolButton_Settings")->click();
    auto *combo = m_settings->findChild<QComboBox *>(QStringLiteral("comboBox"));
    QVERIFY(combo->isVisible());
    QCOMPARE(combo->currentIndex(), 0);
    LogCapture log;
    combo->setCurrentIndex(2);
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "successfully!"), kTimeoutMs);
    // A settings write leaves the dialog open and usable.
    QVERIFY(m_settings->isVisible());
    QVERIFY(m_settings->isEnabled());
    QVERIFY(log.contains(QStringLiteral("bootModeChanged 2")));
    QCOMPARE(quint8(adapter->peek(0x08004000 + 130, 1).at(0)), quint8(2));
}

// ---- safety copies --------------------------------------------------------------------------

// An update cut after its erase: plugged in again, the adapter has lost its firmware and its
// block; the user is offered the copy the update took, and ends with their own settings.
void tst_MainWindow::recoveryAfterCutUpdate()
{
    serveCatalog({QStringLiteral("5.7.0"), QStringLiteral("5.6.0")});
    sim::FirmwareSetup setup = adapterAt(5, 6, 0);
    setup.applicationSize = 4096;
    setup.applicationSeed = qHash(QStringLiteral("5.6.0"));
    auto adapter = plugAdapter(setup);
    makeWindow();
    waitConnected();
    dismissMessage();
    const QByteArray before = adapter->peek(0x08004000, 0x3C000);
    adapter->armFault(sim::Fault::Unplug, 40);
    widget<QPushButton>("pushButton_Update")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_device->isBusy() && !adapter->isPlugged(), kTimeoutMs);
    m_source->send(DeviceChange::Event::RemoveComplete);
    QVERIFY(adapter->peek(0x08004000, 16384) != before.left(16384));

    QStringList asked;
    const auto answerer = answerQuestions(true, &asked);
    SimBus::instance().plug(adapter);
    m_source->send(DeviceChange::Event::Arrival);
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "Restored successfully!"),
                             kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].startsWith(shown("Firmware lost! Please update firmware!")));
    QCOMPARE(adapter->peek(0x08004000, 0x3C000), before);
    QCOMPARE(m_device->version(), QString("5.6.0"));
}

// With nowhere to keep the copy, nothing is erased.
void tst_MainWindow::copyNotWritableChangesNothing()
{
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    QVERIFY(QDir().mkpath(dataPath()));
    QVERIFY(writeFile(dataPath() + QStringLiteral("/safety-copies"), "not a folder"));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QByteArray before = adapter->peek(0x08000000, 0x100000);
    widget<QPushButton>("pushButton_Update")->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("Error", "No copy of the settings could be kept, so "
                                                   "nothing was changed! Please try again."),
                             kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());
    QCOMPARE(adapter->peek(0x08000000, 0x100000), before);
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
}

// The settings dialog lists the copies and puts a chosen one back: here the block a boot-mode
// change replaced, so the old mode returns.
void tst_MainWindow::settingsRestoresKeptCopy()
{
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    widget<QToolButton>("toolButton_Settings")->click();
    auto *copies = m_settings->findChild<QComboBox *>(QStringLiteral("comboBox_SafetyCopies"));
    QVERIFY(!copies->isVisible());
    m_settings->findChild<QComboBox *>(QStringLiteral("comboBox"))->setCurrentIndex(2);
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "successfully!"), kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());
    // The window hears of the idle adapter through a queued signal; until then it refuses.
    QTest::qWait(200);
    dismissMessage();
    m_settings->hide();
    widget<QToolButton>("toolButton_Settings")->click();
    QCOMPARE(copies->count(), 1);
    QVERIFY(copies->itemText(0).endsWith(QStringLiteral("5.6.0")));
    m_settings->findChild<QPushButton *>(QStringLiteral("pushButton_RestoreCopy"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(messageShown("HalVern Firmware Tool", "successfully!"), kTimeoutMs);
    QTRY_VERIFY(!m_device->isBusy());
    QCOMPARE(quint8(adapter->peek(0x08004000 + 130, 1).at(0)), quint8(0));
    QCOMPARE(m_device->bootMode(), 0);
}

// ---- why no adapter, and what to send when something failed -------------------------------

void tst_MainWindow::openBlockerShown()
{
    auto adapter = plugAdapter(adapterAt(5, 6, 0));
    adapter->setOpenError(EACCES);
    makeWindow();
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLabel>("label_Blocker")->text(),
                              shown("The adapter is attached, but this user may not open it. "
                                    "Install the tool's package (or its udev rule), then plug "
                                    "the adapter in again."),
                              kTimeoutMs);
    // Allowed and plugged in again: the page says nothing more, the adapter connects.
    adapter->setOpenError(0);
    m_source->send(DeviceChange::Event::Arrival);
    waitConnected();
    QCOMPARE(widget<QLabel>("label_Blocker")->text(), QString());
}

void tst_MainWindow::saveDiagnostics()
{
    plugAdapter(adapterAt(5, 6, 0));
    makeWindow();
    waitConnected();
    dismissMessage();
    const QString path = m_dir->filePath(QStringLiteral("diagnostics.txt"));
    m_fileAnswers << path;
    QStringList asked;
    const auto answerer = answerQuestions(true, &asked);
    widget<QToolButton>("toolButton_Settings")->click();
    m_settings->findChild<QPushButton *>(QStringLiteral("pushButton_Diagnostics"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, kTimeoutMs); // what the file holds is said first
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), kTimeoutMs);
    const QByteArray text = readFile(path);
    QVERIFY(text.contains("serial: " + m_device->serialNumber()));
    QVERIFY(text.contains("firmware: 5.6.0"));
    const QList<Transcript::Record> exchanges = DiagnosticsBundle::exchangesOf(text);
    QCOMPARE(exchanges.value(0).operation, QString("connection"));
    QVERIFY(exchanges.value(0).frames.size() > 600);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
