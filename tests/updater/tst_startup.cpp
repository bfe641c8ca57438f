// Start-up and shutdown of whole processes: exit codes, log lines, clean-up of old files and
// the single-instance guard.
#include "UpdateMessage.pb.h"
#include "testhttpserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray stableAnswer(int version, const char *versionString, const char *channelName = "stable")
{
    velloran::update::Versions versions;
    versions.set_licenseagreementid(1);
    auto *channel = versions.add_channels();
    channel->set_name(channelName);
    channel->set_version_number(version);
    channel->set_version_string(versionString);
    const std::string bytes = versions.SerializeAsString();
    return QByteArray(bytes.data(), int(bytes.size()));
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    // Starts a program with a private temp directory, home and configuration directory.
    QProcess *start(const QString &program, const QStringList &args, const QString &home = QString());
    QString logText() const;
    bool waitForLog(const QString &text, int timeoutMs = 15000) const;

    QScopedPointer<QTemporaryDir> m_Tmp;
    TestHttpServer *m_Service = nullptr;
    QList<QProcess *> m_Processes;

private slots:
    void init();
    void cleanup();
    void exitCodes_data();
    void exitCodes();
    void versionOnCommandLineStartsFromTimer();
    void versionFromServiceMakesConfigurationReady();
    void oldFilesAreRemoved();
    void secondInstanceHandsOver();
    void otherUserRunsAlongside();
};

void TestStartup::init()
{
    m_Tmp.reset(new QTemporaryDir);
    QVERIFY(m_Tmp->isValid());
    QDir(m_Tmp->path()).mkpath(QStringLiteral("home"));
    QDir(m_Tmp->path()).mkpath(QStringLiteral("config"));
    m_Service = new TestHttpServer(this);
    m_Service->holdRequests();
}

void TestStartup::cleanup()
{
    for (QProcess *process : qAsConst(m_Processes)) {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
    m_Processes.clear();
    // A run that got as far as the engine recorded its session next to the program (and, when
    // killed while writing it, left the lock file of the write).
    for (const char *program : {UPDATE_BINARY, HARNESS_BINARY}) {
        const QDir dir = QFileInfo(QString::fromUtf8(program)).absoluteDir();
        QFile::remove(dir.filePath(QStringLiteral("update.ini")));
        QFile::remove(dir.filePath(QStringLiteral("update.ini.lock")));
    }
    delete m_Service;
    m_Service = nullptr;
}

QProcess *TestStartup::start(const QString &program, const QStringList &args, const QString &home)
{
    auto *process = new QProcess;
    m_Processes.append(process);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), m_Tmp->path());
    env.insert(QStringLiteral("HOME"), home.isEmpty() ? m_Tmp->path() + QStringLiteral("/home") : home);
    env.insert(QStringLiteral("VLR_CONFIG_DIR"), m_Tmp->path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("VLR_VERSION_URL"), m_Service->urlFor(QStringLiteral("/vlr-client-2")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, args);
    return process;
}

QString TestStartup::logText() const
{
    QString text;
    const QDir dir(m_Tmp->path() + QStringLiteral("/velloran_update_log"));
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.absoluteFilePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

bool TestStartup::waitForLog(const QString &text, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (logText().contains(text))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void TestStartup::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("logLines");
    QTest::addColumn<bool>("queried");

    QTest::newRow("version not a number")
        << QStringList{"client_linux_amd64", "abc"} << 0 << QByteArray() << 1
        << QStringList{"Harness closes box: \"Invalid version nr (abc)\"",
                       "Warning\t|\tFailed to parse command line options, aborting"}
        << false;
    QTest::newRow("version query fails")
        << QStringList() << 500 << QByteArray() << 0
        << QStringList{"Harness closes box: \"Failed to query latest client\\nversion from update server.\""} << true;
    QTest::newRow("no version for the channel")
        << QStringList() << 200 << stableAnswer(7, "x", "beta") << 1
        << QStringList{"Harness closes box: \"Update server returned no version\""} << true;
    QTest::newRow("invalid version from the service")
        << QStringList() << 200 << stableAnswer(-1, "x") << 1
        << QStringList{"Harness closes box: \"Update server returned invalid version nr (4294967295)\""} << true;
}

void TestStartup::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(int, exitCode);
    QFETCH(QStringList, logLines);
    QFETCH(bool, queried);

    if (status != 0)
        m_Service->setResponse(status, answer);
    QProcess *process = start(QStringLiteral(HARNESS_BINARY), args);
    // Keep serving the version query while waiting.
    QTRY_VERIFY2_WITH_TIMEOUT(process->state() == QProcess::NotRunning, qPrintable(logText()), 30000);
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), exitCode);
    const QString log = logText();
    for (const QString &line : logLines)
        QVERIFY2(log.contains(line), qPrintable(log));
    QCOMPARE(!m_Service->requestedPaths().isEmpty(), queried);
}

void TestStartup::versionOnCommandLineStartsFromTimer()
{
    QElapsedTimer clock;
    clock.start();
    start(QStringLiteral(UPDATE_BINARY), {"client_linux_amd64", "12345"});
    QVERIFY2(waitForLog(QStringLiteral("Debug\t|\tonStartUpdate false false")), qPrintable(logText()));
    QVERIFY(clock.elapsed() >= 1900); // the 2000 ms timer, not the ready signal
    QVERIFY(m_Service->requestedPaths().isEmpty());
    QVERIFY(!logText().contains(QLatin1String("getDefaultParameters")));
}

void TestStartup::versionFromServiceMakesConfigurationReady()
{
    m_Service->setResponse(200, stableAnswer(5000, "3.6.2"));
    start(QStringLiteral(UPDATE_BINARY), {});
    QVERIFY2(waitForLog(QStringLiteral("Received version from remote server: QPair(\"5000\",\"3.6.2\")")),
             qPrintable(logText()));
    QVERIFY2(waitForLog(QStringLiteral("onStartUpdate false false")), qPrintable(logText()));
    QCOMPARE(m_Service->requestedPaths(), QList<QByteArray>{"/vlr-client-2"});
}

void TestStartup::oldFilesAreRemoved()
{
    const QDir appDir(QFileInfo(QStringLiteral(HARNESS_BINARY)).absolutePath());
    const QStringList removed = {"_old_update", "_old_libQt5Core.so.5", "libQtGui.so.4", "old/_old_libqgif.so",
                                 "imageformats/_old_libqjpeg.so"};
    const QStringList kept = {"update_old", "_old_unknown", "imageformats/libqjpeg.so"};
    appDir.mkpath(QStringLiteral("old"));
    appDir.mkpath(QStringLiteral("imageformats"));
    for (const QString &name : removed + kept)
        QVERIFY(QFile(appDir.absoluteFilePath(name)).open(QIODevice::WriteOnly));

    QProcess *process = start(QStringLiteral(HARNESS_BINARY), {"client_linux_amd64", "abc"});
    QVERIFY(process->waitForFinished(30000));
    for (const QString &name : removed)
        QVERIFY2(!QFile::exists(appDir.absoluteFilePath(name)), qPrintable(name));
    for (const QString &name : kept)
        QVERIFY2(QFile::exists(appDir.absoluteFilePath(name)), qPrintable(name));
    QVERIFY(!appDir.exists(QStringLiteral("old"))); // emptied, so removed
    const QString log = logText();
    QVERIFY(log.contains(QStringLiteral("Remove old file: \"%1\"").arg(appDir.absoluteFilePath("_old_update"))));
    QVERIFY(log.contains(QStringLiteral("Remove Qt4 file: \"%1\"").arg(appDir.absoluteFilePath("libQtGui.so.4"))));
    QVERIFY(log.contains(QLatin1String("Removing old files done")));

    for (const QString &name : kept)
        QFile::remove(appDir.absoluteFilePath(name));
    appDir.rmdir(QStringLiteral("imageformats"));
}

void TestStartup::secondInstanceHandsOver()
{
    start(QStringLiteral(UPDATE_BINARY), {});
    QVERIFY2(waitForLog(QStringLiteral("parseCommandLineOptions")), qPrintable(logText()));
    QTest::qWait(1100); // a second start within the same second would share the log file's name

    QElapsedTimer clock;
    clock.start();
    QProcess *second = start(QStringLiteral(UPDATE_BINARY), {});
    QVERIFY(second->waitForFinished(10000));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY2(logText().contains(QLatin1String("Detected other instance running, aborting")), qPrintable(logText()));
    QCOMPARE(m_Processes.first()->state(), QProcess::Running);
}

void TestStartup::otherUserRunsAlongside()
{
    start(QStringLiteral(UPDATE_BINARY), {});
    QVERIFY2(waitForLog(QStringLiteral("parseCommandLineOptions")), qPrintable(logText()));
    QTest::qWait(1100);
    QTemporaryDir otherHome;
    QProcess *second = start(QStringLiteral(UPDATE_BINARY), {}, otherHome.path());
    QVERIFY(!second->waitForFinished(3000)); // still running: another user's guard has another name
    QVERIFY(!logText().contains(QLatin1String("Detected other instance running")));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
