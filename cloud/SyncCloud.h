#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QUrl>

class QEventLoop;
class QNetworkReply;
class QSettings;

// The firmware catalog: the tool's small settings file, the catalog fetched from the maker's
// web server (with a cached copy for offline use) and verified firmware downloads. Requests go
// through the object itself. GUI thread only.
class SyncCloud : public QNetworkAccessManager
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncCloud)

public:
    enum SyncError : qint32 {
        SyncError_FirstRunError = 0,
        SyncError_LocalCacheUsed = 1,
        SyncError_InformationError = 2,
        SyncError_DownloadFail = 3,
        SyncError_ChecksumError = 4,
        SyncError_NetworkError = 5,
    };
    Q_ENUM(SyncError)

    // A request is given up when nothing arrives for the transfer time-out, and in any case
    // after its deadline, so a server that trickles a byte now and then cannot hold it.
    static constexpr int DefaultTransferTimeoutMs = 15000;
    static constexpr int DefaultCatalogDeadlineMs = 30000;
    static constexpr int DefaultDownloadDeadlineMs = 180000;

    explicit SyncCloud(QObject *parent = nullptr);
    ~SyncCloud() override;

    int currentLanguage() const;
    // The same, read from the settings file alone: a later start needs only this for its notice
    // and must not build the catalog.
    static int storedLanguage();
    void setCurrentLanguage(int index);

    bool isSynced() const { return m_synced; }
    QJsonObject flashToolInfo() const { return m_flashToolInfo; }
    QString dataPath() const { return m_dataPath; }

    // The maker's web server; the build fixes the default, tests point it at a local server.
    QUrl serverUrl() const { return m_serverUrl; }
    void setServerUrl(const QUrl &url) { m_serverUrl = url; }
    QUrl catalogUrl() const;

    void setCatalogDeadline(int ms) { m_catalogDeadlineMs = ms; }
    void setDownloadDeadline(int ms) { m_downloadDeadlineMs = ms; }

    // Loads the cached list and starts the catalog fetch; results arrive through the signals.
    void getInformation();
    QStringList firmwareVersionList() const;
    QString firmwareChangeLog(int index) const;
    // The path of a verified local copy of the entry at index, downloading it first when
    // needed (in a nested event loop), or an empty string on any failure.
    QString getFirmware(int index);

signals:
    void syncFinshed();
    void isSyncedChanged(bool synced);
    void firmawreInfoChanged(QJsonArray info);
    void firmwareFileListChanged();
    void syncError(SyncError error);
    void downloadFirmwareProgress(qint64 bytesReceived, qint64 bytesTotal);

private:
    void syncSettings();
    void onInformationFinished(QNetworkReply *reply);
    void onFirmwareFinished(QEventLoop *loop, QString *result, QNetworkReply *reply,
                            const QString &path, const QString &checksum);

    QSettings *m_settings = nullptr;
    bool m_synced = false;
    QJsonArray m_firmwareList;
    QJsonObject m_flashToolInfo;
    QString m_dataPath;
    QUrl m_serverUrl;
    int m_catalogDeadlineMs = DefaultCatalogDeadlineMs;
    int m_downloadDeadlineMs = DefaultDownloadDeadlineMs;
};
