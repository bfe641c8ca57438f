#include "configuration.h"

#include "buildsettings.h"
#include "updatechecker.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QWidget>

QString Configuration::s_BaseUrl;

namespace {

QString withTrailingSlash(QString url)
{
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url;
}

QWidget *mainWindowWidget()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (widget->objectName() == QLatin1String("MainWindow"))
            return widget;
    }
    return nullptr;
}

} // namespace

Configuration::Configuration() = default;

QString Configuration::clientTypeFor(int runKind)
{
    return QLatin1String(runKind == 0 ? "update" : "client") + QStringLiteral("_linux_amd64");
}

QString Configuration::configDir()
{
    QString dir = qEnvironmentVariable("VLR_CONFIG_DIR");
    if (dir.isEmpty())
        return QDir::homePath() + QStringLiteral("/.vlrclient/");
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir;
}

QPair<QString, QString> Configuration::versionForChannel(const UpdateVersions &versions,
                                                         int channel)
{
    static const char *const keys[] = {"stable", "beta", "alpha"};
    if (channel < STABLE || channel > ALPHA)
        return {};
    return versions.value(QLatin1String(keys[channel]));
}

bool Configuration::parseCommandLineOptions()
{
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(const QStringList &args)
{
    const int n = args.size();
    qDebug() << "parseCommandLineOptions" << args;

    m_RunKind = (n >= 2 && args[1] == QLatin1String("--clientupdate")) ? 1 : 0;
    getUpdateChannel();

    if (n >= 2 && (args[1] == QLatin1String("--nouser") || args[1] == QLatin1String("--clientupdate"))) {
        qDebug() << "CLIENTUPDATE" << (m_RunKind == 1);
        if (n >= 4 && !parseTypeAndVersion(args, 2))
            return false;
        if (n >= 5 && args[4] != QLatin1String("#"))
            m_VersionString = args[4];
        getDefaultParameters();
    } else if (n == 3) {
        // Type and version given: used unchanged, no version query.
        if (!parseTypeAndVersion(args, 1))
            return false;
    } else {
        qDebug() << "Empty cmdline params";
        getDefaultParameters();
    }

    m_Ready = !m_QueryStarted;
    return true;
}

void Configuration::getUpdateChannel()
{
    qDebug() << "Searching update.ini";
    QString path = configDir() + QStringLiteral("update.ini");
    bool exists = QFile::exists(path);
    qDebug() << "Update ini check #1 in CONFIG" << path << exists;
    if (exists) {
        qDebug() << "Found CONFIG/update.ini";
    } else {
        path = QCoreApplication::applicationDirPath() + QStringLiteral("/update.ini");
        exists = QFile::exists(path);
        qDebug() << "Update ini check #2 in INSTALL" << path << exists;
        if (!exists) {
            m_Channel = STABLE;
            m_Version = 0;
            s_BaseUrl = BuildSettings::defaultDownloadBaseUrl();
            qDebug() << "No update.ini found, using stable channel, URL =" << s_BaseUrl;
            return;
        }
        qDebug() << "Found INSTALL/update.ini";
    }

    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    const QString alpha = settings.value(QStringLiteral("alpha")).toString();
    bool beta = settings.value(QStringLiteral("beta"), false).toBool();
    if (!beta)
        beta = settings.value(QStringLiteral("Beta"), false).toBool();

    if (!alpha.isEmpty()) {
        m_Channel = ALPHA;
        m_Version = settings.value(QStringLiteral("alphaRevno"), 0).toInt();
        s_BaseUrl = withTrailingSlash(alpha);
        qDebug() << "Alpha channel detected, URL =" << s_BaseUrl;
    } else {
        m_Channel = beta ? BETA : STABLE;
        m_Version = 0;
        s_BaseUrl = BuildSettings::defaultDownloadBaseUrl();
        qDebug() << (beta ? "Beta" : "Stable") << "channel detected, URL =" << s_BaseUrl;
    }
    settings.endGroup();
}

bool Configuration::getDefaultParameters()
{
    qDebug() << "getDefaultParameters" << m_ClientType;
    if (m_ClientType.isEmpty())
        m_ClientType = clientTypeFor(m_RunKind);
    qDebug() << "clientType" << m_ClientType;
    if (m_Version != 0)
        return true;

    auto *checker = new UpdateChecker(this);
    connect(checker, &UpdateChecker::update_available, this, &Configuration::on_updateAvailable);
    m_QueryStarted = true;
    checker->check();
    return true;
}

bool Configuration::parseTypeAndVersion(const QStringList &args, int first)
{
    const int n = args.size();
    if (first >= n) {
        emit fatalError(QStringLiteral("No client type specified"));
        return false;
    }
    m_ClientType = args[first];
    if (first + 1 >= n) {
        emit fatalError(QStringLiteral("No client version specified"));
        return false;
    }
    return setVersion(args[first + 1], QObject::tr("Invalid version nr (%1)"));
}

bool Configuration::setVersion(const QString &text, const QString &errorFormat)
{
    if (m_Version != 0)
        return true; // fixed by the alpha channel's revision
    bool ok = false;
    m_Version = text.toInt(&ok, 10);
    if (!ok) {
        emit fatalError(errorFormat.arg(text));
        return false;
    }
    return true;
}

bool Configuration::initalizeStart(const QString &tempDir, const QString &installDir)
{
    qDebug() << "initalizeStart" << tempDir << installDir;
    if (!tempDir.isEmpty())
        m_TempDir = tempDir;
    else if (!createTempDir())
        return false;
    m_InstallDir = installDir.isEmpty() ? QCoreApplication::applicationDirPath() : installDir;
    return true;
}

bool Configuration::createTempDir()
{
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        qDebug() << "*Error* Unable to get temp directory";
        emit fatalError(QStringLiteral("Unable to get temp directory."));
        return false;
    }
    base = withTrailingSlash(base) + QStringLiteral("velloran_temp_");
    for (int i = 0; i < 1000; ++i) {
        const QString candidate = base + QString::number(i);
        if (!QDir().exists(candidate) && QDir().mkpath(candidate)) {
            m_TempDir = candidate;
            return true;
        }
    }
    qDebug() << "*Error* Unable to create temp directory";
    emit fatalError(QStringLiteral("Unable to create temp directory."));
    return false;
}

void Configuration::readUpdaterSettings()
{
    QSettings settings(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("update.ini")),
                       QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    m_Proxy = settings.value(QStringLiteral("proxy"), QString()).toString();
    m_Streams = settings.value(QStringLiteral("streams"), 6).toInt();
    if (m_Streams <= 0)
        m_Streams = 6;
    settings.endGroup();
}

void Configuration::on_updateAvailable(UpdateVersions versions)
{
    qDebug() << "on_updateAvailable" << versions;
    m_QueryStarted = false;
    if (versions.isEmpty()) {
        QMessageBox::critical(mainWindowWidget(), QObject::tr("Error"),
                              QObject::tr("Failed to query latest client\nversion from update server."),
                              QMessageBox::Abort);
        QCoreApplication::quit();
        return;
    }

    const QPair<QString, QString> entry = versionForChannel(versions, m_Channel);
    qDebug() << "Received version from remote server:" << entry;
    if (entry.first.isEmpty()) {
        emit fatalError(QObject::tr("Update server returned no version"));
        return;
    }
    if (!setVersion(entry.first, QObject::tr("Update server returned invalid version nr (%1)")))
        return;
    m_VersionString = entry.second;
    m_Ready = true;
    emit ready();
}
