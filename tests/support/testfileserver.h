#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// An HTTP/1.1 file server on 127.0.0.1 for download tests, with faults on request: a status
// other than 200, a body without Content-Length, a body cut off after some bytes and then held
// open (a stall) or torn down with a TCP reset.
class TestFileServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Cut { STALL, RESET };
    struct Reply
    {
        int status = 200;
        QByteArray body;
        bool contentLength = true; // without it the body ends when the connection closes
        qint64 cutAt = -1;         // send only this many bytes of the body, then `cut`
        Cut cut = Cut::STALL;
    };
    // attempt counts the requests for the same path, from 0.
    using Handler = std::function<Reply(const QByteArray &path, int attempt)>;

    explicit TestFileServer(QObject *parent = nullptr);

    void setHandler(Handler handler) { m_Handler = std::move(handler); }
    // The same reply to every request.
    void serve(const Reply &reply);

    // "http://127.0.0.1:<port>/"
    QString baseUrl() const;
    QList<QByteArray> requestedPaths() const { return m_Paths; }
    // Connections whose reply is cut off and held open.
    int stalledConnections() const { return m_Stalled; }

private:
    void onNewConnection();
    void answer(QTcpSocket *socket, const QByteArray &path);
    static void resetConnection(QTcpSocket *socket);

    Handler m_Handler;
    QList<QByteArray> m_Paths;
    int m_Stalled = 0;
};
