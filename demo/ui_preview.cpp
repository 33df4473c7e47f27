// Renders the real window to PNG files, offscreen: the product's MainWindow against the demo's
// simulated adapter and catalog server, so every text, serial and version is the one a user
// sees. Each page, the dialogs (also over the window and over each other) and Qt's file dialog
// are rendered in all five languages; an update and a backup run for real to be caught midway.
//
//   halvern-ui-preview OUTPUT_DIR
//
// The screen's scale comes from the environment (QT_SCALE_FACTOR=2 renders at 200 %).
#include "app/ApplicationFonts.h"
#include "demo/DemoCatalogServer.h"
#include "demo/SimulatedAdapterWindow.h"
#include "device/DeviceFlash.h"
#include "ui/LogViewDialog.h"
#include "ui/MainWindow.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QNetworkProxy>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

const char *const kLanguages[] = {"en", "zh", "ja", "ru", "fr"};

class Preview
{
public:
    Preview(MainWindow &window, const QDir &dir)
        : m_window(window)
        , m_dir(dir)
    {}

    template<typename T>
    T *child(const char *name) const
    {
        return m_window.findChild<T *>(QString::fromLatin1(name));
    }

    MessageDialog *messages() const { return m_window.findChild<MessageDialog *>(); }
    SettingsDialog *settings() const { return m_window.findChild<SettingsDialog *>(); }

    // Runs the event loop until the condition holds; false after the time-out.
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }

    // The window with the given dialogs on top, where the window system would show them.
    bool save(const QString &name, const QList<QWidget *> &dialogs = {})
    {
        QCoreApplication::processEvents();
        QPixmap picture = m_window.grab();
        {
            QPainter painter(&picture);
            for (QWidget *dialog : dialogs)
                painter.drawPixmap(dialog->pos() - m_window.pos(), dialog->grab());
        }
        const QString path = m_dir.filePath(QStringLiteral("%1-%2.png").arg(m_language, name));
        if (!picture.save(path)) {
            QTextStream(stderr) << "could not write " << path << '\n';
            m_ok = false;
            return false;
        }
        QTextStream(stdout) << path << '\n';
        return true;
    }

    // A dialog larger than the window, on its own.
    bool saveAlone(QWidget *dialog, const QString &name)
    {
        const QString path = m_dir.filePath(QStringLiteral("%1-%2.png").arg(m_language, name));
        if (!dialog->grab().save(path))
            return fail(QStringLiteral("could not write ") + path);
        QTextStream(stdout) << path << '\n';
        return true;
    }

    bool fail(const QString &what)
    {
        QTextStream(stderr) << "preview: " << m_language << ": " << what << '\n';
        m_ok = false;
        return false;
    }

    // Starts an operation and saves the picture once its progress bar has passed two fifths.
    bool catchMidway(QProgressBar *bar, const QString &name, const QList<QWidget *> &dialogs,
                     const std::function<void()> &start, const std::function<void()> &then = {})
    {
        bool caught = false;
        const auto connection = QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
            if (!caught && bar->isVisible() && value > bar->maximum() * 2 / 5) {
                caught = true;
                if (then)
                    then();
                save(name, dialogs);
            }
        });
        start();
        waitFor([&] { return caught; });
        QObject::disconnect(connection);
        return caught || fail(QStringLiteral("no progress for ") + name);
    }

    void dismissMessage()
    {
        if (messages()->isVisible())
            child<QPushButton>("pushButton_MsgOK")->click();
        // A message that waited behind the last one comes with the next tick of the dialog.
        waitFor([this] { return !messages()->isVisible(); }, 4000);
    }

    bool messageShows(const char *source)
    {
        // The browser's plain text turns no-break spaces (French) into spaces.
        const QString text = QCoreApplication::translate("MainWindow", source)
                                 .replace(QChar::Nbsp, QLatin1Char(' '));
        auto *browser = messages()->findChild<QWidget *>(QStringLiteral("textBrowser"));
        return waitFor([&] {
            return messages()->isVisible() &&
                   browser->property("plainText").toString().contains(text);
        });
    }

    void setLanguage(int index)
    {
        m_language = QString::fromLatin1(kLanguages[index]);
        child<QComboBox>("comboBox_Languages")->setCurrentIndex(index);
    }

    void pages()
    {
        auto *stack = child<QStackedWidget>("stackedWidget");
        const QStringList names{QStringLiteral("start"), QStringLiteral("unconnected"),
                                QStringLiteral("connected")};
        for (int page = 0; page < names.size(); ++page) {
            stack->setCurrentIndex(page);
            save(names.at(page));
        }
    }

    // The unconnected page with each reason an attached adapter cannot be used.
    void blockers()
    {
        auto *device = m_window.findChild<DeviceFlash *>();
        auto *stack = child<QStackedWidget>("stackedWidget");
        QWidget *shown = stack->currentWidget();
        stack->setCurrentWidget(child<QWidget>("page_Unconnected"));
        const QList<QPair<DeviceFlash::OpenBlocker, QString>> blockers{
            {DeviceFlash::OpenBlocker_Permission, QStringLiteral("permission")},
            {DeviceFlash::OpenBlocker_Busy, QStringLiteral("busy")},
            {DeviceFlash::OpenBlocker_Other, QStringLiteral("other")}};
        for (const auto &[blocker, name] : blockers) {
            emit device->openBlocked(
                blocker, QStringLiteral("Failed to open a device with path '/dev/hidraw3': "
                                        "Input/output error"));
            QCoreApplication::processEvents();
            save(QStringLiteral("unconnected-") + name);
        }
        emit device->openBlocked(DeviceFlash::OpenBlocker_None, QString());
        QCoreApplication::processEvents();
        stack->setCurrentWidget(shown);
    }

    void logView()
    {
        LogViewDialog log(&m_window);
        log.setLog(QStringLiteral(
            "2026-12-07T14:03:22.041 debug    App Font Families: 0 QList(\"DengXian\")\n"
            "2026-12-07T14:03:22.187 info     setIsBusy --  true\n"
            "2026-12-07T14:03:23.190 info     DeviceFlash open ... 3642 45938 false\n"
            "2026-12-07T14:03:23.191 warning  SyncCloud::error SyncError_NetworkError\n"));
        log.show();
        saveAlone(&log, QStringLiteral("logviewdialog"));
    }

    void update(int versionIndex)
    {
        child<QComboBox>("comboBox_Version")->setCurrentIndex(versionIndex);
        if (!catchMidway(child<QProgressBar>("progressBar"), QStringLiteral("updating"), {},
                         [this] { child<QPushButton>("pushButton_Update")->click(); }))
            return;
        if (!messageShows("Update successfully!"))
            return void(fail(QStringLiteral("no update result")));
        save(QStringLiteral("update-done"), {messages()});
        dismissMessage();
    }

    void messagesOfTheWindow(const QString &firmwarePath)
    {
        // A cancelled file choice: the warning.
        m_window.setFileDialog([](auto, auto, auto, auto) { return QString(); });
        child<QToolButton>("toolButton_OpenFile")->click();
        if (messageShows("Empty file or wrong version!"))
            save(QStringLiteral("message-warning"), {messages()});
        dismissMessage();

        m_window.setFileDialog([firmwarePath](auto, auto, auto, auto) { return firmwarePath; });
        child<QToolButton>("toolButton_OpenFile")->click();
        waitFor([this] { return messages()->isVisible(); });
        save(QStringLiteral("message-notification"), {messages()});
        messages()->findChild<QToolButton *>(QStringLiteral("toolButton_Close"))->click();
        waitFor([this] { return !messages()->isVisible(); });

        child<QToolButton>("toolButton_VersionInfo")->click();
        waitFor([this] { return messages()->isVisible(); });
        save(QStringLiteral("message-changelog"), {messages()});
        dismissMessage();
    }

    void settingsDialog(const QString &backupPath)
    {
        child<QToolButton>("toolButton_Settings")->click();
        if (!waitFor([this] { return settings()->isVisible(); }))
            return void(fail(QStringLiteral("no settings dialog; its button enabled: %1, "
                                            "a message up: %2")
                                 .arg(child<QToolButton>("toolButton_Settings")->isEnabled())
                                 .arg(messages()->isVisible())));
        save(QStringLiteral("settings"), {settings()});

        // A backup, caught while it reads; the file is then saved where the seam says.
        m_window.setFileDialog([backupPath](auto, auto, auto, auto) { return backupPath; });
        catchMidway(settings()->findChild<QProgressBar *>(QStringLiteral("progressBar")),
                    QStringLiteral("settings-backup"), {settings()}, [this] {
                        settings()
                            ->findChild<QPushButton *>(QStringLiteral("pushButton_DataBackup"))
                            ->click();
                    });
        if (messageShows("successfully!"))
            save(QStringLiteral("message-success"), {messages()});
        dismissMessage();

        // A boot mode change answers with a message over the open settings dialog.
        child<QToolButton>("toolButton_Settings")->click();
        waitFor([this] { return settings()->isVisible(); });
        auto *modes = settings()->findChild<QComboBox *>(QStringLiteral("comboBox"));
        modes->setCurrentIndex((modes->currentIndex() + 1) % modes->count());
        if (messageShows("successfully!"))
            save(QStringLiteral("settings-message"), {settings(), messages()});
        dismissMessage();
        settings()->findChild<QToolButton *>(QStringLiteral("toolButton_Close"))->click();
    }

    // The tool's own open-file call, with Qt's dialog as offscreen platforms give it.
    void fileDialog()
    {
        m_window.setFileDialog({});
        QTimer::singleShot(300, &m_window, [this] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog) {
                fail(QStringLiteral("no file dialog"));
                return;
            }
            saveAlone(dialog, QStringLiteral("file-dialog"));
            dialog->reject();
        });
        child<QToolButton>("toolButton_OpenFile")->click();
        dismissMessage(); // the cancelled choice's warning
    }

    // Closed during an update: the close button waits, dimmed, and the window goes at the end.
    void closeDuringUpdate()
    {
        auto *close = child<QWidget>("frame_Header")
                          ->findChild<QToolButton *>(QStringLiteral("toolButton_Close"));
        if (!catchMidway(
                child<QProgressBar>("progressBar"), QStringLiteral("closing"), {},
                [this] { child<QPushButton>("pushButton_Update")->click(); },
                [close] { close->click(); }))
            return;
        if (!waitFor([this] { return !m_window.isVisible(); }))
            fail(QStringLiteral("the window stayed after the update"));
    }

    bool ok() const { return m_ok; }

private:
    MainWindow &m_window;
    QDir m_dir;
    QString m_language = QStringLiteral("en");
    bool m_ok = true;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A home of its own that starts empty every time: no catalog cache or language from an
    // earlier run, the user's settings untouched, and no other run to share files with.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qunsetenv(name);
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: halvern-ui-preview OUTPUT_DIR\n";
        return 2;
    }
    QDir dir;
    if (!dir.mkpath(QString::fromLocal8Bit(argv[1])))
        return 1;
    dir.setPath(QString::fromLocal8Bit(argv[1]));

    QCoreApplication::setApplicationName(QStringLiteral("HalVern M7 Firmware Tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
    QCoreApplication::setOrganizationName(QStringLiteral("HalVern"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    loadApplicationFonts(applicationFontPaths());

    DemoCatalogServer server;
    if (!server.listen())
        return 1;
    SimulatedAdapterWindow adapter;
    // Fast, the pictures need its answers rather than its timing, yet slow enough that an
    // update spans several frames of the window's progress bar and is caught midway.
    adapter.adapter().setReportDelay(std::chrono::microseconds(50));
    adapter.adapter().setEraseTimePerSector(std::chrono::milliseconds(0));
    // Outside the data folder, which the tool keeps tidy itself.
    const QString files = home.filePath(QStringLiteral("files"));
    QDir().mkpath(files);
    const QStringList firmware = adapter.writeSampleFiles(files);

    MainWindow window(nullptr, server.url());
    window.findChild<DeviceFlash *>()->addDeviceChangeSource(adapter.deviceSource());
    window.show();
    Preview preview(window, dir);
    Preview::waitFor([&] { return window.findChild<QStackedWidget *>()->currentIndex() == 1; });
    adapter.plugIn();
    if (!Preview::waitFor([&] {
            return window.findChild<QStackedWidget *>()->currentIndex() == 2 &&
                   !window.findChild<QLabel *>(QStringLiteral("label_ProductConnected"))
                        ->text()
                        .isEmpty();
        })) {
        QTextStream(stderr) << "preview: the simulated adapter did not connect\n";
        return 1;
    }
    preview.dismissMessage();

    for (int language = 0; language < 5; ++language) {
        preview.setLanguage(language);
        preview.pages();
        preview.blockers();
        // The newest version each time: downloaded once, then taken from the cache.
        preview.update(0);
        preview.messagesOfTheWindow(firmware.value(0));
        preview.settingsDialog(files + QStringLiteral("/backup-%1.bkp").arg(language));
        preview.fileDialog();
    }
    preview.setLanguage(0);
    preview.closeDuringUpdate();
    preview.logView();
    return preview.ok() ? 0 : 1;
}
