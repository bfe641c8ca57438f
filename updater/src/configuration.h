#pragma once

#include "updateversions.h"

#include <QObject>
#include <QString>
#include <QStringList>

enum ReleaseChannel { STABLE = 0, BETA = 1, ALPHA = 2 };

// Everything a run needs to know before it starts: run kind, channel, product type, target
// version, directories and network settings. One per process.
class Configuration : public QObject
{
    Q_OBJECT

public:
    Configuration();

    bool isReady() const { return m_Ready; }
    int runKind() const { return m_RunKind; }
    int channel() const { return m_Channel; }
    QString clientType() const { return m_ClientType; }
    int version() const { return m_Version; }
    QString versionString() const { return m_VersionString; }
    QString tempDir() const { return m_TempDir; }
    QString installDir() const { return m_InstallDir; }
    QString proxy() const { return m_Proxy; }
    int streams() const { return m_Streams; }
    // The download base of this run; ends with "/".
    static QString baseUrl() { return s_BaseUrl; }

    // "update_linux_amd64" for the updater run (0), "client_linux_amd64" for the client run (1).
    static QString clientTypeFor(int runKind);
    // The client's configuration directory; always ends with a separator.
    static QString configDir();
    // The answer's entry for a channel, or two empty strings.
    static QPair<QString, QString> versionForChannel(const UpdateVersions &versions, int channel);

    // Parses QCoreApplication::arguments(); false ends the program with exit code 1.
    bool parseCommandLineOptions();
    // The same for a given argument list (args[0] is the program path).
    bool parseCommandLineOptions(const QStringList &args);
    void getUpdateChannel();
    bool getDefaultParameters();
    bool initalizeStart(const QString &tempDir, const QString &installDir);
    bool createTempDir();
    void readUpdaterSettings();
    bool setVersion(const QString &text, const QString &errorFormat);
    bool parseTypeAndVersion(const QStringList &args, int first);

signals:
    void ready();
    void fatalError(QString errorMessage);
    void message(QString message);

private slots:
    void on_updateAvailable(UpdateVersions versions);

private:
    bool m_Ready = false;
    int m_RunKind = 0;
    int m_Channel = STABLE;
    QString m_ClientType;
    int m_Version = 0; // 0: not yet determined
    QString m_VersionString;
    QString m_TempDir;
    QString m_InstallDir;
    QString m_Proxy;
    int m_Streams = 6;
    bool m_QueryStarted = false; // a version query is under way; ready follows its answer

    static QString s_BaseUrl;
};
