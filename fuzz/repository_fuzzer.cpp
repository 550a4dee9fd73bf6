// The model repository file, any bytes: it loads, or is refused with a reason and leaves the
// driver information as it was; nothing throws out of the loader.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/Nuvlet/Repository.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The loader reads a path: hand it an in-memory file.
  static const int fd = ::memfd_create("repository", 0);
  if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  Talvo::GDRV::DriverInfo info;
  info.name = "unchanged";
  Talvo::Utility::RepoLoader loader(nullptr);
  const int result = loader.load(path, info);
  if (result == 0 && !loader.lastError().empty()) std::abort();
  if (result != 0 && (loader.lastError().empty() || info.name != "unchanged")) std::abort();
  return 0;
}
