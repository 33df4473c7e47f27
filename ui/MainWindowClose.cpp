// The window while the adapter is in use: a close waits until the adapter is idle, and a second
// operation is refused while one holds it.
#include "ui/MainWindow.h"

#include "ui/MessageDialog.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDebug>

void MainWindow::safeClose()
{
    m_closeRequested = true;
    if (!adapterInUse()) {
        disconnect(m_device, &DeviceFlash::isBusyChanged, this,
                   &MainWindow::onSafeCloseBusyChanged);
        close();
        return;
    }
    showClosePending();
    // Queued like the handler that ends m_operationStarting, and made after it, so that one has
    // run when this one asks again.
    connect(m_device, &DeviceFlash::isBusyChanged, this, &MainWindow::onSafeCloseBusyChanged,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    // The adapter may have gone idle just before the connection: its report is then queued for
    // the other handlers only, and the window would wait for ever. Ask again after them.
    if (!m_device->isBusy())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!adapterInUse())
                    onSafeCloseBusyChanged(false);
            },
            Qt::QueuedConnection);
}

void MainWindow::showClosePending()
{
    // The window goes away by itself later; until then the user sees why it is still there.
    m_ui->toolButton_Close->setEnabled(false);
    m_ui->toolButton_Close->setToolTip(tr("closing when the adapter is idle"));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window manager's close button, Alt+F4 and the end of the session arrive here, not
    // through safeClose(); the application ends with this window, so they must wait as well.
    if (adapterInUse()) {
        event->ignore();
        safeClose();
        return;
    }
    // A catalog download may still be in its nested event loop: it must not go on to the device.
    m_closeRequested = true;
    FramelessWidget::closeEvent(event);
}

void MainWindow::onSafeCloseBusyChanged(bool isBusy)
{
    if (isBusy)
        return;
    qInfo() << "safe close...";
    safeClose();
}

bool MainWindow::adapterInUse() const
{
    return m_device->isBusy() || m_operationStarting;
}

bool MainWindow::refuseWhileBusy()
{
    if (!adapterInUse() && !m_preparing)
        return false;
    qInfo() << "device operation refused: the adapter is busy";
    // Queued: a notification that called us is still up and would swallow the message.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_messageDialog->showMessage(tr("Waring"), tr("HalVern M7 is busy, please wait."));
        },
        Qt::QueuedConnection);
    return true;
}

void MainWindow::markOperationStarted()
{
    // Every launcher does nothing without an open adapter, and then no idle report would
    // ever clear the mark.
    m_operationStarting = m_device->isConnected();
}
