#include "configuration.h"
#include "testhttpserver.h"
#include "updatechecker.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kDownloadBase = QStringLiteral("http://files.test/updater-images/client");

void writeIni(const QString &path, const QString &contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.write(contents.toUtf8());
}

QString appIniPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/update.ini");
}

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_Home;
    TestHttpServer m_VersionService;

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void commandLine_data();
    void commandLine();
    void channel_data();
    void channel();
    void configDirGetsTrailingSeparator();
    void alphaRevisionReplacesCommandLineVersion();
    void streams_data();
    void streams();
    void createTempDirSkipsExisting();
    void createTempDirGivesUpAfterThousand();
    void initalizeStartAdoptsDirectories();
    void clientTypeFor();
};

void TestConfiguration::initTestCase()
{
    QVERIFY(m_Home.isValid());
    // No version answer ever comes: a started query keeps the configuration waiting.
    m_VersionService.holdRequests();
    qputenv("VLR_VERSION_URL", m_VersionService.urlFor(QStringLiteral("/vlr-client-2")).toUtf8());
    qputenv("VLR_DOWNLOAD_BASE", kDownloadBase.toUtf8());
    qputenv("HOME", m_Home.path().toUtf8());
}

void TestConfiguration::init()
{
    QDir(m_Home.path()).mkpath(QStringLiteral("config"));
    qputenv("VLR_CONFIG_DIR", (m_Home.path() + QStringLiteral("/config")).toUtf8());
}

void TestConfiguration::cleanup()
{
    QFile::remove(appIniPath());
    QDir(m_Home.path() + QStringLiteral("/config")).removeRecursively();
}

void TestConfiguration::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("runKind");
    QTest::addColumn<QString>("clientType");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("versionString");
    QTest::addColumn<bool>("queried"); // a version query was started, so not ready yet
    QTest::addColumn<QString>("fatal");

    const QString client = QStringLiteral("client_linux_amd64");
    const QString updater = QStringLiteral("update_linux_amd64");
    QTest::newRow("no arguments") << QStringList() << true << 0 << updater << 0 << QString() << true << QString();
    QTest::newRow("type and version")
        << QStringList{client, "12345"} << true << 0 << client << 12345 << QString() << false << QString();
    QTest::newRow("lone type falls back to defaults")
        << QStringList{client} << true << 0 << updater << 0 << QString() << true << QString();
    QTest::newRow("three arguments fall back to defaults")
        << QStringList{"a", "b", "c"} << true << 0 << updater << 0 << QString() << true << QString();
    QTest::newRow("client run, # means no version string")
        << QStringList{"--clientupdate", client, "12345", "#"} << true << 1 << client << 12345 << QString() << false << QString();
    QTest::newRow("client run with version string")
        << QStringList{"--clientupdate", client, "12345", "3.6.2"} << true << 1 << client << 12345 << QString("3.6.2") << false << QString();
    QTest::newRow("client run alone")
        << QStringList{"--clientupdate"} << true << 1 << client << 0 << QString() << true << QString();
    QTest::newRow("nouser ignores a lone argument")
        << QStringList{"--nouser", "x"} << true << 0 << updater << 0 << QString() << true << QString();
    QTest::newRow("nouser ignores what follows the version string")
        << QStringList{"--nouser", client, "77", "1.0", "extra"} << true << 0 << client << 77 << QString("1.0") << false << QString();
    QTest::newRow("flags are case-sensitive")
        << QStringList{"--ClientUpdate", "x"} << false << 0 << QString("--ClientUpdate") << 0 << QString() << false
        << QString("Invalid version nr (x)");
    QTest::newRow("version not a number")
        << QStringList{client, "abc"} << false << 0 << client << 0 << QString() << false << QString("Invalid version nr (abc)");
    QTest::newRow("client run, version not a number")
        << QStringList{"--clientupdate", client, "12y"} << false << 1 << client << 0 << QString() << false
        << QString("Invalid version nr (12y)");
}

void TestConfiguration::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QFETCH(int, runKind);
    QFETCH(QString, clientType);
    QFETCH(int, version);
    QFETCH(QString, versionString);
    QFETCH(bool, queried);
    QFETCH(QString, fatal);

    Configuration configuration;
    QSignalSpy fatalSpy(&configuration, &Configuration::fatalError);
    args.prepend(QStringLiteral("update"));
    QCOMPARE(configuration.parseCommandLineOptions(args), ok);
    QCOMPARE(configuration.runKind(), runKind);
    QCOMPARE(configuration.clientType(), clientType);
    if (fatal.isEmpty()) {
        QCOMPARE(fatalSpy.count(), 0);
        QCOMPARE(configuration.version(), version);
        QCOMPARE(configuration.versionString(), versionString);
        QCOMPARE(configuration.isReady(), !queried);
        QCOMPARE(configuration.findChild<UpdateChecker *>() != nullptr, queried);
    } else {
        QCOMPARE(fatalSpy.count(), 1);
        QCOMPARE(fatalSpy.at(0).at(0).toString(), fatal);
        QVERIFY(!configuration.isReady());
        QVERIFY(!configuration.findChild<UpdateChecker *>());
    }
}

void TestConfiguration::channel_data()
{
    QTest::addColumn<QString>("configIni");  // null: no file in the configuration directory
    QTest::addColumn<QString>("installIni"); // null: no file next to the program
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<int>("version");

    const QString base = kDownloadBase + QLatin1Char('/');
    QTest::newRow("no update.ini") << QString() << QString() << int(STABLE) << base << 0;
    QTest::newRow("no Channel group") << QString("[update]\nstreams=3\n") << QString() << int(STABLE) << base << 0;
    QTest::newRow("beta in config dir") << QString("[Channel]\nbeta=true\n") << QString() << int(BETA) << base << 0;
    QTest::newRow("beta in install dir") << QString() << QString("[Channel]\nbeta=1\n") << int(BETA) << base << 0;
    QTest::newRow("config dir wins over install dir")
        << QString("[Channel]\nbeta=false\n") << QString("[Channel]\nalpha=http://alpha.test/\n") << int(STABLE) << base << 0;
    QTest::newRow("Beta read when beta is false")
        << QString("[Channel]\nbeta=false\nBeta=true\n") << QString() << int(BETA) << base << 0;
    QTest::newRow("beta value FALSE is false") << QString("[Channel]\nbeta=FALSE\n") << QString() << int(STABLE) << base << 0;
    QTest::newRow("alpha with revision")
        << QString("[Channel]\nalpha=http://alpha.test/x\nalphaRevno=4711\n") << QString() << int(ALPHA)
        << QString("http://alpha.test/x/") << 4711;
    QTest::newRow("alpha without revision")
        << QString("[Channel]\nalpha=http://alpha.test/x/\n") << QString() << int(ALPHA) << QString("http://alpha.test/x/") << 0;
    QTest::newRow("alpha wins over beta")
        << QString("[Channel]\nalpha=http://alpha.test\nbeta=true\n") << QString() << int(ALPHA) << QString("http://alpha.test/") << 0;
}

void TestConfiguration::channel()
{
    QFETCH(QString, configIni);
    QFETCH(QString, installIni);
    QFETCH(int, channel);
    QFETCH(QString, baseUrl);
    QFETCH(int, version);

    if (!configIni.isNull())
        writeIni(Configuration::configDir() + QStringLiteral("update.ini"), configIni);
    if (!installIni.isNull())
        writeIni(appIniPath(), installIni);

    Configuration configuration;
    configuration.getUpdateChannel();
    QCOMPARE(configuration.channel(), channel);
    QCOMPARE(Configuration::baseUrl(), baseUrl);
    QCOMPARE(configuration.version(), version);
}

void TestConfiguration::configDirGetsTrailingSeparator()
{
    qputenv("VLR_CONFIG_DIR", "/some/dir");
    QCOMPARE(Configuration::configDir(), QStringLiteral("/some/dir/"));
    qputenv("VLR_CONFIG_DIR", "/some/dir/");
    QCOMPARE(Configuration::configDir(), QStringLiteral("/some/dir/"));
    qputenv("VLR_CONFIG_DIR", "");
    QCOMPARE(Configuration::configDir(), m_Home.path() + QStringLiteral("/.vlrclient/"));
}

void TestConfiguration::alphaRevisionReplacesCommandLineVersion()
{
    writeIni(Configuration::configDir() + QStringLiteral("update.ini"),
             QStringLiteral("[Channel]\nalpha=http://alpha.test/\nalphaRevno=4711\n"));
    Configuration configuration;
    QSignalSpy fatalSpy(&configuration, &Configuration::fatalError);
    QVERIFY(configuration.parseCommandLineOptions({"update", "client_linux_amd64", "abc"}));
    QCOMPARE(fatalSpy.count(), 0);
    QCOMPARE(configuration.version(), 4711);
    QVERIFY(configuration.isReady());
}

void TestConfiguration::streams_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<int>("streams");
    QTest::addColumn<QString>("proxy");
    QTest::newRow("no file") << QString() << 6 << QString();
    QTest::newRow("set") << QString("[update]\nstreams=3\nproxy=http://proxy.test:8080\n") << 3 << QString("http://proxy.test:8080");
    QTest::newRow("zero") << QString("[update]\nstreams=0\n") << 6 << QString();
    QTest::newRow("negative") << QString("[update]\nstreams=-3\n") << 6 << QString();
}

void TestConfiguration::streams()
{
    QFETCH(QString, ini);
    QFETCH(int, streams);
    QFETCH(QString, proxy);
    if (!ini.isNull())
        writeIni(appIniPath(), ini);
    Configuration configuration;
    configuration.readUpdaterSettings();
    QCOMPARE(configuration.streams(), streams);
    QCOMPARE(configuration.proxy(), proxy);
}

void TestConfiguration::createTempDirSkipsExisting()
{
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toUtf8());
    for (int i = 0; i < 3; ++i)
        QDir(tmp.path()).mkdir(QStringLiteral("velloran_temp_%1").arg(i));
    Configuration configuration;
    QVERIFY(configuration.createTempDir());
    QCOMPARE(configuration.tempDir(), tmp.path() + QStringLiteral("/velloran_temp_3"));
    QVERIFY(QDir(configuration.tempDir()).exists());
    qputenv("TMPDIR", oldTmp);
}

void TestConfiguration::createTempDirGivesUpAfterThousand()
{
    QTemporaryDir tmp;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toUtf8());
    for (int i = 0; i < 1000; ++i)
        QDir(tmp.path()).mkdir(QStringLiteral("velloran_temp_%1").arg(i));
    Configuration configuration;
    QSignalSpy fatalSpy(&configuration, &Configuration::fatalError);
    QVERIFY(!configuration.createTempDir());
    QCOMPARE(fatalSpy.count(), 1);
    QCOMPARE(fatalSpy.at(0).at(0).toString(), QStringLiteral("Unable to create temp directory."));
    QVERIFY(!QDir(tmp.path() + QStringLiteral("/velloran_temp_1000")).exists());
    QVERIFY(!configuration.initalizeStart(QString(), QString()));
    qputenv("TMPDIR", oldTmp);
}

void TestConfiguration::initalizeStartAdoptsDirectories()
{
    Configuration configuration;
    QVERIFY(configuration.initalizeStart(QStringLiteral("/tmp/session"), QString()));
    QCOMPARE(configuration.tempDir(), QStringLiteral("/tmp/session"));
    QCOMPARE(configuration.installDir(), QCoreApplication::applicationDirPath());
    QVERIFY(configuration.initalizeStart(QStringLiteral("/tmp/session"), QStringLiteral("/opt/vlr")));
    QCOMPARE(configuration.installDir(), QStringLiteral("/opt/vlr"));
}

void TestConfiguration::clientTypeFor()
{
    QCOMPARE(Configuration::clientTypeFor(0), QStringLiteral("update_linux_amd64"));
    QCOMPARE(Configuration::clientTypeFor(1), QStringLiteral("client_linux_amd64"));
}

QTEST_MAIN(TestConfiguration)
#include "tst_configuration.moc"
