#include "releasecrypto.h"

#include <tomcrypt.h>

#include <cstdio>

namespace vlrrelease {

namespace {

std::string failure(const char *call, int result)
{
    return std::string(call) + ": " + error_to_string(result);
}

// Owns a LibTomCrypt key from a successful make or import until it goes out of scope.
class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (m_Valid)
            rsa_free(&m_Key);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    rsa_key *get() { return &m_Key; }
    void setValid() { m_Valid = true; }

private:
    rsa_key m_Key{};
    bool m_Valid = false;
};

bool exportKey(Key &key, int type, Bytes &out, std::string &error)
{
    out.assign(4096, 0);
    unsigned long length = out.size();
    const int result = rsa_export(out.data(), &length, type, key.get());
    if (result != CRYPT_OK) {
        error = failure("rsa_export", result);
        return false;
    }
    out.resize(length);
    return true;
}

// The key must be of the size the updater checks against.
bool checkModulus(Key &key, std::string &error)
{
    const int bytes = rsa_get_size(key.get());
    if (bytes != int(kModulusBytes)) {
        error = "the key has a " + std::to_string(bytes * 8) + "-bit modulus, expected "
              + std::to_string(kModulusBytes * 8);
        return false;
    }
    return true;
}

bool sha1OfFile(const std::string &path, unsigned char (&digest)[20], std::string &error)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    hash_state state;
    sha1_init(&state);
    unsigned char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        sha1_process(&state, buffer, static_cast<unsigned long>(got));
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        error = "cannot read " + path;
        return false;
    }
    sha1_done(&state, digest);
    return true;
}

} // namespace

bool initCrypto(std::string &error)
{
    ltc_mp = ltm_desc;
    if (register_prng(&sprng_desc) == -1 || register_hash(&sha1_desc) == -1) {
        error = "cannot register sprng and sha1";
        return false;
    }
    return true;
}

bool makeKeyPair(Bytes &privateDer, Bytes &publicDer, std::string &error)
{
    Key key;
    const int result = rsa_make_key(nullptr, find_prng("sprng"), int(kModulusBytes), kPublicExponent, key.get());
    if (result != CRYPT_OK) {
        error = failure("rsa_make_key", result);
        return false;
    }
    key.setValid();
    if (!exportKey(key, PK_PRIVATE, privateDer, error) || !exportKey(key, PK_PUBLIC, publicDer, error))
        return false;
    if (publicDer.size() != kPublicKeyBytes) {
        error = "the public key has " + std::to_string(publicDer.size()) + " bytes, expected "
              + std::to_string(kPublicKeyBytes);
        return false;
    }
    return true;
}

bool signFile(const Bytes &privateDer, const std::string &path, Bytes &signature, std::string &error)
{
    Key key;
    int result = rsa_import(privateDer.data(), static_cast<unsigned long>(privateDer.size()), key.get());
    if (result != CRYPT_OK) {
        error = failure("rsa_import", result);
        return false;
    }
    key.setValid();
    if (key.get()->type != PK_PRIVATE) {
        error = "not a private key";
        return false;
    }
    if (!checkModulus(key, error))
        return false;

    unsigned char digest[20];
    if (!sha1OfFile(path, digest, error))
        return false;

    const int sha1 = find_hash("sha1");
    signature.assign(kModulusBytes, 0);
    unsigned long length = signature.size();
    result = rsa_sign_hash_ex(digest, sizeof digest, signature.data(), &length, LTC_PKCS_1_PSS,
                              nullptr, find_prng("sprng"), sha1, kSaltLength, key.get());
    if (result != CRYPT_OK) {
        error = failure("rsa_sign_hash", result);
        return false;
    }
    signature.resize(length);

    int status = 0;
    result = rsa_verify_hash_ex(signature.data(), length, digest, sizeof digest, LTC_PKCS_1_PSS, sha1,
                                kSaltLength, &status, key.get());
    if (result != CRYPT_OK || status != 1 || length != kModulusBytes) {
        error = "the new signature does not verify";
        return false;
    }
    return true;
}

} // namespace vlrrelease
