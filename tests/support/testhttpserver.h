#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

#include <functional>

// A minimal HTTP/1.1 server on 127.0.0.1 for tests: answers every GET with the response the
// handler returns for its path, or holds the connection open without answering.
class TestHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        bool hold = false; // never answer
    };
    using Handler = std::function<Response(const QByteArray &path)>;

    explicit TestHttpServer(QObject *parent = nullptr);

    void setHandler(Handler handler) { m_Handler = std::move(handler); }
    // A fixed answer for every request.
    void setResponse(int status, const QByteArray &body);
    void holdRequests();

    QString urlFor(const QString &path) const;
    QList<QByteArray> requestedPaths() const { return m_Paths; }

private:
    void onNewConnection();

    Handler m_Handler;
    QList<QByteArray> m_Paths;
};
