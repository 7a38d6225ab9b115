// Faults made for real against the built tools: a second process holding
// an output, memory limits, signals in the middle of a block, reads, writes
// and closes that fail (through the tools built with the fault seam, and on
// a file system whose disk fails), standard outputs of every kind, a
// console that is full for a moment, a file-size limit on the cons_fix
// file.
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

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e_util.h"
#include "tests/faulty_tool.h"
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
  Child(const std::filesystem::path& dir, std::vector<std::string> args, int out = -1) {
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

std::string Tool(const char* binary, const std::string& args) {
  return "'" + std::string(binary) + "' " + args;
}

// ---------------------------------------------------------------- locks

TEST(Lock, AnOutputAnotherProcessHoldsIsRefusedBeforeEitherIsEmptied) {
  for (const char* held : {"out.bin", "fix.bin"}) {
    SCOPED_TRACE(held);
    RunDir dir;
    const int fd = open(dir.At(held).c_str(), O_RDONLY);
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
      return SizeOf(dir.At(name));
    }
  }
  return 0;
}

TEST(Interrupt, AnyEndingSignalMidBlockLeavesTheOutputsAsTheyWere) {
  RunDir dir("a.src first big.src second a.src third");
  WriteSparseInput(dir.At("big.src"));
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
std::string ThroughASlowPipe(const std::filesystem::path& dir, std::vector<std::string> args,
                             int& status) {
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

// Where a bad stretch of disk begins: past the first whole read of a file.
constexpr uint64_t kFailAt = 4096;

// One fault for Faulty: a line as faulty_tool.h has it.
std::string Fault(const char* op, uint64_t offset, int code, const std::string& name) {
  return std::string(op) + " " + std::to_string(offset) + " " + std::to_string(code) + " " + name +
         "\n";
}

// Runs `binary`, a tool built with the fault seam, in `dir`, meeting
// `faults`.
Result Faulty(const TempDir& dir, const char* binary, const std::string& faults,
              const std::string& args) {
  return RunIn(dir, std::string(testutil::kFaultsVariable) + "='" + faults + "' timeout 60 " +
                        Tool(binary, args));
}

// A run of blkmerge on a.src and big.src that meets `faults`, and what it
// must say and leave.
struct FailingRun {
  const char* what;
  std::string pairs;  // of the job, which writes out.bin and fix.bin
  std::string faults;
  std::vector<std::string> old;  // the outputs there before the run, holding "old"
  int status;
  std::string output;
  std::string error;
  std::optional<Bytes> merged;    // out.bin afterwards; nothing: not there
  std::optional<Bytes> cons_fix;  // fix.bin afterwards
};

TEST(FailingFileCalls, EndTheRunAsEveryFailedRunEnds) {
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
  // Larger than a whole read; its first table crosses the bad byte, its
  // word M and tail lie past it.
  const Bytes big = fixture::MakeInput({.n = 5000, .m = 1, .k = 2, .seed = 4});
  const std::string two = "a.src first a.src second";
  const std::string processed = "Processed a.src as first\nProcessed a.src as second\n";
  const Bytes both = fixture::ExpectedMerged({a, a}, {"first", "second"}, kNumbers);
  const std::vector<std::string> outputs = {"out.bin", "fix.bin"};
  const std::string io_error = ": Input/output error\n";
  const std::string full = ": No space left on device\n";
  const FailingRun runs[] = {
      {"a fault of a file the run does not open: the tool as it is", two,
       Fault("close", 0, EIO, "other.bin"), outputs, 0,
       processed + "Produced cons_fix file fix.bin\n", "", both,
       fixture::ConsFixRecord("first", "second")},
      {"a read error in the job file, past two good pairs: nothing is created",
       two + std::string(2 * kFailAt, ' '),
       Fault("read", kFailAt, EIO, "job.txt"),
       {},
       1,
       "Could not read input file job.txt\n",
       "blkmerge: job.txt: reading at offset 4096" + io_error,
       std::nullopt,
       std::nullopt},
      {"a read error in an input's first table is never taken for its end",
       "a.src first big.src second",
       Fault("read", kFailAt, EIO, "big.src"),
       {},
       1,
       "Processed a.src as first\nCould not read input file big.src\n",
       "blkmerge: job.txt:1:37: big.src: reading the first table at offset 120 (80000 bytes)" +
           io_error,
       std::nullopt,
       std::nullopt},
      {"a disk that fills in the second block", two, Fault("write", 300, ENOSPC, "out.bin"),
       outputs, 1, "Processed a.src as first\nCould not write output file out.bin\n",
       "blkmerge: out.bin" + full, kOld, kOld},
      {"a disk that fills in the merged file's header", two, Fault("write", 4, ENOSPC, "out.bin"),
       outputs, 1, "Could not write output file out.bin\n", "blkmerge: out.bin" + full, kOld, kOld},
      {"a cons_fix file whose write fails part-way", "a.src first a.src second a.src third",
       Fault("write", 200, ENOSPC, "fix.bin"), outputs, 1,
       processed + "Processed a.src as third\nCould not write output file fix.bin\n",
       "blkmerge: fix.bin" + full, kOld, kOld},
      {"a merged file whose close fails",
       two,
       Fault("close", 0, EIO, "out.bin"),
       {"fix.bin"},
       1,
       processed + "Could not write output file out.bin\n",
       "blkmerge: out.bin" + io_error,
       std::nullopt,
       kOld},
      // A write that fails late is reported by close(2) alone (a network
      // file system, one over quota).
      {"a new cons_fix file whose close fails",
       two,
       Fault("close", 0, EIO, "fix.bin"),
       {},
       1,
       processed + "Could not write output file fix.bin\n",
       "blkmerge: fix.bin" + io_error,
       std::nullopt,
       std::nullopt},
      {"an old cons_fix file whose close fails", two, Fault("close", 0, EIO, "fix.bin"), outputs, 1,
       processed + "Could not write output file fix.bin\n", "blkmerge: fix.bin" + io_error, kOld,
       kOld},
      // The cons_fix file takes its place first, then the merged file.
      {"the cons_fix file's rename fails", two, Fault("rename", 0, EACCES, "fix.bin"), outputs, 1,
       processed + "Could not write output file fix.bin\n",
       "blkmerge: fix.bin: Permission denied\n", kOld, kOld},
      {"the merged file's rename fails: the cons_fix file's old bytes are put back", two,
       Fault("rename", 0, EIO, "out.bin"), outputs, 1,
       processed + "Could not write output file out.bin\n", "blkmerge: out.bin" + io_error, kOld,
       kOld},
      {"the merged file's rename fails with no old outputs: the new cons_fix file goes",
       two,
       Fault("rename", 0, EIO, "out.bin"),
       {},
       1,
       processed + "Could not write output file out.bin\n",
       "blkmerge: out.bin" + io_error,
       std::nullopt,
       std::nullopt},
  };
  for (const FailingRun& run : runs) {
    SCOPED_TRACE(run.what);
    TempDir dir;
    dir.Write("a.src", a);
    dir.Write("big.src", big);
    dir.Write("job.txt", "out.bin fix.bin 1 2 3 4 " + run.pairs);
    for (const std::string& name : run.old) dir.Write(name, kOld);
    std::vector<std::string> files = dir.Files();
    const Result r = Faulty(dir, FAULTY_BLKMERGE_BINARY, run.faults, "job.txt");
    EXPECT_EQ(r.status, run.status);
    EXPECT_EQ(r.output, run.output);
    EXPECT_EQ(r.error, run.error);
    for (const auto& [name, bytes] :
         {std::pair{"out.bin", run.merged}, {"fix.bin", run.cons_fix}}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(dir.Exists(name), bytes.has_value());
      if (bytes) {
        EXPECT_EQ(dir.Read(name), *bytes);
      }
    }
    // A failed run leaves nothing of its own beside the outputs.
    if (run.status != 0) {
      EXPECT_EQ(dir.Files(), files);
    }
  }
}

TEST(FailingFileCalls, AReadErrorIsTroubleToTheInspector) {
  TempDir dir;
  dir.Write("a.src", fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3}));
  // A merged file with a block across the bad byte; its job with white
  // space past it.
  std::string pairs;
  for (int i = 0; i < 30; ++i) pairs += " a.src a" + std::to_string(i);
  dir.Write("job.txt", "out.bin fix.bin 1 2 3 4" + pairs + std::string(2 * kFailAt, ' '));
  ASSERT_EQ(Blkmerge(dir, "job.txt").status, 0);
  ASSERT_GT(dir.Read("out.bin").size(), kFailAt);
  const std::string args = "--job job.txt out.bin fix.bin";
  EXPECT_EQ(Faulty(dir, FAULTY_BLKINSPECT_BINARY, "", args).status, 0);

  Result r = Faulty(dir, FAULTY_BLKINSPECT_BINARY, Fault("read", kFailAt, EIO, "job.txt"), args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.error,
            "blkinspect: could not read job.txt: reading at offset 4096: Input/output error\n");
  r = Faulty(dir, FAULTY_BLKINSPECT_BINARY, Fault("read", kFailAt, EIO, "out.bin"), "out.bin");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.error, "blkinspect: could not read out.bin: Input/output error\n");
}

#ifdef FUSE_FAULTS_BINARY
// What only a real file system shows, on one of the test's own whose disk
// fails: that the kernel's EIO from a read and from close(2) (its answer to
// the file system's failed FLUSH) reach the same messages as the seam's
// failures above, and that the new files a run makes there are removed
// again, the old ones untouched. The rest of every failing read, write and close is
// tested through the seam, which needs neither root nor /dev/fuse.
//
// A directory `mnt` in which the file system serves the files of `src`
// and takes new ones; reads of a file named bad* fail from kFailAt on, and
// every close of a file named badclose* fails.
class FailingDisk : public ::testing::Test {
 protected:
  void Mount() {
    std::filesystem::create_directory(dir_.At("mnt"));
    server_ = popen(("'" FUSE_FAULTS_BINARY "' '" + dir_.At("mnt") + "' '" + dir_.At("src") + "' " +
                     std::to_string(kFailAt) + " 2>/dev/null")
                        .c_str(),
                    "r");
    char line[16] = {};
    mounted_ = server_ != nullptr && std::fgets(line, sizeof line, server_) != nullptr &&
               std::string(line) == "ready\n";
  }
  void SetUp() override { std::filesystem::create_directory(dir_.At("src")); }
  void TearDown() override {
    if (mounted_) umount2(dir_.At("mnt").c_str(), MNT_DETACH);
    if (server_ != nullptr) pclose(server_);
  }

  TempDir dir_;
  FILE* server_ = nullptr;
  bool mounted_ = false;
};

TEST_F(FailingDisk, ReadErrorsAreNeverTakenForTheEnd) {
  const Bytes a = fixture::MakeInput({.n = 1, .m = 1, .k = 2, .seed = 3});
  const Bytes big = fixture::MakeInput({.n = 5000, .m = 1, .k = 2, .seed = 4});
  dir_.Write("src/a.src", a);
  dir_.Write("src/bad.src", big);
  // Two good pairs, then white space past the failing part.
  dir_.Write("src/bad.job", "out.bin fix.bin 1 2 3 4 mnt/a.src first mnt/a.src second" +
                                std::string(2 * kFailAt, ' '));
  dir_.Write("src/good.job",
             std::string("out.bin fix.bin 1 2 3 4 mnt/a.src first mnt/bad.src second"));
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
  EXPECT_FALSE(dir_.Exists("out.bin"));
  EXPECT_FALSE(dir_.Exists("fix.bin"));
}

TEST_F(FailingDisk, AConsFixFileWhoseCloseFailsIsLeftAsItWas) {
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

  // A new file and one that held bytes: the new file beside each takes the
  // records, its close fails, and it is removed; the old file stays.
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
    // The merged file, whole and closed, does not take its place either:
    // out.bin holds what the good run wrote.
    EXPECT_EQ(dir_.Read("out.bin"), merged);
    EXPECT_EQ(dir_.Exists(name), name.ends_with(".old"));
    if (name.ends_with(".old")) {
      EXPECT_EQ(dir_.Read(name), kOld);
    }
    EXPECT_EQ(RunIn(dir_, "ls -A mnt").output, "badclose.old\ngood.fix\n");
  }
}
#endif

}  // namespace
}  // namespace blkmerge::e2e
