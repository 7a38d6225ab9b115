// merge_bench BLKMERGE [--inspect BLKINSPECT] [--pairs N] [--case NAME] [--dir DIR]
//             [--evict drop|fadvise]
//
// Runs the built tool and `cat` over the same input files, alternately,
// and prints for each case the median wall times, the median of the paired
// ratios blkmerge / cat and the peak resident memory of each program. Every
// merged file the tool writes is checked against the fixture's expected
// blocks; the exit status is 1 when one is wrong.
//
// With --inspect, each case then times `blkinspect --job` on the outputs
// (which compares every block with its input) against `cat` of the merged
// file and the inputs, in the same way; blkinspect must find every check
// holding.
//
// The cold cases read their inputs from the disk: before every run of
// every program the inputs (and the merged file blkinspect reads) are
// evicted from the page cache, by dropping the whole cache where this
// process may write /proc/sys/vm/drop_caches (root on Linux), by
// POSIX_FADV_DONTNEED on each file otherwise (or with --evict fadvise).
// A cold case is timed against cat of the inputs into one file and against
// the device's read floor: four cats side by side, each reading a quarter
// of the inputs to /dev/null. Each round runs the three in turn, each
// round starting with the next of them.
//
// This process stays small on purpose: a child's peak resident size as the
// kernel reports it can include what it shared with the process it was
// forked from, so the inputs are made and the outputs checked in forked
// children. Each output is removed once checked, so that the disk holds
// the inputs and one output at a time.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "merge/block.h"
#include "tests/fixture.h"

namespace blkmerge {
namespace {

namespace fs = std::filesystem;
using fixture::Bytes;
using fixture::Shape;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};
constexpr const char* kMerged = "merged.out";
constexpr const char* kConsFix = "cons_fix.out";
constexpr const char* kCatOut = "cat.out";

struct Case {
  std::string name;
  std::string what;
  std::vector<Shape> shapes;
  bool cold = false;
  // Every run finds the outputs of the run before, as a rebuild does:
  // blkmerge replaces them, cat writes over its own.
  bool rerun = false;
};

// Two tables of equal size and a 1 KiB dropped section, about `bytes` long.
Shape EvenShape(uint64_t bytes, uint32_t seed) {
  constexpr int32_t kDropped = 64;
  const auto half = static_cast<int32_t>((bytes - 156 - 16 * kDropped) / 32);
  return Shape{.n = half, .m = kDropped, .k = half, .seed = seed, .extra = 0};
}

std::vector<Case> AllCases() {
  Case large{"large", "100 inputs of 8 MiB", {}};
  Case small{"small", "100 inputs of 4 KiB", {}};
  for (uint32_t i = 0; i < 100; ++i) {
    large.shapes.push_back(EvenShape(8 << 20, 1000 + i));
    small.shapes.push_back(EvenShape(4 << 10, 2000 + i));
  }
  Case grow8{"grow-8M", "1 input of 8 MiB", {EvenShape(8 << 20, 3000)}};
  Case grow256{"grow-256M", "1 input of 256 MiB", {EvenShape(256 << 20, 3001)}};
  Case large_cold{"large-cold", large.what, large.shapes, true};
  Case small_cold{"small-cold", small.what, small.shapes, true};
  Case large_rerun{"large-rerun", large.what, large.shapes, false, true};
  Case small_rerun{"small-rerun", small.what, small.shapes, false, true};
  return {large, large_rerun, large_cold, small, small_rerun, small_cold, grow8, grow256};
}

std::string InputName(size_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "in%03zu.src", i);
  return name;
}

std::string Alias(size_t i) { return "input_" + std::to_string(i); }

// Runs `work` in a forked child and returns its exit status (0 when it
// returned true).
int InChild(const std::function<bool()>& work) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool MakeInputs(const Case& c) {
  for (size_t i = 0; i < c.shapes.size(); ++i) {
    if (!fixture::WriteFile(InputName(i), fixture::MakeInput(c.shapes[i]))) return false;
  }
  std::string job = std::string(kMerged) + " " + kConsFix + "\n0.5 10 20 30\n";
  for (size_t i = 0; i < c.shapes.size(); ++i) job += InputName(i) + " " + Alias(i) + "\n";
  if (!fixture::WriteFile("job.txt", Bytes(job.begin(), job.end()))) return false;
  // Written back now, so that the flusher does not run during the timings.
  const int dir = open(".", O_RDONLY | O_DIRECTORY);
  const bool synced = dir >= 0 && syncfs(dir) == 0;
  if (dir >= 0) close(dir);
  return synced;
}

bool ReadAt(int fd, uint64_t offset, Bytes& out) {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Compares the merged file with the expected one block at a time, so that
// the check never holds more than one input and its block.
bool CheckMerged(const Case& c) {
  const int fd = open(kMerged, O_RDONLY);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  Bytes got(kMergedHeader.size());
  ok = ok && ReadAt(fd, 0, got) && std::equal(got.begin(), got.end(), kMergedHeader.begin());
  uint64_t offset = kMergedHeader.size();
  for (size_t i = 0; ok && i < c.shapes.size(); ++i) {
    const Bytes want = fixture::ExpectedBlock(fixture::MakeInput(c.shapes[i]), Alias(i), kNumbers);
    got.resize(want.size());
    ok = ReadAt(fd, offset, got) && got == want;
    if (!ok) std::fprintf(stderr, "merge_bench: %s: block %zu differs\n", c.name.c_str(), i);
    offset += want.size();
  }
  ok = ok && static_cast<uint64_t>(st.st_size) == offset;
  close(fd);
  return ok;
}

struct Sample {
  double seconds = 0;
  double peak_mib = 0;
  bool ok = false;
};

// Runs every command of `argvs` side by side, each with standard output to
// `out` (or /dev/null), timing them from the first fork to the last
// reaping; each child's own peak resident size comes from wait4, and the
// largest is kept.
Sample SpawnAll(const std::vector<std::vector<std::string>>& argvs, const char* out) {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> pids;
  for (const std::vector<std::string>& argv : argvs) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) break;
    if (pid == 0) {
      const int fd = open(out != nullptr ? out : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(127);
      close(fd);
      execvp(args[0], args.data());
      _exit(127);
    }
    pids.push_back(pid);
  }
  Sample s;
  s.ok = pids.size() == argvs.size();
  for (const pid_t pid : pids) {
    int status = 0;
    struct rusage usage {};
    const pid_t done = wait4(pid, &status, 0, &usage);
    s.peak_mib = std::max(s.peak_mib, static_cast<double>(usage.ru_maxrss) / 1024.0);
    s.ok = s.ok && done == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const auto end = std::chrono::steady_clock::now();
  s.seconds = std::chrono::duration<double>(end - start).count();
  return s;
}

Sample Spawn(const std::vector<std::string>& argv, const char* out) {
  return SpawnAll({argv}, out);
}

// How a cold run finds the files it reads: not in the page cache.
enum class Evict { kDropCaches, kFadvise };
Evict evict_by = Evict::kFadvise;

bool CanDropCaches() {
  const int fd = open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// Takes `files` out of the page cache: written back first, for a cache
// keeps what it has not written.
void EvictFiles(const std::vector<std::string>& files) {
  sync();
  if (evict_by == Evict::kDropCaches) {
    const int fd = open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    const bool dropped = fd >= 0 && write(fd, "1", 1) == 1;
    if (fd >= 0) close(fd);
    if (dropped) return;
  }
  for (const std::string& name : files) {
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Timings {
  std::vector<double> tool_s, cat_s, ratio, tool_mib, cat_mib;
};

// Runs every one of `runs` `rounds` times, each round starting with the
// next of them, so that none always meets another's leftovers. Returns
// each one's samples.
std::vector<std::vector<Sample>> Rounds(int rounds,
                                        const std::vector<std::function<Sample()>>& runs) {
  std::vector<std::vector<Sample>> samples(runs.size());
  for (int i = 0; i < rounds; ++i) {
    for (size_t j = 0; j < runs.size(); ++j) {
      const size_t which = (static_cast<size_t>(i) + j) % runs.size();
      samples[which].push_back(runs[which]());
    }
  }
  return samples;
}

// The tool's samples against another program's, round by round.
Timings Paired(const std::vector<Sample>& tool, const std::vector<Sample>& other) {
  Timings t;
  for (size_t i = 0; i < tool.size() && i < other.size(); ++i) {
    t.tool_s.push_back(tool[i].seconds);
    t.cat_s.push_back(other[i].seconds);
    t.ratio.push_back(tool[i].seconds / other[i].seconds);
    t.tool_mib.push_back(tool[i].peak_mib);
    t.cat_mib.push_back(other[i].peak_mib);
  }
  return t;
}

// Runs `tool` and `cat` `pairs` times, alternating which goes first.
Timings Alternate(int pairs, const std::function<Sample()>& tool,
                  const std::function<Sample()>& cat) {
  const std::vector<std::vector<Sample>> samples = Rounds(pairs, {tool, cat});
  return Paired(samples[0], samples[1]);
}

void PrintRow(const std::string& name, const std::string& what, const Timings& t, bool ok) {
  std::printf("%-18s %-20s %12.4f %10.4f %7.3f %12.1f %9.1f  %s\n", name.c_str(), what.c_str(),
              Median(t.tool_s), Median(t.cat_s), Median(t.ratio),
              *std::max_element(t.tool_mib.begin(), t.tool_mib.end()),
              *std::max_element(t.cat_mib.begin(), t.cat_mib.end()), ok ? "right" : "WRONG");
  std::fflush(stdout);
}

// `run`, with `files` evicted from the page cache first where `cold`.
std::function<Sample()> Cold(bool cold, std::vector<std::string> files,
                             std::function<Sample()> run) {
  if (!cold) return run;
  return [files = std::move(files), run = std::move(run)] {
    EvictFiles(files);
    return run();
  };
}

// Runs case `c`, making its inputs unless `made` (the case before made
// the same) and leaving them for the next case where `keep`. Returns
// false when a merged file was wrong or a program failed.
bool RunCase(const Case& c, const std::string& blkmerge, const std::string& blkinspect, int pairs,
             bool made, bool keep) {
  if (!made && InChild([&c] { return MakeInputs(c); }) != 0) {
    std::fprintf(stderr, "merge_bench: %s: could not make the inputs\n", c.name.c_str());
    return false;
  }
  std::vector<std::string> inputs;
  for (size_t i = 0; i < c.shapes.size(); ++i) inputs.push_back(InputName(i));
  std::vector<std::string> cat_argv{"cat"};
  cat_argv.insert(cat_argv.end(), inputs.begin(), inputs.end());
  const std::vector<std::string> tool_argv{blkmerge, "job.txt"};
  // The read floor: four readers side by side, a quarter of the inputs
  // each.
  std::vector<std::vector<std::string>> quarters(4, std::vector<std::string>{"cat"});
  for (size_t i = 0; i < inputs.size(); ++i) {
    quarters[i * quarters.size() / inputs.size()].push_back(inputs[i]);
  }

  bool ok = true;
  uint64_t input_bytes = 0;
  for (const Shape& shape : c.shapes) input_bytes += fixture::TailOffset(shape) + 20 + shape.extra;
  std::error_code ec;
  const auto run_tool = Cold(c.cold, inputs, [&] {
    const Sample s = Spawn(tool_argv, nullptr);
    const bool right = s.ok && InChild([&c] { return CheckMerged(c); }) == 0;
    if (!right)
      std::fprintf(stderr, "merge_bench: %s: wrong or missing merged file\n", c.name.c_str());
    ok = ok && right;
    if (!c.rerun) {
      fs::remove(kMerged, ec);
      fs::remove(kConsFix, ec);
    }
    return s;
  });
  const auto run_cat = Cold(c.cold, inputs, [&] {
    const Sample s = Spawn(cat_argv, kCatOut);
    const bool right = s.ok && fs::file_size(kCatOut, ec) == input_bytes;
    if (!right) std::fprintf(stderr, "merge_bench: %s: cat went wrong\n", c.name.c_str());
    ok = ok && right;
    if (!c.rerun) fs::remove(kCatOut, ec);
    return s;
  });
  const auto run_floor = Cold(c.cold, inputs, [&] {
    const Sample s = SpawnAll(quarters, nullptr);
    if (!s.ok) std::fprintf(stderr, "merge_bench: %s: a reader went wrong\n", c.name.c_str());
    ok = ok && s.ok;
    return s;
  });

  std::vector<std::function<Sample()>> runs{run_tool, run_cat};
  if (c.cold) runs.push_back(run_floor);
  Rounds(1, runs);  // warm-up
  const std::vector<std::vector<Sample>> samples = Rounds(pairs, runs);
  PrintRow(c.name, c.what, Paired(samples[0], samples[1]), ok);
  if (c.cold)
    PrintRow(c.name + "-floor", "4 cats to /dev/null", Paired(samples[0], samples[2]), ok);

  if (!blkinspect.empty() && !c.rerun) {
    // The outputs stay for blkinspect to check against the inputs.
    ok = Spawn(tool_argv, nullptr).ok && ok;
    const std::vector<std::string> inspect_argv{blkinspect, "--job", "job.txt", kMerged, kConsFix};
    std::vector<std::string> cat_all_argv{"cat", kMerged};
    cat_all_argv.insert(cat_all_argv.end(), inputs.begin(), inputs.end());
    std::vector<std::string> read_files = inputs;
    read_files.emplace_back(kMerged);
    const auto run_inspect = Cold(c.cold, read_files, [&] {
      const Sample s = Spawn(inspect_argv, nullptr);
      if (!s.ok) std::fprintf(stderr, "merge_bench: %s: blkinspect failed\n", c.name.c_str());
      ok = ok && s.ok;
      return s;
    });
    const auto run_cat_all = Cold(c.cold, read_files, [&] { return Spawn(cat_all_argv, nullptr); });
    run_inspect();  // warm-up
    run_cat_all();
    const Timings inspected = Alternate(pairs, run_inspect, run_cat_all);
    PrintRow(c.name + "-inspect", "and the merged file", inspected, ok);
  }
  fs::remove(kMerged, ec);
  fs::remove(kConsFix, ec);
  fs::remove(kCatOut, ec);
  if (!keep) {
    for (const std::string& input : inputs) fs::remove(input, ec);
  }
  return ok;
}

int Usage() {
  std::fprintf(stderr,
               "usage: merge_bench BLKMERGE [--inspect BLKINSPECT] [--pairs N] [--case NAME] "
               "[--dir DIR] [--evict drop|fadvise]\n");
  return 2;
}

}  // namespace
}  // namespace blkmerge

int main(int argc, char** argv) {
  using namespace blkmerge;
  if (argc < 2) return Usage();
  std::error_code ec;
  const std::string tool = fs::absolute(argv[1], ec).string();
  int pairs = 5;
  std::string only;
  std::string inspect;
  std::string base = fs::temp_directory_path(ec).string();
  std::string evict = "drop";
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--pairs") {
      pairs = std::atoi(argv[i + 1]);
    } else if (flag == "--case") {
      only = argv[i + 1];
    } else if (flag == "--inspect") {
      inspect = fs::absolute(argv[i + 1], ec).string();
    } else if (flag == "--dir") {
      base = argv[i + 1];
    } else if (flag == "--evict") {
      evict = argv[i + 1];
      if (evict != "drop" && evict != "fadvise") return Usage();
    } else {
      return Usage();
    }
  }
  if (argc % 2 != 0 || pairs < 1) return Usage();

  // Inputs and outputs share one directory, so one file system.
  std::string dir = base + "/blkmerge-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) {
    std::fprintf(stderr, "merge_bench: cannot make a directory in %s\n", base.c_str());
    return 1;
  }
  evict_by = evict == "drop" && CanDropCaches() ? Evict::kDropCaches : Evict::kFadvise;
  std::printf("%d pairs after a warm-up, in %s\n", pairs, dir.c_str());
  std::printf("cold cases: %s before every run\n",
              evict_by == Evict::kDropCaches ? "page cache dropped (/proc/sys/vm/drop_caches)"
                                             : "inputs evicted (POSIX_FADV_DONTNEED)");
  std::printf("%-18s %-20s %12s %10s %7s %12s %9s\n", "case", "inputs", "tool s", "cat s", "ratio",
              "tool MiB", "cat MiB");
  bool ok = true;
  std::vector<Case> cases;
  for (const Case& c : AllCases()) {
    if (only.empty() || only == c.name) cases.push_back(c);
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    const bool made = i > 0 && cases[i - 1].shapes == cases[i].shapes;
    const bool keep = i + 1 < cases.size() && cases[i].shapes == cases[i + 1].shapes;
    ok = RunCase(cases[i], tool, inspect, pairs, made, keep) && ok;
  }
  std::printf(
      "times: medians; ratio: median of the paired ratios; MiB: largest peak resident size\n"
      "targets: large ratio <= 0.95, small ratio <= 1.10, blkmerge <= 16 MiB;\n"
      "  -rerun rows (the outputs of the run before there, cat writing over its own): <= 1.00;\n"
      "  cold (inputs read from the disk): large-cold ratio <= 0.90 against cat,\n"
      "  large-cold-floor ratio <= 1.15 against four cats side by side to /dev/null;\n"
      "  -inspect rows (blkinspect --job against cat of the merged file and the inputs):\n"
      "  large ratio <= 1.5\n");
  fs::remove_all(dir, ec);
  if (!ok) std::fprintf(stderr, "merge_bench: a merged file was wrong\n");
  return ok ? 0 : 1;
}
