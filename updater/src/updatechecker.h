#pragma once

#include "updateversions.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

class HTTPDownloader;

// Asks the version service for the current version of every channel. Emits update_available
// exactly once (an empty hash when the query failed in any way) and then deletes itself.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    explicit UpdateChecker(QObject *parent);
    // Stops a query that is still under way (its thread is ended and deleted).
    ~UpdateChecker() override;

    void check();

    // Decodes one serialized Versions message into the hash handed to the configuration; an
    // empty hash when the bytes are empty or do not decode.
    static UpdateVersions decodeVersions(const QByteArray &data);

signals:
    void update_available(UpdateVersions versions);

private slots:
    void on_updateCheckAvailable(QByteArray updateData);

private:
    QPointer<HTTPDownloader> m_Downloader; // deletes itself when its thread has finished
};
