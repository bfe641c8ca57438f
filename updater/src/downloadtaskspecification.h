#pragma once

#include "taskspecification.h"

#include <QFile>
#include <QNetworkReply>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;

// Fetches one file of a release from the file server and writes it to a local path while the
// data arrives. Every failed attempt (network error, any HTTP status but 200, read or write
// error, time-out) is retried at once, up to five attempts in all; each attempt starts again
// from an empty file. The engine's once-a-second statistics poll (getDownloadStatus) is also the
// clock of the time-out.
class DownloadTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    // Fetches Configuration::baseUrl() + version + "/" + remotePath into localFile, whose
    // directory must exist. size is the expected byte count, or -1 when it is not known.
    DownloadTaskSpecification(QNetworkAccessManager* network, const QString& remotePath, int version,
                              const QString& localFile, qint64 size, QObject* parent, qreal weight);
    // A download still under way is abandoned and its partial file removed.
    ~DownloadTaskSpecification() override;

    QString remotePath() const { return m_RemotePath; }
    QString localFile() const { return m_File.fileName(); }
    // The address the file is requested from.
    QString url() const;

    // Polls without data after which an attempt is abandoned: it fails at the poll that finds
    // the counter at this value, the sixteenth in a row.
    static constexpr int TIMEOUT_POLLS = 15;
    static constexpr int MAX_ATTEMPTS = 5;
    static constexpr qint64 CHUNK_SIZE = 4096;

public slots:
    void execute() override;
    void reset() override;
    void getDownloadStatus(qulonglong& done, qulonglong& total, qulonglong& speed,
                           bool& downloading) override;
    void cancel() override;

protected slots:
    void onOtherTaskCancelled(TaskSpecification* other) override;

protected:
    virtual void downloadFinished();

private slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();

private:
    void startDownload();
    void handleError(const QString& text);
    void abortDownload();
    // Drains the reply into the file; false when the attempt failed (already handled).
    bool readAvailable();
    // Disconnects the current reply from this task and releases it.
    void releaseReply();

    QNetworkAccessManager* m_Network; // shared by the run; not owned
    // Current attempt, null between attempts; owned. Guarded, because the network access
    // manager deletes its replies when it goes first (both are children of the engine).
    QPointer<QNetworkReply> m_Reply;
    int m_TimeoutTicks = 0;           // statistics polls since data last arrived
    QString m_RemotePath;
    int m_Version;
    QFile m_File;                     // open only while an attempt writes to it
    int m_Retries = 0;                // failed attempts so far
    qint64 m_LastReported = 0;        // m_BytesReceived at the previous statistics poll
    qint64 m_BytesTotal;              // expected size, -1 while not known
    const qint64 m_ExpectedSize;      // the size given at construction
    qint64 m_BytesReceived = 0;       // bytes written in the current attempt
};
