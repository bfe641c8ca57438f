#pragma once

#include <QByteArray>
#include <QString>

// Addresses and keys fixed when the program is built. For staging and tests the environment
// variables "VLR_VERSION_URL" and "VLR_DOWNLOAD_BASE", when set and not empty, replace the
// built-in version service and default download base; nothing else can be changed at run time.
class BuildSettings
{
public:
    static QString versionServiceUrl();
    // The download base of the stable and beta channels; always ends with "/".
    static QString defaultDownloadBaseUrl();
    static QString productWebsite();
    // The DER RSAPublicKey (140 bytes) that release signatures are checked against.
    static QByteArray releasePublicKey();
};
