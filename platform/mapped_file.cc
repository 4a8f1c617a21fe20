#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

bool WithMappedFile(const std::string& path, size_t size, bool create,
                    const std::function<void(uint8_t* bytes)>& use) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return false;
  }
  if (static_cast<size_t>(info.st_size) < size) {
    // A new (or short) file grows with zero bytes.
    if (info.st_size == 0) ::fchmod(fd, 0666);
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      ::close(fd);
      return false;
    }
  }
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) return false;
  use(static_cast<uint8_t*>(view));
  ::munmap(view, size);
  return true;
}

}  // namespace qb
