#pragma once

#include "device/CommandFrame.h"
#include "device/Transcript.h"
#include "device/VersionRules.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

struct DeviceChange;
class DeviceChangeSource;
struct FlashImage;
class QEventLoop;
class QHidDevice;
class QWidget;

// The one object through which the tool talks to the adapter. Long operations run as tasks on
// a pool of its own; each holds the device mutex for its whole run and reports only
// through the signals below.
class DeviceFlash : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeviceFlash)

public:
    enum DeviceStatus : qint32 {
        DeviceStatus_Play = 0,
        DeviceStatus_FlashUpgrade = 1,
        DeviceStatus_Factory = 2,
        DeviceStatus_ForceFactory = 3,
        DeviceStatus_Init = 4,
        DeviceStatus_FlashUpgradeImmediately = 5,
        DeviceStatus_Config = 6,
        DeviceStatus_ForceApp = 7,
        DeviceStatus_Unknow = 8,
    };
    Q_ENUM(DeviceStatus)

    enum DeviceError : qint32 {
        DeviceError_FirmwareDataEmpty = 0,
        DeviceError_EraseFlashFailure = 1,
        DeviceError_HardwareFailure = 2,
        DeviceError_FirmwareLost = 3,
        DeviceError_ConfigurationLost = 4,
        // A firmware file too large for the application area: refused before anything is erased.
        DeviceError_FirmwareTooLarge = 5,
        // A write that stopped before its last chunk (link failure, wrong echo, verify mismatch).
        DeviceError_WriteFlashFailure = 6,
        // A backup image whose lengths do not hold together: refused before anything is erased.
        DeviceError_BackupImageInvalid = 7,
        // A backup read that stopped before its last chunk; the image is incomplete.
        DeviceError_BackupReadFailure = 8,
        // A restore onto an adapter without the V2 layout, whose application starts where the
        // restore would write the macro block: refused before anything is erased.
        DeviceError_RestoreNotSupported = 9,
        // The configuration block or the hardware information was not read completely at
        // connection: update, restore, boot mode and backup are refused until a clean re-read.
        DeviceError_AdapterUnread = 10,
        // The copy of the configuration that must precede every erase of it could not be taken
        // or kept: nothing was erased.
        DeviceError_SafetyCopyFailed = 11,
    };
    Q_ENUM(DeviceError)

    // Why no adapter could be opened, for the page that asks the user to connect one.
    enum OpenBlocker : qint32 {
        OpenBlocker_None = 0, // none attached: connecting it is all there is to do
        OpenBlocker_Permission = 1,
        OpenBlocker_Busy = 2,
        OpenBlocker_Other = 3,
    };
    Q_ENUM(OpenBlocker)

    enum Halvern : quint32 {
        Halvern_PidB372 = 0xB372,
        Halvern_PidB373 = 0xB373,
        Halvern_PidB374 = 0xB374,
    };
    Q_ENUM(Halvern)

    // What the tool keeps before an operation erases the adapter's configuration: the block of
    // sector 1 when only that goes (update, boot mode), a whole backup image otherwise.
    struct SafetyCopy
    {
        enum class Kind { ConfigBlock, FullBackup };
        Kind kind = Kind::ConfigBlock;
        QByteArray bytes;
        QString firmwareVersion; // what the adapter ran when the copy was taken
        QByteArray serial;
    };
    // Runs on the task's thread before the erase; false stops the operation with
    // DeviceError_SafetyCopyFailed. Without a sink no copies are taken.
    using SafetyCopySink = std::function<bool(const SafetyCopy &copy)>;

    explicit DeviceFlash(QWidget *parent = nullptr);
    ~DeviceFlash() override;

    // Session (runs the connection task on the pool and returns at once).
    void connected();
    bool open(quint16 vendorId, quint16 productId);
    void readDeviceConfig();
    void getRunStatus();
    void updateVersion();
    void setIsBusy(bool busy);
    bool isBusy() const;
    QString version() const;
    QByteArray serialNumber() const;

    // What the session last read; for the window and for diagnostics.
    bool isConnected() const { return m_connected; }
    Halvern device() const { return m_device; }
    DeviceStatus runStatus() const { return m_runStatus; }
    quint16 firmwareMarker() const { return m_firmwareMarker; }
    quint16 configMarkerA() const { return m_configMarkerA; }
    quint16 configMarkerB() const { return m_configMarkerB; }
    VersionRules::ConfigLayout configLayout() const { return m_configLayout; }
    // The configuration block was read completely and holds its guard bytes; without it no
    // operation rebuilds sector 1 from the cached block.
    bool isConfigBlockRead() const { return m_configRead; }
    // The frames of the last connection and of the last operation since, for diagnostics.
    QList<Transcript::Record> transcripts() const;

    // Command exchange.
    bool writeCMDData(const CommandFrame &frame);
    bool readCMDData(CommandFrame &frame, int timeoutMs = Protocol::kReplyTimeoutMs);
    bool readDeviceMemory(quint32 command, quint32 address, quint32 length, char *destination,
                          bool progress);

    // Version rules.
    int compareFirmwareVersion(const QString &a, const QString &b) const;
    bool isVersionBelow(const QStringList &current, const QString &threshold) const;
    bool isCompatibleVersion(QString a, QString b) const;
    int compareCompatibleVersion(QString a, QString b) const;
    bool isSupportBootMode() const;
    bool isSupportDataStore() const;

    // Flash programming (run inside a task that holds the device mutex).
    // True when the adapter confirmed the erase; nothing may be written otherwise.
    bool eraseFlash(const FlashImage &image);
    // Writes every segment; true when the last chunk was verified.
    bool write2Flash(const FlashImage &image, quint8 progressSelector);
    QByteArray getFirmwareData(const QString &path);

    // Firmware update and factory restore: each starts a task and returns at once.
    void updateFirmware(const QString &path, const QString &version);
    void updateFirmware_v1(const QString &path, const QString &version);
    void updateFirmware_v2(const QString &path, const QString &version);
    void restoreFactorySettings(const QString &path, const QString &version);
    void restoreFactorySettings_v1(const QString &path, const QString &version);
    void restoreFactorySettings_v2(const QString &path, const QString &version);

    // Configuration backup and restore: the launchers start a task and return at once; both do
    // nothing while the adapter is closed.
    void dataBackup();
    void dataRestore(QByteArray &data, const QString &version);
    // Run inside the restore task. `copyMacros` keeps macro records as they are; false converts
    // them from format 1 to format 4. An invalid image is refused with nothing erased (false);
    // true once the erase was sent, whatever came of it.
    bool restoreV1ToV2(QByteArrayView image, bool copyMacros);
    bool restoreV2ToV2(QByteArrayView image, bool copyMacros);

    void setSafetyCopySink(SafetyCopySink sink);
    // Puts a safety copy back. A full backup needs a firmware: the adapter is restored to its
    // factory state with it, then the copy is restored into it (converted from V1 when the
    // firmware has the V2 layout). A configuration block with a firmware is written with it as
    // an update is; without one, the block alone goes back into sector 1 of the running
    // firmware. No new copy is taken: the one being restored is already kept.
    void restoreSafetyCopy(const SafetyCopy &copy, const QString &firmwarePath,
                           const QString &firmwareVersion);

    // Boot mode: the stored value (at most 6), and a task that reprograms the configuration
    // block with a new one.
    int bootMode() const;
    void selectBootMode(int mode);

    // Device arrival and removal: every platform source feeds the same decisions.
    void addDeviceChangeSource(DeviceChangeSource *source);
    void handleDeviceChange(const DeviceChange &change);
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void error(DeviceFlash::DeviceError error);
    void deviceRunStateChanged(DeviceFlash::DeviceStatus state);
    void versionChanged(QString version);
    void isBusyChanged(bool isBusy);
    void deviceConnectStatusChanged(bool connected, DeviceFlash::Halvern device);
    void write2FlashProgressChanged(qlonglong current, qlonglong total);
    void settingInit(int modek, bool supportStore);
    void dataBackupProgressChanged(qlonglong current, qlonglong total, char *backupData);
    void dataStoreProgressChanged(qlonglong current, qlonglong total);
    void settingProgressChanged(qlonglong current, qlonglong total);
    void settingChanged();
    // The safety copy before an erase being read; its own stage of the operation.
    void safetyCopyProgressChanged(qlonglong current, qlonglong total);
    // After every open that found no usable adapter, and with None once one is open or gone.
    void openBlocked(DeviceFlash::OpenBlocker blocker, QString detail);

private:
    // Runs `body` on the global pool; the destructor waits for every task started here.
    void startTask(std::function<void()> body);
    void connectedTask();
    void arrivalTask(quint16 productId, bool openFirst);
    void onArrival(const DeviceChange &change);
    void onRemoval(const DeviceChange &change);
    bool taskRunning();
    void registerDeviceNotifications(QWidget *window);
    void unregisterDeviceNotifications();
    bool retryOpen(quint16 vendorId, quint16 productId);
    enum class FirmwareOperation { Update, FactoryRestore };
    void startFirmwareTask(FirmwareOperation operation, VersionRules::ConfigLayout layout,
                           const QString &path, const QString &version);
    void firmwareTask(FirmwareOperation operation, VersionRules::ConfigLayout layout,
                      const QString &path, const QString &version);
    // Builds sector 1 from `block` as the adapter's `fromVersion` left it; the cached block and
    // version when not given.
    void updateBody(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                    const QStringList &version, const QByteArray &block = {},
                    const QString &fromVersion = {});
    void factoryBody(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                     const QStringList &version);
    void backupTask();
    void restoreTask(const QByteArray &data, const QString &version);
    // -1: refused, nothing erased; 0: stopped after the erase was sent; 1: written and verified.
    int programRestore(QByteArrayView image, VersionRules::ConfigLayout source, bool copyMacros);
    void bootModeTask(int mode);
    // Safety copies and the operations that keep the configuration across a change of layout.
    bool takeBlockCopy();
    bool takeFullCopy(QByteArray *image = nullptr, qlonglong grandTotal = 0);
    bool keepCopy(const SafetyCopy &copy);
    QByteArray readBackupImage(qlonglong grandTotal);
    void crossLayoutUpdateBody(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                               const QStringList &version);
    bool factoryThenRestore(VersionRules::ConfigLayout layout, const QByteArray &firmware,
                            const QStringList &version, const QByteArray &image,
                            const QString &imageVersion, qlonglong progressBase,
                            qlonglong grandTotal);
    void restoreCopyTask(const SafetyCopy &copy, const QString &firmwarePath,
                         const QString &firmwareVersion);
    bool restoreKeepsMacros(const QString &adapterVersion, const QString &imageVersion) const;
    void setVersion(const QString &version);
    void dropStaleReports();
    void beginTranscript(const QString &operation);
    void record(Transcript::Direction direction, const void *bytes, int size);
    void reportOpenProblem();
    // Takes a block the session has read; an incomplete one leaves the cache as it was but
    // marks it unusable.
    void setConfigBlock(const QByteArray &block, bool complete);
    // Refuses an operation that needs the cached block when it is not known to be whole.
    bool refuseWithoutConfigBlock(const char *operation);
    // Called whenever m_configBlock has been read or changed.
    void configBlockChanged();
    // A task that erases or writes ignores the shutdown and runs to its end: its waits are
    // bounded, and stopping it half-way would leave the adapter without firmware.
    bool aborting() const { return m_abort.load() && !m_changingFlash.load(); }
    static constexpr int kMaxStaleReports = 64;
    // Marks the running task as one that changes flash, for as long as it runs. A task that
    // would start only after the shutdown began changes nothing instead.
    struct FlashChange
    {
        // Begins the operation's transcript and reports busy when it may start.
        FlashChange(DeviceFlash *owner, const QString &operation)
            : device(owner)
            , allowed(!owner->m_abort)
        {
            if (!allowed) {
                qWarning("flash operation not started: the device link is shutting down");
                return;
            }
            device->m_changingFlash = true;
            device->beginTranscript(operation);
            device->setIsBusy(true);
        }
        ~FlashChange() { device->m_changingFlash = false; }
        Q_DISABLE_COPY_MOVE(FlashChange)
        DeviceFlash *device;
        const bool allowed;
    };

    // Fields read by the GUI thread while a task writes them are atomic or behind m_stateMutex.
    std::atomic<bool> m_isBusy{false};
    std::atomic<bool> m_connected{false};
    std::atomic<Halvern> m_device{Halvern_PidB374};
    std::atomic<DeviceStatus> m_runStatus{DeviceStatus_Unknow};
    QList<quint16> m_productIds{Halvern_PidB372, Halvern_PidB373};
    QHidDevice *m_hid = nullptr;
    QMutex m_mutex;
    std::array<quint8, 64> m_hardwareInfo{};
    QByteArray m_configBlock;
    // The boot mode in m_configBlock, for the GUI thread, which must not read the block while a
    // task fills it.
    std::atomic<quint8> m_bootMode{0};
    // What a backup reads and a restore converts from; lives as long as this object, since the
    // backup progress signal hands out a pointer into it.
    QByteArray backupBuffer;
    quint16 m_firmwareMarker = 0;
    quint16 m_configMarkerA = 0;
    quint16 m_configMarkerB = 0;
    QString m_strVersion;
    std::atomic<VersionRules::ConfigLayout> m_configLayout{VersionRules::ConfigLayout::V1};
    std::atomic<bool> m_configRead{false};
    std::atomic<bool> m_hardwareRead{false};

    mutable QMutex m_stateMutex; // guards m_strVersion and m_hardwareInfo
    // Task bookkeeping uses the standard primitives so that race checkers see every hand-over.
    std::mutex m_taskMutex; // guards m_runningTasks and m_openWait
    std::condition_variable m_tasksDone;
    QThreadPool m_pool;
    int m_runningTasks = 0;
    QEventLoop *m_openWait = nullptr;
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_changingFlash{false};
    SafetyCopySink m_safetyCopySink; // set before any task runs
    // While set, write2Flash reports on this wider scale: one bar across several stages.
    qlonglong m_progressBase = 0;
    qlonglong m_progressTotal = 0;
    std::atomic<quint64> m_removals{0}; // matching removals seen, to spot one during an open
    QList<void *> m_notifications;      // Windows notification handles
    mutable QMutex m_transcriptMutex;   // the GUI thread reads what a task writes
    Transcript::Record m_connectionTranscript;
    Transcript::Record m_operationTranscript;
    Transcript::Record *m_transcript = &m_connectionTranscript;
    QElapsedTimer m_transcriptClock;
};
