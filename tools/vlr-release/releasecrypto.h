#pragma once

#include "releasefiles.h"

#include <string>

// Release keys and signatures: a 1024-bit RSA key with exponent 65537, the public half as a
// 140-byte DER RSAPublicKey, and raw 128-byte RSASSA-PSS signatures over the SHA-1 digest of a
// file (MGF1 with SHA-1, salt length 8) -- what the updater verifies.
namespace vlrrelease {

constexpr unsigned long kModulusBytes = 128;
constexpr unsigned long kPublicKeyBytes = 140;
constexpr unsigned long kSaltLength = 8;
constexpr long kPublicExponent = 65537;

// Registers the math back-end, "sprng" and "sha1". False with a message on failure.
bool initCrypto(std::string &error);

// A new key pair: the private key as DER RSAPrivateKey, the public one as DER RSAPublicKey.
bool makeKeyPair(Bytes &privateDer, Bytes &publicDer, std::string &error);

// Signs the file at path with the DER private key; the signature is kModulusBytes long and has
// been verified against the key before it is returned.
bool signFile(const Bytes &privateDer, const std::string &path, Bytes &signature, std::string &error);

} // namespace vlrrelease
