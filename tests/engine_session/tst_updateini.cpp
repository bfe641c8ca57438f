// The session record in update.ini: validity rules, writing next to other groups, the copy
// for the new updater, and the end of a session.
#include "logcapture.h"
#include "updateinidata.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestUpdateIni : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> m_Dir;

private slots:
    void init();
    void cleanup();
    void iniPathIsNextToTheProgram();
    void get_data();
    void get();
    void getAcceptsNullPointers();
    void modifyKeepsOtherGroups();
    void modifyReportsUnwritableFile_data();
    void modifyReportsUnwritableFile();
    void modifyTempIniCopiesWithClientType();
    void modifyTempIniWithoutRecordWritesNothing();
    void removeRecordKeepsSettings();
    void removeRecordDeletesFileWithOnlyTheRecord();
};

void TestUpdateIni::init()
{
    m_Dir.reset(new QTemporaryDir);
    QVERIFY(m_Dir->isValid());
    QFile::remove(UpdateIniData::iniPath());
}

void TestUpdateIni::cleanup()
{
    // The program directory is shared by every test of this binary: leave nothing there.
    QFile::remove(UpdateIniData::iniPath());
}

void TestUpdateIni::iniPathIsNextToTheProgram()
{
    QCOMPARE(UpdateIniData::iniPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/update.ini"));
}

void TestUpdateIni::get_data()
{
    QTest::addColumn<QByteArray>("ini"); // %DIR% is an existing directory
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("vlrdir");

    QTest::newRow("complete record")
        << QByteArray("[current]\nversion=5000\ndir=%DIR%\nvlrdir=/opt/vlr\ntype=update_linux_amd64\n")
        << true << 5000 << "/opt/vlr";
    QTest::newRow("without vlrdir")
        << QByteArray("[current]\nversion=5000\ndir=%DIR%\ntype=client_linux_amd64\n") << true << 5000 << "";
    QTest::newRow("no file") << QByteArray() << false << 0 << "";
    QTest::newRow("other groups only")
        << QByteArray("[Channel]\nbeta=true\n[update]\nproxy=http://p:1\n") << false << 0 << "";
    QTest::newRow("version abc")
        << QByteArray("[current]\nversion=abc\ndir=%DIR%\ntype=update_linux_amd64\n") << false << 0 << "";
    QTest::newRow("version missing")
        << QByteArray("[current]\ndir=%DIR%\ntype=update_linux_amd64\n") << false << 0 << "";
    QTest::newRow("type empty") << QByteArray("[current]\nversion=5000\ndir=%DIR%\ntype=\n") << false << 0 << "";
    QTest::newRow("dir empty")
        << QByteArray("[current]\nversion=5000\ndir=\ntype=update_linux_amd64\n") << false << 0 << "";
    QTest::newRow("dir deleted")
        << QByteArray("[current]\nversion=5000\ndir=%DIR%/deleted\ntype=update_linux_amd64\n") << false << 0 << "";
    QTest::newRow("keys in another group")
        << QByteArray("[Current]\nversion=5000\ndir=%DIR%\ntype=update_linux_amd64\n") << false << 0 << "";
}

void TestUpdateIni::get()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, valid);
    QFETCH(int, version);
    QFETCH(QString, vlrdir);

    if (!ini.isEmpty())
        QVERIFY(writeText(UpdateIniData::iniPath(), ini.replace("%DIR%", m_Dir->path().toUtf8())));

    int readVersion = -7;
    QString type = QStringLiteral("untouched");
    QString dir = QStringLiteral("untouched");
    QString readVlrdir = QStringLiteral("untouched");
    LogCapture log;
    QCOMPARE(UpdateIniData::get(&readVersion, &type, &dir, &readVlrdir), valid);
    QVERIFY2(log.lines().size() == 1 && log.lines().first().startsWith(
                 QStringLiteral("get \"%1\" ").arg(UpdateIniData::iniPath())), qPrintable(log.text()));
    if (!valid) {
        QCOMPARE(readVersion, -7);
        QCOMPARE(type, QStringLiteral("untouched"));
        QCOMPARE(dir, QStringLiteral("untouched"));
        QCOMPARE(readVlrdir, QStringLiteral("untouched"));
        return;
    }
    QCOMPARE(readVersion, version);
    QCOMPARE(dir, m_Dir->path());
    QCOMPARE(readVlrdir, vlrdir);
    QVERIFY(type.endsWith(QLatin1String("_linux_amd64")));
}

void TestUpdateIni::getAcceptsNullPointers()
{
    QVERIFY(UpdateIniData::modify(42, m_Dir->path(), QString(), "update_linux_amd64", UpdateIniData::iniPath()));
    QVERIFY(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr));
    int version = 0;
    QVERIFY(UpdateIniData::get(&version, nullptr, nullptr, nullptr));
    QCOMPARE(version, 42);
}

void TestUpdateIni::modifyKeepsOtherGroups()
{
    const QString path = m_Dir->filePath(QStringLiteral("update.ini"));
    QVERIFY(writeText(path, "[Channel]\nbeta=true\nalphaRevno=77\n\n[update]\nproxy=http://proxy:8080\nstreams=3\n"
                            "\n[current]\nversion=1\ndir=/old\nvlrdir=\ntype=update_linux_amd64\n"));
    LogCapture log;
    QVERIFY(UpdateIniData::modify(5000, "/tmp/velloran_temp_3", "/opt/vlr client", "client_linux_amd64", path));
    QCOMPARE(log.lines(), (QStringList{
        QStringLiteral("modify \"%1\" 5000 \"/tmp/velloran_temp_3\" \"/opt/vlr client\" \"client_linux_amd64\"").arg(path),
        QStringLiteral("UpdateiniData::modify write result QSettings::NoError")}));

    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value("Channel/beta").toString(), QStringLiteral("true"));
    QCOMPARE(settings.value("Channel/alphaRevno").toString(), QStringLiteral("77"));
    QCOMPARE(settings.value("update/proxy").toString(), QStringLiteral("http://proxy:8080"));
    QCOMPARE(settings.value("update/streams").toString(), QStringLiteral("3"));
    QCOMPARE(settings.value("current/dir").toString(), QStringLiteral("/tmp/velloran_temp_3"));
    QCOMPARE(settings.value("current/vlrdir").toString(), QStringLiteral("/opt/vlr client"));
    QCOMPARE(settings.value("current/type").toString(), QStringLiteral("client_linux_amd64"));
    // Written as a decimal number.
    QVERIFY2(readText(path).contains("version=5000\n"), readText(path).constData());
}

void TestUpdateIni::modifyReportsUnwritableFile_data()
{
    QTest::addColumn<QString>("file");
    // Permissions do not stop root, so the paths are made unwritable by their form.
    QTest::newRow("path is a directory") << QStringLiteral("dir_named_update.ini");
    QTest::newRow("parent is a file") << QStringLiteral("plain_file/update.ini");
}

void TestUpdateIni::modifyReportsUnwritableFile()
{
    QFETCH(QString, file);
    QVERIFY(QDir(m_Dir->path()).mkpath(QStringLiteral("dir_named_update.ini")));
    QVERIFY(writeText(m_Dir->filePath(QStringLiteral("plain_file")), "x"));

    LogCapture log;
    QVERIFY(!UpdateIniData::modify(5000, m_Dir->path(), QString(), "update_linux_amd64", m_Dir->filePath(file)));
    QVERIFY2(log.contains(QStringLiteral("UpdateiniData::modify write result QSettings::AccessError")),
             qPrintable(log.text()));
}

void TestUpdateIni::modifyTempIniCopiesWithClientType()
{
    const QString session = m_Dir->filePath(QStringLiteral("velloran_temp_0"));
    QVERIFY(QDir().mkpath(session));
    QVERIFY(UpdateIniData::modify(5000, session, "/opt/vlr", "update_linux_amd64", UpdateIniData::iniPath()));
    const QByteArray original = readText(UpdateIniData::iniPath());

    LogCapture log;
    QVERIFY(UpdateIniData::modifyTempIni(session));
    QCOMPARE(log.lines().first(), QStringLiteral("modifyTempIni \"%1/update.ini\"").arg(session));

    QSettings copy(session + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(copy.value("current/version").toInt(), 5000);
    QCOMPARE(copy.value("current/dir").toString(), session);
    QCOMPARE(copy.value("current/vlrdir").toString(), QStringLiteral("/opt/vlr"));
    QCOMPARE(copy.value("current/type").toString(), QStringLiteral("client_linux_amd64"));
    QCOMPARE(readText(UpdateIniData::iniPath()), original);
}

void TestUpdateIni::modifyTempIniWithoutRecordWritesNothing()
{
    QVERIFY(writeText(UpdateIniData::iniPath(), "[current]\nversion=abc\ndir=/tmp\ntype=update_linux_amd64\n"));
    LogCapture log;
    QVERIFY(!UpdateIniData::modifyTempIni(m_Dir->path()));
    QVERIFY(log.contains(QStringLiteral("Failed to read existing update.ini")));
    QVERIFY(!QFile::exists(m_Dir->filePath(QStringLiteral("update.ini"))));
}

void TestUpdateIni::removeRecordKeepsSettings()
{
    const QString path = m_Dir->filePath(QStringLiteral("update.ini"));
    QVERIFY(writeText(path, "[Channel]\nbeta=true\n\n[update]\nproxy=http://proxy:8080\n"));
    QVERIFY(UpdateIniData::modify(5000, m_Dir->path(), QString(), "update_linux_amd64", path));
    QVERIFY(UpdateIniData::removeRecord(path));
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.childGroups(), (QStringList{"Channel", "update"}));
    QCOMPARE(settings.value("update/proxy").toString(), QStringLiteral("http://proxy:8080"));
}

void TestUpdateIni::removeRecordDeletesFileWithOnlyTheRecord()
{
    const QString path = m_Dir->filePath(QStringLiteral("update.ini"));
    QVERIFY(UpdateIniData::modify(5000, m_Dir->path(), QString(), "update_linux_amd64", path));
    QVERIFY(UpdateIniData::removeRecord(path));
    QVERIFY(!QFile::exists(path));
    QVERIFY(UpdateIniData::removeRecord(path)); // nothing to remove is no failure
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestUpdateIni)
#include "tst_updateini.moc"
