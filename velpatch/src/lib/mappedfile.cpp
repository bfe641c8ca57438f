#include "mappedfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

namespace velpatch {

// ---- MappedFile ------------------------------------------------------------------------------

MappedFile::~MappedFile() { Close(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_Fd(std::exchange(other.m_Fd, -1)),
      m_Data(std::exchange(other.m_Data, nullptr)),
      m_Length(std::exchange(other.m_Length, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_Fd = std::exchange(other.m_Fd, -1);
    m_Data = std::exchange(other.m_Data, nullptr);
    m_Length = std::exchange(other.m_Length, 0);
  }
  return *this;
}

bool MappedFile::Open(const oschar* path, Hint hint) {
  Close();
  m_Fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (m_Fd < 0) return false;
  struct stat st;
  // Only regular files have a size that mmap can cover; an empty one cannot be mapped.
  if (::fstat(m_Fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<unsigned long long>(st.st_size) > static_cast<size_t>(-1)) {
    Close();
    return false;
  }
  const size_t length = static_cast<size_t>(st.st_size);
  void* data = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, m_Fd, 0);
  if (data == MAP_FAILED) {
    Close();
    return false;
  }
  m_Data = static_cast<const uint8_t*>(data);
  m_Length = length;
  const int advice = hint == Hint::SEQUENTIAL ? MADV_SEQUENTIAL
                     : hint == Hint::RANDOM   ? MADV_RANDOM
                                              : MADV_NORMAL;
  (void)::madvise(data, length, advice);  // only a hint: failure changes nothing
  return true;
}

void MappedFile::Close() {
  if (m_Data) ::munmap(const_cast<uint8_t*>(m_Data), m_Length);
  if (m_Fd >= 0) ::close(m_Fd);
  m_Fd = -1;
  m_Data = nullptr;
  m_Length = 0;
}

// ---- WriteWholeFile --------------------------------------------------------------------------

namespace {

// Creates a fresh file beside `path`; open() applies the umask just as creating `path` would.
int CreateTemporaryBeside(const std::string& path, std::string* temp_path) {
  static std::atomic<unsigned> s_Counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(s_Counter++);
    const int fd = ::open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

size_t Failed(size_t length) { return length == 0 ? kWriteWholeFileFailed : 0; }

}  // namespace

size_t WriteWholeFile(const oschar* path, const void* data, size_t length) {
  try {
    std::string temp_path;
    const int fd = CreateTemporaryBeside(path, &temp_path);
    if (fd < 0) return Failed(length);
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
      ::close(fd);
      ::unlink(temp_path.c_str());
      return Failed(length);
    }
    const size_t written = length ? std::fwrite(data, 1, length, file) : 0;
    // fclose flushes the buffered tail: its failure means the bytes did not all arrive.
    const bool closed = std::fclose(file) == 0;
    if (written != length || !closed || std::rename(temp_path.c_str(), path) != 0) {
      ::unlink(temp_path.c_str());
      return Failed(length);
    }
    return length;
  } catch (...) {  // std::string allocation
    return Failed(length);
  }
}

}  // namespace velpatch
