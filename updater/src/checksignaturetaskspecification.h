#pragma once

#include "asynctaskspecification.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <string>

// A failure reported by the signature library. Used only inside the signature code; it never
// leaves CheckSigFunc::run() or the engine's set-up call.
class crypt_exception : public std::exception
{
public:
    explicit crypt_exception(std::string text) : m_Text(std::move(text)) {}
    const char *what() const noexcept override { return m_Text.c_str(); }

private:
    std::string m_Text;
};

// Checks one file on a worker thread: against its expected SHA-512 digest when one is given,
// otherwise against the detached RSA signature in the file next to it (name + ".sig").
class CheckSignatureTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    // sha512: expected digest as hexadecimal text, either letter case; empty means that the
    // RSA signature is checked. required: a failed check fails the task (true) or is only
    // reported through checkDone and a message (false).
    CheckSignatureTaskSpecification(const QString &file, const QString &sha512, bool required,
                                    QObject *parent, qreal weight);

    QString file() const { return m_File; }

signals:
    // The outcome, emitted once per run before the task emits finished or canceled.
    void checkDone(bool pass, CheckSignatureTaskSpecification *task);

protected:
    ASyncFunc *createFunc() override;
    void runDone(bool pass) override;

private:
    QString m_File;
    QString m_Sha512;
    bool m_Required;
};

// The work of CheckSignatureTaskSpecification.
class CheckSigFunc : public ASyncFunc
{
    Q_OBJECT

public:
    CheckSigFunc(const QString &file, const QString &sha512);

    bool run() override;
    bool checkSHA512();
    // RSASSA-PSS (SHA-1, MGF1 with SHA-1, salt length 8) of the whole file against the
    // embedded release key.
    bool checkRSA();
    // Reads the whole file into data; false (with a message) when it cannot be opened or read
    // completely.
    bool readFile(const QString &path, QByteArray &data);

    // The one-time set-up of the signature library: math back-end, "sprng" and "sha1".
    // Thread-safe, does its work only once per process. Throws crypt_exception on failure.
    static void initializeCrypt();
    // True when signature is a valid signature of content under the DER RSAPublicKey key.
    // Throws crypt_exception when the library rejects the key or the signature's form.
    static bool verifySignature(const QByteArray &content, const QByteArray &signature,
                                const QByteArray &key);

private:
    QString m_File;
    QString m_Sha512;
};
