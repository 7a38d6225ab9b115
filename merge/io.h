// The byte sources and sinks that the rewrite works on: files for the tool,
// memory for the tests and the fuzzers.
#ifndef BLKMERGE_MERGE_IO_H_
#define BLKMERGE_MERGE_IO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file.h"

namespace blkmerge {

enum class IoStatus { kOk, kReadFailed, kWriteFailed };

// `length` bytes of an input from `offset`.
struct Extent {
  uint64_t offset = 0;
  uint64_t length = 0;

  uint64_t end() const { return offset + length; }
  friend bool operator==(const Extent&, const Extent&) = default;
};

// A readable input of a size known up front.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t Size() const = 0;
  // Fills `out` with the bytes at `offset`. Returns false unless every byte
  // could be read (an error, or the input ended early).
  virtual bool ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
  // Why the last ReadAt that returned false failed: nothing when the input
  // ended before the bytes asked for.
  virtual platform::FileError ReadError() const { return {}; }
  // The open file behind the source, if there is one.
  virtual const platform::File* file() const { return nullptr; }

  // Hints, which change no byte read: a source may use them to have the
  // bytes fetched before they are asked for, and these defaults ignore
  // them. What the reader will read from now on, in the order it will
  // read it, and nothing else of the input.
  virtual void WillRead(std::span<const Extent> stretches) { (void)stretches; }
  // The reader is about to read these bytes without ReadAt (copied inside
  // the kernel from file()).
  virtual void Reading(const Extent& bytes) { (void)bytes; }
};

// Told what a FileSource reads and will read, as the hints of Source say
// (and, for ReadAt, before every read): where reading ahead listens.
class ReadObserver {
 public:
  virtual void WillRead(std::span<const Extent> stretches) = 0;
  virtual void Reading(const Extent& bytes) = 0;

 protected:
  ~ReadObserver() = default;
};

// An append-only output.
class Sink {
 public:
  // Room() offers at least this much, or all that is asked for when less.
  static constexpr size_t kMinRoom = 4096;

  virtual ~Sink() = default;
  // Appends `bytes`. Returns false once anything failed to be written.
  virtual bool Write(std::span<const uint8_t> bytes) = 0;
  // Returns space at the end of the output for between min(want, kMinRoom)
  // and `want` bytes, to be filled in place and then appended with Commit.
  // Returns an empty span once anything failed to be written.
  // REQUIRES: want > 0.
  virtual std::span<uint8_t> Room(size_t want) = 0;
  // Appends the first `length` bytes of the space Room last returned.
  // REQUIRES: nothing else was appended since, and `length` fits that space.
  virtual void Commit(size_t length) = 0;
  // Appends `length` bytes of `source` from `offset`, unchanged.
  virtual IoStatus CopyFrom(Source& source, uint64_t offset, uint64_t length);
  // Hands everything appended so far to the file system.
  virtual bool Flush() { return true; }
};

// Reads an open regular file, of the size it had when opened; does not own
// it. An input that fits `whole` is read whole, in one call, by the first
// read, and every read is then served from that copy: a small input costs
// one read instead of one for each of its parts. Passes its hints, and
// each read before it is made, to `observer` where there is one.
class FileSource final : public Source {
 public:
  // Inputs up to this size are worth reading whole; see FileSource.
  static constexpr size_t kWholeReadMax = 1 << 16;

  explicit FileSource(const platform::File& file, std::span<uint8_t> whole = {},
                      ReadObserver* observer = nullptr);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override;
  platform::FileError ReadError() const override { return error_; }
  const platform::File* file() const override { return &file_; }
  void WillRead(std::span<const Extent> stretches) override;
  void Reading(const Extent& bytes) override;

 private:
  const platform::File& file_;
  ReadObserver* observer_;
  uint64_t size_;
  platform::FileError error_;
  std::span<uint8_t> whole_;          // empty unless the input fits
  std::optional<size_t> whole_read_;  // how much of it came, once read
};

// Buffers writes to an open file; does not own it. The buffer is allocated
// once and left unfilled: only the pages used get touched. Long unchanged
// stretches are copied inside the kernel where the platform and the file
// system allow it, in pieces of at most kKernelCopyPiece, each announced
// to the source (Source::Reading) before it is copied; through the buffer
// otherwise.
class FileSink final : public Sink {
 public:
  static constexpr size_t kBufferSize = 1 << 20;
  // So that a source that reads ahead hears of a long copy as it goes.
  static constexpr uint64_t kKernelCopyPiece = 1 << 21;

  // Allocates its buffer, and throws std::bad_alloc when it cannot.
  explicit FileSink(platform::File& file);
  // Writes through `buffer`, which must outlive the sink.
  FileSink(platform::File& file, std::span<uint8_t, kBufferSize> buffer);
  bool Write(std::span<const uint8_t> bytes) override;
  std::span<uint8_t> Room(size_t want) override;
  void Commit(size_t length) override;
  IoStatus CopyFrom(Source& source, uint64_t offset, uint64_t length) override;
  bool Flush() override;
  // The bytes handed to the file so far: where the file ends, for a file
  // that was empty when the sink began.
  uint64_t written() const { return written_; }

 private:
  bool WriteOut(std::span<const uint8_t> bytes);

  platform::File& file_;
  bool failed_ = false;
  bool try_kernel_copy_ = true;
  std::unique_ptr<uint8_t[]> owned_;
  uint8_t* buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
};

class MemorySource final : public Source {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override;

 private:
  std::span<const uint8_t> bytes_;
};

// Keeps everything appended. Offers `room_limit` bytes of room at most, so
// that tests can make the rewrite work in small pieces.
// REQUIRES: room_limit >= kMinRoom.
class MemorySink final : public Sink {
 public:
  explicit MemorySink(size_t room_limit = SIZE_MAX) : room_limit_(room_limit) {}
  bool Write(std::span<const uint8_t> bytes) override;
  std::span<uint8_t> Room(size_t want) override;
  void Commit(size_t length) override;
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  size_t room_limit_;
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> room_;
};

}  // namespace blkmerge

#endif  // BLKMERGE_MERGE_IO_H_
