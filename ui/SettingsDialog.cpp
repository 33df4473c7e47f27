#include "ui/SettingsDialog.h"

#include "ui/LogViewDialog.h"
#include "ui/RunLog.h"
#include "ui_settingsdialog.h"

#include <QListView>

namespace {
// Wide enough for the backup buttons and for the boot mode caption of every language on two
// lines at most; a fixed width keeps the dialog from growing with one language and staying so.
constexpr int DialogWidth = 440;
} // namespace

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::SettingsDialog>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);
    m_ui->progressBar->hide();
    m_ui->comboBox->setPlaceholderText(tr("UNDEFINE"));
    // List views, as the main window's version list has, so the style sheet's item rules apply.
    m_ui->comboBox->setView(new QListView(m_ui->comboBox));
    m_ui->comboBox_SafetyCopies->setView(new QListView(m_ui->comboBox_SafetyCopies));
    // The caption wraps only where a language needs it: it, not the spacers around it, takes
    // the room the combo box leaves.
    m_ui->label->setWordWrap(true);
    for (int spacer : {0, 3}) {
        m_ui->horizontalLayout_2->itemAt(spacer)->spacerItem()->changeSize(8, 20);
        m_ui->horizontalLayout_2->setStretch(spacer, 0);
    }
    m_ui->horizontalLayout_2->setStretch(1, 1);
    // The copy list takes what the button leaves, its entries elided rather than the button cut.
    m_ui->comboBox_SafetyCopies->setSizeAdjustPolicy(
        QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_ui->comboBox_SafetyCopies->setMinimumContentsLength(12);
    m_ui->horizontalLayout_Copies->setStretch(0, 0);
    m_ui->horizontalLayout_Copies->setStretch(1, 1);
    m_ui->horizontalLayout_Copies->setStretch(3, 0);
    setFixedWidth(DialogWidth);

    connect(m_ui->comboBox, &QComboBox::currentIndexChanged, this,
            &SettingsDialog::onComboBoxIndexChanged);
    connect(m_ui->toolButton_Close, &QToolButton::clicked, this, &SettingsDialog::onCloseClicked);
    connect(m_ui->pushButton_DataBackup, &QPushButton::clicked, this, &SettingsDialog::dataBackup);
    connect(m_ui->pushButton_DataRestore, &QPushButton::clicked, this,
            &SettingsDialog::dataRestore);
    connect(m_ui->pushButton_RestoreCopy, &QPushButton::clicked, this, [this] {
        if (m_ui->comboBox_SafetyCopies->currentIndex() >= 0)
            emit restoreSafetyCopy(m_ui->comboBox_SafetyCopies->currentIndex());
    });
    connect(m_ui->pushButton_Diagnostics, &QPushButton::clicked, this,
            &SettingsDialog::saveDiagnostics);
    setSafetyCopies({});

    m_logView = new LogViewDialog(this);
    connect(m_ui->pushButton_ShowLog, &QPushButton::clicked, this, &SettingsDialog::showLog);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::setBootMode(int mode, bool supported)
{
    if (supported) {
        m_mode = mode;
        // A mode the list has no entry for (the adapter may report 6) shows the placeholder
        // with no entry selected, so no entry is claimed that the adapter does not use.
        const bool known = mode >= 0 && mode < m_ui->comboBox->count();
        m_ui->comboBox->setCurrentIndex(known ? mode : -1);
    }
    m_ui->comboBox->setVisible(supported);
    m_ui->label->setVisible(supported);
}

void SettingsDialog::setDataRestoreVisible(bool visible)
{
    m_ui->pushButton_DataBackup->show();
    m_ui->pushButton_DataRestore->setVisible(visible);
}

void SettingsDialog::setProgress(qlonglong current, qlonglong total)
{
    if (m_ui->progressBar->maximum() != total)
        m_ui->progressBar->setMaximum(static_cast<int>(total));
    if (current < total) {
        m_ui->progressBar->setValue(static_cast<int>(current));
        if (m_ui->progressBar->isHidden())
            m_ui->progressBar->show();
    } else {
        m_ui->progressBar->hide();
    }
}

void SettingsDialog::setSafetyCopies(const QStringList &copies)
{
    m_ui->comboBox_SafetyCopies->clear();
    m_ui->comboBox_SafetyCopies->addItems(copies);
    m_ui->comboBox_SafetyCopies->setVisible(!copies.isEmpty());
    m_ui->pushButton_RestoreCopy->setVisible(!copies.isEmpty());
}

void SettingsDialog::retranslate()
{
    m_ui->retranslateUi(this);
    m_ui->comboBox->setPlaceholderText(tr("UNDEFINE"));
    m_logView->retranslate();
}

void SettingsDialog::showLog()
{
    // Read afresh at every opening: the log grows while the tool runs.
    const RunLog *log = RunLog::active();
    m_logView->setLog(log ? log->text() : QString());
    m_logView->show();
    m_logView->raise();
    m_logView->activateWindow();
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    // As tall as this language and these rows need, and over the middle of the window each time.
    adjustSize();
    if (const QWidget *window = parentWidget() ? parentWidget()->window() : nullptr)
        move(window->geometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(event);
}

void SettingsDialog::onComboBoxIndexChanged(int index)
{
    // Index -1 is the placeholder for an unknown mode: it is shown, never chosen.
    if (!isVisible() || index < 0 || index == m_mode)
        return;
    emit bootModeChanged(index);
    m_mode = index;
}

void SettingsDialog::onCloseClicked()
{
    setResult(QDialog::Rejected);
    close();
    emit closed();
}
