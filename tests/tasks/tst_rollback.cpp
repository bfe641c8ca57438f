#include "rollback.h"
#include "taskdoubles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestRollback : public QObject
{
    Q_OBJECT

private slots:
    void undoesNewestFirst();
    void failedStepsAreReportedAndTheRestGoesOn();
    void failureTexts_data();
    void failureTexts();
    void nullReporterStillUndoes();
    void reporterWithoutMessageSignal();

private:
    static bool touch(const QString& path) { QFile f(path); return f.open(QIODevice::WriteOnly); }
};

// Journal: directory D created, file f created in D, file g renamed to g_old.
void TestRollback::undoesNewestFirst()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString d = tmp.filePath("D"), f = tmp.filePath("D/f");
    const QString g = tmp.filePath("g"), gOld = tmp.filePath("g_old");
    QVERIFY(QDir().mkdir(d));
    QVERIFY(touch(f));
    QVERIFY(touch(g));
    QVERIFY(QFile::rename(g, gOld));

    // Built the way the replace tasks do: a task's own journal merged into its parent's.
    RollbackDataList journal, taskJournal;
    journal.append(RollbackData(RollbackData::DIR_CREATE, d));
    taskJournal.append(RollbackData(RollbackData::FILE_CREATE, f));
    taskJournal.append(RollbackData(RollbackData::FILE_RENAME, g, gOld));
    journal += taskJournal;
    QCOMPARE(journal.size(), 3);

    FakeTask reporter("reporter", nullptr, nullptr, 1.0);
    QSignalSpy messages(&reporter, &TaskSpecification::message);
    // D can only go once f is gone, so a wrong order shows as a failure.
    QVERIFY(journal.rollback(&reporter));
    QCOMPARE(messages.count(), 0);
    QVERIFY(QFile::exists(g));
    QVERIFY(!QFile::exists(gOld));
    QVERIFY(!QFile::exists(f));
    QVERIFY(!QFileInfo::exists(d));
    QVERIFY(journal.isEmpty());

    // A second undo, like that of an empty journal, does nothing and succeeds.
    QVERIFY(journal.rollback(&reporter));
    QCOMPARE(messages.count(), 0);
}

void TestRollback::failedStepsAreReportedAndTheRestGoesOn()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString d = tmp.filePath("D"), f = tmp.filePath("D/f");
    const QString g = tmp.filePath("g"), gOld = tmp.filePath("g_old");
    QVERIFY(QDir().mkdir(d));
    // f is a directory, so removing it as a file fails even for root; D then is not empty.
    QVERIFY(QDir().mkdir(f));
    QVERIFY(touch(gOld));

    RollbackDataList journal;
    journal.append(RollbackData(RollbackData::DIR_CREATE, d));
    journal.append(RollbackData(RollbackData::FILE_CREATE, f));
    journal.append(RollbackData(RollbackData::FILE_RENAME, g, gOld));

    FakeTask reporter("reporter", nullptr, nullptr, 1.0);
    QSignalSpy messages(&reporter, &TaskSpecification::message);
    QVERIFY(!journal.rollback(&reporter));
    QCOMPARE(messages.count(), 2);
    QCOMPARE(messages.at(0).at(0).toString(),
             QString("warning: rollback create file %1 failed").arg(f));
    QCOMPARE(messages.at(1).at(0).toString(),
             QString("warning: rollback create dir %1 failed").arg(d));
    QVERIFY(QFile::exists(g)); // the rename was still undone
    QVERIFY(journal.isEmpty());
}

void TestRollback::failureTexts_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("expected"); // %1 = path, %2 = former path

    // The rename text names the rename being undone in its first direction: former, then new.
    QTest::newRow("renamed file gone") << int(RollbackData::FILE_RENAME)
                                       << "warning: rollback rename %2 to %1 failed";
    QTest::newRow("created file gone") << int(RollbackData::FILE_CREATE)
                                       << "warning: rollback create file %1 failed";
    QTest::newRow("created dir gone") << int(RollbackData::DIR_CREATE)
                                      << "warning: rollback create dir %1 failed";
}

void TestRollback::failureTexts()
{
    QFETCH(int, op);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString path = tmp.filePath("missing"), former = tmp.filePath("before");
    const RollbackData entry = op == RollbackData::FILE_RENAME ? RollbackData(op, former, path)
                                                               : RollbackData(op, path);

    FakeTask reporter("reporter", nullptr, nullptr, 1.0);
    QSignalSpy messages(&reporter, &TaskSpecification::message);
    QVERIFY(!entry.rollback(&reporter));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), expected.arg(path, former));
}

void TestRollback::nullReporterStillUndoes()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString f = tmp.filePath("f");
    QVERIFY(touch(f));
    RollbackDataList journal;
    journal.append(RollbackData(RollbackData::FILE_CREATE, tmp.filePath("never made")));
    journal.append(RollbackData(RollbackData::FILE_CREATE, f));
    QVERIFY(!journal.rollback(nullptr));
    QVERIFY(!QFile::exists(f));
    QVERIFY(journal.isEmpty());
}

void TestRollback::reporterWithoutMessageSignal()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QObject plain;
    QTest::ignoreMessage(QtWarningMsg,
                         "Warning: message signal was not found in RollbackData::message");
    QVERIFY(!RollbackData(RollbackData::FILE_CREATE, tmp.filePath("x")).rollback(&plain));
}

QTEST_GUILESS_MAIN(TestRollback)
#include "tst_rollback.moc"
