// Renders every page of the main window form and both dialogs to PNG files, offscreen and
// with the application style sheet, so the interface can be looked at without an adapter.
//
//   halvern-ui-preview OUTPUT_DIR
#include "ui/LogViewDialog.h"
#include "ui/MessageDialog.h"
#include "ui/SettingsDialog.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QListView>
#include <QMovie>
#include <QProgressBar>
#include <QTextStream>

namespace {

bool save(QWidget *widget, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(path)) {
        QTextStream(stderr) << "could not write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: halvern-ui-preview OUTPUT_DIR\n";
        return 2;
    }
    QDir dir;
    if (!dir.mkpath(QString::fromLocal8Bit(argv[1])))
        return 1;
    dir.setPath(QString::fromLocal8Bit(argv[1]));

    const int font = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/en-micross.ttf"));
    if (font >= 0)
        QApplication::setFont(QFont(QFontDatabase::applicationFontFamilies(font).value(0)));
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/cn-msyh.ttf"));

    QWidget window;
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QFile sheet(QStringLiteral(":/ui/style.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        window.setStyleSheet(QString::fromUtf8(sheet.readAll()));

    // Sample run-time texts, as a connected adapter would leave them.
    ui.label_Title->setText(QStringLiteral("HalVern M7 Firmware Tool v2.3.4"));
    ui.label_ProductConnected->setText(QStringLiteral("SN: 4F2A-0917-33C1"));
    ui.label_CurrentVersion->setText(QStringLiteral("Current Firmware Version: 5.6.1"));
    ui.comboBox_Version->setView(new QListView(ui.comboBox_Version));
    ui.comboBox_Version->addItems({QStringLiteral("5.6.2"), QStringLiteral("5.6.1")});
    ui.progressBar->setValue(40);
    QMovie movie(QStringLiteral(":/images/loading.gif"));
    movie.setScaledSize(QSize(168, 168));
    ui.label_Busying->setMovie(&movie);
    movie.start();
    movie.jumpToFrame(12);
    ui.toolButton_Network->setEnabled(true);

    window.show();
    bool ok = true;
    const QStringList pages{QStringLiteral("page_Start"), QStringLiteral("page_Unconnected"),
                            QStringLiteral("page_Connected")};
    for (int index = 0; index < pages.size(); ++index) {
        ui.stackedWidget->setCurrentIndex(index);
        ok &= save(&window, dir, QStringLiteral("mainwindow-") + pages.at(index));
    }
    ui.toolButton_Network->setEnabled(false);
    ui.stackedWidget->setCurrentIndex(1);
    ok &= save(&window, dir, QStringLiteral("mainwindow-offline"));

    MessageDialog message(&window);
    message.showMessage(
        QStringLiteral("Version Change LOG"),
        QStringLiteral("5.6.2: faster start-up. Questions: support@halvern.example"));
    ok &= save(&message, dir, QStringLiteral("messagedialog-message"));
    message.hide();
    MessageDialog notification(&window);
    notification.showNotification(QStringLiteral("Erase all data?"), true);
    ok &= save(&notification, dir, QStringLiteral("messagedialog-notification"));
    notification.hide();

    SettingsDialog settings(&window);
    settings.setBootMode(1, true);
    settings.setDataRestoreVisible(true);
    settings.setProgress(30, 100);
    settings.show();
    ok &= save(&settings, dir, QStringLiteral("settingsdialog"));
    settings.setBootMode(6, true);
    settings.setProgress(0, 0);
    ok &= save(&settings, dir, QStringLiteral("settingsdialog-undefined"));

    LogViewDialog log(&settings);
    log.setLog(QStringLiteral(
        "2026-12-07T14:03:22.041 debug    App Font Families: 0 QList(\"DengXian\")\n"
        "2026-12-07T14:03:22.187 info     setIsBusy --  true\n"
        "2026-12-07T14:03:23.190 info     DeviceFlash open ... 3642 45938 false\n"
        "2026-12-07T14:03:23.191 warning  SyncCloud::error SyncError_NetworkError\n"));
    log.show();
    ok &= save(&log, dir, QStringLiteral("logviewdialog"));
    return ok ? 0 : 1;
}
