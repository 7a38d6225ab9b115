#include "driver/job_file.h"

#include <array>
#include <istream>
#include <streambuf>
#include <string>

#include "driver/job_reader.h"
#include "driver/messages.h"
#include "platform/file.h"

namespace blkmerge {
namespace {

// Reads an open file through a fixed buffer, and asks no more once it has
// ended or a read has failed. A failed read ends the text for the reader;
// error() tells the two apart.
class FileBuf final : public std::streambuf {
 public:
  explicit FileBuf(platform::File& file) : file_(file) {}

  const platform::FileError& error() const { return error_; }
  // The bytes read so far.
  uint64_t read() const { return read_; }

 protected:
  int_type underflow() override {
    if (ended_) return traits_type::eof();
    const platform::ReadResult read =
        file_.Read({reinterpret_cast<uint8_t*>(buffer_.data()), buffer_.size()});
    if (read.bytes == 0) {
      ended_ = true;
      error_ = read.error;
      return traits_type::eof();
    }
    read_ += read.bytes;
    setg(buffer_.data(), buffer_.data(), buffer_.data() + read.bytes);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  platform::File& file_;
  bool ended_ = false;
  platform::FileError error_;
  uint64_t read_ = 0;
  std::array<char, 1 << 16> buffer_{};
};

}  // namespace

Failure ReadJobFile(const std::string& name, Job& job, platform::FileInfo* opened) {
  platform::File file = platform::File::OpenStream(name);
  if (opened != nullptr) *opened = file.info();
  if (!file.is_open()) {
    return {FailureKind::kJobUnopened, message::CouldNotOpenInput(name),
            FileDetail(name, file.error(), file.info().kind)};
  }
  FileBuf buf(file);
  std::istream text(&buf);
  Failure failure = ReadJob(text, name, job);
  // The reader stops at the first problem; a read error before it means
  // that the text it judged was not the whole file.
  if (buf.error()) {
    job.warnings.clear();  // about a text that was not the whole file
    return {FailureKind::kJobUnread, message::CouldNotReadInput(name),
            Printable(name) + ": reading at offset " + std::to_string(buf.read()) + ": " +
                platform::Describe(buf.error())};
  }
  return failure;
}

}  // namespace blkmerge
