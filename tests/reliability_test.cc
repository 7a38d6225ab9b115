// Faults made for real against the built tools: a second process holding
// an output, memory limits, signals in the middle of a block, a file
// system whose disk fails (reads, and closes that report a failed write),
// standard outputs of every kind, a console that is full for a moment, a
// file-size limit on the cons_fix file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/fixture.h"

namespace blkmerge::e2e {
namespace {

using fixture::Bytes;

const Numbers kNumbers{1.0F, 2.0F, 3.0F, 4.0F};
const Bytes kOld = {'o', 'l', 'd'};

std::string Text(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// A directory with the input a.src, job.txt naming out.bin and fix.bin
// and `pairs`, and both outputs already there holding "old".
class RunDir : public TempDir {
 public:
  explicit RunDir(const std::string& pairs = "a.src first a.src second") {
    Write("a.src", a);
    Write("job.txt", "out.bin fix.bin 1 2 3 4 " + pairs);
    Write("out.bin", kOld);
    Write("fix.bin", kOld);
  }
  bool OutputsUntouched() const { return Read("out.bin") == kOld && Read("fix.bin") == kOld; }

  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
};

// A child process of the test, its standard output on `out` where given.
class Child {
 public:
  Child(const std::string& dir, std::vector<std::string> args, int out = -1) {
    pid_ = fork();
    if (pid_ == 0) {
      // SIGQUIT and SIGXCPU would dump core into the directory.
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      if (out >= 0) dup2(out, STDOUT_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      if (chdir(dir.c_str()) != 0) _exit(126);
      std::vector<char*> argv;
      argv.reserve(args.size() + 1);
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  // The raw wait status.
  int Wait() {
    if (status_ < 0) {
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      status_ = status;
    }
    return status_;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
  return __has_feature(address_sanitizer);
#else
  return false;
#endif
}

std::string Tool(const char* binary, const std::string& args) {
  return "'" + std::string(binary) + "' " + args;
}

// ---------------------------------------------------------------- locks

TEST(Lock, AnOutputAnotherProcessHoldsIsRefusedBeforeEitherIsEmptied) {
  for (const char* held : {"out.bin", "fix.bin"}) {
    SCOPED_TRACE(held);
    RunDir dir;
    const int fd = open((dir / held).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const Result r = Blkmerge(dir, "job.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Could not open output file " + std::string(held) + "\n");
    EXPECT_EQ(r.error, "blkmerge: " + std::string(held) + ": locked by another process\n");
    EXPECT_TRUE(dir.OutputsUntouched());
    close(fd);
    // Once it is let go, the run goes ahead.
    EXPECT_EQ(Blkmerge(dir, "job.txt").status, 0);
    EXPECT_EQ(dir.Read("fix.bin"), fixture::ConsFixRecord("first", "second"));
  }
}

// ---------------------------------------------------- both outputs first

TEST(Outputs, AnExistingMergedFileOutlivesAConsFixFileThatCannotBeCreated) {
  RunDir dir;
  dir.Write("job.txt", std::string("out.bin nodir/fix.bin 1 2 3 4 a.src first"));
  const Result r = Blkmerge(dir, "job.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not open output file nodir/fix.bin\n");
  EXPECT_EQ(r.error, "blkmerge: nodir/fix.bin: No such file or directory\n");
  EXPECT_EQ(dir.Read("out.bin"), kOld);
}

// --------------------------------------------------------------- memory

// The least address space, in KiB, in which `binary` starts and prints
// its usage line.
int64_t StartUpKiB(const TempDir& dir, const char* binary) {
  int64_t low = 256;
  int64_t high = 1 << 20;
  while (high - low > 16) {
    const int64_t mid = (low + high) / 2;
    const Result r =
        RunIn(dir, "ulimit -v " + std::to_string(mid) + " && exec " + Tool(binary, "") + " 2>&1");
    (r.output.starts_with("usage") ? high : low) = mid;
  }
  return high;
}

TEST(Memory, ShortOfMemoryLeavesEveryFileAsItWas) {
  if (Sanitized()) GTEST_SKIP() << "the sanitizers need more address space than any limit here";
  RunDir dir;
  const int64_t start = StartUpKiB(dir, BLKMERGE_BINARY);
  int short_runs = 0;
  // From start-up size to well past what a run needs: a run either
  // succeeds or says so and touches nothing. Never a crash.
  for (int64_t kib = start; kib < start + 3072; kib += 64) {
    SCOPED_TRACE(std::to_string(kib) + " KiB, start-up " + std::to_string(start));
    dir.Write("out.bin", kOld);
    dir.Write("fix.bin", kOld);
    const Result r = RunIn(
        dir, "ulimit -v " + std::to_string(kib) + " && exec " + Tool(BLKMERGE_BINARY, "job.txt"));
    if (r.status == 0) {
      EXPECT_EQ(r.output,
                "Processed a.src as first\nProcessed a.src as second\n"
                "Produced cons_fix file fix.bin\n");
      EXPECT_EQ(dir.Read("out.bin"),
                fixture::ExpectedMerged({dir.a, dir.a}, {"first", "second"}, kNumbers));
      continue;
    }
    ++short_runs;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Not enough memory\n");
    EXPECT_TRUE(r.error.starts_with("blkmerge: could not allocate ")) << r.error;
    EXPECT_TRUE(dir.OutputsUntouched());
  }
  EXPECT_GT(short_runs, 0) << "no limit was tight enough";
  // The largest buffer is the first to fail.
  const Result r = RunIn(
      dir, "ulimit -v " + std::to_string(start) + " && exec " + Tool(BLKMERGE_BINARY, "job.txt"));
  EXPECT_EQ(r.error,
            "blkmerge: could not allocate 1048576 bytes for the merged file's write buffer; no "
            "output was touched\n");
}

TEST(Memory, TheInspectorSaysSoOrReports) {
  if (Sanitized()) GTEST_SKIP() << "the sanitizers need more address space than any limit here";
  RunDir dir;
  std::string pairs;
  for (int i = 0; i < 100; ++i) pairs += "a.src alias" + std::to_string(i) + " ";
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4 " + pairs);
  ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
  const std::string args = "--job job.txt out.bin fix.bin";
  const Result full = RunIn(dir, Tool(BLKINSPECT_BINARY, args));
  ASSERT_EQ(full.status, 0);
  const int64_t start = StartUpKiB(dir, BLKINSPECT_BINARY);
  for (int64_t kib = start; kib < start + 1024; kib += 32) {
    SCOPED_TRACE(std::to_string(kib) + " KiB, start-up " + std::to_string(start));
    const Result r = RunIn(
        dir, "ulimit -v " + std::to_string(kib) + " && exec " + Tool(BLKINSPECT_BINARY, args));
    if (r.status == 0) {
      EXPECT_EQ(r.output, full.output);
    } else {
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.error, "blkinspect: not enough memory\n");
    }
  }
}

// -------------------------------------------------------------- signals

// An input whose first table is 1 GiB of holes: it costs no disk, and its
// block takes long enough to write to be interrupted in the middle.
void WriteSparseInput(const std::string& path) {
  const fixture::Shape small{.n = 0, .m = 0, .k = 1, .seed = 7};
  Bytes in = fixture::MakeInput(small);
  const int32_t n = 1 << 26;
  const uint64_t table = 16 * static_cast<uint64_t>(n);
  fixture::SetN(in, n);
  fixture::SetLtable(in, static_cast<int32_t>(fixture::GetLE32(in, input::kLtable) + table));
  fixture::SetLtail(in, static_cast<int32_t>(fixture::GetLE32(in, input::kLtail) + table));
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, in.data(), input::kFrontSize, 0), static_cast<ssize_t>(input::kFrontSize));
  const size_t rest = in.size() - input::kFrontSize;
  ASSERT_EQ(pwrite(fd, in.data() + input::kFrontSize, rest,
                   static_cast<off_t>(input::kFrontSize + table)),
            static_cast<ssize_t>(rest));
  close(fd);
}

uint64_t SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The size of the new merged file a run is writing beside out.bin, or 0.
uint64_t NewMergedSize(const TempDir& dir) {
  for (const std::string& name : dir.Files()) {
    if (name.starts_with(".out.bin.blkmerge-") && name != ".out.bin.blkmerge-lock") {
      return SizeOf(dir / name);
    }
  }
  return 0;
}

TEST(Interrupt, AnyEndingSignalMidBlockLeavesTheOutputsAsTheyWere) {
  RunDir dir("a.src first big.src second a.src third");
  WriteSparseInput(dir / "big.src");
  const std::vector<std::string> files = dir.Files();
  const uint64_t complete = fixture::ExpectedMerged({dir.a}, {"first"}, kNumbers).size();
  for (const int signal_number :
       {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2}) {
    SCOPED_TRACE(strsignal(signal_number));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    Child run(dir.path(), {BLKMERGE_BINARY, "job.txt"}, out[1]);
    close(out[1]);
    // Into the big block, but not far: what it writes is real disk.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (NewMergedSize(dir) < complete + (16u << 20) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_GT(NewMergedSize(dir), complete) << "the run never got into the big block";

    // A second run meanwhile finds the outputs held, and leaves them.
    const Result second = Blkmerge(dir, "job.txt");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.output, "Could not open output file out.bin\n");
    EXPECT_EQ(second.error, "blkmerge: out.bin: locked by another process\n");

    ASSERT_EQ(kill(run.pid(), signal_number), 0);
    const int status = run.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    std::string printed(256, '\0');
    printed.resize(static_cast<size_t>(std::max<ssize_t>(0, read(out[0], printed.data(), 256))));
    close(out[0]);
    EXPECT_EQ(printed, "Processed a.src as first\n");
    EXPECT_TRUE(dir.OutputsUntouched());
    EXPECT_EQ(dir.Files(), files) << "the new files and the locks are removed";
  }
}

// Interrupts while the new outputs take their places, made by the
// system-call tracer: it sends SIGTERM on entering the first (the cons_fix
// file's) or the second (the merged file's) swap of names. Before the last
// swap the run puts the old outputs back; at the last one the run is done.
// Never is a new output left beside an old one.
TEST(Interrupt, WhileTheOutputsTakeTheirPlacesNeverLeavesAMixedPair) {
  const std::string tracer = "/usr/bin/strace";
  if (access(tracer.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << tracer;
  RunDir dir;
  const std::vector<std::string> files = dir.Files();
  for (const int swap : {1, 2}) {
    SCOPED_TRACE(swap);
    dir.Write("out.bin", kOld);
    dir.Write("fix.bin", kOld);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    Child run(dir.path(),
              {tracer, "-f", "-qq", "-o", "/dev/null", "-e", "trace=renameat2", "-e",
               "inject=renameat2:signal=SIGTERM:when=" + std::to_string(swap), BLKMERGE_BINARY,
               "job.txt"},
              out[1]);
    close(out[1]);
    const int status = run.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    std::string printed(256, '\0');
    printed.resize(static_cast<size_t>(std::max<ssize_t>(0, read(out[0], printed.data(), 256))));
    close(out[0]);
    EXPECT_EQ(printed, "Processed a.src as first\nProcessed a.src as second\n");
    if (swap == 1) {
      EXPECT_TRUE(dir.OutputsUntouched());
    } else {
      EXPECT_EQ(dir.Read("out.bin"),
                fixture::ExpectedMerged({dir.a, dir.a}, {"first", "second"}, kNumbers));
      EXPECT_EQ(dir.Read("fix.bin"), fixture::ConsFixRecord("first", "second"));
    }
    EXPECT_EQ(dir.Files(), files);
  }
}

// ------------------------------------------------------ standard output

TEST(StandardOutput, IsRefusedAsAnOutputWhateverKindOfFileItIs) {
  RunDir dir;
  // A pipe, under the names the system gives it.
  for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    dir.Write("job.txt", "out.bin " + std::string(name) + " 1 2 3 4 a.src first");
    const Result r = Blkmerge(dir, "job.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "Output file " + std::string(name) + " is the same file as standard output\n");
    EXPECT_TRUE(
        r.error.starts_with("blkmerge: " + std::string(name) +
                            " and standard output reach one file (the same file identity: "))
        << r.error;
    EXPECT_TRUE(dir.OutputsUntouched());
  }
  // A named pipe that standard output writes to.
  ASSERT_EQ(RunIn(dir, "mkfifo fifo").status, 0);
  dir.Write("job.txt", std::string("fifo fix.bin 1 2 3 4 a.src first"));
  const Result fifo = RunIn(
      dir, "true; cat fifo > got & " + Tool(BLKMERGE_BINARY, "job.txt") + " > fifo; echo $?; wait");
  EXPECT_EQ(fifo.output, "1\n");
  EXPECT_EQ(Text(dir.Read("got")), "Output file fifo is the same file as standard output\n");
  EXPECT_TRUE(dir.OutputsUntouched());
  // The null device keeps nothing: it may be both.
  dir.Write("job.txt", std::string("out.bin /dev/null 1 2 3 4 a.src first"));
  EXPECT_EQ(RunIn(dir, Tool(BLKMERGE_BINARY, "job.txt") + " > /dev/null; echo $?").output, "0\n");
}

TEST(StandardOutput, ATerminalIsRefusedToo) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no terminals";
  const std::string terminal = ptsname(master);
  const int slave = open(terminal.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  RunDir dir;
  dir.Write("job.txt", "out.bin " + terminal + " 1 2 3 4 a.src first");
  Child run(dir.path(), {BLKMERGE_BINARY, "job.txt"}, slave);
  close(slave);
  EXPECT_EQ(WEXITSTATUS(run.Wait()), 1);
  std::string shown(512, '\0');
  shown.resize(static_cast<size_t>(std::max<ssize_t>(0, read(master, shown.data(), shown.size()))));
  close(master);
  // The terminal turns the line end into CR LF.
  EXPECT_EQ(shown, "Output file " + terminal + " is the same file as standard output\r\n");
  EXPECT_TRUE(dir.OutputsUntouched());
}

// Runs `args` with standard output on a non-blocking pipe of one page
// that is read slowly, after a pause, and returns what came through.
std::string ThroughASlowPipe(const std::string& dir, std::vector<std::string> args, int& status) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  fcntl(out[1], F_SETPIPE_SZ, 4096);
  fcntl(out[1], F_SETFL, fcntl(out[1], F_GETFL) | O_NONBLOCK);
  Child run(dir, std::move(args), out[1]);
  close(out[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string got;
  char piece[512];
  ssize_t n = 0;
  while ((n = read(out[0], piece, sizeof piece)) > 0) {
    got.append(piece, static_cast<size_t>(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  close(out[0]);
  status = run.Wait();
  return got;
}

TEST(StandardOutput, ThatIsNonBlockingAndFullForAMomentIsWaitedFor) {
  RunDir dir;
  std::string pairs;
  std::string lines;
  for (int i = 0; i < 100; ++i) {
    const std::string alias = std::string(60, 'a') + std::to_string(i);
    pairs += "a.src " + alias + " ";
    lines += "Processed a.src as " + alias + "\n";
  }
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4 " + pairs);
  int status = 0;
  const std::string merged = ThroughASlowPipe(dir.path(), {BLKMERGE_BINARY, "job.txt"}, status);
  ASSERT_GT(lines.size(), 4096u);
  EXPECT_EQ(merged, lines + "Produced cons_fix file fix.bin\n");
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const Result report = RunIn(dir, Tool(BLKINSPECT_BINARY, "--job job.txt out.bin fix.bin"));
  ASSERT_GT(report.output.size(), 4096u);
  const std::string inspected = ThroughASlowPipe(
      dir.path(), {BLKINSPECT_BINARY, "--job", "job.txt", "out.bin", "fix.bin"}, status);
  EXPECT_EQ(inspected, report.output);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ------------------------------------------------------------ cons_fix

TEST(ConsFix, AWriteThatFailsPartWayLeavesBothOutputsAsTheyWere) {
  // 88 records (15488 bytes) against a limit of 14336 bytes, which the
  // merged file (89 blocks of 148 bytes and the header) stays under.
  RunDir dir;
  dir.Write("z.src", fixture::MakeInput({.n = 0, .m = 0, .k = 0, .seed = 5}));
  std::string pairs;
  for (int i = 0; i < 89; ++i) pairs += "z.src a" + std::to_string(i) + " ";
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4 " + pairs);
  const Result r =
      RunIn(dir, "ulimit -f 28 && " + Tool(BLKMERGE_BINARY, "job.txt") + " | tail -n 1");
  EXPECT_EQ(r.output, "Could not write output file fix.bin\n");
  EXPECT_EQ(r.error, "blkmerge: fix.bin: File too large\n");
  EXPECT_TRUE(dir.OutputsUntouched());
  EXPECT_EQ(dir.Files(),
            std::vector<std::string>({"a.src", "fix.bin", "job.txt", "out.bin", "z.src"}));
}

// ------------------------------------------------------- a failing disk

#ifdef FUSE_FAULTS_BINARY
// A directory `mnt` in which a file system of the test's own serves the
// files of `src` and takes new ones; reads of a file named bad* fail from
// kFailAt on, and every close of a file named badclose* fails.
class FailingDisk : public ::testing::Test {
 protected:
  static constexpr uint64_t kFailAt = 4096;

  void Mount() {
    std::filesystem::create_directory(dir_ / "mnt");
    server_ = popen(("'" FUSE_FAULTS_BINARY "' '" + (dir_ / "mnt") + "' '" + (dir_ / "src") + "' " +
                     std::to_string(kFailAt) + " 2>/dev/null")
                        .c_str(),
                    "r");
    char line[16] = {};
    mounted_ = server_ != nullptr && std::fgets(line, sizeof line, server_) != nullptr &&
               std::string(line) == "ready\n";
  }
  void SetUp() override { std::filesystem::create_directory(dir_ / "src"); }
  void TearDown() override {
    if (mounted_) umount2((dir_ / "mnt").c_str(), MNT_DETACH);
    if (server_ != nullptr) pclose(server_);
  }

  TempDir dir_;
  FILE* server_ = nullptr;
  bool mounted_ = false;
};

TEST_F(FailingDisk, ReadErrorsAreNeverTakenForTheEnd) {
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
  // Larger than a whole read; its first table crosses the failing part,
  // its word M and tail lie past it.
  const Bytes big = fixture::MakeInput({.n = 5000, .m = 1, .k = 2, .seed = 4});
  dir_.Write("src/a.src", a);
  dir_.Write("src/bad.src", big);
  // Two good pairs, then white space past the failing part.
  dir_.Write("src/bad.job", "out.bin fix.bin 1 2 3 4 mnt/a.src first mnt/a.src second" +
                                std::string(2 * kFailAt, ' '));
  dir_.Write("src/good.job",
             std::string("out.bin fix.bin 1 2 3 4 mnt/a.src first mnt/bad.src second"));
  // A merged file to inspect, with a block across the failing part.
  dir_.Write("a.src", a);
  std::string pairs;
  for (int i = 0; i < 30; ++i) pairs += " a.src a" + std::to_string(i);
  dir_.Write("m.job", "m.out m.fix 1 2 3 4" + pairs);
  ASSERT_EQ(Blkmerge(dir_, "m.job").status, 0);
  dir_.Write("src/bad.out", dir_.Read("m.out"));
  Mount();
  if (!mounted_) GTEST_SKIP() << "cannot mount a file system here (needs root and /dev/fuse)";

  Result r = Blkmerge(dir_, "mnt/bad.job");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Could not read input file mnt/bad.job\n");
  EXPECT_EQ(r.error, "blkmerge: mnt/bad.job: reading at offset 4096: Input/output error\n");
  EXPECT_FALSE(dir_.Exists("out.bin"));

  r = Blkmerge(dir_, "mnt/good.job");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Processed mnt/a.src as first\nCould not read input file mnt/bad.src\n");
  EXPECT_EQ(r.error,
            "blkmerge: mnt/good.job:1:41: mnt/bad.src: reading the first table at offset 120 "
            "(80000 bytes): "
            "Input/output error\n");
  EXPECT_EQ(dir_.Read("out.bin"), fixture::ExpectedMerged({a}, {"first"}, kNumbers));

  // The inspector: trouble, exit 2, with the reason.
  r = RunIn(dir_, Tool(BLKINSPECT_BINARY, "--job mnt/bad.job out.bin"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.error,
            "blkinspect: could not read mnt/bad.job: reading at offset 4096: Input/output error\n");
  r = RunIn(dir_, Tool(BLKINSPECT_BINARY, "mnt/bad.out"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.error, "blkinspect: could not read mnt/bad.out: Input/output error\n");
}

// A write that fails late is reported by close(2) alone (a network file
// system, one over quota); the file system here fails every close of a
// file named badclose*.
TEST_F(FailingDisk, AConsFixFileWhoseCloseFailsIsLeftEmpty) {
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
  dir_.Write("a.src", a);
  dir_.Write("src/badclose.old", kOld);
  const std::string pairs = " 1 2 3 4 a.src first a.src second";
  const std::string processed = "Processed a.src as first\nProcessed a.src as second\n";
  const Bytes merged = fixture::ExpectedMerged({a, a}, {"first", "second"}, kNumbers);
  Mount();
  if (!mounted_) GTEST_SKIP() << "cannot mount a file system here (needs root and /dev/fuse)";

  // Files that close well are written whole through this file system.
  dir_.Write("good.job", "out.bin mnt/good.fix" + pairs);
  Result r = Blkmerge(dir_, "good.job");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, processed + "Produced cons_fix file mnt/good.fix\n");
  EXPECT_EQ(dir_.Read("mnt/good.fix"), fixture::ConsFixRecord("first", "second"));

  // A new file and one that held bytes: each takes the records, its close
  // fails, and it is emptied by name.
  for (const std::string name : {"mnt/badclose.new", "mnt/badclose.old"}) {
    SCOPED_TRACE(name);
    std::string job = "out.bin ";
    job += name;
    job += pairs;
    dir_.Write("bad.job", job);
    r = Blkmerge(dir_, "bad.job");
    EXPECT_EQ(r.status, 1);
    std::string said = processed;
    said += "Could not write output file ";
    said += name;
    said += '\n';
    EXPECT_EQ(r.output, said);
    EXPECT_EQ(r.error, "blkmerge: " + name + ": Input/output error\n");
    // Its blocks all complete and its close done, the merged file stays.
    EXPECT_EQ(dir_.Read("out.bin"), merged);
    EXPECT_TRUE(dir_.Exists(name));
    EXPECT_EQ(dir_.Read(name), Bytes());
  }
}

TEST_F(FailingDisk, AMergedFileWhoseCloseFailsStaysWholeAndTheConsFixFileEmpty) {
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
  dir_.Write("a.src", a);
  dir_.Write("fix.bin", kOld);
  dir_.Write("job.txt", "mnt/badclose.bin fix.bin 1 2 3 4 a.src first a.src second");
  Mount();
  if (!mounted_) GTEST_SKIP() << "cannot mount a file system here (needs root and /dev/fuse)";

  const Result r = Blkmerge(dir_, "job.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "Processed a.src as first\nProcessed a.src as second\n"
            "Could not write output file mnt/badclose.bin\n");
  EXPECT_EQ(r.error, "blkmerge: mnt/badclose.bin: Input/output error\n");
  EXPECT_EQ(dir_.Read("mnt/badclose.bin"),
            fixture::ExpectedMerged({a, a}, {"first", "second"}, kNumbers));
  EXPECT_EQ(dir_.Read("fix.bin"), Bytes());
}
#endif

}  // namespace
}  // namespace blkmerge::e2e
