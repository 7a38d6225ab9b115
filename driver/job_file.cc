#include "driver/job_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <istream>
#include <streambuf>

namespace blkmerge {
namespace {

// Reads an open file descriptor through a fixed buffer.
class DescriptorBuf final : public std::streambuf {
 public:
  explicit DescriptorBuf(int fd) : fd_(fd) {}

 protected:
  int_type underflow() override {
    ssize_t n = 0;
    do {
      n = read(fd_, buffer_.data(), buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return traits_type::eof();
    setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  int fd_;
  std::array<char, 1 << 16> buffer_{};
};

}  // namespace

std::optional<JobProblem> ReadJobFile(const std::string& name, Job& job) {
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<JobProblem> problem;
  if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) {
    DescriptorBuf buf(fd);
    std::istream text(&buf);
    problem = ReadJob(text, job);
  }
  close(fd);
  return problem;
}

}  // namespace blkmerge
