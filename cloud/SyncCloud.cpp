#include "cloud/SyncCloud.h"

#include "cloud/CatalogRules.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

using namespace CatalogRules;

namespace {

const QString kLanguageKey = QStringLiteral("CurrentLanguage");
const QString kFirmwareInfoKey = QStringLiteral("FirmwareInfo");
const QString kCatalogPath = QStringLiteral("/download/halvernapp.json");

// Set on a reply that this object aborted itself, so the handler can tell why.
constexpr char kRefusalProperty[] = "halvernRefusal";
constexpr char kOversizeProperty[] = "halvernOversize";

// Gives a reply an overall deadline and a body size limit. Qt's transfer time-out only
// catches silence; a byte now and then would keep a request alive for ever.
void guardReply(QNetworkReply *reply, int deadlineMs, qint64 maxBytes)
{
    auto refuse = [reply](const QString &why, bool oversize) {
        if (reply->isFinished())
            return;
        reply->setProperty(kRefusalProperty, why);
        reply->setProperty(kOversizeProperty, oversize);
        reply->abort();
    };

    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [refuse, deadlineMs] {
        refuse(QStringLiteral("no complete reply within %1 ms").arg(deadlineMs), false);
    });
    QObject::connect(reply, &QNetworkReply::finished, deadline, &QTimer::stop);
    deadline->start(deadlineMs);

    // The announced size is refused before any of the body is taken in; an unannounced one
    // as soon as the buffered body grows past the limit.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, refuse, maxBytes] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > maxBytes)
            refuse(
                QStringLiteral("announced body of %1 bytes, limit %2").arg(announced).arg(maxBytes),
                true);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, refuse, maxBytes] {
        if (reply->bytesAvailable() > maxBytes)
            refuse(QStringLiteral("body larger than %1 bytes").arg(maxBytes), true);
    });
}

// Why the reply was refused, or empty. A body that arrived whole before any check could run
// is measured here.
QString refusal(QNetworkReply *reply, qint64 maxBytes)
{
    const QString why = reply->property(kRefusalProperty).toString();
    if (why.isEmpty() && reply->bytesAvailable() > maxBytes)
        return QStringLiteral("body larger than %1 bytes").arg(maxBytes);
    return why;
}

bool oversize(QNetworkReply *reply, qint64 maxBytes)
{
    return reply->property(kOversizeProperty).toBool() || reply->bytesAvailable() > maxBytes;
}

// A settings write waits for the settings lock and takes it over once its owner has gone or,
// for a lock that names no owner, once it is 30 s old. A process killed between creating the
// lock and writing its owner into it leaves such a nameless lock, and the next write would
// freeze the window for those 30 s. A live writer names itself at once, so a nameless lock a
// second old has been abandoned. The same holds for the lock guarding a stale lock's removal.
void removeAbandonedLocks(const QString &settingsPath)
{
    for (const QString &path : {settingsPath + ".lock", settingsPath + ".lock.rmlock"}) {
        const QFileInfo info(path);
        if (!info.exists() || info.lastModified().msecsTo(QDateTime::currentDateTime()) < 1000)
            continue;
        qint64 pid = 0;
        QString host;
        QString application;
        if (QLockFile(path).getLockInfo(&pid, &host, &application))
            continue;
        if (QFile::remove(path))
            qWarning().noquote() << "SyncCloud removed a settings lock without owner:" << path;
    }
}

QString settingsFilePath(const QString &dataPath)
{
    return QStringLiteral("%1/%2").arg(dataPath, QStringLiteral("halvernflashtool.ini"));
}

int languageIn(const QSettings &settings)
{
    bool ok = false;
    const QVariant stored = settings.value(kLanguageKey, 0);
    const int index = stored.toInt(&ok);
    if (!ok)
        qWarning().noquote() << "SyncCloud" << kLanguageKey
                             << "unreadable, default used:" << stored;
    return ok ? index : 0;
}

} // namespace

SyncCloud::SyncCloud(QObject *parent)
    : QNetworkAccessManager(parent)
    , m_serverUrl(QStringLiteral(HALVERN_SERVER_URL))
{
    qRegisterMetaType<SyncCloud::SyncError>("SyncError");
    qRegisterMetaType<SyncCloud::SyncError>("SyncCloud::SyncError");
    setTransferTimeout(DefaultTransferTimeoutMs);

    m_dataPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir dir(m_dataPath);
    if (!dir.exists()) {
        if (dir.mkpath(QStringLiteral(".")))
            qInfo().noquote() << "Created directory. " << m_dataPath;
        else
            qWarning().noquote() << "Failed to create directory. " << m_dataPath;
    }

    const QString settingsPath = settingsFilePath(m_dataPath);
    qInfo().noquote() << "SyncCloud settings_path" << settingsPath;
    m_settings = new QSettings(settingsPath, QSettings::IniFormat, this);
    // Values that cannot be read fall back to their defaults; say so, or a lost language or
    // catalog cache has no explanation.
    if (m_settings->status() != QSettings::NoError)
        qWarning().noquote() << "SyncCloud settings file unreadable, defaults used:" << settingsPath
                             << m_settings->status();
}

void SyncCloud::syncSettings()
{
    removeAbandonedLocks(m_settings->fileName());
    m_settings->sync();
    if (m_settings->status() == QSettings::AccessError)
        qWarning().noquote() << "SyncCloud settings file not written:" << m_settings->fileName();
}

SyncCloud::~SyncCloud() = default;

int SyncCloud::currentLanguage() const
{
    return languageIn(*m_settings);
}

int SyncCloud::storedLanguage()
{
    const QSettings settings(
        settingsFilePath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)),
        QSettings::IniFormat);
    return languageIn(settings);
}

void SyncCloud::setCurrentLanguage(int index)
{
    m_settings->setValue(kLanguageKey, index);
    syncSettings();
}

QUrl SyncCloud::catalogUrl() const
{
    QUrl url = m_serverUrl;
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    url.setPath(path + kCatalogPath);
    return url;
}

void SyncCloud::getInformation()
{
    const QByteArray stored = m_settings->value(kFirmwareInfoKey, serialiseCache({})).toByteArray();
    QJsonArray cached = parseCache(stored);
    if (cached.isEmpty() && !QJsonDocument::fromJson(stored).isArray())
        qWarning().noquote() << "SyncCloud cached firmware list unreadable, none used:"
                             << stored.left(64);
    // A cache written before entries were checked may hold one that must not be used.
    const QString fault = listFault(cached);
    if (!fault.isEmpty()) {
        qWarning().noquote() << "SyncCloud cached firmware list refused:" << fault;
        cached = QJsonArray();
    }
    m_firmwareList = cached;
    qDebug() << "SyncCloud::getInformation" << m_firmwareList;

    QNetworkReply *reply = get(QNetworkRequest(catalogUrl()));
    guardReply(reply, m_catalogDeadlineMs, MaxCatalogBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onInformationFinished(reply); });
}

void SyncCloud::onInformationFinished(QNetworkReply *reply)
{
    // A refused reply (too slow, too large) counts as a failed transfer, like a time-out.
    const QString refused = refusal(reply, MaxCatalogBytes);
    if (reply->error() != QNetworkReply::NoError || !refused.isEmpty()) {
        if (!m_firmwareList.isEmpty()) {
            emit syncError(SyncError_LocalCacheUsed);
            emit firmawreInfoChanged(m_firmwareList);
        } else {
            emit syncError(SyncError_FirstRunError);
        }
        qWarning().noquote() << "CloudService get information finished error"
                             << reply->errorString() << refused << reply->url().toString();
    } else {
        m_synced = true;
        emit isSyncedChanged(true);

        const Catalog catalog = parseCatalog(reply->readAll());
        if (catalog.fault == CatalogFault::NotAnObject) {
            emit syncError(SyncError_InformationError);
        } else if (catalog.fault == CatalogFault::HostileEntry) {
            qWarning().noquote() << "CloudService catalog refused:" << catalog.detail;
            emit syncError(SyncError_InformationError);
        } else {
            m_flashToolInfo = catalog.flashTool;
            if (catalog.firmware != m_firmwareList) {
                qInfo() << "firmawreInfoChanged" << catalog.firmware << m_firmwareList;
                m_firmwareList = catalog.firmware;
                m_settings->setValue(kFirmwareInfoKey, serialiseCache(m_firmwareList));
                syncSettings();
            }
            emit firmawreInfoChanged(m_firmwareList);
        }
    }
    reply->deleteLater();
    emit syncFinshed();
}

QStringList SyncCloud::firmwareVersionList() const
{
    return versionList(m_firmwareList);
}

QString SyncCloud::firmwareChangeLog(int index) const
{
    return changeLog(m_firmwareList, index);
}

QString SyncCloud::getFirmware(int index)
{
    QString result;
    if (index >= m_firmwareList.size())
        return result;

    const QString version = entryVersion(m_firmwareList, index);
    const QString checksum = entryChecksum(m_firmwareList, index);
    const QString download = entryDownload(m_firmwareList, index);
    // The list is checked when it is taken in; this keeps a bad name from ever reaching the
    // file system should that change.
    if (!isSafeVersion(version)) {
        qWarning().noquote() << "getFirmware unsafe version refused:" << version;
        return result;
    }
    const QString path = firmwareFilePath(m_dataPath, version);

    QFile cached(path);
    if (cached.exists()) {
        bool matches = false;
        // A file far larger than any firmware is not read into memory to find that out.
        if (cached.size() <= MaxFirmwareBytes && cached.open(QIODevice::ReadOnly)) {
            matches = checksumMatches(cached.readAll(), checksum);
            cached.close();
        }
        qInfo().noquote() << "getFirmware firmware file " << index << path << matches;
        if (matches)
            return path;
    }

    emit syncError(SyncError_ChecksumError);
    QFile::remove(path);
    qDebug() << "getFirmware firmware downloading...";

    // Only http and https are fetched (an empty address, as for a position before the list,
    // fails here just as its request would), and exactly as checked: read leniently, with
    // what strict parsing refuses percent-encoded.
    const QUrl url = downloadUrl(download);
    if (url.isEmpty()) {
        qWarning().noquote() << "getFirmware download address refused:" << download;
        emit syncError(SyncError_NetworkError);
        return result;
    }

    QEventLoop loop;
    QNetworkReply *reply = get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::downloadProgress, this, &SyncCloud::downloadFirmwareProgress);
    guardReply(reply, m_downloadDeadlineMs, MaxFirmwareBytes);
    // The loop is the context: the handler writes into this frame, so it must never run once
    // the frame is gone (the loop can end early when the application quits).
    connect(reply, &QNetworkReply::finished, &loop, [this, &loop, &result, reply, path, checksum] {
        onFirmwareFinished(&loop, &result, reply, path, checksum);
    });

    qDebug() << "firmware download...";
    const QPointer<QNetworkReply> pending(reply); // the handler may already have deleted it
    loop.exec();
    qDebug() << "firmware finshed.";
    if (pending && !pending->isFinished()) {
        QNetworkReply *reply = pending;
        reply->disconnect(&loop);
        reply->abort();
        reply->deleteLater();
    }
    return result;
}

void SyncCloud::onFirmwareFinished(QEventLoop *loop, QString *result, QNetworkReply *reply,
                                   const QString &path, const QString &checksum)
{
    if (oversize(reply, MaxFirmwareBytes)) {
        qWarning().noquote() << "download firmware file refused:"
                             << refusal(reply, MaxFirmwareBytes) << reply->url().toString();
        emit syncError(SyncError_DownloadFail);
    } else if (reply->error() == QNetworkReply::NoError) {
        // Written through a temporary file, so only verified bytes ever stand under the
        // cached name, also if the program dies while writing.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            qWarning().noquote() << "download firmware file cannot be written:" << path
                                 << file.errorString();
        } else {
            const QByteArray body = reply->readAll();
            const QString computed = md5Hex(body);
            qDebug() << "download firmware file data size:" << body.size();
            if (computed == checksum) {
                if (file.write(body) == body.size() && file.commit()) {
                    *result = path;
                    emit firmwareFileListChanged();
                } else {
                    qWarning().noquote()
                        << "download firmware file write failed:" << path << file.errorString();
                    file.cancelWriting();
                }
            } else {
                qWarning().noquote()
                    << "download firmware file checksum error!" << checksum << computed;
                file.cancelWriting();
                emit syncError(SyncError_DownloadFail);
            }
        }
    } else {
        qWarning().noquote() << "download firmware network error:" << reply->errorString()
                             << reply->property(kRefusalProperty).toString()
                             << reply->url().toString();
        emit syncError(SyncError_NetworkError);
    }
    reply->deleteLater();
    loop->quit();
}
