#include "checksignaturetaskspecification.h"

#include "buildsettings.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

#include <tomcrypt.h>

#include <atomic>
#include <climits>
#include <mutex>

namespace {

// Filled once by CheckSigFunc::initializeCrypt(); read by the worker threads afterwards.
std::atomic<int> s_Sha1Index{-1};
std::atomic<int> s_PrngIndex{-1};

const unsigned long s_SaltLength = 8;

[[noreturn]] void throwCrypt(const char *call, int result)
{
    throw crypt_exception(std::string(call) + ": " + error_to_string(result));
}

// Owns an imported key for the duration of one check.
class RsaKey
{
public:
    explicit RsaKey(const QByteArray &der)
    {
        const int result = rsa_import(reinterpret_cast<const unsigned char *>(der.constData()),
                                      static_cast<unsigned long>(der.size()), &m_Key);
        if (result != CRYPT_OK)
            throwCrypt("rsa_import", result);
    }
    ~RsaKey() { rsa_free(&m_Key); }
    RsaKey(const RsaKey &) = delete;
    RsaKey &operator=(const RsaKey &) = delete;

    rsa_key *get() { return &m_Key; }

private:
    rsa_key m_Key;
};

} // namespace

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(const QString &file,
                                                                 const QString &sha512,
                                                                 bool required, QObject *parent,
                                                                 qreal weight)
    : ASyncTaskSpecification(parent, weight)
    , m_File(file)
    , m_Sha512(sha512)
    , m_Required(required)
{
}

ASyncFunc *CheckSignatureTaskSpecification::createFunc()
{
    return new CheckSigFunc(m_File, m_Sha512);
}

void CheckSignatureTaskSpecification::runDone(bool pass)
{
    if (m_State != RUNNING)
        return;
    if (pass) {
        emit checkDone(true, this);
        setFinished();
        return;
    }
    qDebug() << "Signature check failed for" << m_File;
    emit message(QObject::tr("Signature check failed for %1").arg(m_File));
    emit checkDone(false, this);
    if (m_Required)
        setFailed();
    else
        setFinished();
}

CheckSigFunc::CheckSigFunc(const QString &file, const QString &sha512)
    : m_File(file)
    , m_Sha512(sha512)
{
}

bool CheckSigFunc::run()
{
    return m_Sha512.isEmpty() ? checkRSA() : checkSHA512();
}

bool CheckSigFunc::readFile(const QString &path, QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString text = QObject::tr("Could not open file %1 for reading").arg(path);
        qWarning() << "readFile" << text;
        emit message(text);
        return false;
    }
    // A QByteArray holds less than 2 GiB; a larger file cannot be read whole and is reported
    // like a short read instead of being truncated silently.
    const qint64 size = file.size();
    qint64 got = -1;
    if (size < INT_MAX) {
        data.resize(int(size));
        got = file.read(data.data(), size);
    }
    const bool complete = got == size;
    if (!complete) {
        data.clear();
        const QString text = QObject::tr("could not read file %1 correctly").arg(path);
        qWarning() << "readFile" << text;
        emit message(text);
    }
    file.close();
    return complete;
}

bool CheckSigFunc::checkSHA512()
{
    QByteArray data;
    if (!readFile(m_File, data))
        return false;
    const QString computed = QString::fromLatin1(
        QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex());
    if (QString::compare(computed, m_Sha512, Qt::CaseInsensitive) == 0) {
        qDebug() << "SHA512 check: ok";
        return true;
    }
    qWarning() << "SHA512 check: FAILED -" << m_Sha512 << computed;
    return false;
}

bool CheckSigFunc::checkRSA()
{
    const auto read = [this](const QString &path, QByteArray &data) {
        if (readFile(path, data))
            return true;
        qDebug() << "RSA check failed, could not read" << path;
        emit message(QObject::tr("RSA check failed, could not read %1").arg(path));
        return false;
    };
    QByteArray content;
    QByteArray signature;
    if (!read(m_File, content) || !read(m_File + QStringLiteral(".sig"), signature))
        return false;

    try {
        const bool valid = verifySignature(content, signature, BuildSettings::releasePublicKey());
        qDebug() << "RSA check" << valid;
        emit message(QObject::tr("RSA check: %1")
                         .arg(valid ? QStringLiteral("true") : QStringLiteral("false")));
        return valid;
    } catch (const crypt_exception &e) {
        qDebug() << "RSA check failed, caught exception" << e.what();
        emit message(QObject::tr("RSA check failed, caught exception: %1")
                         .arg(QString::fromUtf8(e.what())));
        return false;
    }
}

void CheckSigFunc::initializeCrypt()
{
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    if (s_Sha1Index >= 0 && s_PrngIndex >= 0)
        return;

    // LibTomMath: the math back-end Debian ships with LibTomCrypt.
    ltc_mp = ltm_desc;
    if (register_prng(&sprng_desc) == -1 || register_hash(&sha1_desc) == -1)
        throw crypt_exception("Error registering sha1");
    const int sha1 = find_hash("sha1");
    const int prng = find_prng("sprng");
    if (sha1 < 0 || prng < 0)
        throw crypt_exception("Error registering sha1");
    s_PrngIndex = prng;
    s_Sha1Index = sha1;
}

bool CheckSigFunc::verifySignature(const QByteArray &content, const QByteArray &signature,
                                   const QByteArray &key)
{
    // Also reached from a worker thread in a process where the engine has not run its set-up;
    // without it the library has no math back-end and would crash on the key import.
    initializeCrypt();

    RsaKey rsaKey(key);
    unsigned char digest[20];
    unsigned long digestLength = sizeof digest;
    int result = hash_memory(s_Sha1Index, reinterpret_cast<const unsigned char *>(content.constData()),
                             static_cast<unsigned long>(content.size()), digest, &digestLength);
    if (result != CRYPT_OK)
        throwCrypt("hash_memory", result);

    int status = 0;
    result = rsa_verify_hash_ex(reinterpret_cast<const unsigned char *>(signature.constData()),
                                static_cast<unsigned long>(signature.size()), digest, digestLength,
                                LTC_PKCS_1_PSS, s_Sha1Index, s_SaltLength, &status, rsaKey.get());
    if (result != CRYPT_OK)
        throwCrypt("rsa_verify_hash", result);
    // CRYPT_OK alone only says that the check ran; status says whether the signature matched.
    return status == 1;
}
