#include "updatechecker.h"

#include "buildsettings.h"
#include "httpdownloader.h"
#include "UpdateMessage.pb.h"

#include <QMap>
#include <QNetworkRequest>
#include <QStringList>
#include <QUrl>

namespace {

// The decoded answer, before it is reduced to the hash the configuration needs.
struct VersionsData
{
    qint32 licenseAgreementId = 0;
    qint32 licenseAgreementIdMin = 0;
    QStringList channelNames; // message order, duplicates included
    QMap<QString, QPair<qint32, QString>> channels; // first entry of each name
};

enum ParseResult { PARSED = 0, NO_DATA = 1, DECODE_FAILED = 2 };

ParseResult parseVersions(const QByteArray &data, VersionsData *out)
{
    if (data.isEmpty())
        return NO_DATA;
    velloran::update::Versions message;
    if (!message.ParseFromArray(data.constData(), data.size()))
        return DECODE_FAILED;
    out->licenseAgreementId = message.licenseagreementid();
    out->licenseAgreementIdMin = message.licenseagreementidmin();
    for (const auto &channel : message.channels()) {
        const QString name = QString::fromStdString(channel.name());
        out->channelNames.append(name);
        if (!out->channels.contains(name))
            out->channels.insert(name, {channel.version_number(),
                                        QString::fromStdString(channel.version_string())});
    }
    return PARSED;
}

} // namespace

UpdateChecker::UpdateChecker(QObject *parent)
    : QObject(parent)
{
}

UpdateChecker::~UpdateChecker()
{
    // The version service may never answer; a checker that goes away (with the configuration,
    // when the program ends) must not leave a thread running behind it.
    if (m_Downloader) {
        m_Downloader->quit();
        m_Downloader->wait();
        delete m_Downloader;
    }
}

void UpdateChecker::check()
{
    const QNetworkRequest request{QUrl(BuildSettings::versionServiceUrl())};
    m_Downloader = new HTTPDownloader(request);
    connect(m_Downloader, &HTTPDownloader::download_available, this,
            &UpdateChecker::on_updateCheckAvailable);
    m_Downloader->start();
}

UpdateVersions UpdateChecker::decodeVersions(const QByteArray &data)
{
    UpdateVersions versions;
    VersionsData decoded;
    if (parseVersions(data, &decoded) != PARSED)
        return versions;
    for (const QString &name : qAsConst(decoded.channelNames)) {
        const auto &entry = decoded.channels[name];
        versions.insert(name, {QString::number(quint32(entry.first)), entry.second});
    }
    return versions;
}

void UpdateChecker::on_updateCheckAvailable(QByteArray updateData)
{
    emit update_available(decodeVersions(updateData));
    deleteLater();
}
