#include "UpdateMessage.pb.h"
#include "configuration.h"
#include "testhttpserver.h"
#include "updatechecker.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct ChannelEntry
{
    const char *name;
    int version;
    const char *versionString;
};

QByteArray versionsMessage(std::initializer_list<ChannelEntry> channels, bool withAgreementId = true)
{
    velloran::update::Versions versions;
    if (withAgreementId)
        versions.set_licenseagreementid(3);
    for (const ChannelEntry &entry : channels) {
        auto *channel = versions.add_channels();
        channel->set_name(entry.name);
        channel->set_version_number(entry.version);
        channel->set_version_string(entry.versionString);
    }
    const std::string bytes = versions.SerializePartialAsString();
    return QByteArray(bytes.data(), int(bytes.size()));
}

using Pair = QPair<QString, QString>;

} // namespace

class TestVersionQuery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_Home;
    TestHttpServer m_Service;

private slots:
    void initTestCase();
    void answer_data();
    void answer();
    void configurationAcceptsAnswer_data();
    void configurationAcceptsAnswer();
    void failedQueryShowsBox();
};

void TestVersionQuery::initTestCase()
{
    qRegisterMetaType<UpdateVersions>("UpdateVersions");
    QVERIFY(m_Home.isValid());
    qputenv("HOME", m_Home.path().toUtf8());
    qputenv("VLR_CONFIG_DIR", m_Home.path().toUtf8());
    qputenv("VLR_VERSION_URL", m_Service.urlFor(QStringLiteral("/vlr-client-2")).toUtf8());
}

void TestVersionQuery::answer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<UpdateVersions>("expected");

    UpdateVersions valid;
    valid.insert("stable", Pair("5000", "3.6.2"));
    valid.insert("beta", Pair("5100", "3.7.0-beta1"));
    QTest::newRow("valid") << 200 << versionsMessage({{"stable", 5000, "3.6.2"}, {"beta", 5100, "3.7.0-beta1"}}) << valid;

    UpdateVersions firstWins;
    firstWins.insert("stable", Pair("1", "first"));
    QTest::newRow("duplicate names: first entry wins")
        << 200 << versionsMessage({{"stable", 1, "first"}, {"stable", 2, "second"}}) << firstWins;

    UpdateVersions negative;
    negative.insert("stable", Pair("4294967295", "broken"));
    QTest::newRow("negative version read as unsigned") << 200 << versionsMessage({{"stable", -1, "broken"}}) << negative;

    QTest::newRow("missing licenseAgreementId")
        << 200 << versionsMessage({{"stable", 5000, "3.6.2"}}, false) << UpdateVersions();
    QTest::newRow("empty body") << 200 << QByteArray() << UpdateVersions();
    QTest::newRow("garbage body") << 200 << QByteArray("\xff\xff\xff\xff", 4) << UpdateVersions();
    QTest::newRow("HTTP 500") << 500 << versionsMessage({{"stable", 5000, "3.6.2"}}) << UpdateVersions();
}

void TestVersionQuery::answer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(UpdateVersions, expected);

    m_Service.setResponse(status, body);
    auto *checker = new UpdateChecker(nullptr);
    QPointer<UpdateChecker> guard(checker);
    QSignalSpy spy(checker, &UpdateChecker::update_available);
    checker->check();
    QVERIFY(spy.wait(10000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<UpdateVersions>(), expected);
    QTRY_VERIFY(guard.isNull()); // the checker deletes itself
    QCOMPARE(m_Service.requestedPaths().last(), QByteArray("/vlr-client-2"));
}

void TestVersionQuery::configurationAcceptsAnswer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("versionString");
    QTest::addColumn<QString>("fatal");

    QTest::newRow("stable entry") << versionsMessage({{"beta", 6, "b"}, {"stable", 5000, "3.6.2"}}) << 5000
                                  << QString("3.6.2") << QString();
    QTest::newRow("no entry for the channel") << versionsMessage({{"alpha", 6, "a"}}) << 0 << QString()
                                              << QString("Update server returned no version");
    QTest::newRow("negative version") << versionsMessage({{"stable", -1, "x"}}) << 0 << QString()
                                      << QString("Update server returned invalid version nr (4294967295)");
}

void TestVersionQuery::configurationAcceptsAnswer()
{
    QFETCH(QByteArray, body);
    QFETCH(int, version);
    QFETCH(QString, versionString);
    QFETCH(QString, fatal);

    m_Service.setResponse(200, body);
    Configuration configuration;
    QSignalSpy readySpy(&configuration, &Configuration::ready);
    QSignalSpy fatalSpy(&configuration, &Configuration::fatalError);
    QVERIFY(configuration.parseCommandLineOptions({"update"}));
    QVERIFY(!configuration.isReady());
    QTRY_VERIFY_WITH_TIMEOUT(readySpy.count() + fatalSpy.count() == 1, 10000);
    if (fatal.isEmpty()) {
        QCOMPARE(readySpy.count(), 1);
        QVERIFY(configuration.isReady());
        QCOMPARE(configuration.version(), version);
        QCOMPARE(configuration.versionString(), versionString);
    } else {
        QCOMPARE(fatalSpy.at(0).at(0).toString(), fatal);
        QVERIFY(!configuration.isReady());
    }
}

void TestVersionQuery::failedQueryShowsBox()
{
    m_Service.setResponse(500, QByteArray());
    Configuration configuration;
    QSignalSpy readySpy(&configuration, &Configuration::ready);
    QSignalSpy fatalSpy(&configuration, &Configuration::fatalError);

    QString boxText;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxText = box->text();
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Abort));
            box->buttons().first()->click();
        }
    });
    closer.start(20);

    QVERIFY(configuration.parseCommandLineOptions({"update"}));
    QTRY_VERIFY_WITH_TIMEOUT(!boxText.isEmpty(), 10000);
    QCOMPARE(boxText, QStringLiteral("Failed to query latest client\nversion from update server."));
    QCOMPARE(readySpy.count(), 0);
    QCOMPARE(fatalSpy.count(), 0);
}

QTEST_MAIN(TestVersionQuery)
#include "tst_versionquery.moc"
