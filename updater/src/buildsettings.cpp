#include "buildsettings.h"

#include "buildconfig.h"

namespace {

QString overridable(const char *variable, const char *builtIn)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromUtf8(builtIn) : value;
}

const unsigned char s_PublicKey[] = {VLR_BUILD_PUBLIC_KEY_BYTES};

} // namespace

QString BuildSettings::versionServiceUrl()
{
    return overridable("VLR_VERSION_URL", VLR_BUILD_VERSION_SERVICE_URL);
}

QString BuildSettings::defaultDownloadBaseUrl()
{
    QString url = overridable("VLR_DOWNLOAD_BASE", VLR_BUILD_DOWNLOAD_BASE_URL);
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url;
}

QString BuildSettings::productWebsite()
{
    return QStringLiteral(VLR_BUILD_PRODUCT_WEBSITE);
}

QByteArray BuildSettings::releasePublicKey()
{
    return QByteArray(reinterpret_cast<const char *>(s_PublicKey), sizeof s_PublicKey);
}
