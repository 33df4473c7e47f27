#pragma once

#include <QDialog>

#include <memory>

class LogViewDialog;

namespace Ui {
class SettingsDialog;
}

// Boot mode, data backup and data restore. The dialog does no device work itself: it turns
// user actions into signals and shows the values the main window passes in.
class SettingsDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsDialog)

public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    /// @param mode the adapter's boot mode index; a value without a list entry shows "UNDEFINE"
    /// @param supported whether the adapter's firmware lets the boot mode be chosen at all
    void setBootMode(int mode, bool supported);
    void setDataRestoreVisible(bool visible);
    void setProgress(qlonglong current, qlonglong total);
    // The adapter's automatic copies, newest first, as the user reads them; none hides the list.
    void setSafetyCopies(const QStringList &copies);
    void retranslate();

protected:
    void showEvent(QShowEvent *event) override;

signals:
    void closed();
    void dataBackup();
    void dataRestore();
    void bootModeChanged(int mode);
    void restoreSafetyCopy(int index);
    void saveDiagnostics();

private:
    void onComboBoxIndexChanged(int index);
    void onCloseClicked();
    void showLog();

    std::unique_ptr<Ui::SettingsDialog> m_ui;
    int m_mode = -1;
    LogViewDialog *m_logView = nullptr;
};
