// Signature and digest checks: the signature edge cases, interoperability with OpenSSL in both
// directions, and the task's reporting order.
#include "buildsettings.h"
#include "checksignaturetaskspecification.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kKeysDir = QStringLiteral(TEST_KEYS_DIR);
const QString kVlrRelease = QStringLiteral(VLR_RELEASE_BINARY);

// Digests from the SHA-2 test vectors, not from the code under test.
const char kSha512Empty[] = "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
                            "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e";
const char kSha512Abc[] = "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                          "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Runs a program to its end; returns its standard error when it fails.
QString run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(30000))
        return program + QStringLiteral(" did not finish");
    if (exitCode)
        *exitCode = process.exitCode();
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardError());
}

QStringList opensslPss(const QString &hash, int saltLength)
{
    return {QStringLiteral("-") + hash, QStringLiteral("-sigopt"), QStringLiteral("rsa_padding_mode:pss"),
            QStringLiteral("-sigopt"), QStringLiteral("rsa_pss_saltlen:%1").arg(saltLength),
            QStringLiteral("-sigopt"), QStringLiteral("rsa_mgf1_md:") + hash};
}

// What a finished run of the task reported.
struct Outcome
{
    QStringList messages;
    QList<bool> checkDone; // arguments of checkDone, in order
    bool checkDoneBeforeEnd = false;
    TaskSpecification::State state = TaskSpecification::IDLE;
};

Outcome runCheck(const QString &file, const QString &sha512, bool required)
{
    Outcome outcome;
    CheckSignatureTaskSpecification task(file, sha512, required, nullptr, 1.0);
    bool ended = false;
    QObject::connect(&task, &TaskSpecification::message,
                     [&](const QString &text) { outcome.messages << text; });
    QObject::connect(&task, &CheckSignatureTaskSpecification::checkDone,
                     [&](bool pass, CheckSignatureTaskSpecification *sender) {
                         QCOMPARE(sender, &task);
                         outcome.checkDone << pass;
                         outcome.checkDoneBeforeEnd = !ended;
                     });
    const auto onEnd = [&] {
        ended = true;
        outcome.state = task.state();
    };
    QObject::connect(&task, &TaskSpecification::finished, onEnd);
    QObject::connect(&task, &TaskSpecification::canceled, onEnd);
    task.execute();
    // An unended task leaves the state IDLE, which every caller's comparison rejects.
    if (!QTest::qWaitFor([&] { return ended; }, 20000))
        qWarning() << "the check did not end";
    return outcome;
}

} // namespace

class TestSignature : public QObject
{
    Q_OBJECT

private:
    // Signs file with the test key through the given tool, writing file + ".sig".
    QString signWithOpenssl(const QString &file, const QString &hash, int saltLength,
                            const QString &sigPath = QString());
    void requireTestKey();

    QTemporaryDir m_Dir;
    QString m_Openssl;
    QString m_PublicPem;

private slots:
    void initTestCase();
    void setUpIsRepeatable();
    void rsa_data();
    void rsa();
    void sha512_data();
    void sha512();
    void optionalCheckReportsAndFinishes();
    void unreadableFile();
    void vlrReleaseSignatureVerifiesWithOpenssl();
    void vlrReleaseKeygenMakesTheKeyForm();
    void vlrReleaseRejectsBadInput();
};

void TestSignature::initTestCase()
{
    QVERIFY(m_Dir.isValid());
    CheckSigFunc::initializeCrypt();
    m_Openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    QVERIFY2(!m_Openssl.isEmpty(), "openssl is needed (scripts/deps.sh installs it)");
    m_PublicPem = m_Dir.filePath(QStringLiteral("test_public.pem"));
    const QString error = run(m_Openssl, {"rsa", "-RSAPublicKey_in", "-inform", "DER", "-in",
                                          kKeysDir + "/test_public.der", "-pubout", "-out", m_PublicPem});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestSignature::requireTestKey()
{
    if (BuildSettings::releasePublicKey() != readAll(kKeysDir + QStringLiteral("/test_public.der")))
        QSKIP("this build embeds a release key other than the test key");
}

QString TestSignature::signWithOpenssl(const QString &file, const QString &hash, int saltLength,
                                       const QString &sigPath)
{
    return run(m_Openssl, QStringList{"dgst"} + opensslPss(hash, saltLength)
                              + QStringList{"-keyform", "DER", "-sign", kKeysDir + "/test_private.der",
                                            "-out", sigPath.isEmpty() ? file + ".sig" : sigPath, file});
}

void TestSignature::setUpIsRepeatable()
{
    CheckSigFunc::initializeCrypt();
    CheckSigFunc::initializeCrypt();
}

// How the signature file of a row is made from a valid one.
enum class SigFile { VLR_RELEASE, OPENSSL, MISSING, EMPTY, SHORT, LONG, ALL_FF, OTHER_DATA,
                     SHA256, SALT_0, SALT_20, CONTENT_MISSING };
Q_DECLARE_METATYPE(SigFile)

void TestSignature::rsa_data()
{
    QTest::addColumn<SigFile>("sigFile");
    QTest::addColumn<bool>("pass");
    QTest::addColumn<QString>("message"); // the check's last message; %1 is the file

    const QString invalidPacket = QStringLiteral("RSA check failed, caught exception: rsa_verify_hash: Invalid input packet.");
    QTest::newRow("made by vlr-release") << SigFile::VLR_RELEASE << true << "RSA check: true";
    QTest::newRow("made by openssl") << SigFile::OPENSSL << true << "RSA check: true";
    QTest::newRow("valid signature of other data") << SigFile::OTHER_DATA << false << "RSA check: false";
    QTest::newRow("no .sig file") << SigFile::MISSING << false << "RSA check failed, could not read %1.sig";
    QTest::newRow("no signed file") << SigFile::CONTENT_MISSING << false << "RSA check failed, could not read %1";
    QTest::newRow("empty") << SigFile::EMPTY << false << invalidPacket;
    QTest::newRow("127 bytes") << SigFile::SHORT << false << invalidPacket;
    QTest::newRow("129 bytes") << SigFile::LONG << false << invalidPacket;
    QTest::newRow("larger than the modulus")
        << SigFile::ALL_FF << false
        << "RSA check failed, caught exception: rsa_verify_hash: Invalid sized parameter.";
    QTest::newRow("SHA-256 instead of SHA-1") << SigFile::SHA256 << false << invalidPacket;
    QTest::newRow("salt length 0") << SigFile::SALT_0 << false << invalidPacket;
    QTest::newRow("salt length 20") << SigFile::SALT_20 << false << invalidPacket;
}

void TestSignature::rsa()
{
    QFETCH(SigFile, sigFile);
    QFETCH(bool, pass);
    QFETCH(QString, message);
    requireTestKey();

    const QString file = m_Dir.filePath(QStringLiteral("product.ini"));
    const QString sig = file + QStringLiteral(".sig");
    QVERIFY(writeAll(file, "[files]\nupdate=1\n"));
    QFile::remove(sig);
    QString error;
    switch (sigFile) {
    case SigFile::VLR_RELEASE:
        error = run(kVlrRelease, {"sign", kKeysDir + "/test_private.der", file});
        break;
    case SigFile::OPENSSL:
        error = signWithOpenssl(file, QStringLiteral("sha1"), 8);
        break;
    case SigFile::SHA256:
        error = signWithOpenssl(file, QStringLiteral("sha256"), 8);
        break;
    case SigFile::SALT_0:
        error = signWithOpenssl(file, QStringLiteral("sha1"), 0);
        break;
    case SigFile::SALT_20:
        error = signWithOpenssl(file, QStringLiteral("sha1"), 20);
        break;
    case SigFile::OTHER_DATA: {
        const QString other = m_Dir.filePath(QStringLiteral("other.ini"));
        QVERIFY(writeAll(other, "[files]\nupdate=2\n"));
        error = signWithOpenssl(other, QStringLiteral("sha1"), 8, sig);
        break;
    }
    case SigFile::MISSING:
        break;
    case SigFile::CONTENT_MISSING:
        QVERIFY(writeAll(sig, QByteArray(128, 'x')));
        QVERIFY(QFile::remove(file));
        break;
    case SigFile::EMPTY:
        QVERIFY(writeAll(sig, QByteArray()));
        break;
    case SigFile::SHORT:
    case SigFile::LONG:
        error = signWithOpenssl(file, QStringLiteral("sha1"), 8);
        if (error.isEmpty()) {
            QByteArray bytes = readAll(sig);
            QCOMPARE(bytes.size(), 128);
            if (sigFile == SigFile::SHORT)
                bytes.chop(1);
            else
                bytes.append('\0');
            QVERIFY(writeAll(sig, bytes));
        }
        break;
    case SigFile::ALL_FF:
        QVERIFY(writeAll(sig, QByteArray(128, '\xff')));
        break;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const Outcome outcome = runCheck(file, QString(), true);
    QCOMPARE(outcome.checkDone, QList<bool>{pass});
    QVERIFY(outcome.checkDoneBeforeEnd);
    QCOMPARE(outcome.state, pass ? TaskSpecification::FINISHED : TaskSpecification::FAILED);
    QStringList expected{message.contains(QLatin1String("%1")) ? message.arg(file) : message};
    if (!pass)
        expected << QStringLiteral("Signature check failed for %1").arg(file);
    // A file that cannot be read also reports why.
    if (sigFile == SigFile::MISSING || sigFile == SigFile::CONTENT_MISSING)
        expected.prepend(QStringLiteral("Could not open file %1 for reading")
                             .arg(sigFile == SigFile::MISSING ? sig : file));
    QCOMPARE(outcome.messages, expected);
}

void TestSignature::sha512_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("digest");
    QTest::addColumn<bool>("pass");

    QTest::newRow("lower case") << QByteArray("abc") << QString::fromLatin1(kSha512Abc) << true;
    QTest::newRow("upper case") << QByteArray("abc") << QString::fromLatin1(kSha512Abc).toUpper() << true;
    QTest::newRow("empty file") << QByteArray() << QString::fromLatin1(kSha512Empty) << true;
    QTest::newRow("other content") << QByteArray("abd") << QString::fromLatin1(kSha512Abc) << false;
    QTest::newRow("truncated digest") << QByteArray("abc") << QString::fromLatin1(kSha512Abc).left(127) << false;
}

void TestSignature::sha512()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, digest);
    QFETCH(bool, pass);

    const QString file = m_Dir.filePath(QStringLiteral("download.bin"));
    QVERIFY(writeAll(file, content));
    const Outcome outcome = runCheck(file, digest, true);
    QCOMPARE(outcome.checkDone, QList<bool>{pass});
    QCOMPARE(outcome.state, pass ? TaskSpecification::FINISHED : TaskSpecification::FAILED);
    QCOMPARE(outcome.messages, pass ? QStringList()
                                    : QStringList{QStringLiteral("Signature check failed for %1").arg(file)});
}

void TestSignature::optionalCheckReportsAndFinishes()
{
    const QString file = m_Dir.filePath(QStringLiteral("optional.bin"));
    QVERIFY(writeAll(file, "abd"));
    const Outcome outcome = runCheck(file, QString::fromLatin1(kSha512Abc), false);
    QCOMPARE(outcome.checkDone, QList<bool>{false});
    QVERIFY(outcome.checkDoneBeforeEnd);
    QCOMPARE(outcome.state, TaskSpecification::FINISHED);
    QCOMPARE(outcome.messages, QStringList{QStringLiteral("Signature check failed for %1").arg(file)});
}

void TestSignature::unreadableFile()
{
    // A directory opens on some systems but never reads as a file.
    const QString dir = m_Dir.filePath(QStringLiteral("a_directory"));
    QVERIFY(QDir().mkpath(dir));
    const Outcome outcome = runCheck(dir, QString::fromLatin1(kSha512Abc), true);
    QCOMPARE(outcome.checkDone, QList<bool>{false});
    QCOMPARE(outcome.state, TaskSpecification::FAILED);
    QVERIFY2(outcome.messages.size() == 2, qPrintable(outcome.messages.join('\n')));
    QVERIFY(outcome.messages.first() == QStringLiteral("Could not open file %1 for reading").arg(dir)
            || outcome.messages.first() == QStringLiteral("could not read file %1 correctly").arg(dir));
}

void TestSignature::vlrReleaseSignatureVerifiesWithOpenssl()
{
    const QString file = m_Dir.filePath(QStringLiteral("release.bin"));
    QByteArray content(100000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 7 + i / 256);
    QVERIFY(writeAll(file, content));
    QString error = run(kVlrRelease, {"sign", kKeysDir + "/test_private.der", file});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(QFileInfo(file + ".sig").size(), 128);
    error = run(m_Openssl, QStringList{"dgst"} + opensslPss("sha1", 8)
                               + QStringList{"-verify", m_PublicPem, "-signature", file + ".sig", file});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The same signature under the other parameters does not verify.
    error = run(m_Openssl, QStringList{"dgst"} + opensslPss("sha1", 20)
                               + QStringList{"-verify", m_PublicPem, "-signature", file + ".sig", file});
    QVERIFY(!error.isEmpty());
}

void TestSignature::vlrReleaseKeygenMakesTheKeyForm()
{
    const QString privateKey = m_Dir.filePath(QStringLiteral("new_private.der"));
    const QString publicKey = m_Dir.filePath(QStringLiteral("new_public.der"));
    QString error = run(kVlrRelease, {"keygen", privateKey, publicKey});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(QFileInfo(publicKey).size(), 140);
    QVERIFY(!(QFileInfo(privateKey).permissions() & QFile::ReadOther));

    // OpenSSL reads the private key as a 1024-bit key with exponent 65537 and derives exactly
    // the public file from it.
    QProcess openssl;
    openssl.start(m_Openssl, {"rsa", "-inform", "DER", "-in", privateKey, "-noout", "-text"});
    QVERIFY(openssl.waitForFinished(30000));
    const QString text = QString::fromLatin1(openssl.readAllStandardOutput());
    QVERIFY2(text.contains(QLatin1String("(1024 bit")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("publicExponent: 65537")), qPrintable(text));
    const QString derived = m_Dir.filePath(QStringLiteral("derived_public.der"));
    error = run(m_Openssl, {"rsa", "-inform", "DER", "-in", privateKey, "-RSAPublicKey_out",
                            "-outform", "DER", "-out", derived});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(readAll(derived), readAll(publicKey));

    // The new pair signs and verifies in the updater's verification code.
    const QString file = m_Dir.filePath(QStringLiteral("signed_with_new_key.bin"));
    QVERIFY(writeAll(file, "payload"));
    error = run(kVlrRelease, {"sign", privateKey, file});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(CheckSigFunc::verifySignature("payload", readAll(file + ".sig"), readAll(publicKey)));
    QVERIFY(!CheckSigFunc::verifySignature("payloaD", readAll(file + ".sig"), readAll(publicKey)));
}

void TestSignature::vlrReleaseRejectsBadInput()
{
    const QString file = m_Dir.filePath(QStringLiteral("unsigned.bin"));
    QVERIFY(writeAll(file, "data"));
    struct Case
    {
        QStringList args;
        int exitCode;
    };
    const Case cases[] = {
        {{"sign", kKeysDir + "/test_public.der", file}, 1},           // not a private key
        {{"sign", m_Dir.filePath("no_such_key.der"), file}, 1},       // key missing
        {{"sign", kKeysDir + "/test_private.der", m_Dir.filePath("no_such_file")}, 1},
        {{"sign", file, file}, 1},                                   // not a key at all
        {{"sign", kKeysDir + "/test_private.der"}, 2},               // usage
        {{"verify", kKeysDir + "/test_private.der", file}, 2},       // unknown subcommand
    };
    for (const Case &c : cases) {
        int exitCode = -1;
        QVERIFY2(!run(kVlrRelease, c.args, &exitCode).isEmpty(), qPrintable(c.args.join(' ')));
        QCOMPARE(exitCode, c.exitCode);
        QVERIFY2(!QFile::exists(file + ".sig"), qPrintable(c.args.join(' ')));
    }
    // Nothing half-written is left next to the file either.
    QCOMPARE(QDir(m_Dir.path()).entryList({"unsigned.bin*"}, QDir::Files), QStringList{"unsigned.bin"});
}

QTEST_GUILESS_MAIN(TestSignature)
#include "tst_signature.moc"
