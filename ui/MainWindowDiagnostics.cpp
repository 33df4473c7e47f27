// The diagnostics file a user sends when something went wrong: what it holds is said before it
// is written, since the frames of a configuration read carry the user's settings.
#include "ui/MainWindow.h"

#include "ui/DiagnosticsBundle.h"
#include "ui/MessageDialog.h"
#include "ui/RunLog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDialog>
#include <QSaveFile>
#include <QSysInfo>

namespace {

QString hex(quint32 value)
{
    return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0'));
}

} // namespace

// This run's log, as far as one is kept.
QString MainWindow::runLogText()
{
    const RunLog *log = RunLog::active();
    return log ? log->text() : QString();
}

QByteArray MainWindow::diagnostics() const
{
    DiagnosticsBundle::Facts facts;
    facts.toolVersion = QCoreApplication::applicationVersion();
    facts.platform = QStringLiteral("%1, kernel %2, %3, Qt %4")
                         .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(),
                              QSysInfo::currentCpuArchitecture(), QString::fromLatin1(qVersion()));
    const bool connected = m_device->isConnected();
    facts.adapter = {
        {QStringLiteral("connected"), connected ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("open blocked by"),
         DiagnosticsBundle::key(m_openBlocker) + QLatin1Char(' ') + m_openBlockerDetail},
        {QStringLiteral("product id"), hex(m_device->device())},
        {QStringLiteral("serial"), QString::fromLatin1(m_device->serialNumber())},
        {QStringLiteral("firmware"), m_device->version()},
        {QStringLiteral("layout"), m_device->configLayout() == VersionRules::ConfigLayout::V2
                                       ? QStringLiteral("V2")
                                       : QStringLiteral("V1")},
        {QStringLiteral("configuration block read whole"),
         m_device->isConfigBlockRead() ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("markers"),
         QStringLiteral("application %1, data A %2, data B %3")
             .arg(hex(m_device->firmwareMarker()), hex(m_device->configMarkerA()),
                  hex(m_device->configMarkerB()))},
        {QStringLiteral("run state"), DiagnosticsBundle::key(m_device->runStatus())},
        {QStringLiteral("boot mode"), QString::number(m_device->bootMode())},
    };
    facts.catalog = {
        {QStringLiteral("server"), m_syncCloud->catalogUrl().toString()},
        {QStringLiteral("synchronised"),
         m_syncCloud->isSynced() ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("versions"), m_syncCloud->firmwareVersionList().join(QStringLiteral(", "))},
    };
    facts.log = runLogText();
    facts.exchanges = m_device->transcripts();
    return DiagnosticsBundle::compose(facts);
}

void MainWindow::saveDiagnostics()
{
    MessageDialog question(this);
    m_preparing = true;
    const bool accepted =
        question.execMessage(
            tr("Save Diagnostics"),
            tr("The file holds the tool's version and system, the adapter's identity, the "
               "catalog, this run's log and the last exchanges with the adapter, which include "
               "your settings as read. Send it only to whom you want to show them.")) ==
        QDialog::Accepted;
    m_preparing = false;
    if (!accepted)
        return;
    const QString path =
        chooseFile(FileDialogKind::Save, tr("Save Diagnostics"), tr("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray bytes = diagnostics();
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written) {
        qWarning().noquote() << "diagnostics not written:" << path << file.errorString();
        m_messageDialog->showMessage(tr("Error"),
                                     tr("The file could not be written: %1").arg(path));
        return;
    }
    qInfo().noquote() << "diagnostics written:" << path << bytes.size() << "bytes";
    m_messageDialog->showMessage(tr("HalVern Firmware Tool"), tr("successfully!"));
}
