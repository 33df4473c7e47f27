// The main window end to end: the real device link on the simulated adapter, the real catalog
// on a loopback HTTP server, and the window's own widgets and dialogs.
#include "device/DeviceChangeSource.h"
#include "support/HttpTestServer.h"
#include "support/LogCapture.h"
#include "support/Rows.h"
#include "support/SimFixture.h"
#include "ui/BackupFile.h"
#include "ui/DiagnosticsBundle.h"
#include "ui/MainWindow.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <cerrno>
#include <cstring>

using Mode = HttpTestServer::Mode;
using us = std::chrono::microseconds;

#define WAIT(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 20000)
#define WAIT_MSG(title, text) QTRY_COMPARE_WITH_TIMEOUT(msg(), expect(title, text), 20000)

// An update or a factory restore: version (empty: the file is refused), file (the firmware
// file's name; empty: the catalog's), answer (to a layout question: -1 none asked, 0 no, 1 yes),
// language (chosen while the adapter is written; 0 keeps English, the one it starts in), update
// (else a factory restore), fromV2 (the adapter runs 5.6.0, V2 layout, else 5.4.2, V1).
using Flash = std::tuple<QString, QString, int, int, bool, bool>;

class tst_MainWindow : public QObject
{
    Q_OBJECT

    static constexpr char kTool[] = "HalVern Firmware Tool";
    // A text as the window shows it: through the catalog installed for the current language.
    static QString shown(const char *s) { return QCoreApplication::translate("MainWindow", s); }
    // A message as msg() reads it; plain text reads no-break spaces as spaces.
    QString expect(const char *t, QString s) { return shown(t) + " | " + s.replace(u'\xa0', ' '); }
    QString expect(const char *title, const char *s) { return expect(title, shown(s)); }
    QString versionLine(QString v) { return shown("Current Firmware Version") + " | " + v; }
    static QByteArray firmware(const QString &v) { return sim::applicationImage(4096, qHash(v)); }
    // info: each version's change log, %1 its version
    void serveCatalog(const QStringList &versions, const QString &info = "Fixes;More for %1",
                      Mode mode = Mode::Body)
    {
        QList<DemoCatalogServer::Firmware> list;
        for (const QString &version : versions)
            list.append({version, firmware(version), info.arg(version)});
        ::serveCatalog(*m_server, list, mode);
    }
    auto *messages(int i = 0) const { return m_window->findChildren<MessageDialog *>().value(i); }
    void makeWindow()
    {
        m_window = std::make_unique<MainWindow>(nullptr, m_server->url());
        m_window->setFileDialog([this](auto kind, auto caption, auto folder, auto filter) {
            m_dialogCalls << QStringList{QString::number(int(kind)), caption, folder, filter};
            return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
        });
        m_device = m_window->findChild<DeviceFlash *>();
        m_settings = m_window->findChild<SettingsDialog *>();
        m_device->addDeviceChangeSource(&m_source);
        m_window->show();
    }
    void waitConnected() { WAIT(page() == w("page_Connected") && !m_device->isBusy()); }
    // The adapter plugged in, the window connected to it and its first message put away.
    void start(const sim::FirmwareSetup &setup = {})
    {
        m_adapter = plugAdapter(setup);
        makeWindow();
        // The adapter may well be connected first: the catalog's end is what tests wait for.
        WAIT(w("toolButton_Network")->isEnabled());
        waitConnected();
        messages()->hide();
    }
    SyncCloud *cloud() const { return m_window->findChild<SyncCloud *>(); }
    QWidget *w(const char *name) const { return m_window->findChild<QWidget *>(name); }
    void click(const char *name) const { m_window->findChild<QAbstractButton *>(name)->click(); }
    // Opens the settings dialog and presses one of its buttons.
    void settingsClick(const char *name) const
    {
        click("toolButton_Settings");
        m_settings->findChild<QAbstractButton *>(name)->click();
    }
    QString label(const char *name) const { return m_window->findChild<QLabel *>(name)->text(); }
    auto *bar() const { return m_window->findChild<QProgressBar *>("progressBar"); }
    QWidget *page() const { return m_window->findChild<QStackedWidget *>()->currentWidget(); }
    // How many of the controls that start an operation are usable: 4 all, 0 none.
    int controls() const
    {
        return w("pushButton_Update")->isEnabled() + w("pushButton_Restore")->isEnabled() +
               w("comboBox_Version")->isEnabled() + w("toolButton_Settings")->isEnabled();
    }
    // "title | text" of the visible message (the window's own, 1 a question's); empty: none.
    QString msg(int which = 0) const
    {
        const MessageDialog *dialog = messages(which);
        return dialog && dialog->isVisible()
                   ? dialog->findChild<QLabel *>("label_Title")->text() + " | " +
                         dialog->findChild<QTextBrowser *>()->toPlainText()
                   : QString();
    }
    // The adapter put on the bus or taken off it, and the system's word of it.
    void plug(bool in)
    {
        in ? sim::SimBus::instance().plug(m_adapter) : sim::SimBus::instance().unplug(m_adapter);
        const auto event = in ? DeviceChange::Event::Arrival : DeviceChange::Event::RemoveComplete;
        emit m_source.deviceChanged({event, DeviceChange::Type::Interface,
                                     R"(\\?\USB#VID_0E3A&PID_B372#M7SIM#{A5DCBF10-6530-11D2})"});
    }
    // Opens a firmware file holding the version's image and presses a button.
    void openFile(const QString &name, const QString &version, const char *button = nullptr)
    {
        const QString path = m_dir.filePath(name);
        m_fileAnswers << (BackupFile::save(path, firmware(version)) ? path : "");
        click("toolButton_OpenFile");
        if (button)
            messages()->findChild<QAbstractButton *>(button)->click();
    }

    std::unique_ptr<HttpTestServer> m_server;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_dir;
    std::shared_ptr<sim::SimAdapter> m_adapter;
    DeviceFlash *m_device = nullptr;
    SettingsDialog *m_settings = nullptr;
    DeviceChangeSource m_source;
    QStringList m_fileAnswers, m_asked;
    QList<QStringList> m_dialogCalls; // kind, caption, folder, filter
    QTimer m_answerer;
    const char *m_answer = "pushButton_MsgOK"; // the button that answers the window's questions

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
        QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        QGuiApplication::setQuitOnLastWindowClosed(false);
        // Every question the window asks in a dialog of its own is answered, and what it
        // showed noted. No window: none, or the one being destroyed.
        connect(&m_answerer, &QTimer::timeout, this, [this] {
            if (!m_window || msg(1).isEmpty())
                return;
            m_asked << msg(1);
            messages(1)->findChild<QAbstractButton *>(m_answer)->click();
        });
        m_answerer.start(10);
    }
    void init()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        m_server = std::make_unique<HttpTestServer>();
        QVERIFY(m_server->listen());
        serveCatalog({"5.7.0", "5.6.2", "5.6.0", "5.4.3"});
    }
    void cleanup()
    {
        m_answer = "pushButton_MsgOK";
        m_fileAnswers.clear();
        m_dialogCalls.clear();
        m_asked.clear();
        m_window.reset();
        sim::SimBus::instance().reset();
    }

    // A catalog that takes a while: the adapter is connected long before it ends, and usable
    // once it has. The catalog is listed newest first, its change logs shown as data (no
    // markup, no links).
    void adapterBeforeCatalog()
    {
        m_server->setTrickleInterval(2);
        serveCatalog({"5.7.0", "5.6.2"}, ";<a href=\"http://x\">%1</a><br>; ;Fixes", Mode::Trickle);
        m_adapter = plugAdapter();
        makeWindow();
        // Nothing to set up yet; at scale 1 the label plays the animation itself.
        QVERIFY(page() == w("page_Start") && !w("toolButton_Settings")->isEnabled() &&
                m_window->findChild<QLabel *>("label_Busying")->movie());
        WAIT(page() == w("page_Connected") && !cloud()->isSynced());
        WAIT(cloud()->isSynced() && w("toolButton_Network")->isEnabled());
        QVERIFY(page() == w("page_Connected") && controls() == 4);
        QCOMPARE(label("label_CurrentVersion") + label("label_ProductConnected"),
                 versionLine("5.6.0") + shown("SN: %1").arg("4d37 2d53 494d 2d30 3030 3031"));
        // A version report rebuilds the lines from the adapter, whatever it carries.
        m_window->findChild<QLabel *>("label_Title")->clear();
        emit m_device->versionChanged(QStringLiteral("ignored"));
        QTRY_COMPARE(label("label_Title"), QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
        QCOMPARE(w("toolButton_Close")->toolTip(), shown("Close"));
        auto *versions = m_window->findChild<QComboBox *>("comboBox_Version");
        QCOMPARE(versions->currentText() + versions->itemText(1), QStringLiteral("5.7.05.6.2"));
        messages()->hide();
        versions->setCurrentIndex(1);
        click("toolButton_VersionInfo");
        QCOMPARE(msg(), expect("Version Change LOG",
                               shown("Version: %1").arg("5.6.2") +
                                   "\n- <a href=\"http://x\">5.6.2</a><br>\n- Fixes"));
        QVERIFY(!messages()->findChild<QTextBrowser *>()->document()->toHtml().contains("<a "));
    }

    void flash_data()
    {
        addRows<Flash>({{"catalog restore, Russian", {"5.6.2", "", -1, 3, false, true}},
                        {"catalog, French", {"5.7.0", "", -1, 4, true, true}},
                        {"file", {"5.7.1", "FirmwareV5.7.1.hfw", -1, 0, true, true}},
                        {"restore", {"5.6.3", "FirmwareV5.6.3.hfw", -1, 0, false, true}},
                        {"down by file", {"5.4.3", "FirmwareV5.4.3.bin", 1, 0, true, true}},
                        {"down by catalog, no", {"5.4.3", "", 0, 0, true, true}},
                        {"up by catalog", {"5.7.0", "", 1, 0, true, false}},
                        {"file up, no", {"5.7.0", "FirmwareV5.7.0.bin", 0, 0, true, false}},
                        {"same, V1", {"5.4.3", "FirmwareV5.4.3.bin", -1, 0, true, false}}});
        // Refused: no version the adapter takes; the first is cancelled (cannot be written).
        for (const char *name : {"missing/FirmwareV5.7.1.bin", "Firmware_V5.6.1.hfw",
                                 "firmwarev5.6.bin", "firmwarev5.6.1.2.bin"})
            QTest::newRow(name) << Flash{"", name, -1, 0, true, true};
    }
    // An update or a factory restore, from the catalog or from a file, runs to its end with
    // every control disabled and the operation's line shown whatever the language becomes. An
    // update across the 5.5.0 layout boundary loses data on the adapter: the user is asked
    // first, a refusal leaves the adapter untouched, and a yes runs a copy stage first.
    void flash()
    {
        const auto [version, file, answer, language, update, fromV2] = fetchRow<Flash>();
        sim::FirmwareSetup v1;
        std::tie(v1.minor, v1.patch, v1.layout) = std::tuple(4, 2, sim::Layout::V1);
        start(fromV2 ? sim::FirmwareSetup() : v1);
        // Without a download folder the dialog starts at home, not with its name as the file.
        QDir().rmdir(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
        m_adapter->clearCommands();
        m_answer = answer != 0 ? "pushButton_MsgOK" : "toolButton_Close";
        // Connected after the window, so each record sees the state the window has just set:
        // at each report of the write, whether it ended, the usable controls and the line; of
        // the copy stage, whether the bar follows it, and the line.
        QStringList flash, copy;
        QObject observer;
        const auto written = [&, language = language](qlonglong current, qlonglong total) {
            flash << QString("%1 %2 ").arg(current == total).arg(controls()) +
                         label("label_CurrentVersion");
            m_window->findChild<QComboBox *>("comboBox_Languages")->setCurrentIndex(language);
        };
        connect(m_device, &DeviceFlash::write2FlashProgressChanged, &observer, written,
                Qt::QueuedConnection);
        const auto copied = [&](qlonglong, qlonglong total) {
            copy << QString::number(bar()->maximum() == total) + label("label_CurrentVersion");
        };
        connect(m_device, &DeviceFlash::safetyCopyProgressChanged, &observer, copied,
                Qt::QueuedConnection);
        // The line of the running operation names it, and a file's version; both lines are in
        // the language the operation started in.
        QString running = shown(update ? "Update Firmware" : "Restore Defaults");
        const QString keeping = "1" + shown("Keeping a copy of the settings...");
        if (file.isEmpty()) {
            m_window->findChild<QComboBox *>("comboBox_Version")->setCurrentText(version);
            click(update ? "pushButton_Update" : "pushButton_Restore");
        } else {
            openFile(file, version);
            QCOMPARE(m_dialogCalls,
                     (QList<QStringList>{{"0", shown("Open Firmware"), QDir::homePath(),
                                          shown("Firmware Files (*.bin *.hfw)")}}));
            if (version.isEmpty()) {
                QCOMPARE(msg(), expect("Waring", "Empty file or wrong version!"));
                QTest::qWait(50);
                QVERIFY(!m_device->isBusy() && m_adapter->commands().isEmpty());
                return;
            }
            QCOMPARE(msg(), QCoreApplication::translate("MessageDialog", "Notification") + " | " +
                                shown("Version: %1").arg(version) + '\n' +
                                shown("Firmware: %1").arg(file));
            QCOMPARE(messages()->findChild<QTextBrowser *>()->toolTip(), m_dir.filePath(file));
            click(update ? "pushButton_MsgUpdate" : "pushButton_MsgRestore");
            running += ' ' + version;
        }
        // Across the layout the result says what became of the settings, in the language
        // chosen meanwhile.
        const char *kept = fromV2 ? "The adapter has factory settings; a copy of yours is kept."
                                  : "Your settings were kept.";
        if (answer != 0)
            WAIT_MSG(kTool, shown(update ? "Update successfully!" : "Restored successfully!") +
                                (answer > 0 ? '\n' + shown(kept) : QString()));
        const QString now = answer != 0 ? version : fromV2 ? "5.6.0" : "5.4.2";
        WAIT(!m_device->isBusy() && m_asked.isEmpty() == (answer < 0) &&
             label("label_CurrentVersion") == versionLine(now));
        QTest::qWait(50);
        const char *question =
            fromV2 ? "This firmware uses the older flash layout: the adapter is reset to factory "
                     "defaults and cannot take your macros. A copy of your settings is kept for "
                     "a newer firmware. Continue?"
                   : "This firmware uses the newer flash layout: the adapter is reset to factory "
                     "defaults, then your settings are brought back from a copy. Continue?";
        QCOMPARE(m_asked, answer < 0 ? QStringList() : QStringList{expect("Waring", question)});
        QCOMPARE(m_adapter->commands().isEmpty(), answer == 0);
        QVERIFY(w("progressBar")->isHidden() && controls() == 4);
        QCOMPARE(m_server->requestCount("/fw/" + version), file.isEmpty() ? 1 : 0);
        // The stage has its own line and bar and hands both back: a restore's at its end, an
        // update's to the write.
        copy.removeDuplicates();
        QCOMPARE(copy, (!update      ? QStringList{keeping, "1" + running + "..."}
                        : answer > 0 ? QStringList{keeping}
                                     : QStringList()));
        QVERIFY(answer == 0 ? flash.isEmpty()
                            : flash.size() > 10 && flash.takeLast().startsWith("1 4 "));
        QCOMPARE(flash.filter("0 0 " + running + "...").size(), flash.size());
        const auto layout = version >= "5.5" ? sim::Layout::V2 : sim::Layout::V1;
        if (answer != 0)
            QCOMPARE(m_adapter->peek(sim::applicationAddress(layout), 4096), firmware(version));
    }

    // Each error is told once however often the catalog has ended, with the bars reset and
    // what a failed flow disabled usable again while the adapter is there. A hardware failure
    // is told in a dialog of its own, then the window closes.
    void deviceErrors()
    {
        start();
        emit cloud()->syncFinshed();
        for (const auto &[error, text] :
             {std::pair{0, "Firmware data empty!"},
              {1, "Erase flash failure!"},
              {3, "Firmware lost! Please update firmware!"},
              {4, "Configuration lost! Please restore defaults!"},
              {5, "Firmware file too large! Please choose another firmware."},
              {6, "Write flash failure! Please try again."},
              {7, "Invalid backup file! Please choose another backup."},
              {8, "Backup read failure! Please try again."},
              {9, "Data restore needs firmware 5.5.0 or newer! Please update firmware."},
              {10, "The adapter could not be read completely! Please plug it in again."}}) {
            messages()->hide();
            QSignalSpy told(messages()->findChild<QTextBrowser *>(), &QTextBrowser::textChanged);
            m_settings->setProgress(3, 10);
            m_settings->setEnabled(false);
            w("pushButton_Update")->setEnabled(false);
            emit m_device->error(DeviceFlash::DeviceError(error));
            QTRY_COMPARE(msg(), expect("Error", text));
            QTest::qWait(20);
            QVERIFY(told.size() == 1 && m_settings->findChild<QProgressBar *>()->isHidden() &&
                    w("progressBar")->isHidden() && m_settings->isEnabled() &&
                    w("pushButton_Update")->isEnabled());
        }
        messages()->hide();
        emit m_device->error(DeviceFlash::DeviceError_HardwareFailure);
        WAIT(!m_window->isVisible() && !m_device->isBusy());
        QCOMPARE(m_asked, QStringList{expect("Error", "Hardware failure!")});
        QVERIFY(!messages()->isVisible() && !messages(1));
    }

    // Asked to close by its own button or by the window system, the window lets the write run
    // to its end first; a second request changes nothing. Meanwhile (even before its task has
    // started) every other operation is refused.
    void closeDuringWrite()
    {
        for (int how = 0; how < 2; ++how) {
            start();
            LogCapture log;
            QSignalSpy backups(m_device, &DeviceFlash::dataBackupProgressChanged);
            // Slow enough that the write outlasts the requests below however busy the machine:
            // the delay is real time, the test's own steps are not.
            m_adapter->setReportDelay(us(20000));
            openFile("FirmwareV5.7.1.bin", "5.7.1", "pushButton_MsgUpdate");
            for (int other = 0; how == 0 && other < 3; ++other) {
                messages()->hide();
                other == 0   ? openFile("FirmwareV5.7.1.bin", "5.7.1", "pushButton_MsgRestore")
                : other == 1 ? m_settings->dataRestore()
                             : m_settings->dataBackup();
                WAIT_MSG("Waring", "HalVern M7 is busy, please wait.");
            }
            QCOMPARE(m_dialogCalls.size(), how == 0 ? 2 : 1); // the restore asked for no file
            QTRY_VERIFY(m_device->isBusy());
            for (int request = 0; request < 2; ++request)
                how == 0 ? click("toolButton_Close") : void(m_window->windowHandle()->close());
            QTest::qWait(100);
            QVERIFY(m_window->isVisible() && !w("toolButton_Close")->isEnabled() &&
                    !log.contains("safe close..."));
            m_adapter->setReportDelay(us(0));
            WAIT(!m_window->isVisible() && !m_device->isBusy());
            // Closed once, and the write was not cut short.
            QVERIFY(log.count("safe close...") == 1 && m_device->version() == "5.7.1");
            int erases = backups.size();
            for (const sim::ReceivedCommand &command : m_adapter->commands())
                erases += command.code == sim::SimAdapter::kCommandErase ? 1 : 0;
            QCOMPARE(erases, 1);
            cleanup();
        }
    }

    // No adapter and a catalog that never answers: each error of the sync is told (the first
    // run's as an error) and leaves the start page, with nothing to set up. On a first run the
    // user is told to restart, and nothing else; the window closes once they have read it and
    // the connection task is done.
    void syncErrors()
    {
        m_server->setRoute("/download/halvernapp.json", {200, QByteArray(), Mode::Stall});
        const QMetaEnum keys = QMetaEnum::fromType<SyncCloud::SyncError>();
        // The first run's error, which closes the window, comes last.
        for (const auto &[error, text] :
             {std::pair{5, "The network error, checking connect and retry."},
              {4, ""}, // nothing is shown: a fresh download follows
              {3, "The firmware downloaded and checksum error."},
              {2, "The information of server error, contact HalVern for help."},
              {1, "Connect server error, will only use local cache firmware."},
              {0, "When you first install HalVern Firmware Tool must connect network, and restart "
                  "HalVern Firmware Tool."}}) {
            makeWindow();
            LogCapture log;
            m_window->findChild<QLabel *>("label_Title")->clear();
            emit cloud()->syncError(SyncCloud::SyncError(error));
            QTRY_COMPARE(page(), w("page_Unconnected"));
            QVERIFY(!w("toolButton_Settings")->isEnabled() && w("progressBar")->isHidden());
            QCOMPARE(label("label_Title"), QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
            QCOMPARE(log.count(QString("SyncCloud::error ") + keys.valueToKey(error)), 1);
            QCOMPARE(msg(), *text ? expect(error ? "Waring" : "Error", text) : "");
        }
        const QString told = msg();
        emit m_device->error(DeviceFlash::DeviceError_FirmwareLost);
        // No second close request.
        emit cloud()->syncError(SyncCloud::SyncError_FirstRunError);
        QTest::qWait(50);
        QCOMPARE(msg(), told);
        click("pushButton_MsgOK");
        WAIT(!m_window->isVisible() && !m_device->isBusy());
    }

    // A backup is saved as the file that brings the adapter's configuration back byte for byte
    // (the restore of such a file runs end to end); a path that cannot be written says so and
    // leaves no file, and the next backup is saved all the same. A backup of another adapter, a
    // damaged one or one for a newer firmware is refused before anything reaches the adapter.
    // What the diagnostics file holds is said first; it names the adapter and carries the
    // exchanges of the connection. Then an update cut after its erase: plugged in again, the
    // adapter has lost its firmware and its settings; the copy the update took is offered, and
    // accepted brings them back. The copy kept before a boot mode change goes back from the
    // settings: the change undone. With nowhere to keep a copy of the settings, nothing is
    // erased.
    void settingsFiles()
    {
        sim::FirmwareSetup fw; // the firmware the catalog holds for 5.6.0
        std::tie(fw.applicationSeed, fw.dataA, fw.macros) =
            std::tuple(qHash(QString("5.6.0")), QByteArray(200, 'A'), QByteArray(300, 'M'));
        start(fw);
        const QByteArray before = m_adapter->peek(0x08004000, 0x3C000); // the configuration
        // The name given in the dialog, and the file written (empty: none can be).
        for (const auto &[given, written] : {std::pair{"missing/adapter.bkp", ""},
                                             {"adapter.bkp", "adapter.bkp"},
                                             {"mybackup", "mybackup.bkp"}}) {
            messages()->hide();
            const QString path = m_fileAnswers.emplaceBack(m_dir.filePath(given));
            settingsClick("pushButton_DataBackup");
            if (!*written) {
                WAIT_MSG("Error", shown("The backup file could not be written: %1").arg(path));
                QVERIFY(!QFile::exists(path) && m_settings->isEnabled());
                continue;
            }
            WAIT_MSG(kTool, "successfully!");
            QVERIFY(!m_settings->isVisible() && m_settings->isEnabled());
            QCOMPARE(m_dialogCalls.takeLast().mid(3), QStringList{"backup Files (*.bkp)"});
            QFile file(m_dir.filePath(written));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), BackupFile::encode(before, m_device->serialNumber()));
        }
        for (int damage = 0; damage < 3; ++damage) { // other adapter, changed byte, needs 5.7
            messages()->hide();
            fw.minor = damage == 2 ? 7 : 6;
            QByteArray file = BackupFile::encode(
                sim::configImage(fw),
                damage == 0 ? QByteArray("000000000000000000000001") : m_device->serialNumber());
            if (damage == 1)
                file[20000] = char(file.at(20000) ^ 0x40);
            m_fileAnswers << m_dir.filePath("refused.bkp");
            QVERIFY(BackupFile::save(m_fileAnswers.last(), file));
            m_adapter->clearCommands();
            settingsClick("pushButton_DataRestore");
            QCOMPARE(msg(), damage == 2
                                ? expect(kTool, shown("Firmware Update Required") + "( >= 5.7.0) !")
                                : expect(kTool, "Corrupted file/Unauthorized !"));
            QTest::qWait(20);
            QVERIFY(!m_device->isBusy() && m_adapter->commands().isEmpty() &&
                    (damage == 2 || !m_settings->isVisible()));
        }
        QFile diagnostics(m_fileAnswers.emplaceBack(m_dir.filePath("diagnostics.txt")));
        settingsClick("pushButton_Diagnostics");
        WAIT(m_asked.size() == 1 && diagnostics.exists());
        QVERIFY(diagnostics.open(QIODevice::ReadOnly));
        const QByteArray text = diagnostics.readAll();
        QVERIFY(text.contains("serial: " + m_device->serialNumber()) &&
                text.contains("firmware: 5.6.0"));
        const Transcript::Record first = DiagnosticsBundle::exchangesOf(text).value(0);
        QVERIFY(first.operation == "connection" && first.frames.size() > 600);

        const auto block = [this] { return m_adapter->peek(0x08004000, 16384); };
        m_adapter->armFault(sim::Fault::Unplug, 40);
        click("pushButton_Update");
        WAIT(!m_device->isBusy() && !m_adapter->isPlugged() && block() != before.left(16384));
        plug(false);
        // The connection that finds the loss still reads when the offer is accepted (the last
        // of its 642 replies comes late): the copy goes back once it has read.
        m_adapter->setLateReplyDelay(std::chrono::milliseconds(600));
        m_adapter->armFault(sim::Fault::LateReply, 642);
        plug(true);
        WAIT_MSG(kTool, "Restored successfully!");
        WAIT(!m_device->isBusy());
        QVERIFY(m_adapter->peek(0x08004000, 0x3C000) == before && m_device->version() == "5.6.0");
        messages()->hide(); // a new message waits for the shown one's time to run out
        emit m_settings->bootModeChanged(3); // as the dialog's list does
        WAIT_MSG(kTool, "successfully!");
        WAIT(!m_device->isBusy() && block() != before.left(16384));
        messages()->hide();
        settingsClick("pushButton_RestoreCopy");
        QCOMPARE(m_settings->findChild<QComboBox *>("comboBox_SafetyCopies")->count(), 2);
        WAIT_MSG(kTool, "successfully!");
        WAIT(!m_device->isBusy() && block() == before.left(16384));
        messages()->hide();
        const QString copies =
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/safety-copies";
        QVERIFY(QDir(copies).removeRecursively() && BackupFile::save(copies, "not a folder"));
        const QByteArray flash = m_adapter->peek(0x08000000, 0x100000);
        click("pushButton_Update");
        WAIT_MSG("Error", "No copy of the settings could be kept, so nothing was changed! Please "
                          "try again.");
        WAIT(!m_device->isBusy());
        QVERIFY(m_adapter->peek(0x08000000, 0x100000) == flash && controls() == 4);
        // The diagnostics' word and the offer after the cut were the only questions.
        QVERIFY(m_asked.size() == 2 &&
                m_asked[1].contains(shown("Firmware lost! Please update firmware!")));
    }

    // An attached adapter that cannot be opened: once the catalog is in, the page without an
    // adapter says why and the way out, and nothing more once it connects. Then pulled out, idle
    // or mid-operation: the dialogs close and the settings cannot be opened; back again, the
    // bars are reset and the window is usable (the offer of the copy taken before the cut
    // declined).
    void unplug()
    {
        // What keeps the adapter from being opened at first, and what runs when it is pulled
        // out: nothing (the settings open), an update, a backup.
        for (const auto &[error, text, operation] :
             {std::tuple{EACCES,
                         "The adapter is attached, but this user may not open it. Install the", 0},
              {EBUSY, "The adapter is attached, but another program is using it. Close that", 1},
              {EIO, "The adapter is attached, but it cannot be opened: Failed to open a device",
               2}}) {
            m_adapter = plugAdapter();
            m_adapter->setOpenError(error);
            makeWindow();
            WAIT(page() == w("page_Unconnected") && label("label_Blocker").startsWith(text) &&
                 (error != EIO || label("label_Blocker").endsWith(std::strerror(error))));
            m_adapter->setOpenError(0);
            plug(true);
            waitConnected();
            QCOMPARE(label("label_Blocker"), QString());
            messages()->hide();
            // Still running when the test looks, however busy the machine.
            m_adapter->setReportDelay(us(3000));
            auto *shownBar = operation == 1 ? bar() : m_settings->findChild<QProgressBar *>();
            operation == 2 ? settingsClick("pushButton_DataBackup")
                           : click(operation ? "pushButton_Update" : "toolButton_Settings");
            WAIT(operation == 0 || (shownBar->isVisible() && m_device->isBusy()));
            m_window->showMessage(QStringLiteral("Title"), QStringLiteral("Text"));
            plug(false);
            WAIT(!m_device->isBusy() && page() == w("page_Unconnected"));
            QVERIFY(!m_settings->isVisible() && !w("toolButton_Settings")->isEnabled());
            // A cut operation may tell its error.
            QVERIFY(operation == 0 ? msg().isEmpty() : !msg().startsWith("Title"));
            m_adapter->setReportDelay(us(0));
            m_answer = "toolButton_Close";
            plug(true);
            waitConnected();
            QTest::qWait(100);
            QVERIFY(controls() == 4 && m_settings->isEnabled() && shownBar->isHidden() &&
                    (operation == 0 || m_settings->findChild<QProgressBar *>()->maximum() == 0));
            cleanup();
        }
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
