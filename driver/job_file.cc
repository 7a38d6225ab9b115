#include "driver/job_file.h"

#include <array>
#include <istream>
#include <streambuf>

#include "platform/file.h"

namespace blkmerge {
namespace {

// Reads an open file through a fixed buffer, and asks no more once it has
// ended.
class FileBuf final : public std::streambuf {
 public:
  explicit FileBuf(platform::File& file) : file_(file) {}

 protected:
  int_type underflow() override {
    if (ended_) return traits_type::eof();
    const platform::ReadResult read =
        file_.Read({reinterpret_cast<uint8_t*>(buffer_.data()), buffer_.size()});
    if (read.bytes == 0) {
      ended_ = true;
      return traits_type::eof();
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + read.bytes);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  platform::File& file_;
  bool ended_ = false;
  std::array<char, 1 << 16> buffer_{};
};

}  // namespace

std::optional<JobProblem> ReadJobFile(const std::string& name, Job& job) {
  platform::File file = platform::File::OpenStream(name);
  if (!file.is_open()) return std::nullopt;
  FileBuf buf(file);
  std::istream text(&buf);
  return ReadJob(text, job);
}

}  // namespace blkmerge
