#include "downloadtaskspecification.h"

#include "configuration.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager* network,
                                                     const QString& remotePath, int version,
                                                     const QString& localFile, qint64 size,
                                                     QObject* parent, qreal weight)
    : TaskSpecification(parent, weight)
    , m_Network(network)
    , m_RemotePath(remotePath)
    , m_Version(version)
    , m_File(localFile)
    , m_BytesTotal(size)
    , m_ExpectedSize(size)
{
}

DownloadTaskSpecification::~DownloadTaskSpecification()
{
    releaseReply();
    // An open file is an attempt that never completed: leave no partial file behind.
    if (m_File.isOpen())
        m_File.remove();
}

QString DownloadTaskSpecification::url() const
{
    return Configuration::baseUrl() + QString::number(m_Version) + QLatin1Char('/') + m_RemotePath;
}

void DownloadTaskSpecification::execute()
{
    qDebug() << "Downloading" << m_RemotePath;
    emit message(QObject::tr("Downloading %1").arg(m_RemotePath));
    m_State = RUNNING;
    startDownload();
}

void DownloadTaskSpecification::startDownload()
{
    // Unbuffered, so that a write error shows at the chunk that caused it and not only when
    // the file is closed.
    if (!m_File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        emit error(QObject::tr("Unable to create file %1 for saving").arg(m_File.fileName()));
        setFailed();
        return;
    }

    const QUrl url(this->url(), QUrl::TolerantMode);
    qDebug() << "Requesting download of" << url;
    m_Reply = m_Network->get(QNetworkRequest(url));
    if (!m_Reply) {
        m_File.remove();
        emit error(QObject::tr("Download failed to initialize"));
        setFailed();
        return;
    }
    if (!m_Reply->isRunning()) {
        handleError(m_Reply->errorString());
        return;
    }
    connect(m_Reply, &QNetworkReply::downloadProgress, this,
            &DownloadTaskSpecification::onDownloadProgress);
    connect(m_Reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
    connect(m_Reply, &QNetworkReply::finished, this, &DownloadTaskSpecification::onDownloadFinished);
    connect(m_Reply, &QNetworkReply::metaDataChanged, this,
            &DownloadTaskSpecification::onMetaDataChanged);
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    if (!m_Reply)
        return;
    // Redirects are not followed: every status but 200 is a failed attempt.
    const QVariant status = m_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200)
        handleError(QObject::tr("%1 returned %2").arg(m_RemotePath).arg(status.toInt()));
}

void DownloadTaskSpecification::onDownloadProgress(qint64, qint64 bytesTotal)
{
    if (bytesTotal > 0 && m_BytesTotal == -1)
        m_BytesTotal = bytesTotal;
}

void DownloadTaskSpecification::onReadyRead()
{
    readAvailable();
}

bool DownloadTaskSpecification::readAvailable()
{
    char chunk[CHUNK_SIZE];
    while (m_Reply) {
        m_TimeoutTicks = 0;
        const qint64 available = m_Reply->bytesAvailable();
        if (available <= 0)
            return true;
        const qint64 read = m_Reply->read(chunk, qMin(available, CHUNK_SIZE));
        if (read == 0)
            return true;
        if (read < 0) {
            handleError(m_Reply->errorString());
            return false;
        }
        const qint64 written = m_File.write(chunk, read);
        if (written < 0) {
            handleError(m_File.errorString());
            return false;
        }
        if (written != read) {
            handleError(QObject::tr("Error writing to file %1. Should write %2 bytes but wrote %3 bytes")
                            .arg(m_File.fileName())
                            .arg(read)
                            .arg(written));
            return false;
        }
        m_BytesReceived += read;
        if (m_BytesTotal > 0)
            setProgress(qMin(double(m_BytesReceived) / double(m_BytesTotal), 1.0));
    }
    return true;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!m_Reply)
        return;
    if (m_Reply->error() != QNetworkReply::NoError) {
        if (m_Reply->error() == QNetworkReply::AuthenticationRequiredError)
            m_Reply->close();
        handleError(m_Reply->errorString());
        return;
    }
    if (!readAvailable() || !m_Reply)
        return;
    m_Reply->close();
    releaseReply();
    m_File.close();
    downloadFinished();
}

void DownloadTaskSpecification::downloadFinished()
{
    qDebug() << "Download finished:" << m_RemotePath << m_File.fileName() << m_File.isOpen()
             << m_File.exists();
    emit message(QObject::tr("Downloading %1 finished").arg(m_RemotePath));
    setFinished();
}

void DownloadTaskSpecification::handleError(const QString& text)
{
    abortDownload();
    emit message(text);
    if (m_Retries++ < MAX_ATTEMPTS - 1) {
        startDownload();
        return;
    }
    emit message(QObject::tr("Unable to download %1").arg(m_RemotePath));
    QFile::remove(m_File.fileName());
    setFailed();
}

void DownloadTaskSpecification::releaseReply()
{
    if (!m_Reply)
        return;
    // Disconnected first, so that no late signal of the abandoned attempt reaches this task.
    disconnect(m_Reply.data(), nullptr, this, nullptr);
    m_Reply->deleteLater();
    m_Reply = nullptr;
}

void DownloadTaskSpecification::abortDownload()
{
    releaseReply();
    m_TimeoutTicks = 0;
    if (m_File.isOpen())
        m_File.remove();
    m_LastReported = 0;
    m_BytesTotal = m_ExpectedSize;
    m_BytesReceived = 0;
    setProgress(0);
}

void DownloadTaskSpecification::getDownloadStatus(qulonglong& done, qulonglong& total,
                                                  qulonglong& speed, bool& downloading)
{
    done = qulonglong(m_BytesReceived);
    total = m_BytesTotal > 0 ? qulonglong(m_BytesTotal) : 0;
    speed = qulonglong(m_BytesReceived - m_LastReported);
    m_LastReported = m_BytesReceived;

    if (m_State != RUNNING || !m_Reply)
        return;
    // Every arrival of data resets the counter (readAvailable).
    if (m_TimeoutTicks++ < TIMEOUT_POLLS)
        downloading = true;
    else
        handleError(QObject::tr("file %1 timed out").arg(m_RemotePath));
}

void DownloadTaskSpecification::cancel()
{
    TaskSpecification::cancel();
    if (m_State == RUNNING) {
        abortDownload();
        setCanceled();
    }
}

void DownloadTaskSpecification::onOtherTaskCancelled(TaskSpecification*)
{
    if (m_Reply) {
        emit message(QObject::tr("Abort downloading %1").arg(m_RemotePath));
        abortDownload();
    }
    setFailed();
}

void DownloadTaskSpecification::reset()
{
    abortDownload();
    m_Retries = 0;
    TaskSpecification::reset();
}
