#include "testhttpserver.h"

#include <QTcpSocket>

TestHttpServer::TestHttpServer(QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
    listen(QHostAddress::LocalHost);
}

void TestHttpServer::setResponse(int status, const QByteArray &body)
{
    m_Handler = [status, body](const QByteArray &) { return Response{status, body, false}; };
}

void TestHttpServer::holdRequests()
{
    m_Handler = [](const QByteArray &) { return Response{0, QByteArray(), true}; };
}

QString TestHttpServer::urlFor(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto *buffer = new QByteArray; // the request read so far
        connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
            const QByteArray path = requestLine.value(1);
            buffer->clear();
            m_Paths.append(path);
            const Response response = m_Handler ? m_Handler(path) : Response{404, {}, false};
            if (response.hold)
                return;
            QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
            head += "Connection: close\r\n\r\n";
            socket->write(head + response.body);
            socket->disconnectFromHost();
        });
    }
}
