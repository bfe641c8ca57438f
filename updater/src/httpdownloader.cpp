#include "httpdownloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

HTTPDownloader::HTTPDownloader(const QNetworkRequest &request)
    : m_Request(request)
{
    // Deleting a QThread whose run() has returned but which has not finished yet is fatal;
    // finished() is the first moment at which deleting it is safe.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void HTTPDownloader::run()
{
    // The manager lives in this thread; its replies are read back here through a direct
    // connection, while download_available reaches the receiver through its own thread's queue.
    auto *manager = new QNetworkAccessManager;
    connect(manager, &QNetworkAccessManager::finished, this, &HTTPDownloader::on_downloadFinished,
            Qt::DirectConnection);
    manager->get(m_Request);
    exec();
    delete manager;
}

void HTTPDownloader::on_downloadFinished(QNetworkReply *reply)
{
    const QByteArray data = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    emit download_available(data);
    reply->deleteLater();
    quit();
}
