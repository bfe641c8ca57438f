#include "logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

class TestLogFile : public QObject
{
    Q_OBJECT

private:
    QStringList readLines() const;

    QTemporaryDir m_Tmp;
    QString m_Path;
    QtMessageHandler m_PreviousHandler = nullptr;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fileName();
    void levels_data();
    void levels();
    void debugStreamFormatting();
    void lineFeedStartsUnmarkedLine();
    void threadsDoNotInterleave();
};

QStringList TestLogFile::readLines() const
{
    QFile file(m_Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

void TestLogFile::initTestCase()
{
    QVERIFY(m_Tmp.isValid());
    qputenv("TMPDIR", m_Tmp.path().toUtf8());
    const QDateTime before = QDateTime::currentDateTime();
    logFile();
    m_PreviousHandler = qInstallMessageHandler(messageHandler);

    const QDir dir(m_Tmp.path() + QStringLiteral("/velloran_update_log"));
    QVERIFY(dir.exists());
    const QStringList files = dir.entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    m_Path = dir.absoluteFilePath(files.first());
    // The name carries the start time, to the second.
    QVERIFY(files.first() == logFileName(before) || files.first() == logFileName(before.addSecs(1)));
}

void TestLogFile::cleanupTestCase()
{
    qInstallMessageHandler(m_PreviousHandler);
}

void TestLogFile::fileName()
{
    const QDateTime start(QDate(2026, 12, 9), QTime(13, 9, 43));
    QCOMPARE(logFileName(start), QStringLiteral("update__2026-12-09__13_09_43.log"));
    QCOMPARE(logDirectoryPath(), m_Tmp.path() + QStringLiteral("/velloran_update_log/"));
}

void TestLogFile::levels_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("marker");
    QTest::newRow("debug") << int(QtDebugMsg) << "Debug";
    QTest::newRow("info") << int(QtInfoMsg) << "Info";
    QTest::newRow("warning") << int(QtWarningMsg) << "Warning";
    QTest::newRow("critical") << int(QtCriticalMsg) << "Critical";
}

void TestLogFile::levels()
{
    QFETCH(int, type);
    QFETCH(QString, marker);
    const QString text = QStringLiteral("level line ") + marker;
    messageHandler(QtMsgType(type), QMessageLogContext(), text);
    messageHandler(QtMsgType(type), QMessageLogContext(), QString());

    // Every line is flushed at once, so the file holds it already.
    const QStringList lines = readLines();
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}$"));
    const QString expectedTail = QStringLiteral("\t|\t") + marker + QStringLiteral("\t|\t");
    const QString textLine = lines.at(lines.size() - 3);
    const QString emptyLine = lines.at(lines.size() - 2);
    QCOMPARE(lines.last(), QString());
    QVERIFY2(textLine.endsWith(expectedTail + text), qPrintable(textLine));
    QVERIFY(stamp.match(textLine.left(textLine.indexOf(QLatin1Char('\t')))).hasMatch());
    QVERIFY2(emptyLine.endsWith(expectedTail), qPrintable(emptyLine)); // empty message: ends after the marker
}

void TestLogFile::debugStreamFormatting()
{
    qDebug() << "Remove old file:" << QStringLiteral("/opt/vlr/_old_update") << 42 << true;
    const QString line = readLines().at(readLines().size() - 2);
    QVERIFY2(line.endsWith(QStringLiteral("\t|\tDebug\t|\tRemove old file: \"/opt/vlr/_old_update\" 42 true")),
             qPrintable(line));
}

void TestLogFile::lineFeedStartsUnmarkedLine()
{
    qWarning("first\nsecond");
    const QStringList lines = readLines();
    QVERIFY(lines.at(lines.size() - 3).endsWith(QStringLiteral("\t|\tWarning\t|\tfirst")));
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("second"));
}

void TestLogFile::threadsDoNotInterleave()
{
    constexpr int threads = 6;
    constexpr int linesPerThread = 400;
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    for (int t = 0; t < threads; ++t) {
        pool.start([t] {
            for (int i = 0; i < linesPerThread; ++i)
                qDebug() << "worker" << t << "line" << i;
        });
    }
    pool.waitForDone();

    const QRegularExpression pattern(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\t\\|\tDebug\t\\|\tworker (\\d+) line (\\d+)$"));
    QVector<int> next(threads, 0);
    int matched = 0;
    for (const QString &line : readLines()) {
        if (!line.contains(QLatin1String("worker")))
            continue;
        const auto match = pattern.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int t = match.captured(1).toInt();
        QCOMPARE(match.captured(2).toInt(), next[t]); // each thread's lines in order
        ++next[t];
        ++matched;
    }
    QCOMPARE(matched, threads * linesPerThread);
}

QTEST_MAIN(TestLogFile)
#include "tst_logfile.moc"
