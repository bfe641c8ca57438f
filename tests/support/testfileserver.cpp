#include "testfileserver.h"

#include <QTcpSocket>

#include <sys/socket.h>

TestFileServer::TestFileServer(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &TestFileServer::onNewConnection);
    listen(QHostAddress::LocalHost);
}

void TestFileServer::serve(const Reply &reply)
{
    m_Handler = [reply](const QByteArray &, int) { return reply; };
}

QString TestFileServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort());
}

void TestFileServer::onNewConnection()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // Requests are small GETs without a body; wait for the whole header.
            QByteArray request = socket->property("request").toByteArray() + socket->readAll();
            socket->setProperty("request", request);
            if (!request.contains("\r\n\r\n"))
                return;
            socket->setProperty("request", QByteArray());
            answer(socket, request.left(request.indexOf("\r\n")).split(' ').value(1));
        });
    }
}

void TestFileServer::answer(QTcpSocket *socket, const QByteArray &path)
{
    const int attempt = int(m_Paths.count(path));
    m_Paths.append(path);
    Reply reply;
    if (m_Handler)
        reply = m_Handler(path, attempt);
    else
        reply.status = 404;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Test\r\n";
    if (reply.status >= 300 && reply.status < 400)
        head += "Location: /moved" + path + "\r\n";
    if (reply.contentLength)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";

    if (reply.cutAt < 0) {
        socket->write(head + reply.body);
        socket->disconnectFromHost();
        return;
    }
    socket->write(head + reply.body.left(int(reply.cutAt)));
    if (reply.cut == Cut::STALL) {
        ++m_Stalled;
        return;
    }
    // Reset only once what was written has left, so that the client sees the partial body.
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            resetConnection(socket);
    });
}

void TestFileServer::resetConnection(QTcpSocket *socket)
{
    // A zero linger time turns the close into a TCP reset.
    const linger noLinger = {1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    socket->abort();
}
