// A file system whose disk fails, in memory: it serves the regular files
// of a directory, and takes new files, writes, truncations, renames and
// removals in its one directory. A read of a file whose name starts with
// "bad" that reaches the bad stretch (FAIL_OFFSET and the 4096 bytes after
// it) gets the bytes before it and then EIO, as a bad sector does. A file
// whose name holds "badclose" reads whole, but every close of it fails
// with EIO (the answer to the kernel's FLUSH), as a write that failed late
// is reported by a network file system or one over quota.
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
  bool gone = false;  // removed, or renamed over

  bool FailsReads() const { return name.starts_with("bad") && !FailsCloses(); }
  bool FailsCloses() const { return name.find("badclose") != std::string::npos; }
};

// Node id 1 is the root; file i has id i + 2.
std::vector<Node> nodes;
uint64_t fail_offset = 0;
constexpr uint64_t kBadStretch = 4096;

Node* NodeOf(uint64_t id) { return id >= 2 && id - 2 < nodes.size() ? &nodes[id - 2] : nullptr; }

// The id of the file named `name`, or 0.
uint64_t IdOf(const std::string& name) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!nodes[i].gone && nodes[i].name == name) return i + 2;
  }
  return 0;
}

fuse_attr AttrOf(uint64_t id) {
  fuse_attr attr{};
  attr.ino = id;
  attr.nlink = 1;
  attr.blksize = 4096;
  if (const Node* node = NodeOf(id)) {
    attr.mode = S_IFREG | 0644;
    attr.size = node->bytes.size();
    attr.blocks = (attr.size + 511) / 512;
  } else {
    attr.mode = S_IFDIR | 0755;
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

fuse_entry_out EntryOf(uint64_t id) {
  fuse_entry_out out{};
  out.nodeid = id;
  out.attr = AttrOf(id);
  return out;
}

// An open file read and written straight through, at the sizes asked for:
// no page cache to read ahead over the failing part, nor to hold writes
// back from the file system.
fuse_open_out DirectOpen() {
  fuse_open_out out{};
  out.open_flags = FOPEN_DIRECT_IO;
  return out;
}

void Read(int fd, const fuse_in_header& in, const fuse_read_in& read) {
  const Node* node = NodeOf(in.nodeid);
  if (node == nullptr) return Reply(fd, in.unique, EISDIR);
  const bool bad = node->FailsReads();
  if (bad && read.offset >= fail_offset && read.offset < fail_offset + kBadStretch) {
    return Reply(fd, in.unique, EIO);
  }
  uint64_t end = std::min<uint64_t>(read.offset + read.size, node->bytes.size());
  if (bad && read.offset < fail_offset) end = std::min(end, fail_offset);
  const uint64_t start = std::min<uint64_t>(read.offset, end);
  Reply(fd, in.unique, 0, node->bytes.data() + start, end - start);
}

void Write(int fd, const fuse_in_header& in, const fuse_write_in& write, const char* data) {
  Node* node = NodeOf(in.nodeid);
  if (node == nullptr) return Reply(fd, in.unique, EISDIR);
  const uint64_t end = write.offset + write.size;
  if (node->bytes.size() < end) node->bytes.resize(end);
  std::memcpy(node->bytes.data() + write.offset, data, write.size);
  fuse_write_out out{};
  out.size = write.size;
  ReplyWith(fd, in.unique, out);
}

// Only a file's size can be set (ftruncate); the rest is taken and ignored.
void SetAttr(int fd, const fuse_in_header& in, const fuse_setattr_in& set) {
  Node* node = NodeOf(in.nodeid);
  if ((set.valid & FATTR_SIZE) != 0) {
    if (node == nullptr) return Reply(fd, in.unique, EISDIR);
    node->bytes.resize(set.size);
  }
  fuse_attr_out out{};
  out.attr = AttrOf(in.nodeid);
  ReplyWith(fd, in.unique, out);
}

// The fixed part of a request, of type T, copied out of its bytes.
template <typename T>
T As(const char* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

void Lookup(int fd, const fuse_in_header& in, const char* name) {
  const uint64_t id = IdOf(name);
  if (in.nodeid != FUSE_ROOT_ID || id == 0) return Reply(fd, in.unique, ENOENT);
  ReplyWith(fd, in.unique, EntryOf(id));
}

void Create(int fd, const fuse_in_header& in, const char* name) {
  if (in.nodeid != FUSE_ROOT_ID || IdOf(name) != 0) {
    return Reply(fd, in.unique, in.nodeid != FUSE_ROOT_ID ? ENOTDIR : EEXIST);
  }
  nodes.push_back({name, {}});
  // The new entry and the open file, one after the other.
  struct {
    fuse_entry_out entry;
    fuse_open_out open;
  } out{EntryOf(nodes.size() + 1), DirectOpen()};
  ReplyWith(fd, in.unique, out);
}

void Unlink(int fd, const fuse_in_header& in, const char* name) {
  Node* node = NodeOf(IdOf(name));
  if (node == nullptr) return Reply(fd, in.unique, ENOENT);
  node->gone = true;
  Reply(fd, in.unique, 0);
}

// A plain rename in the one directory; a swap of two names or any other
// flag is not taken.
void Rename(int fd, const fuse_in_header& in, const char* names, uint32_t flags) {
  const std::string from = names;
  const std::string to = names + from.size() + 1;
  Node* node = NodeOf(IdOf(from));
  if (flags != 0) return Reply(fd, in.unique, EINVAL);
  if (node == nullptr) return Reply(fd, in.unique, ENOENT);
  if (Node* old = NodeOf(IdOf(to))) old->gone = true;
  node->name = to;
  Reply(fd, in.unique, 0);
}

// The names there are, from the entry `read.offset` on, as many as fit.
void ReadDir(int fd, const fuse_in_header& in, const fuse_read_in& read) {
  std::vector<char> out;
  for (size_t i = read.offset; i < nodes.size(); ++i) {
    if (nodes[i].gone) continue;
    const std::string& name = nodes[i].name;
    const size_t size = FUSE_DIRENT_ALIGN(FUSE_NAME_OFFSET + name.size());
    if (out.size() + size > read.size) break;
    fuse_dirent entry{};
    entry.ino = i + 2;
    entry.off = i + 1;
    entry.namelen = static_cast<uint32_t>(name.size());
    entry.type = DT_REG;
    const size_t at = out.size();
    out.resize(at + size, 0);
    std::memcpy(out.data() + at, &entry, FUSE_NAME_OFFSET);
    std::memcpy(out.data() + at + FUSE_NAME_OFFSET, name.data(), name.size());
  }
  Reply(fd, in.unique, 0, out.data(), out.size());
}

void Init(int fd, const fuse_in_header& in, const fuse_init_in& init) {
  fuse_init_out out{};
  out.major = FUSE_KERNEL_VERSION;
  out.minor = FUSE_KERNEL_MINOR_VERSION;
  out.max_readahead = init.max_readahead;
  out.max_write = 1 << 17;
  out.max_pages = 32;
  ReplyWith(fd, in.unique, out);
}

// Answers one request; false once the file system is to go.
bool Answer(int fd, const fuse_in_header& in, const char* body) {
  switch (in.opcode) {
    case FUSE_INIT: Init(fd, in, As<fuse_init_in>(body)); break;
    case FUSE_LOOKUP: Lookup(fd, in, body); break;
    case FUSE_CREATE: Create(fd, in, body + sizeof(fuse_create_in)); break;
    case FUSE_UNLINK: Unlink(fd, in, body); break;
    case FUSE_RENAME: Rename(fd, in, body + sizeof(fuse_rename_in), 0); break;
    case FUSE_RENAME2:
      Rename(fd, in, body + sizeof(fuse_rename2_in), As<fuse_rename2_in>(body).flags);
      break;
    case FUSE_GETATTR: {
      fuse_attr_out out{};
      out.attr = AttrOf(in.nodeid);
      ReplyWith(fd, in.unique, out);
      break;
    }
    case FUSE_OPEN: ReplyWith(fd, in.unique, DirectOpen()); break;
    case FUSE_READ: Read(fd, in, As<fuse_read_in>(body)); break;
    case FUSE_READDIR: ReadDir(fd, in, As<fuse_read_in>(body)); break;
    case FUSE_WRITE: Write(fd, in, As<fuse_write_in>(body), body + sizeof(fuse_write_in)); break;
    case FUSE_SETATTR: SetAttr(fd, in, As<fuse_setattr_in>(body)); break;
    case FUSE_FLUSH: {
      // Sent at every close(2), which returns its error.
      const Node* node = NodeOf(in.nodeid);
      Reply(fd, in.unique, node != nullptr && node->FailsCloses() ? EIO : 0);
      break;
    }
    case FUSE_STATFS: ReplyWith(fd, in.unique, fuse_statfs_out{}); break;
    case FUSE_OPENDIR: ReplyWith(fd, in.unique, fuse_open_out{}); break;
    case FUSE_RELEASE:
    case FUSE_RELEASEDIR:
    case FUSE_ACCESS: Reply(fd, in.unique, 0); break;
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
    case FUSE_INTERRUPT: break;  // no reply
    case FUSE_DESTROY: Reply(fd, in.unique, 0); return false;
    default: Reply(fd, in.unique, ENOSYS); break;
  }
  return true;
}

void Serve(int fd) {
  std::vector<char> buffer(FUSE_MIN_READ_BUFFER + (1 << 20));
  while (true) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == ENOENT)) continue;    // ENOENT: an interrupted request
    if (n < static_cast<ssize_t>(sizeof(fuse_in_header))) return;  // unmounted
    const auto in = As<fuse_in_header>(buffer.data());
    if (!Answer(fd, in, buffer.data() + sizeof in)) return;
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
  if (mount("fuse_faults", argv[1], "fuse.fuse_faults", MS_NOSUID | MS_NODEV, options.c_str()) !=
      0) {
    std::perror("mount");
    return kCannotMount;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  Serve(fd);
  return 0;
}
