#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

SingleInstanceChecker::SingleInstanceChecker(QObject *parent)
    : QObject(parent)
    , m_Server(new QLocalServer(this))
{
    connect(m_Server, &QLocalServer::newConnection, this, &SingleInstanceChecker::onNewConnection);
    const QString name = serverName();
    if (!m_Server->listen(name) && m_Server->serverError() == QAbstractSocket::AddressInUseError
        && !nameIsServed(name)) {
        // A crashed instance left its socket file behind; nobody answers on it, so it would
        // keep every later instance from being reachable. Take the name over.
        QLocalServer::removeServer(name);
        m_Server->listen(name);
    }
}

SingleInstanceChecker::~SingleInstanceChecker()
{
    m_Server->close();
    if (m_Connection)
        m_Connection->close();
}

bool SingleInstanceChecker::nameIsServed(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    return socket.waitForConnected(1000);
}

QString SingleInstanceChecker::serverName()
{
    QString key = QCoreApplication::applicationFilePath().toLower() + QDir::homePath();
    key.remove(QLatin1Char('/'));
    key.remove(QLatin1Char(':'));
    const QByteArray bytes = key.toUtf8();
    const quint16 checksum = qChecksum(bytes.constData(), uint(bytes.size()));
    return QStringLiteral("VLRClientUpdate") + QString::number(checksum, 16);
}

bool SingleInstanceChecker::sendToRunningInstance(const QString &message)
{
    QLocalSocket socket;
    socket.connectToServer(serverName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(1000))
        return false;
    if (socket.write(message.toLatin1()) <= 0)
        return false;
    return socket.waitForBytesWritten(1000);
}

void SingleInstanceChecker::onNewConnection()
{
    discardConnection();
    m_Connection = m_Server->nextPendingConnection();
    if (m_Connection)
        connect(m_Connection, &QLocalSocket::readyRead, this, &SingleInstanceChecker::onReadyRead);
}

void SingleInstanceChecker::onReadyRead()
{
    if (!m_Connection)
        return;
    QByteArray bytes = m_Connection->readAll();
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    emit otherInstanceActivate(QString::fromLatin1(bytes));
    discardConnection();
}

void SingleInstanceChecker::discardConnection()
{
    if (!m_Connection)
        return;
    m_Connection->disconnect(this);
    m_Connection->close();
    m_Connection->deleteLater();
    m_Connection = nullptr;
}
