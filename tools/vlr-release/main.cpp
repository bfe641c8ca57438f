// vlr-release: tools for publishing a release.
//   vlr-release keygen PRIVATE.der PUBLIC.der   a new release key pair
//   vlr-release sign PRIVATE.der FILE           writes FILE.sig
#include "releasecrypto.h"
#include "releasefiles.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace vlrrelease;

int usage()
{
    std::fprintf(stderr,
                 "usage: vlr-release keygen PRIVATE.der PUBLIC.der\n"
                 "       vlr-release sign PRIVATE.der FILE\n");
    return 2;
}

int fail(const std::string &error)
{
    std::fprintf(stderr, "vlr-release: %s\n", error.c_str());
    return 1;
}

int keygen(const std::string &privatePath, const std::string &publicPath)
{
    Bytes privateDer;
    Bytes publicDer;
    std::string error;
    if (!makeKeyPair(privateDer, publicDer, error)
        || !writeFileAtomically(privatePath, privateDer, 0600, error)
        || !writeFileAtomically(publicPath, publicDer, 0644, error))
        return fail(error);
    return 0;
}

int sign(const std::string &privatePath, const std::string &file)
{
    Bytes privateDer;
    Bytes signature;
    std::string error;
    if (!readSmallFile(privatePath, 16384, privateDer, error) || !signFile(privateDer, file, signature, error)
        || !writeFileAtomically(file + ".sig", signature, 0644, error))
        return fail(error);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4)
        return usage();
    std::string error;
    if (!initCrypto(error))
        return fail(error);
    if (std::strcmp(argv[1], "keygen") == 0)
        return keygen(argv[2], argv[3]);
    if (std::strcmp(argv[1], "sign") == 0)
        return sign(argv[2], argv[3]);
    return usage();
}
