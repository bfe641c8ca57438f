// Whole-file helpers of the engine's entry points: read-only mapping and whole-file writing.
#ifndef VELPATCH_MAPPEDFILE_H
#define VELPATCH_MAPPEDFILE_H

#include <cstddef>
#include <cstdint>

namespace velpatch {

// Paths at the engine's boundary: narrow, NUL-terminated, as the operating system takes them.
using oschar = char;

// A read-only shared mapping of a whole file. Move-only; the destructor closes it.
class MappedFile {
 public:
  enum class Hint { NORMAL, SEQUENTIAL, RANDOM };  // passed to madvise

  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the whole file. Fails when it cannot be opened, its size cannot be read, it is not a
  // regular file, or the mapping fails; an empty file cannot be mapped and fails too. Closes
  // any earlier mapping first.
  [[nodiscard]] bool Open(const oschar* path, Hint hint = Hint::NORMAL);
  void Close();

  bool is_open() const { return m_Data != nullptr; }
  const uint8_t* data() const { return m_Data; }
  size_t length() const { return m_Length; }

 private:
  int m_Fd = -1;
  const uint8_t* m_Data = nullptr;  // mapping of m_Length bytes, or null
  size_t m_Length = 0;
};

// Writes `length` bytes to `path` (created or replaced) and returns `length` on success. Any
// other result is a failure: 0, or kWriteWholeFileFailed when `length` itself is 0 (so that a
// failure to create an empty file is not mistaken for success). The bytes go to a temporary
// file beside `path` that replaces it only once everything is written and closed, so a failure
// never leaves a partial file at `path` and never damages an existing one.
constexpr size_t kWriteWholeFileFailed = static_cast<size_t>(-1);
size_t WriteWholeFile(const oschar* path, const void* data, size_t length);

}  // namespace velpatch

#endif  // VELPATCH_MAPPEDFILE_H
