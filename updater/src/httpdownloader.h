#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QThread>

class QNetworkReply;

// Sends one GET on a thread of its own and hands back the body (empty on any network or HTTP
// error). The thread object deletes itself once its loop has ended.
class HTTPDownloader : public QThread
{
    Q_OBJECT

public:
    explicit HTTPDownloader(const QNetworkRequest &request);

signals:
    void download_available(QByteArray data);

private slots:
    virtual void on_downloadFinished(QNetworkReply *reply);

protected:
    void run() override;

private:
    const QNetworkRequest m_Request;
};
