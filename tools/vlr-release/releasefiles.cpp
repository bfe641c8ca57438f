#include "releasefiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace vlrrelease {

namespace {

std::string describe(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

bool readSmallFile(const std::string &path, std::size_t maxSize, Bytes &data, std::string &error)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = describe("cannot open", path);
        return false;
    }
    data.clear();
    unsigned char buffer[4096];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        if (got > maxSize - data.size()) {
            error = path + ": larger than " + std::to_string(maxSize) + " bytes";
            ok = false;
            break;
        }
        data.insert(data.end(), buffer, buffer + got);
        if (got < sizeof buffer) {
            if (std::ferror(file)) {
                error = describe("cannot read", path);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    return ok;
}

bool writeFileAtomically(const std::string &path, const Bytes &data, mode_t mode, std::string &error)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = describe("cannot create a temporary file for", path);
        return false;
    }
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += std::size_t(n);
    }
    bool ok = written == data.size();
    if (!ok)
        error = describe("cannot write", temp);
    if (ok && ::fsync(fd) != 0) {
        error = describe("cannot flush", temp);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = describe("cannot close", temp);
        ok = false;
    }
    if (ok && ::chmod(temp.c_str(), mode) != 0) {
        error = describe("cannot set permissions of", temp);
        ok = false;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        error = describe("cannot rename " + temp + " to", path);
        ok = false;
    }
    if (!ok)
        std::remove(temp.c_str());
    return ok;
}

} // namespace vlrrelease
