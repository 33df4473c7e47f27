// The main window end to end: the real device link on the simulated adapter, the real catalog
// on a loopback HTTP server, and the window's own widgets and dialogs.
#include "app/ApplicationFonts.h"
#include "cloud/CatalogRules.h"
#include "demo/DemoCatalogServer.h"
#include "demo/SimulatedAdapterWindow.h"
#include "device/DeviceChangeSource.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"
#include "support/SimFixture.h"
#include "ui/BackupFile.h"
#include "ui/DiagnosticsBundle.h"
#include "ui/MainWindow.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkProxy>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QWindow>
#include <QtTest>

#include <cerrno>
#include <cstring>

using Mode = HttpTestServer::Mode;
using Event = DeviceChange::Event;
using us = std::chrono::microseconds;

#define WAIT(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 20000)
#define WAIT_MSG(title, text) QTRY_COMPARE_WITH_TIMEOUT(msg(), expect(title, text), 20000)

namespace {
const char kTool[] = "HalVern Firmware Tool";
const char kBusy[] = "HalVern M7 is busy, please wait.";

// A text as the window shows it: through the catalog installed for the current language.
QString shown(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}
// A message as msg() reads it; plain text reads no-break spaces as spaces.
QString expect(const char *title, QString text)
{
    return shown(title) + " | " + text.replace(QChar::Nbsp, ' ');
}
QString expect(const char *title, const char *text)
{
    return expect(title, shown(text));
}
QString versionLine(const QString &version)
{
    return shown("Current Firmware Version") + " | " + version;
}
sim::FirmwareSetup adapterAt(int minor, int patch, sim::Layout layout = sim::Layout::V2)
{
    sim::FirmwareSetup setup;
    std::tie(setup.major, setup.minor, setup.patch, setup.layout) =
        std::tuple(quint8(5), quint8(minor), quint8(patch), layout);
    return setup;
}
QByteArray firmware(const QString &version)
{
    return sim::applicationImage(4096, qHash(version));
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

    // info: each version's change log, %1 its version
    void serveCatalog(const QStringList &versions, const QString &info = "Fixes;More for %1",
                      Mode mode = Mode::Body)
    {
        QJsonArray list;
        for (const QString &version : versions) {
            const QString path = "/fw/" + version + ".bin";
            m_server->setRoute(path, {200, firmware(version), Mode::Body});
            list.append(QJsonObject{{"version", version},
                                    {"download", m_server->url(path).toString()},
                                    {"checksum", CatalogRules::md5Hex(firmware(version))},
                                    {"info", info.arg(version)}});
        }
        const QJsonObject download{{"flashTool", QJsonObject{{"version", "2.3.4"}}},
                                   {"firmware", list}};
        const QJsonDocument catalog(QJsonObject{{"download", download}});
        m_server->setRoute("/download/halvernapp.json", {200, catalog.toJson(), mode});
    }
    void makeWindow(bool waitForCatalog = true)
    {
        m_window = std::make_unique<MainWindow>(nullptr, m_server->url());
        m_window->setFileDialog([this](MainWindow::FileDialogKind kind, const QString &caption,
                                       const QString &folder, const QString &filter) {
            m_dialogCalls << QStringList{QString::number(int(kind)), caption, folder, filter};
            return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
        });
        m_device = m_window->findChild<DeviceFlash *>();
        m_cloud = m_window->findChild<SyncCloud *>();
        m_settings = m_window->findChild<SettingsDialog *>();
        m_device->addDeviceChangeSource(m_source);
        m_window->show();
        // The adapter may well be connected first: the catalog's end is what tests wait for.
        if (waitForCatalog)
            WAIT(w("toolButton_Network")->isEnabled());
    }
    void waitConnected() { WAIT(page() == w("page_Connected") && !m_device->isBusy()); }
    // The adapter plugged in, the window connected to it and its first message put away.
    void start(const sim::FirmwareSetup &setup = adapterAt(6, 0))
    {
        m_adapter = plugAdapter(setup);
        makeWindow();
        waitConnected();
        messages()->hide();
    }
    template<typename T = QWidget>
    T *w(const char *name) const
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }
    void click(const char *name) const { w<QAbstractButton>(name)->click(); }
    // Opens the settings dialog and presses one of its buttons.
    void settingsClick(const char *name) const
    {
        click("toolButton_Settings");
        m_settings->findChild<QAbstractButton *>(name)->click();
    }
    // The adapter's configuration block, as large as a backup of it.
    QByteArray config() const { return m_adapter->peek(0x08004000, int(BackupFile::kImageSizeV2)); }
    QString label(const char *name) const { return w<QLabel>(name)->text(); }
    QWidget *page() const { return w<QStackedWidget>("stackedWidget")->currentWidget(); }
    bool controlsUsable() const
    {
        return w("pushButton_Update")->isEnabled() && w("pushButton_Restore")->isEnabled() &&
               w("comboBox_Version")->isEnabled() && w("toolButton_Settings")->isEnabled();
    }
    MessageDialog *messages(int which = 0) const
    {
        return m_window->findChildren<MessageDialog *>(Qt::FindDirectChildrenOnly).value(which);
    }
    // "title | text" of the visible message (the window's own, 1 a question's); empty: none.
    QString msg(int which = 0) const
    {
        const MessageDialog *dialog = messages(which);
        if (!dialog || !dialog->isVisible())
            return {};
        return dialog->findChild<QLabel *>("label_Title")->text() + " | " +
               dialog->findChild<QTextBrowser *>()->toPlainText();
    }
    void notify(Event event) const
    {
        emit m_source->deviceChanged({event, DeviceChange::Type::Interface,
                                      R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2})"});
    }
    void plug(bool in) const
    {
        in ? sim::SimBus::instance().plug(m_adapter) : sim::SimBus::instance().unplug(m_adapter);
        notify(in ? Event::Arrival : Event::RemoveComplete);
    }
    // Opens a firmware file holding the version's image (none: empty) and presses a button.
    void openFile(const QString &name, const char *version, const char *button = nullptr)
    {
        const QString path = m_dir.filePath(name);
        m_fileAnswers << (writeFile(path, version ? firmware(version) : QByteArray()) ? path : "");
        click("toolButton_OpenFile");
        if (button)
            messages()->findChild<QAbstractButton *>(button)->click();
    }
    // Answers every question the window asks in a dialog of its own, noting what it showed.
    void answerQuestions(bool accept)
    {
        connect(&m_answerer, &QTimer::timeout, this, [this, accept] {
            if (msg(1).isEmpty())
                return;
            m_asked << msg(1);
            messages(1)
                ->findChild<QAbstractButton *>(accept ? "pushButton_MsgOK" : "toolButton_Close")
                ->click();
        });
        m_answerer.start(10);
    }

    std::unique_ptr<HttpTestServer> m_server;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_dir;
    std::shared_ptr<sim::SimAdapter> m_adapter;
    DeviceFlash *m_device = nullptr;
    SyncCloud *m_cloud = nullptr;
    SettingsDialog *m_settings = nullptr;
    DeviceChangeSource *m_source = nullptr;
    QStringList m_fileAnswers, m_asked;
    QList<QStringList> m_dialogCalls; // kind, caption, folder, filter
    QTimer m_answerer;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
        QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(loadApplicationFonts(applicationFontPaths()) > 0);
    }
    void init()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        m_server = std::make_unique<HttpTestServer>();
        QVERIFY(m_server->listen());
        m_source = new DeviceChangeSource(m_server.get());
        m_fileAnswers.clear();
        m_dialogCalls.clear();
        m_asked.clear();
        serveCatalog({QStringLiteral("5.7.0"), QStringLiteral("5.6.2")});
    }
    void cleanup()
    {
        m_answerer.stop();
        m_answerer.disconnect();
        m_window.reset();
        m_adapter.reset();
        sim::SimBus::instance().reset();
    }

    void adapterBeforeCatalog()
    {
        // A catalog that takes a while: the adapter is there long before it ends.
        m_server->setTrickleInterval(2);
        serveCatalog({QStringLiteral("5.7.0")}, "x", Mode::Trickle);
        m_adapter = plugAdapter(adapterAt(6, 0));
        makeWindow(false);
        QCOMPARE(page(), w("page_Start"));
        WAIT(page() == w("page_Connected"));
        QVERIFY(!m_cloud->isSynced());
        WAIT(m_cloud->isSynced() && w("toolButton_Network")->isEnabled());
        QVERIFY(page() == w("page_Connected") && controlsUsable());
        QCOMPARE(label("label_CurrentVersion") + label("label_ProductConnected"),
                 versionLine("5.6.0") + shown("SN: %1").arg("4d37 2d53 494d 2d30 3030 3031"));
        // A version report rebuilds the lines from the adapter, whatever it carries.
        w<QLabel>("label_Title")->clear();
        emit m_device->versionChanged(QStringLiteral("ignored"));
        QTRY_COMPARE(label("label_Title"), QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
        QCOMPARE(w("toolButton_Close")->toolTip(), shown("Close"));
    }

    // No adapter: nothing to set up, the catalog listed newest first, its change logs shown
    // as data (no markup, no links).
    void noAdapterAndChangeLog()
    {
        serveCatalog({QStringLiteral("5.7.0"), QStringLiteral("5.6.2")},
                     ";<a href=\"http://x\">%1</a><br>; ;Fixes");
        makeWindow();
        QCOMPARE(page(), w("page_Unconnected"));
        QVERIFY(!w("toolButton_Settings")->isEnabled() && w("progressBar")->isHidden());
        auto *versions = w<QComboBox>("comboBox_Version");
        QCOMPARE(versions->currentText() + versions->itemText(1), QStringLiteral("5.7.05.6.2"));
        messages()->hide();
        versions->setCurrentIndex(1);
        click("toolButton_VersionInfo");
        QCOMPARE(msg(), expect("Version Change LOG",
                               shown("Version: %1").arg("5.6.2") +
                                   "\n- <a href=\"http://x\">5.6.2</a><br>\n- Fixes"));
        QVERIFY(!messages()->findChild<QTextBrowser *>()->document()->toHtml().contains("<a "));
    }

    void unplugClosesDialogs()
    {
        start();
        click("toolButton_Settings");
        m_window->showMessage(QStringLiteral("Title"), QStringLiteral("Text"));
        plug(false);
        WAIT(page() == w("page_Unconnected"));
        QVERIFY(!m_settings->isVisible() && !messages()->isVisible());
        QVERIFY(!w("toolButton_Settings")->isEnabled());
        plug(true); // back on the connected page with everything usable
        waitConnected();
        QVERIFY(controlsUsable());
    }

    void catalogOperation_data()
    {
        QTest::addColumn<bool>("update");
        QTest::addColumn<int>("language"); // chosen while the adapter is written; -1 none
        QTest::newRow("update") << true << -1;
        QTest::newRow("restore, Russian meanwhile") << false << 3;
        QTest::newRow("update, French meanwhile") << true << 4;
    }
    void catalogOperation()
    {
        QFETCH(bool, update);
        QFETCH(int, language);
        const QString version = update ? "5.7.0" : "5.6.2";
        start();
        w<QComboBox>("comboBox_Version")->setCurrentIndex(update ? 0 : 1);
        // Connected after the window, so each record sees the state the window has just set.
        QStringList flash;
        QObject observer;
        const auto record = [&](qlonglong current, qlonglong total) {
            const bool any =
                w("pushButton_Update")->isEnabled() || w("pushButton_Restore")->isEnabled() ||
                w("comboBox_Version")->isEnabled() || w("toolButton_Settings")->isEnabled();
            flash << QString("%1 %2 %3")
                         .arg(current == total)
                         .arg(any ? controlsUsable() : 2)
                         .arg(label("label_CurrentVersion"));
            if (language >= 0)
                w<QComboBox>("comboBox_Languages")->setCurrentIndex(language);
        };
        connect(m_device, &DeviceFlash::write2FlashProgressChanged, &observer, record,
                Qt::QueuedConnection);
        // The line of the running operation stays as it is whatever the language becomes.
        const QString running = shown(update ? "Update Firmware" : "Restore Defaults") + "...";
        click(update ? "pushButton_Update" : "pushButton_Restore");
        WAIT_MSG(kTool, update ? "Update successfully!" : "Restored successfully!");
        WAIT(label("label_CurrentVersion") == versionLine(version) && !m_device->isBusy());
        QCOMPARE(m_server->requestCount("/fw/" + version + ".bin"), 1);
        QVERIFY(flash.size() > 10 && flash.takeLast().startsWith("1 1 "));
        QCOMPARE(flash.filter("0 2 " + running).size(), flash.size()); // all disabled meanwhile
        QVERIFY(w("progressBar")->isHidden());
        QCOMPARE(m_device->version(), version);
        QCOMPARE(m_adapter->peek(sim::applicationAddress(sim::Layout::V2), 4096),
                 firmware(version));
    }

    void fileOperation_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::newRow("update") << "FirmwareV5.7.1.hfw"
                                << "5.7.1";
        QTest::newRow("restore") << "FirmwareV5.6.3.hfw"
                                 << "5.6.3";
        QTest::newRow("spaces") << "firmware v5.7.2 .BIN"
                                << "5.7.2";
        // Refused: no version the adapter takes.
        QTest::newRow("cancelled") << ""
                                   << "";
        QTest::newRow("cache name") << "Firmware_V5.6.1.hfw"
                                    << "";
        QTest::newRow("two parts") << "firmwarev5.6.bin"
                                   << "";
        QTest::newRow("four parts") << "firmwarev5.6.1.2.bin"
                                    << "";
    }
    void fileOperation()
    {
        QFETCH(QString, name);
        QFETCH(QString, version);
        const bool update = version != "5.6.3";
        start();
        // Without a download folder the dialog starts at home, not with its name as the file.
        QDir().rmdir(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
        m_adapter->clearCommands();
        openFile(name, version.isEmpty() ? "5.7.0" : qPrintable(version));
        QCOMPARE(m_dialogCalls, (QList<QStringList>{{"0", shown("Open Firmware"), QDir::homePath(),
                                                     shown("Firmware Files (*.bin *.hfw)")}}));
        if (version.isEmpty()) {
            QCOMPARE(msg(), expect("Waring", "Empty file or wrong version!"));
            QVERIFY(!messages()->findChild<QWidget *>("pushButton_MsgUpdate")->isVisible());
            QTest::qWait(50);
            QVERIFY(!m_device->isBusy() && m_adapter->commands().isEmpty());
            return;
        }
        QCOMPARE(msg(), QCoreApplication::translate("MessageDialog", "Notification") + " | " +
                            shown("Version: %1").arg(version) + '\n' +
                            shown("Firmware: %1").arg(name));
        QCOMPARE(messages()->findChild<QTextBrowser *>()->toolTip(), m_dir.filePath(name));
        click(update ? "pushButton_MsgUpdate" : "pushButton_MsgRestore");
        QCOMPARE(label("label_CurrentVersion"),
                 shown(update ? "Update Firmware" : "Restore Defaults") + ' ' + version + "...");
        WAIT_MSG(kTool, update ? "Update successfully!" : "Restored successfully!");
        WAIT(label("label_CurrentVersion") == versionLine(version));
    }

    void layoutChange_data()
    {
        QTest::addColumn<bool>("fromV2"); // the adapter runs 5.6.0 (V2 layout) or 5.4.2 (V1)
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("byFile");
        QTest::addColumn<int>("answer"); // -1: no question, 0 refused, 1 accepted
        QTest::newRow("down by file, accepted") << true << "5.4.3" << true << 1;
        QTest::newRow("down by catalog, refused") << true << "5.4.3" << false << 0;
        QTest::newRow("up by catalog, accepted") << false << "5.7.0" << false << 1;
        QTest::newRow("up by file, refused") << false << "5.7.0" << true << 0;
        QTest::newRow("same, V2") << true << "5.7.0" << false << -1;
        QTest::newRow("same, V1") << false << "5.4.3" << true << -1;
    }
    // An update across the 5.5.0 layout boundary loses data on the adapter: the user is asked
    // first, and a refusal leaves the adapter untouched and the window usable.
    void layoutChange()
    {
        QFETCH(bool, fromV2);
        QFETCH(QString, target);
        QFETCH(bool, byFile);
        QFETCH(int, answer);
        serveCatalog({target});
        start(fromV2 ? adapterAt(6, 0) : adapterAt(4, 2, sim::Layout::V1));
        m_adapter->clearCommands();
        answerQuestions(answer != 0);
        // At each report of the copy stage ("c") and of the write after it ("w"): whether the
        // stage's line shows, and for the stage whether the bar follows it.
        QStringList stage;
        QObject observer;
        const auto record = [&](const char *kind, qlonglong total) {
            const int max = *kind == 'c' ? w<QProgressBar>("progressBar")->maximum() : -1;
            stage << kind +
                         QString::number(label("label_CurrentVersion") ==
                                         shown("Keeping a copy of the settings...")) +
                         (max < 0 ? QString() : QString::number(max == total));
        };
        connect(
            m_device, &DeviceFlash::safetyCopyProgressChanged, &observer,
            [&](qlonglong, qlonglong total) { record("c", total); }, Qt::QueuedConnection);
        connect(
            m_device, &DeviceFlash::write2FlashProgressChanged, &observer, [&] { record("w", 0); },
            Qt::QueuedConnection);
        if (byFile)
            openFile("FirmwareV" + target + ".bin", qPrintable(target), "pushButton_MsgUpdate");
        else
            click("pushButton_Update");
        const char *question =
            fromV2 ? "This firmware uses the older flash layout: the adapter is reset to factory "
                     "defaults and cannot take your macros. A copy of your settings is kept for "
                     "a newer firmware. Continue?"
                   : "This firmware uses the newer flash layout: the adapter is reset to factory "
                     "defaults, then your settings are brought back from a copy. Continue?";
        // Across the layout the result says what became of the settings.
        QString result = shown("Update successfully!");
        if (answer > 0)
            result += '\n' + shown(fromV2 ? "The adapter has factory settings; a copy of yours "
                                            "is kept."
                                          : "Your settings were kept.");
        if (answer != 0)
            WAIT_MSG(kTool, result);
        WAIT(!m_device->isBusy() && (answer != 0 || !m_asked.isEmpty()));
        QTest::qWait(50);
        QCOMPARE(m_asked, answer < 0 ? QStringList() : QStringList{expect("Waring", question)});
        QCOMPARE(m_device->version(), answer != 0 ? target : fromV2 ? "5.6.0" : "5.4.2");
        QCOMPARE(m_adapter->commands().isEmpty(), answer == 0);
        QVERIFY(w("progressBar")->isHidden() && controlsUsable());
        stage.removeDuplicates(); // the stage has its own line and bar, and hands both back
        QCOMPARE(stage, answer > 0   ? (QStringList{"c11", "w0"})
                        : answer < 0 ? QStringList{"w0"}
                                     : QStringList());
    }

    void deviceErrors()
    {
        // One per error; the hardware failure (2) closes the window, last.
        const QByteArrayList texts =
            QByteArray(
                "Firmware data empty!|Erase flash failure!||Firmware lost! Please update firmware!|"
                "Configuration lost! Please restore defaults!|Firmware file too large! Please "
                "choose "
                "another firmware.|Write flash failure! Please try again.|Invalid backup file! "
                "Please "
                "choose another backup.|Backup read failure! Please try again.|Data restore needs "
                "firmware 5.5.0 or newer! Please update firmware.|The adapter could not be read "
                "completely! Please plug it in again.")
                .split('|');
        start();
        emit m_cloud->syncFinshed(); // the error connection is made once however often it ends
        for (int error = 0; error < 11; ++error) {
            if (error == 2)
                continue;
            messages()->hide();
            QSignalSpy texts_(messages()->findChild<QTextBrowser *>(), &QTextBrowser::textChanged);
            m_settings->setProgress(3, 10);
            m_settings->setEnabled(false);
            w("pushButton_Update")->setEnabled(false);
            emit m_device->error(DeviceFlash::DeviceError(error));
            QTRY_COMPARE(msg(), expect("Error", texts[error].constData()));
            QTest::qWait(20);
            QCOMPARE(texts_.size(), 1);
            QVERIFY(m_settings->findChild<QProgressBar *>()->isHidden() &&
                    w("progressBar")->isHidden());
            // The adapter is still there: what a failed flow disabled is usable again.
            QVERIFY(m_settings->isEnabled() && w("pushButton_Update")->isEnabled());
        }
        // A hardware failure is told in a dialog of its own, then the window closes.
        messages()->hide();
        answerQuestions(true);
        emit m_device->error(DeviceFlash::DeviceError_HardwareFailure);
        WAIT(!m_window->isVisible() && !m_device->isBusy());
        QCOMPARE(m_asked, QStringList{expect("Error", "Hardware failure!")});
        QVERIFY(!messages()->isVisible() && !messages(1));
    }

    // However the window is asked to close, the write runs to its end first; a second request
    // changes nothing. Meanwhile (even before its task has started) every other operation is
    // refused.
    void closeDuringWrite()
    {
        for (int how = 0; how < 3; ++how) {
            start();
            LogCapture log;
            QSignalSpy backups(m_device, &DeviceFlash::dataBackupProgressChanged);
            m_adapter->clearCommands();
            m_adapter->setReportDelay(us(1500));
            openFile(QStringLiteral("FirmwareV5.7.1.bin"), "5.7.1", "pushButton_MsgUpdate");
            for (int other = 0; how == 0 && other < 3; ++other) {
                messages()->hide();
                if (other == 0)
                    openFile(QStringLiteral("FirmwareV5.7.1.bin"), "5.7.1",
                             "pushButton_MsgRestore");
                else
                    other == 1 ? m_settings->dataRestore() : m_settings->dataBackup();
                WAIT_MSG("Waring", kBusy);
            }
            QCOMPARE(m_dialogCalls.size(), how == 0 ? 2 : 1); // the restore asked for no file
            QTRY_VERIFY(m_device->isBusy());
            for (int request = 0; request < 2; ++request) {
                if (how == 0)
                    click("toolButton_Close");
                else if (how == 1)
                    m_window->close();
                else
                    m_window->windowHandle()->close();
            }
            QVERIFY(!w("toolButton_Close")->isEnabled());
            QTest::qWait(100);
            QVERIFY(m_window->isVisible() && !log.contains(QStringLiteral("safe close...")));
            m_adapter->setReportDelay(us(0));
            WAIT(!m_window->isVisible() && !m_device->isBusy());
            QCOMPARE(log.count(QStringLiteral("safe close...")), 1);
            QCOMPARE(m_device->version(), QStringLiteral("5.7.1")); // the write was not cut short
            int erases = backups.size();
            for (const sim::ReceivedCommand &command : m_adapter->commands())
                erases += command.code == sim::SimAdapter::kCommandErase ? 1 : 0;
            QCOMPARE(erases, 1);
            m_dialogCalls.clear();
            cleanup();
        }
    }

    void syncErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("first run") << 0
                                   << "When you first install HalVern Firmware Tool must connect "
                                      "network, and restart HalVern Firmware Tool.";
        QTest::newRow("local cache")
            << 1 << "Connect server error, will only use local cache firmware.";
        QTest::newRow("information")
            << 2 << "The information of server error, contact HalVern for help.";
        QTest::newRow("download") << 3 << "The firmware downloaded and checksum error.";
        QTest::newRow("checksum") << 4 << ""; // a fresh download follows
        QTest::newRow("network") << 5 << "The network error, checking connect and retry.";
    }
    // The catalog never answers: each error of the sync is told and leaves the start page. On
    // a first run the user is told to restart, and nothing else; the window closes once they
    // have read it and the connection task is done.
    void syncErrors()
    {
        QFETCH(int, error);
        QFETCH(QString, text); // empty: nothing is shown
        m_server->setRoute("/download/halvernapp.json", {200, QByteArray(), Mode::Stall});
        makeWindow(false);
        QCOMPARE(page(), w("page_Start"));
        LogCapture log;
        w<QLabel>("label_Title")->clear();
        emit m_cloud->syncError(SyncCloud::SyncError(error));
        QTRY_COMPARE(page(), w("page_Unconnected"));
        QCOMPARE(label("label_Title"), QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
        const char *key = QMetaEnum::fromType<SyncCloud::SyncError>().valueToKey(error);
        QCOMPARE(log.lines().filter(QStringLiteral("SyncCloud::error ") + key).size(), 1);
        const QString shownText =
            text.isEmpty() ? QString() : expect(error ? "Waring" : "Error", qPrintable(text));
        QCOMPARE(msg(), shownText);
        if (error != SyncCloud::SyncError_FirstRunError)
            return;
        emit m_device->error(DeviceFlash::DeviceError_FirmwareLost);
        emit m_cloud->syncError(SyncCloud::SyncError_FirstRunError); // no second close request
        QTest::qWait(50);
        QCOMPARE(msg(), shownText);
        click("pushButton_MsgOK");
        WAIT(!m_window->isVisible() && !m_device->isBusy());
    }

    void backupToFile_data()
    {
        QTest::addColumn<QStringList>("names"); // given in the dialog, written (none: cannot be)
        QTest::newRow("named") << QStringList{"adapter.bkp", "adapter.bkp"};
        QTest::newRow("no suffix") << QStringList{"mybackup", "mybackup.bkp"};
        QTest::newRow("unwritable") << QStringList{"missing/adapter.bkp", ""};
    }
    // A backup saved to a file brings the configuration back byte for byte once it has
    // changed; a path that cannot be written says so and leaves no file.
    void backupToFile()
    {
        QFETCH(QStringList, names);
        sim::FirmwareSetup setup = adapterAt(6, 0);
        std::tie(setup.dataA, setup.macros) =
            std::tuple(QByteArray(200, 'A'), QByteArray(300, 'M'));
        start(setup);
        const QByteArray before = config();
        const QString path = m_dir.filePath(names[0]);
        m_fileAnswers << path << m_dir.filePath(names[1]); // the second for the restore
        settingsClick("pushButton_DataBackup");
        if (names[1].isEmpty()) {
            WAIT_MSG("Error", shown("The backup file could not be written: %1").arg(path));
            QVERIFY(!QFile::exists(path) && m_settings->isEnabled());
            return;
        }
        WAIT_MSG(kTool, "successfully!");
        QVERIFY(!m_settings->isVisible() && m_settings->isEnabled());
        QCOMPARE(m_dialogCalls.value(0).mid(3), QStringList{"backup Files (*.bkp)"});
        WAIT(!m_device->isBusy());
        std::tie(setup.dataA, setup.macros) = std::tuple(QByteArray(900, 'Z'), QByteArray(40, 'N'));
        sim::provision(*m_adapter, setup);
        QVERIFY(config() != before);
        QTest::qWait(100); // the window hears of the idle adapter through a queued signal
        messages()->hide();
        settingsClick("pushButton_DataRestore");
        WAIT_MSG(kTool, "successfully!");
        WAIT(!m_device->isBusy() && !m_settings->isVisible());
        QCOMPARE(config().toHex(), before.toHex());
    }

    // A backup of another adapter, a damaged one or one for a newer firmware is refused
    // before anything reaches the adapter.
    void restoreRefused()
    {
        start();
        for (int damage = 0; damage < 3; ++damage) { // other adapter, changed byte, needs 5.7
            messages()->hide();
            const QByteArray image = sim::configImage(adapterAt(damage == 2 ? 7 : 6, 0));
            QByteArray file =
                BackupFile::encode(image, damage == 0 ? QByteArray("000000000000000000000001")
                                                      : m_device->serialNumber());
            if (damage == 1)
                file[20000] = char(file.at(20000) ^ 0x40);
            m_fileAnswers << m_dir.filePath("refused.bkp");
            QVERIFY(writeFile(m_fileAnswers.last(), file));
            m_adapter->clearCommands();
            settingsClick("pushButton_DataRestore");
            QCOMPARE(msg(), damage == 2
                                ? expect(kTool, shown("Firmware Update Required") + "( >= 5.7.0) !")
                                : expect(kTool, "Corrupted file/Unauthorized !"));
            QTest::qWait(20);
            QVERIFY(!m_device->isBusy() && m_adapter->commands().isEmpty());
            QVERIFY(damage == 2 || !m_settings->isVisible());
        }
    }

    // An update cut after its erase: plugged in again, the adapter has lost its firmware and
    // its settings; the copy the update took is offered, and accepted brings them back.
    void recoveryAfterCutUpdate()
    {
        serveCatalog({QStringLiteral("5.7.0"), QStringLiteral("5.6.0")});
        sim::FirmwareSetup setup = adapterAt(6, 0);
        std::tie(setup.applicationSize, setup.applicationSeed, setup.dataA) =
            std::tuple(4096, qHash(QStringLiteral("5.6.0")), QByteArray(200, 'A'));
        start(setup);
        const QByteArray before = m_adapter->peek(0x08004000, 0x3C000);
        m_adapter->armFault(sim::Fault::Unplug, 40);
        click("pushButton_Update");
        WAIT(!m_device->isBusy() && !m_adapter->isPlugged());
        notify(Event::RemoveComplete);
        QVERIFY(m_adapter->peek(0x08004000, 16384) != before.left(16384));
        answerQuestions(true);
        plug(true);
        WAIT_MSG(kTool, "Restored successfully!");
        WAIT(!m_device->isBusy());
        QVERIFY(m_asked.size() == 1 &&
                m_asked[0].contains(shown("Firmware lost! Please update firmware!")));
        QCOMPARE(m_adapter->peek(0x08004000, 0x3C000), before);
        QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
    }

    void openBlocker_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("permission") << EACCES << "this user may not open it. Install the";
        QTest::newRow("busy") << EBUSY << "another program is using it. Close that";
        QTest::newRow("other") << EIO << "it cannot be opened: Failed to open a device";
    }
    // An attached adapter that cannot be opened: the page says why and the way out, and
    // nothing more once it connects.
    void openBlocker()
    {
        QFETCH(int, error);
        QFETCH(QString, text);
        m_adapter = plugAdapter(adapterAt(6, 0));
        m_adapter->setOpenError(error);
        makeWindow();
        WAIT(label("label_Blocker").startsWith("The adapter is attached, but " + text) &&
             (error != EIO || label("label_Blocker").endsWith(std::strerror(error))));
        m_adapter->setOpenError(0);
        notify(Event::Arrival);
        waitConnected();
        QCOMPARE(label("label_Blocker"), QString());
    }

    // With nowhere to keep a copy of the settings, nothing is erased.
    void noRoomForSafetyCopy()
    {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(QDir().mkpath(data) && writeFile(data + "/safety-copies", "not a folder"));
        start();
        const QByteArray before = m_adapter->peek(0x08000000, 0x100000);
        click("pushButton_Update");
        WAIT_MSG("Error", "No copy of the settings could be kept, so nothing was changed! Please "
                          "try again.");
        WAIT(!m_device->isBusy());
        QCOMPARE(m_adapter->peek(0x08000000, 0x100000), before);
        QVERIFY(controlsUsable());
    }

    void saveDiagnostics()
    {
        start();
        const QString path = m_dir.filePath("diagnostics.txt");
        m_fileAnswers << path;
        answerQuestions(true);
        settingsClick("pushButton_Diagnostics");
        WAIT(m_asked.size() == 1 && QFile::exists(path)); // what it holds is said first
        const QByteArray text = readFile(path);
        QVERIFY(text.contains("serial: " + m_device->serialNumber()) &&
                text.contains("firmware: 5.6.0"));
        const QList<Transcript::Record> exchanges = DiagnosticsBundle::exchangesOf(text);
        QCOMPARE(exchanges.value(0).operation, QStringLiteral("connection"));
        QVERIFY(exchanges.value(0).frames.size() > 600);
    }

    // Pulled out mid-operation: the dialogs close; back again, the bars are reset and the
    // window is usable (the offer of the copy taken before the cut declined).
    void unplugDuringOperation()
    {
        for (bool update : {true, false}) { // else a backup, from the settings dialog
            start();
            m_adapter->setReportDelay(us(300));
            update ? click("pushButton_Update") : settingsClick("pushButton_DataBackup");
            auto *bar =
                update ? w<QProgressBar>("progressBar") : m_settings->findChild<QProgressBar *>();
            WAIT(bar->isVisible() && m_device->isBusy());
            m_window->showMessage(QStringLiteral("Title"), QStringLiteral("Text"));
            plug(false);
            WAIT(!m_device->isBusy() && page() == w("page_Unconnected"));
            QVERIFY(!m_settings->isVisible() && !msg().startsWith("Title")); // an error may follow
            m_adapter->setReportDelay(us(0));
            answerQuestions(false);
            plug(true);
            waitConnected();
            QTest::qWait(100);
            QVERIFY(controlsUsable() && m_settings->isEnabled() && bar->isHidden());
            QCOMPARE(m_settings->findChild<QProgressBar *>()->maximum(), 0);
            cleanup();
        }
    }

    // The demo's pieces started as its main() starts them: the window finds the simulated
    // adapter through its arrival and the catalog on the demo's own server.
    void demo()
    {
        DemoCatalogServer server;
        QVERIFY(server.listen());
        SimulatedAdapterWindow adapter;
        m_window = std::make_unique<MainWindow>(nullptr, server.url());
        m_window->findChild<DeviceFlash *>()->addDeviceChangeSource(adapter.deviceSource());
        QTest::qWait(200); // nothing on the bus until the arrival
        QVERIFY(page() != w("page_Connected") && adapter.stateText().startsWith("unplugged"));
        adapter.plugIn();
        WAIT(page() == w("page_Connected") && w<QComboBox>("comboBox_Version")->count() == 3);
        QCOMPARE(w<QComboBox>("comboBox_Version")->itemText(2), DemoCatalogServer::versions()[2]);
        adapter.unplug();
        WAIT(page() != w("page_Connected"));
        adapter.provision(sim::Layout::V1); // its controls change what it holds, and it says so
        QVERIFY(adapter.stateText().contains(QStringLiteral("firmware 5.4.2 | layout V1")));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
