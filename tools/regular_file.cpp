#include "tools/regular_file.h"

#include <system_error>

#ifdef _WIN32
#include <fstream>
#include <iterator>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace tools {

namespace {

constexpr const char* NOT_REGULAR = "not a regular file";

}  // namespace

#ifdef _WIN32

bool read_regular_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::error_code status_error;
  const auto status = std::filesystem::status(path, status_error);
  if (status.type() == std::filesystem::file_type::not_found) {
    error = "no such file";
    return false;
  }
  if (status_error) {
    error = status_error.message();
    return false;
  }
  if (status.type() != std::filesystem::file_type::regular) {
    error = NOT_REGULAR;
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open the file";
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read the file";
    return false;
  }
  return true;
}

#else

bool read_regular_file(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT ? "no such file" : std::strerror(errno);
    return false;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    error = NOT_REGULAR;
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  bytes.assign(std::size_t(info.st_size), 0);
  std::size_t done = 0;
  for (;;) {
    if (done == bytes.size()) bytes.resize(done + 65536);  // the file grew (or st_size was 0)
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::string("cannot read the file: ") + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    done += std::size_t(got);
  }
  ::close(fd);
  bytes.resize(done);
  return true;
}

#endif

}  // namespace tools
