// The HTTP download task against a local file server that injects faults: statuses other than
// 200, bodies without a length, stalls, connection resets, cancellation and sibling failure.
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "taskdoubles.h"
#include "testfileserver.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <signal.h>
#include <sys/resource.h>

namespace {

constexpr int VERSION = 4711;

QByteArray pattern(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char('a' + (i * 7 + i / 251) % 26);
    return data;
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).toString();
    return result;
}

} // namespace

#define WAIT_FOR_END(task) QTRY_VERIFY_WITH_TIMEOUT((task)->state() != TaskSpecification::RUNNING, 10000)
// Waits until the current attempt has written `bytes` bytes. Reads the file, not the statistics
// poll, which would advance the time-out.
#define WAIT_FOR_BYTES(task, bytes) QTRY_COMPARE(QFileInfo((task)->localFile()).size(), qint64(bytes))

class tst_DownloadTask : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void success_data();
    void success();
    void failingStatusGetsFiveAttempts_data();
    void failingStatusGetsFiveAttempts();
    void failedAttemptRestartsFromEmptyFile_data();
    void failedAttemptRestartsFromEmptyFile();
    void stallTimesOutAtSixteenthPoll();
    void progressIsWeighted();
    void cancelDuringTransfer();
    void cancelBeforeStartOnlySetsFlag();
    void siblingFailureAbortsTransfer();
    void fileThatCannotBeCreatedFailsAtOnce();
    void resetAllowsAnotherRun();
    void networkDeletedBeforeTask();
    void writeErrorFailsTheAttempt();

private:
    DownloadTaskSpecification *makeTask(qint64 size = -1, qreal weight = 1.0,
                                        QObject *parent = nullptr);

    QTemporaryDir m_ConfigDir; // no update.ini: stable channel, base from VLR_DOWNLOAD_BASE
    std::unique_ptr<QTemporaryDir> m_Dir;
    std::unique_ptr<TestFileServer> m_Server;
    std::unique_ptr<QNetworkAccessManager> m_Network;
    std::unique_ptr<DownloadTaskSpecification> m_Task;
    QString m_LocalFile;
};

void tst_DownloadTask::initTestCase()
{
    QVERIFY(m_ConfigDir.isValid());
    qputenv("VLR_CONFIG_DIR", m_ConfigDir.path().toUtf8());
}

void tst_DownloadTask::init()
{
    m_Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_Dir->isValid());
    m_LocalFile = m_Dir->filePath(QStringLiteral("file.bin"));
    m_Server = std::make_unique<TestFileServer>();
    QVERIFY(m_Server->isListening());
    qputenv("VLR_DOWNLOAD_BASE", m_Server->baseUrl().toUtf8() + "files");
    Configuration configuration;
    configuration.getUpdateChannel();
    QCOMPARE(Configuration::baseUrl(), m_Server->baseUrl() + QStringLiteral("files/"));
    m_Network = std::make_unique<QNetworkAccessManager>();
    m_Network->setProxy(QNetworkProxy::NoProxy);
}

void tst_DownloadTask::cleanup()
{
    m_Task.reset();
    m_Network.reset();
    m_Server.reset();
    m_Dir.reset();
}

DownloadTaskSpecification *tst_DownloadTask::makeTask(qint64 size, qreal weight, QObject *parent)
{
    auto *task = new DownloadTaskSpecification(m_Network.get(), QStringLiteral("sub/file.bin"), VERSION,
                                               m_LocalFile, size, parent, weight);
    if (!parent)
        m_Task.reset(task);
    return task;
}

void tst_DownloadTask::success_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<qint64>("expectedSize");

    QTest::newRow("with length") << 100000 << true << qint64(-1);
    QTest::newRow("without length") << 100000 << false << qint64(-1);
    QTest::newRow("size known beforehand") << 9000 << false << qint64(9000);
    QTest::newRow("empty file") << 0 << true << qint64(-1);
}

void tst_DownloadTask::success()
{
    QFETCH(int, size);
    QFETCH(bool, contentLength);
    QFETCH(qint64, expectedSize);

    const QByteArray body = pattern(size);
    TestFileServer::Reply reply;
    reply.body = body;
    reply.contentLength = contentLength;
    m_Server->serve(reply);

    DownloadTaskSpecification *task = makeTask(expectedSize, 0.5);
    qulonglong done = 1, reportedTotal = 1, speed = 1;
    bool downloading = true;
    task->getDownloadStatus(done, reportedTotal, speed, downloading);
    QCOMPARE(reportedTotal, qulonglong(qMax(expectedSize, qint64(0)))); // -1 is reported as 0
    QSignalSpy messages(task, &TaskSpecification::message);
    QSignalSpy progress(task, &TaskSpecification::updateProgress);
    QSignalSpy finished(task, &TaskSpecification::finished);
    task->execute();
    WAIT_FOR_END(task);

    QCOMPARE(task->state(), TaskSpecification::FINISHED);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(m_Server->requestedPaths(), QList<QByteArray>{"/files/4711/sub/file.bin"});
    QFile file(m_LocalFile);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    QVERIFY(file.readAll() == body);
    QCOMPARE(texts(messages), (QStringList{QStringLiteral("Downloading sub/file.bin"),
                                           QStringLiteral("Downloading sub/file.bin finished")}));
    QCOMPARE(task->progress(), 0.5);

    // Statistics: by the end the size is known, from the server when not beforehand (without
    // a length header the network layer reports the received count as the total at the end).
    const qint64 total = size;
    task->getDownloadStatus(done, reportedTotal, speed, downloading);
    QCOMPARE(done, qulonglong(size));
    QCOMPARE(reportedTotal, qulonglong(total));
    QCOMPARE(speed, qulonglong(size));

    // Written in chunks of at most 4096 bytes: no progress step may be larger than one chunk.
    double previous = 0;
    for (int i = 0; total > 0 && i + 1 < progress.count(); ++i) {
        const double value = progress.at(i).at(0).toDouble();
        QVERIFY2(value - previous <= 0.5 * 4096.0 / double(total) + 1e-9,
                 qPrintable(QStringLiteral("step %1 -> %2").arg(previous).arg(value)));
        previous = value;
    }
}

void tst_DownloadTask::failingStatusGetsFiveAttempts_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("302 redirect is not followed") << 302;
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
}

void tst_DownloadTask::failingStatusGetsFiveAttempts()
{
    QFETCH(int, status);
    TestFileServer::Reply reply;
    reply.status = status;
    reply.body = "not the file";
    m_Server->serve(reply);

    DownloadTaskSpecification *task = makeTask();
    QSignalSpy messages(task, &TaskSpecification::message);
    QSignalSpy errors(task, &TaskSpecification::error);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    task->execute();
    WAIT_FOR_END(task);

    QCOMPARE(task->state(), TaskSpecification::FAILED);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(m_Server->requestedPaths().count(), 5);
    const QString failure = QStringLiteral("sub/file.bin returned %1").arg(status);
    QStringList expected{QStringLiteral("Downloading sub/file.bin")};
    for (int i = 0; i < 5; ++i)
        expected << failure;
    expected << QStringLiteral("Unable to download sub/file.bin");
    QCOMPARE(texts(messages), expected);
    QCOMPARE(errors.count(), 0); // attempts fail with messages; the caller reports the error
    QVERIFY(!QFile::exists(m_LocalFile));
    // No late signal of an abandoned reply reaches the task.
    QTest::qWait(100);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(texts(messages).count(), expected.count());
}

void tst_DownloadTask::failedAttemptRestartsFromEmptyFile_data()
{
    QTest::addColumn<int>("firstStatus");
    QTest::addColumn<int>("firstCut"); // TestFileServer::Cut, or -1 for none
    QTest::addColumn<QString>("firstMessage");

    QTest::newRow("connection reset mid-body") << 200 << int(TestFileServer::Cut::RESET) << QString();
    QTest::newRow("503 then 200") << 503 << -1 << QStringLiteral("sub/file.bin returned 503");
}

void tst_DownloadTask::failedAttemptRestartsFromEmptyFile()
{
    QFETCH(int, firstStatus);
    QFETCH(int, firstCut);
    QFETCH(QString, firstMessage);

    const QByteArray body = pattern(30000);
    m_Server->setHandler([&](const QByteArray &, int attempt) {
        TestFileServer::Reply reply;
        reply.body = body;
        if (attempt == 0) {
            reply.status = firstStatus;
            if (firstCut >= 0) {
                reply.cutAt = 12000;
                reply.cut = TestFileServer::Cut(firstCut);
            }
        }
        return reply;
    });

    DownloadTaskSpecification *task = makeTask(body.size());
    QSignalSpy messages(task, &TaskSpecification::message);
    task->execute();
    WAIT_FOR_END(task);

    QCOMPARE(task->state(), TaskSpecification::FINISHED);
    QCOMPARE(m_Server->requestedPaths().count(), 2);
    QFile file(m_LocalFile);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    QVERIFY(file.readAll() == body); // nothing of the failed attempt is left in front
    const QStringList lines = texts(messages);
    QCOMPARE(lines.count(), 3);
    if (!firstMessage.isEmpty())
        QCOMPARE(lines.at(1), firstMessage);
    else
        QVERIFY2(!lines.at(1).isEmpty() && !lines.at(1).startsWith(QLatin1String("Downloading")),
                 qPrintable(lines.at(1)));
}

void tst_DownloadTask::stallTimesOutAtSixteenthPoll()
{
    const QByteArray body = pattern(5000);
    m_Server->setHandler([&](const QByteArray &, int attempt) {
        TestFileServer::Reply reply;
        reply.body = body;
        if (attempt == 0)
            reply.cutAt = 1500; // then silence, as if the server hung for good
        return reply;
    });

    DownloadTaskSpecification *task = makeTask(body.size());
    QSignalSpy messages(task, &TaskSpecification::message);
    task->execute();
    WAIT_FOR_BYTES(task, 1500);

    // The engine polls once a second; drive its polls here instead of waiting 16 seconds.
    qulonglong done = 0, total = 0, speed = 0;
    bool downloading = false;
    task->getDownloadStatus(done, total, speed, downloading);
    QCOMPARE(done, 1500ull);
    QCOMPARE(total, 5000ull);
    QCOMPARE(speed, 1500ull);
    QVERIFY(downloading);
    for (int poll = 2; poll <= 15; ++poll) {
        downloading = false;
        task->getDownloadStatus(done, total, speed, downloading);
        QVERIFY2(downloading, qPrintable(QString::number(poll)));
        QCOMPARE(speed, 0ull);
    }
    QCOMPARE(m_Server->requestedPaths().count(), 1);

    downloading = false;
    task->getDownloadStatus(done, total, speed, downloading); // the sixteenth
    QVERIFY(!downloading);
    QCOMPARE(texts(messages).value(1), QStringLiteral("file sub/file.bin timed out"));
    QCOMPARE(task->progress(), 0.0);

    WAIT_FOR_END(task);
    QCOMPARE(task->state(), TaskSpecification::FINISHED);
    QCOMPARE(m_Server->requestedPaths().count(), 2);
    QFile file(m_LocalFile);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    QVERIFY(file.readAll() == body);
}

void tst_DownloadTask::progressIsWeighted()
{
    TestFileServer::Reply reply;
    reply.body = pattern(1000);
    reply.cutAt = 500;
    m_Server->serve(reply);

    DownloadTaskSpecification *task = makeTask(1000, 0.8);
    QSignalSpy progress(task, &TaskSpecification::updateProgress);
    task->execute();
    WAIT_FOR_BYTES(task, 500);
    QTRY_VERIFY(!progress.isEmpty() && qFuzzyCompare(progress.last().at(0).toDouble(), 0.4));
    QVERIFY(qFuzzyCompare(task->progress(), 0.4));
}

void tst_DownloadTask::cancelDuringTransfer()
{
    TestFileServer::Reply reply;
    reply.body = pattern(20000);
    reply.cutAt = 8192;
    m_Server->serve(reply);

    DownloadTaskSpecification *task = makeTask(-1);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    task->execute();
    WAIT_FOR_BYTES(task, 8192);

    task->cancel();
    QCOMPARE(task->state(), TaskSpecification::CANCELED);
    QCOMPARE(canceled.count(), 1);
    QVERIFY(!QFile::exists(m_LocalFile));
    QCOMPARE(task->progress(), 0.0);
    qulonglong done = 1, total = 1, speed = 1;
    bool downloading = false;
    task->getDownloadStatus(done, total, speed, downloading);
    QCOMPARE(done, 0ull);
    QVERIFY(!downloading);
    QTest::qWait(100);
    QCOMPARE(m_Server->requestedPaths().count(), 1); // no retry after a cancel
    QCOMPARE(canceled.count(), 1);
}

void tst_DownloadTask::cancelBeforeStartOnlySetsFlag()
{
    DownloadTaskSpecification *task = makeTask();
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    task->cancel();
    QVERIFY(task->isCancelRequested());
    QCOMPARE(task->state(), TaskSpecification::IDLE);
    QCOMPARE(canceled.count(), 0);
}

void tst_DownloadTask::siblingFailureAbortsTransfer()
{
    TestFileServer::Reply reply;
    reply.body = pattern(20000);
    reply.cutAt = 4096;
    m_Server->serve(reply);

    FakeComposedTask parent(2, nullptr, 1.0);
    DownloadTaskSpecification *download = makeTask(-1, 1.0, &parent);
    FakeTask *sibling = parent.addFake(QStringLiteral("sibling"));
    parent.add(download);
    QSignalSpy messages(download, &TaskSpecification::message);
    parent.execute();
    WAIT_FOR_BYTES(download, 4096);

    sibling->fail();
    QCOMPARE(download->state(), TaskSpecification::FAILED);
    QCOMPARE(parent.state(), TaskSpecification::FAILED);
    QCOMPARE(parent.m_SubtasksDoneCalls, 1);
    QCOMPARE(texts(messages).last(), QStringLiteral("Abort downloading sub/file.bin"));
    QVERIFY(!QFile::exists(m_LocalFile));
    QTest::qWait(100);
    QCOMPARE(m_Server->requestedPaths().count(), 1);
}

void tst_DownloadTask::fileThatCannotBeCreatedFailsAtOnce()
{
    m_Server->serve(TestFileServer::Reply{});
    m_LocalFile = m_Dir->filePath(QStringLiteral("missing/file.bin"));
    DownloadTaskSpecification *task = makeTask();
    QSignalSpy errors(task, &TaskSpecification::error);
    task->execute();
    QCOMPARE(task->state(), TaskSpecification::FAILED);
    QCOMPARE(texts(errors), QStringList{QStringLiteral("Unable to create file %1 for saving").arg(m_LocalFile)});
    QTest::qWait(50);
    QVERIFY(m_Server->requestedPaths().isEmpty());
}

void tst_DownloadTask::resetAllowsAnotherRun()
{
    TestFileServer::Reply reply;
    reply.status = 404;
    m_Server->serve(reply);
    DownloadTaskSpecification *task = makeTask();
    task->execute();
    WAIT_FOR_END(task);
    QCOMPARE(task->state(), TaskSpecification::FAILED);

    // After reset() the task gets five fresh attempts.
    reply.status = 200;
    reply.body = "now it is there";
    m_Server->setHandler([&](const QByteArray &, int attempt) {
        TestFileServer::Reply r = reply;
        if (attempt < 5 + 4)
            r.status = 404;
        return r;
    });
    task->reset();
    QCOMPARE(task->state(), TaskSpecification::IDLE);
    task->execute();
    WAIT_FOR_END(task);
    QCOMPARE(task->state(), TaskSpecification::FINISHED);
    QCOMPARE(m_Server->requestedPaths().count(), 10);
}

void tst_DownloadTask::networkDeletedBeforeTask()
{
    // In the engine the network access manager and the task tree are siblings; the manager,
    // created first, is also deleted first, and takes its replies with it.
    TestFileServer::Reply reply;
    reply.body = pattern(10000);
    reply.cutAt = 2000;
    m_Server->serve(reply);
    DownloadTaskSpecification *task = makeTask();
    task->execute();
    WAIT_FOR_BYTES(task, 2000);
    m_Network.reset();
    QTest::qWait(100);
    m_Task.reset();
    QVERIFY(!QFile::exists(m_LocalFile)); // the unfinished file went with the task
}

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_OldHandler = signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
        getrlimit(RLIMIT_FSIZE, &m_Old);
        rlimit limit = m_Old;
        limit.rlim_cur = bytes;
        m_Set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_Old);
        signal(SIGXFSZ, m_OldHandler);
    }
    bool isSet() const { return m_Set; }

private:
    rlimit m_Old{};
    sighandler_t m_OldHandler;
    bool m_Set = false;
};

void tst_DownloadTask::writeErrorFailsTheAttempt()
{
    // Smaller than a file buffer: a buffered write would fail only when the file is closed,
    // and the download would pass for complete.
    TestFileServer::Reply reply;
    reply.body = pattern(10000);
    m_Server->serve(reply);
    DownloadTaskSpecification *task = makeTask(reply.body.size());
    QSignalSpy messages(task, &TaskSpecification::message);
    {
        FileSizeLimit limit(6000);
        QVERIFY(limit.isSet());
        task->execute();
        WAIT_FOR_END(task);
    }
    QCOMPARE(task->state(), TaskSpecification::FAILED);
    QCOMPARE(m_Server->requestedPaths().count(), 5);
    QVERIFY(!QFile::exists(m_LocalFile));
    const QStringList lines = texts(messages);
    QCOMPARE(lines.count(), 7);
    QVERIFY2(lines.at(1).startsWith(QLatin1String("Error writing to file")) || lines.at(1).contains(QLatin1String("large")),
             qPrintable(lines.at(1)));
}

QTEST_GUILESS_MAIN(tst_DownloadTask)
#include "tst_downloadtask.moc"
