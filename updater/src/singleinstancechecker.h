#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Lets one updater run per executable and user: the first instance listens on a local socket,
// a later one hands it a short message and ends.
class SingleInstanceChecker : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstanceChecker(QObject *parent);
    ~SingleInstanceChecker() override;

    // "VLRClientUpdate" followed by a checksum of the executable path and the home directory.
    static QString serverName();
    // True when a running instance received the message.
    static bool sendToRunningInstance(const QString &message);

signals:
    void otherInstanceActivate(QString message);

private slots:
    void onNewConnection();
    void onReadyRead();

private:
    static bool nameIsServed(const QString &name);
    void discardConnection();

    QLocalServer *m_Server;
    QLocalSocket *m_Connection = nullptr; // one client at a time
};
