#include "ui/MessageDialog.h"

#include "ui_messagedialog.h"

#include <QCoreApplication>
#include <QStyle>
#include <QTextCursor>

#include <optional>

namespace {
constexpr int DisplayIntervalMs = 3000;
constexpr int IconSize = 22;

// The window tells errors, warnings and successes apart only by their words: its error and
// warning titles, and the success texts it puts under its own name.
std::optional<QStyle::StandardPixmap> iconFor(const QString &title, const QString &text)
{
    const auto window = [](const char *source) {
        return QCoreApplication::translate("MainWindow", source);
    };
    if (title == window("Error"))
        return QStyle::SP_MessageBoxCritical;
    if (title == window("Waring"))
        return QStyle::SP_MessageBoxWarning;
    for (const char *success : {"Update successfully!", "Restored successfully!", "successfully!"})
        if (text.startsWith(window(success)))
            return QStyle::SP_DialogApplyButton;
    return std::nullopt;
}
} // namespace

MessageDialog::MessageDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MessageDialog>())
    , m_timer(new QTimer(this))
{
    // The text browser's cursor may travel through queued connections.
    qRegisterMetaType<QTextCursor>("QTextCursor");

    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);

    // The icon goes right beside the centred title: both sit between two stretches, and a gap
    // as wide as the close button on the left keeps them in the middle of the dialog.
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("label_Icon"));
    m_icon->hide();
    QBoxLayout *titleRow = m_ui->horizontalLayout;
    titleRow->insertSpacing(0, m_ui->toolButton_Close->minimumWidth());
    titleRow->insertStretch(1);
    titleRow->insertWidget(2, m_icon);
    titleRow->insertStretch(4);

    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!m_pending.isEmpty())
            showLastPending();
    });
    connect(m_ui->pushButton_MsgOK, &QPushButton::clicked, this, &MessageDialog::onOkClicked);
    connect(m_ui->pushButton_MsgRestore, &QPushButton::clicked, this,
            &MessageDialog::onRestoreClicked);
    connect(m_ui->pushButton_MsgUpdate, &QPushButton::clicked, this,
            &MessageDialog::onUpdateClicked);
    connect(m_ui->toolButton_Close, &QToolButton::clicked, this, &MessageDialog::onCloseClicked);
    // Escape ends a dialog without any button; it must not leave execMessage() waiting for
    // ever nor keep later messages out as if the notification were still up.
    connect(this, &QDialog::finished, this, &MessageDialog::onFinished);
}

MessageDialog::~MessageDialog() = default;

void MessageDialog::showMessage(const QString &title, const QString &text)
{
    if (m_notifying)
        return;
    m_ui->pushButton_MsgOK->show();
    m_ui->pushButton_MsgRestore->hide();
    m_ui->pushButton_MsgUpdate->hide();
    m_pending.clear();
    m_pending.append(qMakePair(title, text));
    // A visible dialog keeps what it shows until the next tick replaces it.
    if (!isVisible())
        showLastPending();
}

void MessageDialog::showNotification(const QString &text, bool showUpdateButton,
                                     const QString &toolTip)
{
    m_notifying = true;
    setTitle(tr("Notification"), text);
    m_ui->pushButton_MsgOK->hide();
    m_ui->pushButton_MsgRestore->show();
    m_ui->pushButton_MsgUpdate->setVisible(showUpdateButton);
    showText(text, toolTip);
    show();
}

int MessageDialog::execMessage(const QString &title, const QString &text)
{
    m_ui->pushButton_MsgOK->show();
    m_ui->pushButton_MsgRestore->hide();
    m_ui->pushButton_MsgUpdate->hide();
    setTitle(title, text);
    showText(text);
    show();
    m_loop.exec();
    return result();
}

void MessageDialog::retranslate()
{
    m_ui->retranslateUi(this);
}

void MessageDialog::showLastPending()
{
    const auto [title, text] = m_pending.takeLast();
    setTitle(title, text);
    showText(text);
    m_timer->start(DisplayIntervalMs);
    show();
}

void MessageDialog::showText(const QString &text, const QString &toolTip)
{
    // Plain always: texts carry file names and the server's change logs, never markup.
    m_ui->textBrowser->setPlainText(text);
    m_ui->textBrowser->setToolTip(toolTip);
}

void MessageDialog::setTitle(const QString &title, const QString &text)
{
    m_ui->label_Title->setText(title);
    const std::optional<QStyle::StandardPixmap> icon = iconFor(title, text);
    if (icon)
        m_icon->setPixmap(style()
                              ->standardIcon(*icon, nullptr, this)
                              .pixmap(QSize(IconSize, IconSize), devicePixelRatioF()));
    m_icon->setVisible(icon.has_value());
}

void MessageDialog::onOkClicked()
{
    finish(QDialog::Accepted, &MessageDialog::okButtonClicked);
}

void MessageDialog::onRestoreClicked()
{
    finish(QDialog::Rejected, &MessageDialog::restoreDefaultsButtonClicked);
}

void MessageDialog::onUpdateClicked()
{
    finish(QDialog::Rejected, &MessageDialog::updateFirmwareButtonClicked);
}

void MessageDialog::onCloseClicked()
{
    finish(QDialog::Rejected, nullptr);
}

// The answer is known before the button's signal goes out, and the dialog is gone before
// closed() does.
void MessageDialog::finish(int result, void (MessageDialog::*clicked)())
{
    setResult(result);
    m_loop.quit();
    if (clicked)
        emit(this->*clicked)();
    m_notifying = false;
    if (result == QDialog::Accepted)
        accept();
    else
        close();
    emit closed();
}

void MessageDialog::onFinished()
{
    m_loop.quit();
    m_notifying = false;
}
