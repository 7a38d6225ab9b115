// A read-only file system whose disk fails: it serves the regular files of
// a directory, and a read of a file whose name starts with "bad" that
// reaches the bad stretch (FAIL_OFFSET and the 4096 bytes after it) gets
// the bytes before it and then EIO, as a bad sector does.
//
//   fuse_faults MOUNTPOINT SOURCE_DIR FAIL_OFFSET
//
// It mounts itself (this needs /dev/fuse and the right to mount, root as a
// rule), prints "ready" on a line of its own and serves until the file
// system is unmounted. It speaks the kernel's protocol itself: no library.
// Exit status 77 when it cannot mount, so that a test can skip.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fixture.h"

namespace {

constexpr int kCannotMount = 77;

struct Node {
  std::string name;
  blkmerge::fixture::Bytes bytes;
};

// Node id 1 is the root; file i has id i + 2.
std::vector<Node> nodes;
uint64_t fail_offset = 0;
constexpr uint64_t kBadStretch = 4096;

const Node* NodeOf(uint64_t id) {
  return id >= 2 && id - 2 < nodes.size() ? &nodes[id - 2] : nullptr;
}

fuse_attr AttrOf(uint64_t id) {
  fuse_attr attr{};
  attr.ino = id;
  attr.nlink = 1;
  attr.blksize = 4096;
  if (const Node* node = NodeOf(id)) {
    attr.mode = S_IFREG | 0444;
    attr.size = node->bytes.size();
    attr.blocks = (attr.size + 511) / 512;
  } else {
    attr.mode = S_IFDIR | 0555;
    attr.nlink = 2;
  }
  return attr;
}

void Reply(int fd, uint64_t unique, int error, const void* body = nullptr, size_t size = 0) {
  std::vector<char> out(sizeof(fuse_out_header) + size);
  fuse_out_header header{};
  header.len = static_cast<uint32_t>(out.size());
  header.error = -error;
  header.unique = unique;
  std::memcpy(out.data(), &header, sizeof header);
  if (size > 0) std::memcpy(out.data() + sizeof header, body, size);
  // A request the kernel gave up on (an interrupted read) fails its reply.
  const ssize_t written = write(fd, out.data(), out.size());
  (void)written;
}

template <typename T>
void ReplyWith(int fd, uint64_t unique, const T& body) {
  Reply(fd, unique, 0, &body, sizeof body);
}

void Read(int fd, const fuse_in_header& in, const fuse_read_in& read) {
  const Node* node = NodeOf(in.nodeid);
  if (node == nullptr) return Reply(fd, in.unique, EISDIR);
  const bool bad = node->name.starts_with("bad");
  if (bad && read.offset >= fail_offset && read.offset < fail_offset + kBadStretch) {
    return Reply(fd, in.unique, EIO);
  }
  uint64_t end = std::min<uint64_t>(read.offset + read.size, node->bytes.size());
  if (bad && read.offset < fail_offset) end = std::min(end, fail_offset);
  const uint64_t start = std::min<uint64_t>(read.offset, end);
  Reply(fd, in.unique, 0, node->bytes.data() + start, end - start);
}

void Serve(int fd) {
  std::vector<char> buffer(FUSE_MIN_READ_BUFFER + (1 << 20));
  while (true) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == ENOENT)) continue;    // ENOENT: an interrupted request
    if (n < static_cast<ssize_t>(sizeof(fuse_in_header))) return;  // unmounted
    fuse_in_header in;
    std::memcpy(&in, buffer.data(), sizeof in);
    const char* body = buffer.data() + sizeof in;
    switch (in.opcode) {
      case FUSE_INIT: {
        fuse_init_in init;
        std::memcpy(&init, body, sizeof init);
        fuse_init_out out{};
        out.major = FUSE_KERNEL_VERSION;
        out.minor = FUSE_KERNEL_MINOR_VERSION;
        out.max_readahead = init.max_readahead;
        out.max_write = 1 << 17;
        out.max_pages = 32;
        ReplyWith(fd, in.unique, out);
        break;
      }
      case FUSE_LOOKUP: {
        const std::string name(body);
        size_t i = 0;
        while (i < nodes.size() && nodes[i].name != name) ++i;
        if (in.nodeid != FUSE_ROOT_ID || i == nodes.size()) {
          Reply(fd, in.unique, ENOENT);
          break;
        }
        fuse_entry_out out{};
        out.nodeid = i + 2;
        out.attr = AttrOf(out.nodeid);
        ReplyWith(fd, in.unique, out);
        break;
      }
      case FUSE_GETATTR: {
        fuse_attr_out out{};
        out.attr = AttrOf(in.nodeid);
        ReplyWith(fd, in.unique, out);
        break;
      }
      case FUSE_OPEN: {
        fuse_open_in open_in;
        std::memcpy(&open_in, body, sizeof open_in);
        if ((open_in.flags & O_ACCMODE) != O_RDONLY) {
          Reply(fd, in.unique, EROFS);
          break;
        }
        // Straight through, at the sizes the reader asks for: no page
        // cache to read ahead over the failing part.
        fuse_open_out out{};
        out.open_flags = FOPEN_DIRECT_IO;
        ReplyWith(fd, in.unique, out);
        break;
      }
      case FUSE_READ: {
        fuse_read_in read_in;
        std::memcpy(&read_in, body, sizeof read_in);
        Read(fd, in, read_in);
        break;
      }
      case FUSE_STATFS: ReplyWith(fd, in.unique, fuse_statfs_out{}); break;
      case FUSE_OPENDIR:
      case FUSE_RELEASE:
      case FUSE_RELEASEDIR:
      case FUSE_FLUSH:
      case FUSE_ACCESS: Reply(fd, in.unique, 0); break;
      case FUSE_FORGET:
      case FUSE_BATCH_FORGET:
      case FUSE_INTERRUPT: break;  // no reply
      case FUSE_DESTROY: Reply(fd, in.unique, 0); return;
      default: Reply(fd, in.unique, ENOSYS); break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: fuse_faults MOUNTPOINT SOURCE_DIR FAIL_OFFSET\n");
    return 2;
  }
  fail_offset = std::strtoull(argv[3], nullptr, 10);
  DIR* dir = opendir(argv[2]);
  if (dir == nullptr) return 2;
  while (const dirent* entry = readdir(dir)) {
    const std::string path = std::string(argv[2]) + "/" + entry->d_name;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      nodes.push_back({entry->d_name, blkmerge::fixture::ReadFile(path)});
    }
  }
  closedir(dir);

  const int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::perror("/dev/fuse");
    return kCannotMount;
  }
  const std::string options = "fd=" + std::to_string(fd) +
                              ",rootmode=40000,user_id=" + std::to_string(getuid()) +
                              ",group_id=" + std::to_string(getgid());
  if (mount("fuse_faults", argv[1], "fuse.fuse_faults", MS_NOSUID | MS_NODEV | MS_RDONLY,
            options.c_str()) != 0) {
    std::perror("mount");
    return kCannotMount;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  Serve(fd);
  return 0;
}
