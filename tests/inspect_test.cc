#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "consfix/cons_fix.h"
#include "inspect/deps.h"
#include "inspect/report.h"
#include "inspect/walk.h"
#include "merge/name_hash.h"
#include "tests/fixture.h"

namespace blkmerge::inspect {
namespace {

using fixture::Bytes;
using fixture::Shape;

const Numbers kNumbers{0.5F, 10.0F, 20.0F, 30.0F};

Job MakeJob(const std::vector<std::string>& aliases) {
  Job job;
  job.merged_name = "merged.out";
  job.cons_fix_name = "cons_fix.out";
  job.numbers = kNumbers;
  for (const std::string& alias : aliases) job.pairs.push_back({"in." + alias, alias, {}});
  return job;
}

// A merged file as blkmerge writes it, its blocks' offsets and the job.
struct Merged {
  Bytes bytes;
  std::vector<uint64_t> offsets;
  std::vector<Shape> shapes;
  std::vector<Bytes> inputs;
  Job job;
};

Merged MakeMerged(const std::vector<Shape>& shapes) {
  Merged m;
  std::vector<Bytes> inputs;
  std::vector<std::string> aliases;
  uint64_t offset = kMergedHeader.size();
  for (size_t i = 0; i < shapes.size(); ++i) {
    inputs.push_back(fixture::MakeInput(shapes[i]));
    aliases.push_back("alias" + std::to_string(i));
    m.offsets.push_back(offset);
    offset += 148 + 16 * static_cast<uint64_t>(shapes[i].n + shapes[i].k);
  }
  m.bytes = fixture::ExpectedMerged(inputs, aliases, kNumbers);
  m.shapes = shapes;
  m.inputs = inputs;
  m.job = MakeJob(aliases);
  return m;
}

// Every finding of the file, those of its blocks or records first; every
// failure must be listed or counted as unlisted.
template <typename Item>
std::vector<Finding> AllFindings(const FileReport& file, const std::vector<Item>& items) {
  std::vector<Finding> all;
  for (const Item& item : items) all.insert(all.end(), item.findings.begin(), item.findings.end());
  all.insert(all.end(), file.findings.begin(), file.findings.end());
  EXPECT_EQ(all.size() + file.unlisted, file.failures);
  return all;
}
std::vector<Finding> AllFindings(const MergedReport& r) { return AllFindings(r, r.blocks); }
std::vector<Finding> AllFindings(const ConsFixReport& r) { return AllFindings(r, r.records); }

MergedReport WalkBytes(const Bytes& bytes, const Job* job = nullptr) {
  MemorySource source(bytes);
  return WalkMerged(source, job);
}

ConsFixReport WalkRecords(const Bytes& bytes, const Job* job = nullptr) {
  MemorySource source(bytes);
  return WalkConsFix(source, job);
}

std::string Describe(const std::vector<Finding>& findings, const std::string& noun = "block") {
  std::string text;
  for (const Finding& f : findings) text += inspect::Describe(f, noun) + "\n";
  return text;
}
std::string Describe(const MergedReport& r) { return Describe(AllFindings(r)); }
std::string Describe(const ConsFixReport& r) { return Describe(AllFindings(r), "record"); }

std::string HexWord(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

void Flip(Bytes& b, uint64_t offset, int bit) { b.at(offset) ^= static_cast<uint8_t>(1u << bit); }

const std::vector<Shape> kShapes = {
    {.n = 1, .m = 1, .k = 2, .seed = 1}, {.n = 0, .m = 0, .k = 0, .seed = 2},
    {.n = 3, .m = 0, .k = 4, .seed = 3}, {.n = 0, .m = 2, .k = 1, .seed = 4, .extra = 9},
    {.n = 5, .m = 3, .k = 0, .seed = 5}, {.n = 2, .m = 7, .k = 9, .seed = 6, .extra = 100},
    {.n = 0, .m = 0, .k = 1, .seed = 7}, {.n = 1, .m = 0, .k = 0, .seed = 8},
};

TEST(MergedWalk, WellFormedBlocksOfManyShapesPass) {
  const Merged m = MakeMerged(kShapes);
  const MergedReport r = WalkBytes(m.bytes, &m.job);
  EXPECT_EQ(Describe(r), "");
  ASSERT_EQ(r.blocks.size(), kShapes.size());
  for (size_t i = 0; i < kShapes.size(); ++i) {
    const BlockReport& b = r.blocks[i];
    EXPECT_EQ(b.index, i);
    EXPECT_EQ(b.offset, m.offsets[i]);
    EXPECT_EQ(b.length, 148u + 16u * static_cast<uint64_t>(kShapes[i].n + kShapes[i].k));
    EXPECT_EQ(b.hash, NameHash(m.job.pairs[i].alias));
    EXPECT_EQ(b.n, kShapes[i].n);
    EXPECT_EQ(b.k, kShapes[i].k);
    EXPECT_EQ(b.numbers.num1, 0.5F);
    EXPECT_EQ(b.numbers.num2, 10.0F);
    EXPECT_EQ(b.numbers.num3, 20.0F);
    EXPECT_EQ(b.numbers.num4, 30.0F);
  }
}

TEST(MergedWalk, HeaderOnlyIsAnEmptyMergedFile) {
  const Bytes header(kMergedHeader.begin(), kMergedHeader.end());
  const MergedReport r = WalkBytes(header);
  EXPECT_TRUE(r.blocks.empty());
  EXPECT_EQ(Describe(r), "");
}

// The worked block: N = 1, K = 2, 196 bytes at file offset 8.
TEST(MergedWalk, MessagesNameTheBlockAndBothOffsets) {
  Merged m = MakeMerged({{.n = 1, .m = 1, .k = 2, .seed = 7}});
  fixture::PutLE32(m.bytes, 8 + 44, 141);
  fixture::PutLE32(m.bytes, 8 + 164, 0xFFFFFFC1);  // -63
  m.bytes[8 + 188] = 'H';
  EXPECT_EQ(
      Describe(WalkBytes(m.bytes)),
      "block 0 (offset 8), block offset 44 (file offset 52): tail reference is 141, expected 140: "
      "counted from block offset 48 it must land on \"hpid\"\n"
      "block 0 (offset 8), block offset 164 (file offset 172): back offset is -63, expected -64: "
      "counted from the first tail word it must land on block offset 96\n"
      "block 0 (offset 8), block offset 188 (file offset 196): trailer tag is \"Hpid\", expected "
      "\"hpid\"\n");
}

// Every word that ties a block together, as offsets from the block's start.
std::vector<uint64_t> TiedWords(const Shape& s) {
  const uint64_t t = 112 + 16 * static_cast<uint64_t>(s.n);  // second table
  const uint64_t tail = t + 16 * static_cast<uint64_t>(s.k);
  std::vector<uint64_t> words = {0, 44, 77, 78, 79, 80, 96, 100, 108};
  for (uint64_t e = 0; e < static_cast<uint64_t>(s.k); ++e) words.push_back(t + 16 * e + 12);
  for (const uint64_t at : {0u, 4u, 20u, 24u, 28u, 32u}) words.push_back(tail + at);
  return words;
}

TEST(MergedWalk, EveryTiedWordFlippedIsReportedInItsBlockAlone) {
  const Merged good = MakeMerged(kShapes);
  for (size_t i = 0; i < kShapes.size(); ++i) {
    for (const uint64_t at : TiedWords(kShapes[i])) {
      for (const int bit : {0, 4, 15, 31}) {
        // The 24-bit copy at 77 is flipped byte by byte.
        const uint64_t byte = at >= 77 && at <= 79 ? at : at + static_cast<uint64_t>(bit / 8);
        const uint64_t field = at >= 77 && at <= 79 ? 77 : at;
        Merged m = good;
        Flip(m.bytes, m.offsets[i] + byte, bit % 8);
        const MergedReport r = WalkBytes(m.bytes, &m.job);
        const std::vector<Finding> all = AllFindings(r);
        SCOPED_TRACE("block " + std::to_string(i) + " offset " + std::to_string(at) + " bit " +
                     std::to_string(bit) + "\n" + Describe(all));
        EXPECT_EQ(r.blocks.size(), kShapes.size());
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Finding& f) {
          return f.Offset() == m.offsets[i] + field && f.at == field;
        }));
        for (const Finding& f : all) EXPECT_EQ(f.index, static_cast<int64_t>(i));
      }
    }
  }
}

TEST(MergedWalk, CopiedBytesAreNotChecked) {
  const Merged good = MakeMerged(kShapes);
  for (size_t i = 0; i < kShapes.size(); ++i) {
    const uint64_t t = 112 + 16 * static_cast<uint64_t>(kShapes[i].n);
    const uint64_t tail = t + 16 * static_cast<uint64_t>(kShapes[i].k);
    std::vector<uint64_t> copied = {4, 43, 48, 59, 76, 84, 95, 104, 107, tail + 8, tail + 19};
    for (uint64_t at = 112; at < t; at += 5) copied.push_back(at);         // the first table
    for (uint64_t at = t; at < tail; at += 16) copied.push_back(at + 11);  // entry data
    for (const uint64_t at : copied) {
      Merged m = good;
      Flip(m.bytes, m.offsets[i] + at, 3);
      EXPECT_EQ(Describe(WalkBytes(m.bytes, &m.job)), "") << "block " << i << " offset " << at;
    }
  }
}

TEST(MergedWalk, EveryCutShortFileFailsUnlessItEndsBetweenBlocks) {
  const Merged m = MakeMerged({kShapes[0], kShapes[1], kShapes[2]});
  std::vector<uint64_t> ends = m.offsets;
  ends.push_back(m.bytes.size());
  for (uint64_t size = 0; size <= m.bytes.size(); ++size) {
    const Bytes cut(m.bytes.begin(), m.bytes.begin() + static_cast<std::ptrdiff_t>(size));
    const MergedReport r = WalkBytes(cut);
    const bool between = std::find(ends.begin(), ends.end(), size) != ends.end();
    EXPECT_EQ(AllFindings(r).empty(), between) << "size " << size;
  }
}

TEST(MergedWalk, JobNumbersHashesAndCountAreChecked) {
  const Merged m = MakeMerged({kShapes[0], kShapes[2]});
  Job other = m.job;
  other.numbers.num3 = 21.0F;
  std::swap(other.pairs[0], other.pairs[1]);
  other.pairs.push_back({"in.extra", "extra", {}});
  EXPECT_EQ(
      Describe(WalkBytes(m.bytes, &other)),
      "block 0 (offset 8), block offset 0 (file offset 8): block hash is " +
          HexWord(NameHash("alias0")) + ", expected " + HexWord(NameHash("alias1")) +
          ": the hash of alias \"alias1\"\n"
          "block 0 (offset 8), block offset 64 (file offset 72): num3 is 20, expected 21: the "
          "job's "
          "number\n"
          "block 1 (offset 204), block offset 0 (file offset 204): block hash is " +
          HexWord(NameHash("alias1")) + ", expected " + HexWord(NameHash("alias0")) +
          ": the hash of alias \"alias0\"\n"
          "block 1 (offset 204), block offset 64 (file offset 268): num3 is 20, expected 21: the "
          "job's number\n"
          "offset 464: the file holds 2 blocks, the job lists 3 pairs\n");
}

TEST(MergedWalk, ChangedNumbersAreFoundOnlyWithTheJob) {
  const Merged good = MakeMerged({kShapes[0]});
  for (const uint64_t at : {60u, 64u, 68u, 72u}) {
    Merged m = good;
    Flip(m.bytes, 8 + at, 2);
    const std::vector<Finding> with_job = AllFindings(WalkBytes(m.bytes, &m.job));
    EXPECT_TRUE(std::any_of(with_job.begin(), with_job.end(), [at](const Finding& f) {
      return f.check == "job_number" && f.Offset() == 8 + at;
    })) << at;
    // Without the job only num1, held twice, can show the change.
    EXPECT_EQ(AllFindings(WalkBytes(m.bytes)).empty(), at != 72) << at;
  }
}

TEST(MergedWalk, BadHeaderAndShortFile) {
  EXPECT_EQ(Describe(WalkBytes(Bytes{'v', 'e', 'r'})),
            "offset 0: the file is 3 bytes long, too short for the 8-byte header\n");
  Merged m = MakeMerged({kShapes[1]});
  m.bytes[7] = 0x3F;
  m.bytes.resize(m.bytes.size() + 100);
  EXPECT_EQ(Describe(WalkBytes(m.bytes)),
            "offset 0: the file does not start with \"vers\" and the float 2.0\n"
            "block 1 (offset 156): only 100 bytes left, too few for a block (at least 148)\n");
}

TEST(MergedWalk, LengthsOutsideTheFileStopTheWalk) {
  Merged m = MakeMerged({kShapes[0], kShapes[0]});
  fixture::PutLE32(m.bytes, m.offsets[1] + 80, 0x7FFFFFF0);
  fixture::PutLE32(m.bytes, m.offsets[1] + 44, 0x80000000);
  const MergedReport r = WalkBytes(m.bytes, &m.job);
  EXPECT_EQ(r.blocks.size(), 1u);
  EXPECT_EQ(Describe(r),
            "block 1 (offset 204), block offset 80 (file offset 284): the word at block offset 80 "
            "(2147483632) puts the block's end at block offset 2147483680, past the end of the "
            "file, and the word at 44 (-2147483648) at block offset -2147483628, before the front "
            "part ends at block offset 112; the walk stops here\n");
}

TEST(MergedWalk, AnyBytesEndWithoutOverrun) {
  for (const int fill : {0x00, 0x10, 0xFF}) {
    Bytes b(kMergedHeader.begin(), kMergedHeader.end());
    b.resize(5000, static_cast<uint8_t>(fill));
    EXPECT_FALSE(AllFindings(WalkBytes(b)).empty());
  }
}

// Remembers the largest read it served.
class CountingSource final : public Source {
 public:
  explicit CountingSource(const Bytes& bytes) : inner_(bytes) {}
  uint64_t Size() const override { return inner_.Size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    largest = std::max<uint64_t>(largest, out.size());
    return inner_.ReadAt(offset, out);
  }
  uint64_t largest = 0;

 private:
  MemorySource inner_;
};

TEST(MergedWalk, ReadsInBoundedPieces) {
  const Merged m = MakeMerged({{.n = 20000, .m = 1, .k = 30000, .seed = 3}});
  CountingSource source(m.bytes);
  const MergedReport r = WalkMerged(source, &m.job);
  EXPECT_EQ(r.failures, 0u);
  EXPECT_EQ(r.blocks.at(0).k, 30000);
  EXPECT_LE(source.largest, kReadChunk);
}

// A file that claims more bytes than it can give, as one that shrinks
// while it is read does, and whose reads over byte `bad` fail, as on a
// disk error.
class ShrunkSource final : public Source {
 public:
  ShrunkSource(const Bytes& bytes, uint64_t claimed, uint64_t bad = UINT64_MAX)
      : inner_(bytes), claimed_(claimed), bad_(bad) {}
  uint64_t Size() const override { return claimed_; }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    return (bad_ < offset || bad_ - offset >= out.size()) && inner_.ReadAt(offset, out);
  }

 private:
  MemorySource inner_;
  uint64_t claimed_;
  uint64_t bad_;
};

TEST(MergedWalk, AFailedReadStopsTheWalk) {
  const Merged m = MakeMerged({kShapes[0]});
  ShrunkSource source(m.bytes, m.bytes.size() + 1000);
  const MergedReport r = WalkMerged(source, nullptr);
  EXPECT_EQ(r.failures, 1u);
  EXPECT_TRUE(r.unreadable);
  EXPECT_EQ(r.blocks.size(), 1u);
  EXPECT_EQ(Describe(r), "block 1 (offset 204): could not read 112 bytes\n");
  // A second table that cannot be read is that one finding, not the
  // entries of bytes never read.
  const Merged table = MakeMerged({{.n = 0, .m = 0, .k = 40, .seed = 3}});
  ShrunkSource bad_sector(table.bytes, table.bytes.size(), 8 + 112 + 16 * 20);
  const MergedReport t = WalkMerged(bad_sector, nullptr);
  EXPECT_TRUE(t.unreadable);
  EXPECT_EQ(t.failures, 1u);
  EXPECT_EQ(Describe(t), "block 0 (offset 8): could not read 640 bytes\n");
}

TEST(MergedWalk, ManyWrongEntryHashesAreCounted) {
  Merged m = MakeMerged({{.n = 0, .m = 0, .k = 40, .seed = 3}});
  for (uint64_t e = 1; e < 40; ++e) Flip(m.bytes, 8 + 112 + 16 * e + 12, 0);
  Report report{WalkBytes(m.bytes), std::nullopt, std::nullopt};
  report.merged.name = "m";
  const std::vector<Finding> all = AllFindings(report.merged);
  ASSERT_EQ(all.size(), kMaxItemFindings);
  EXPECT_EQ(report.merged.unlisted, 23u);
  EXPECT_EQ(all.front().Offset(), 8u + 112 + 16 + 12);
  EXPECT_EQ(Describe({all.front()}),
            "block 0 (offset 8), block offset 140 (file offset 148): second-table entry hash is " +
                HexWord(NameHash("alias0") ^ 1) + ", expected " + HexWord(NameHash("alias0")) +
                ": the block's hash\n");
  const std::string text = RenderText(report);
  EXPECT_NE(text.find("\nm: 23 more failed checks not listed\n1 block: 39 checks failed\n"),
            std::string::npos)
      << text;
}

TEST(MergedWalk, EachEndWordSaysWhyItsEndCannotBeThere) {
  // Two blocks of 196 bytes: the first one's end words are changed, its
  // tail at block offset 160 and 400 - 8 bytes left from its start.
  const std::string words =
      "block 0 (offset 8), block offset 80 (file offset 88): the word at block offset 80 ";
  const std::string off_grid = "off the grid of whole 16-byte entries after block offset 112";
  const std::string before = "before the front part ends at block offset 112";
  struct Case {
    int32_t ltail;     // block offset 80: the end at ltail + 48
    int32_t tail_ref;  // block offset 44: the end at tail_ref + 20
    std::string text;
  };
  const std::vector<Case> cases = {
      // Both 4 bytes past the tail, inside the file.
      Case{112 + 4, 140 + 4, "(116) and the word at 44 (144) put the block's end " + off_grid},
      {0, 0, "(0) and the word at 44 (0) put the block's end " + before},
      {1000, 2000, "(1000) and the word at 44 (2000) put the block's end past the end of the file"},
      // Inside the file, but before the front part ends.
      {40, 140 + 4,
       "(40) puts the block's end at block offset 88, " + before +
           ", and the word at 44 (144) at block offset 164, " + off_grid},
      // 400 - 8 - 36 = 356 is the last place inside, but off the grid.
      {356 - 48 + 16, 356 - 20,
       "(324) puts the block's end at block offset 372, past the end of the file, and the "
       "word at 44 (336) at block offset 356, " +
           off_grid},
  };
  for (const Case& c : cases) {
    Merged m = MakeMerged({kShapes[0], kShapes[0]});
    fixture::PutLE32(m.bytes, 8 + 80, static_cast<uint32_t>(c.ltail));
    fixture::PutLE32(m.bytes, 8 + 44, static_cast<uint32_t>(c.tail_ref));
    const MergedReport r = WalkBytes(m.bytes);
    EXPECT_TRUE(r.blocks.empty()) << c.text;
    EXPECT_EQ(Describe(r), words + c.text + "; the walk stops here\n");
  }
}

// Verification: every block against the block its input gives now.

// Walks `m` with block i compared with what `inputs[i]` gives, as
// AgainstInputs does with the files; `merged` is read for both.
MergedReport VerifyWith(Source& merged, const Merged& m, const std::vector<Bytes>& inputs) {
  return WalkMerged(merged, &m.job, [&](BlockReport& block, MergedReport& r) {
    MemorySource input(inputs.at(block.index));
    return VerifyBlock(merged, input, m.job.pairs.at(block.index), m.job.numbers, block, r);
  });
}
MergedReport Verify(const Merged& m, const std::vector<Bytes>& inputs) {
  MemorySource merged(m.bytes);
  return VerifyWith(merged, m, inputs);
}

TEST(Verify, BlocksOfManyShapesAreWhatTheirInputsGive) {
  const Merged m = MakeMerged(kShapes);
  EXPECT_EQ(Describe(Verify(m, m.inputs)), "");
  // Bytes the rewrite never reads may change: the first 8, the dropped
  // section, what follows the tail.
  std::vector<Bytes> inputs = m.inputs;
  for (size_t i = 0; i < kShapes.size(); ++i) {
    Flip(inputs[i], 3, 0);
    Flip(inputs[i], 120 + 16 * static_cast<uint64_t>(kShapes[i].n) + 5, 1);
    inputs[i].push_back(0xAB);
  }
  EXPECT_EQ(Describe(Verify(m, inputs)), "");
}

// Block 1 of the file below: N = 3, K = 4 at file offset 204; its second
// table starts at block offset 160, its tail at 224, its trailer at 244.
TEST(Verify, AByteChangedInEachPartIsNamedByItsBlockOffset) {
  const Merged good = MakeMerged({kShapes[0], kShapes[2], kShapes[3]});
  const std::vector<std::pair<uint64_t, std::string>> copied = {
      {4, "the front part"},
      {50, "the front part"},
      {105, "the front part"},
      {112, "first-table entry 0"},
      {159, "first-table entry 2"},
      {160, "second-table entry 0"},
      {219, "second-table entry 3"},
      {232, "the tail"},
      {243, "the tail"},
  };
  for (const auto& [at, part] : copied) {
    Merged m = good;
    Flip(m.bytes, 204 + at, 6);
    EXPECT_EQ(Describe(Verify(m, m.inputs)),
              "block 1 (offset 204), block offset " + std::to_string(at) + " (file offset " +
                  std::to_string(204 + at) +
                  "): 1 byte differs from the block input \"in.alias1\" gives now, the first in " +
                  part + "\n");
  }
  // A tied word is a finding of the walk as well.
  Merged m = good;
  m.bytes[204 + 244 + 5] ^= 0x40;
  m.bytes[204 + 244 + 6] ^= 0x40;
  const std::string text = Describe(Verify(m, m.inputs));
  EXPECT_NE(text.find("block offset 249 (file offset 453): 2 bytes differ from the block input "
                      "\"in.alias1\" gives now, the first in the trailer\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("block offset 248 (file offset 452): trailer marker is"), std::string::npos)
      << text;
}

TEST(Verify, AChangedInputIsFoundAndADamagedOneSaidSo) {
  const Merged m = MakeMerged({kShapes[0], kShapes[2]});
  std::vector<Bytes> inputs = m.inputs;
  Flip(inputs[0], 120 + 3, 0);  // the first table, at block offset 112 in the block
  Flip(inputs[0], 120 + 5, 0);
  inputs[1].resize(100);
  EXPECT_EQ(Describe(Verify(m, inputs)),
            "block 0 (offset 8), block offset 115 (file offset 123): 2 bytes differ from the "
            "block input \"in.alias0\" gives now, the first in first-table entry 0\n"
            "block 1 (offset 204): input \"in.alias1\" is truncated or damaged: the front part "
            "at offset 0 ends past the end of the file (100 bytes)\n");
  // An input that has grown a first-table entry gives a longer block.
  inputs = m.inputs;
  inputs[1] = fixture::MakeInput({.n = 4, .m = 0, .k = 4, .seed = 3});
  const MergedReport r = Verify(m, inputs);
  const std::vector<Finding> all = AllFindings(r);
  ASSERT_EQ(all.size(), 1u) << Describe(all);
  EXPECT_EQ(all[0].check, "input_differs");
  EXPECT_NE(all[0].text.find("from the block input \"in.alias1\" gives now (276 bytes long, not "
                             "260), the first in "),
            std::string::npos)
      << all[0].text;
}

// An input that gives fewer bytes than its size said, where the head of
// the block is read or where a table is.
TEST(Verify, AnInputThatEndsEarlyIsSaidSo) {
  const Merged m = MakeMerged({kShapes[0]});
  MemorySource merged(m.bytes);
  for (const auto& [bad, part] : std::vector<std::pair<uint64_t, std::string>>{
           {0, "the front part at offset 0 (120 bytes)"},
           {125, "the first table at offset 120 (16 bytes)"},
       }) {
    ShrunkSource input(m.inputs[0], m.inputs[0].size(), bad);
    const MergedReport r = WalkMerged(merged, &m.job, [&](BlockReport& block, MergedReport& rr) {
      return VerifyBlock(merged, input, m.job.pairs[0], m.job.numbers, block, rr);
    });
    EXPECT_EQ(Describe(r),
              "block 0 (offset 8): input \"in.alias0\" is truncated or damaged: the file ended "
              "before " +
                  part + ", though it had 220 bytes when opened\n");
  }
}

// How a block's bytes are compared with its input's, not just whether.
TEST(Verify, CountsEveryDifferingByteInBoundedReads) {
  const Merged good = MakeMerged({{.n = 20000, .m = 1, .k = 30000, .seed = 3}});
  CountingSource source(good.bytes);
  EXPECT_EQ(Describe(VerifyWith(source, good, good.inputs)), "");
  EXPECT_LE(source.largest, kReadChunk);
  // Bytes far apart, and a whole second-table entry but its hash word.
  Merged m = good;
  for (const uint64_t at : {uint64_t{5000}, uint64_t{300000}, uint64_t{700000}}) {
    m.bytes[8 + at] ^= 0xFF;
  }
  for (uint64_t at = 0; at < 12; ++at) m.bytes[8 + 112 + 16 * 20000 + 16 * 29999 + at] ^= 0x01;
  const std::vector<Finding> all = AllFindings(Verify(m, m.inputs));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(Describe(all),
            "block 0 (offset 8), block offset 5000 (file offset 5008): 15 bytes differ from the "
            "block input \"in.alias0\" gives now, the first in first-table entry 305\n");
}

// Bounds: what one run writes, and how much of a hostile file is listed.

// A file of `size` zero bytes that is never held in memory, as a sparse
// file reads.
class ZeroSource final : public Source {
 public:
  explicit ZeroSource(uint64_t size) : size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) override {
    largest = std::max<uint64_t>(largest, out.size());
    std::fill(out.begin(), out.end(), uint8_t{0});
    return offset + out.size() <= size_;
  }
  uint64_t largest = 0;

 private:
  uint64_t size_;
};

TEST(Bounds, NoMoreBlocksThanOneRunWrites) {
  const Merged most = MakeMerged(std::vector<Shape>(kMaxPairs, {.n = 0, .m = 0, .k = 0}));
  EXPECT_EQ(Describe(WalkBytes(most.bytes, &most.job)), "");
  Merged more = MakeMerged(std::vector<Shape>(kMaxPairs + 1, {.n = 0, .m = 0, .k = 0}));
  more.job.pairs.pop_back();
  const MergedReport r = WalkBytes(more.bytes, &more.job);
  EXPECT_EQ(r.blocks.size(), kMaxPairs);
  // The walk stopped before the end: the block count is not compared.
  EXPECT_EQ(Describe(r), "block 100 (offset 14808): more blocks than any run writes\n");
}

TEST(Bounds, ASparseFileGivesAShortReportQuickly) {
  ZeroSource merged(uint64_t{10} << 30);
  ZeroSource records(uint64_t{10} << 30);
  Report report{WalkMerged(merged, nullptr), WalkConsFix(records, nullptr), std::nullopt};
  report.merged.name = "m";
  report.cons_fix->name = "c";
  EXPECT_EQ(Describe(report.merged),
            "offset 0: the file does not start with \"vers\" and the float 2.0\n"
            "block 0 (offset 8), block offset 80 (file offset 88): the word at block offset 80 (0) "
            "and the word at 44 (0) put the block's end before the front part ends at block "
            "offset 112; the walk stops here\n");
  const ConsFixReport& c = *report.cons_fix;
  EXPECT_EQ(c.records.size(), kMaxPairs - 1);
  EXPECT_EQ(c.failures, 3 * (kMaxPairs - 1) + 1);  // the matrix's diagonal, and the stop
  EXPECT_EQ(c.unlisted, c.failures - kMaxListedFindings - 1);
  EXPECT_EQ(Describe(c.findings, "record"),
            "record 99 (offset 17424): more records than any run writes\n");
  EXPECT_LE(std::max(merged.largest, records.largest), kReadChunk);
  const std::string text = RenderText(report);
  EXPECT_LT(text.size(), 40'000u);
  EXPECT_NE(text.find("\nc: 97 more failed checks not listed\n0 blocks, 99 records: 300 checks "
                      "failed\n"),
            std::string::npos);
  EXPECT_LT(RenderJson(report).size(), 60'000u);
}

TEST(Bounds, FindingsAreListedUpToTheCaps) {
  // 20 blocks of 40 entries, each with the wrong hash: 16 listed a block
  // until 200 are listed in all.
  constexpr uint64_t kBlocks = 20;
  constexpr int32_t kEntries = 40;
  Merged m = MakeMerged(std::vector<Shape>(kBlocks, {.n = 0, .m = 0, .k = kEntries}));
  for (const uint64_t offset : m.offsets) {
    for (uint64_t e = 0; e < kEntries; ++e) Flip(m.bytes, offset + 112 + 16 * e + 12, 0);
  }
  const MergedReport r = WalkBytes(m.bytes);
  ASSERT_EQ(r.blocks.size(), kBlocks);
  EXPECT_EQ(r.failures, kBlocks * kEntries);
  EXPECT_EQ(r.blocks[0].findings.size(), kMaxItemFindings);
  EXPECT_EQ(r.blocks[11].findings.size(), kMaxItemFindings);
  EXPECT_EQ(r.blocks[12].findings.size(), kMaxListedFindings - 12 * kMaxItemFindings);
  EXPECT_TRUE(r.blocks[13].findings.empty());
  EXPECT_EQ(r.unlisted, kBlocks * kEntries - kMaxListedFindings);
}

// cons_fix records.

// The cons_fix file for these aliases.
Bytes RecordsOf(const std::vector<std::string>& aliases) {
  return ConsFixRecords(MakeJob(aliases).Aliases());
}

TEST(ConsFixWalk, RecordsOfAWellFormedJobPass) {
  const std::string first(64, 'f');  // fills its field: no zero after it
  const std::string last(76, 'z');
  const Job job = MakeJob({first, "b", "c\x01\xff", last});
  const ConsFixReport r = WalkRecords(ConsFixRecords(job.Aliases()), &job);
  EXPECT_EQ(Describe(r), "");
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[0].first, first);
  EXPECT_EQ(r.records[0].second, "b");
  EXPECT_EQ(r.records[1].second, "c\x01\xff");
  EXPECT_EQ(r.records[2].second, last);
  EXPECT_EQ(r.records[2].offset, 352u);
  Report report{{}, r, std::nullopt};
  EXPECT_NE(RenderText(report).find("\nrecord 1 at 176: \"" + first + "\" \"c\\x01\xff\"\n"),
            std::string::npos);
}

TEST(ConsFixWalk, EveryMatrixValueFlippedIsReported) {
  const Bytes good = RecordsOf({"a", "b", "c"});
  for (uint64_t record = 0; record < 2; ++record) {
    for (uint64_t at = 140; at < 176; ++at) {
      Bytes b = good;
      Flip(b, 176 * record + at, 6);
      const std::vector<Finding> all = AllFindings(WalkRecords(b));
      ASSERT_EQ(all.size(), 1u) << at;
      EXPECT_EQ(all[0].check, "matrix");
      EXPECT_EQ(all[0].index, static_cast<int64_t>(record));
      EXPECT_EQ(all[0].Offset(), 176 * record + (at & ~uint64_t{3}));
    }
  }
  Bytes b = good;
  Flip(b, 176 + 156, 0);
  EXPECT_EQ(Describe(WalkRecords(b)),
            "record 1 (offset 176), record offset 156 (file offset 332): matrix entry (1, 1) is "
            "1.0000001 "
            "(0x3F800001), expected 1\n");
}

TEST(ConsFixWalk, PaddingNamesAndLength) {
  Bytes b = RecordsOf({"first", "second", "third"});
  b[10] = 'x';          // after "first"
  b[176 + 64 + 2] = 0;  // record 1's second name "third" becomes "th", a stray 'r' behind it
  b[176] = 'F';         // record 1 names another first alias
  b.resize(b.size() + 5);
  EXPECT_EQ(
      Describe(WalkRecords(b)),
      "record 0 (offset 0), record offset 10 (file offset 10): byte 0x78 after the end of the "
      "first name: "
      "the field must be padded with zero bytes\n"
      "record 1 (offset 176), record offset 67 (file offset 243): byte 0x72 after the end of the "
      "second name: the field must be padded with zero bytes\n"
      "record 1 (offset 176), record offset 0 (file offset 176): first name \"First\" differs from "
      "\"first\", the first name of record 0\n"
      "offset 352: the file ends with 5 bytes, not a whole 176-byte record\n");
}

TEST(ConsFixWalk, AgainstTheJob) {
  const Bytes b = RecordsOf({"first", "second", "third"});
  const Job job = MakeJob({"first", "second", "Third", "fourth"});
  EXPECT_EQ(Describe(WalkRecords(b, &job)),
            "record 1 (offset 176), record offset 64 (file offset 240): second name is \"third\", "
            "the alias of "
            "pair 3 is \"Third\"\n"
            "offset 352: the file holds 2 records, the job's pairs need 3\n");
  const Job one = MakeJob({"first"});
  EXPECT_EQ(Describe(WalkRecords({}, &one)), "");
  EXPECT_EQ(Describe(WalkRecords(b, &one)),
            "offset 352: the file holds 2 records, the job's pairs need 0\n");
  const Job renamed = MakeJob({"primo", "second", "third"});
  EXPECT_EQ(AllFindings(WalkRecords(b, &renamed)).size(), 2u);
  // Names that one byte more or less tells apart differ; a stray byte after
  // the job's own name is the padding's fault alone.
  const std::string record1 = "record 1 (offset 176), record offset ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"first", "second", "thirdx"},
       record1 +
           "64 (file offset 240): second name is \"third\", the alias of pair 3 is \"thirdx\"\n"},
      {{"first", "second", "thir"},
       record1 +
           "64 (file offset 240): second name is \"third\", the alias of pair 3 is \"thir\"\n"},
      {{"firs", "second", "third"},
       "record 0 (offset 0), record offset 0 (file offset 0): first name is \"first\", the job's "
       "first alias is \"firs\"\n" +
           record1 +
           "0 (file offset 176): first name is \"first\", the job's first alias is \"firs\"\n"},
  };
  for (const auto& [aliases, found] : cases) {
    const Job other = MakeJob(aliases);
    EXPECT_EQ(Describe(WalkRecords(b, &other)), found);
  }
  Bytes padded = b;
  padded[176 + 64 + 7] = 'x';
  const Job same = MakeJob({"first", "second", "third"});
  EXPECT_EQ(Describe(WalkRecords(padded, &same)),
            record1 +
                "71 (file offset 247): byte 0x78 after the end of the second name: the field "
                "must be padded with zero bytes\n");
}

// JSON text.

TEST(Json, StringsAreValidUtf8WithEveryOddByteEscaped) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString(std::string("a\x00\x01\x1f\x7f\"\\/", 8)),
            "\"a\\u0000\\u0001\\u001f\\u007f\\\"\\\\/\"");
  EXPECT_EQ(JsonString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  // A stray continuation byte, a lone lead byte, an overlong form, a
  // surrogate and a code point past U+10FFFF: each bad byte is U+FFFD.
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(JsonString("\x80"), "\"" + r + "\"");
  EXPECT_EQ(JsonString("x\xC3"), "\"x" + r + "\"");
  EXPECT_EQ(JsonString("\xC0\x80"), "\"" + r + r + "\"");
  EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"" + r + r + r + "\"");
  EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"" + r + r + r + r + "\"");
  EXPECT_EQ(JsonString("\xE0\x9F\xBF"), "\"" + r + r + r + "\"");
  // The last code points before the surrogates and of all.
  EXPECT_EQ(JsonString("\xED\x9F\xBF\xF4\x8F\xBF\xBF"), "\"\xED\x9F\xBF\xF4\x8F\xBF\xBF\"");
  EXPECT_EQ(JsonHex("a\x01\xff"), "\"6101ff\"");
}

TEST(Json, FloatsThatAreNoJsonNumbersBecomeStrings) {
  EXPECT_EQ(JsonFloat(0.5F), "0.5");
  EXPECT_EQ(JsonFloat(-1e30F), "-1e+30");
  EXPECT_EQ(JsonFloat(std::numeric_limits<float>::infinity()), "\"Infinity\"");
  EXPECT_EQ(JsonFloat(std::numeric_limits<float>::quiet_NaN()), "\"NaN\"");
}

// The report of both files, as the command line makes it.
Report ReportOf(const Bytes& merged, const Bytes& records, const std::string& merged_name,
                const std::string& records_name) {
  Report report{WalkBytes(merged), WalkRecords(records), std::nullopt};
  report.merged.name = merged_name;
  report.cons_fix->name = records_name;
  return report;
}

TEST(Render, TextListsBlocksRecordsAndFailures) {
  Merged m = MakeMerged({{.n = 1, .m = 1, .k = 2, .seed = 7}});
  m.bytes[8 + 77] ^= 1;
  const Bytes records = RecordsOf({"first", "se\ncond"});
  const std::string hash = HexWord(NameHash("alias0"));
  EXPECT_EQ(RenderText(ReportOf(m.bytes, records, "m.out", "c.out")),
            "block 0 at 8: length 196, hash " + hash +
                ", N 1, K 2, num1 0.5, num2 10, num3 20, num4 30\n"
                "m.out: block 0 (offset 8), block offset 77 (file offset 85): 24-bit tail "
                "reference is 141, expected 140: the low three bytes of the tail reference\n"
                "record 0 at 0: \"first\" \"se\\x0Acond\"\n"
                "1 block, 1 record: 1 check failed\n");
}

TEST(Render, JsonHoldsTheSameReport) {
  Bytes merged(kMergedHeader.begin(), kMergedHeader.end());
  merged.push_back(0);
  Bytes records = RecordsOf({"a", "\x01\xff"});
  records[148] = 1;
  Report report = ReportOf(merged, records, "m\"", "c");
  report.job = "j";
  EXPECT_EQ(
      RenderJson(report),
      "{\"merged\":{\"file\":\"m\\\"\",\"size\":9,\"blocks\":[\n"
      "],\"failures\":[{\"check\":\"block_too_short\",\"block\":0,\"offset\":8,"
      "\"message\":\"block 0 (offset 8): only 1 byte left, too few for a block (at least 148)\"}],"
      "\"unlisted\":0},"
      "\"cons_fix\":{\"file\":\"c\",\"size\":176,\"records\":[\n"
      "{\"index\":0,\"offset\":0,\"first\":\"a\",\"first_hex\":\"61\",\"second\":"
      "\"\\u0001\xEF\xBF\xBD\",\"second_hex\":\"01ff\",\"failures\":[{\"check\":\"matrix\","
      "\"record\":0,\"record_offset\":148,\"offset\":148,\"message\":\"record 0 (offset 0), "
      "record offset 148 (file offset 148): matrix entry (0, 2) is 1e-45 (0x00000001), expected "
      "0\"}]}\n"
      "],\"failures\":[],\"unlisted\":0},\"job\":\"j\",\"failed_checks\":2,\"ok\":false}\n");
}

TEST(Depfile, NamesAreWrittenSoEveryReaderReadsThemBack) {
  struct Row {
    std::string name;
    bool target;
    std::string text;     // as written, or
    std::string problem;  // why it cannot be
  };
  const std::vector<Row> rows = {
      {"in01.src", false, "in01.src", ""},
      {"sub/dir/x-1_2+3,4.src", false, "sub/dir/x-1_2+3,4.src", ""},
      {"\xC3\xA9t\xC3\xA9.src", false, "\xC3\xA9t\xC3\xA9.src", ""},
      {"my job.txt", false, "my\\ job.txt", ""},
      {"a#b", false, "a\\#b", ""},
      {"in$1.src", false, "in$$1.src", ""},
      {"out$.bin", true, "out$$.bin", ""},
      {"C:x", false, "C\\:x", ""},
      {"a\\b\\\\c", false, "a\\b\\\\c", ""},
      // Backslashes before a blank each stand for half of themselves.
      {"a\\ b", false, "a\\\\\\ b", ""},
      {"a%b", false, "a%b", ""},
      {"a(b", false, "a(b", ""},
      {"a[b", false, "a[b", ""},
      {"x~", false, "x~", ""},
      {"", false, "", "\"\": an empty name"},
      {"a&b", false, "", "\"a&b\": '&', at which Ninja ends a name"},
      {"a;b", false, "", "\"a;b\": ';', at which Ninja ends a name"},
      {"a\"b", false, "", "\"a\\\"b\": '\\\"', at which Ninja ends a name"},
      {"a\x1B", false, "", "\"a\\x1B\": '\\x1B', a control byte, which ends a name or a line"},
      {"my\tjob", false, "",
       "\"my\\x09job\": '\\x09', a control byte, which ends a name or a line"},
      {"a=b", false, "", "\"a=b\": '=', which makes Make read the line as a variable"},
      {"a%b", true, "", "\"a%b\": '%', which makes Make read the rule as a pattern"},
      {"a\\", false, "",
       "\"a\\\\\": a backslash before '#', ':', '$' or the end, which the "
       "readers undo differently"},
      {"a\\#", false, "",
       "\"a\\\\#\": a backslash before '#', ':', '$' or the end, which "
       "the readers undo differently"},
      {"a\\$b", false, "",
       "\"a\\\\$b\": a backslash before '#', ':', '$' or the end, which "
       "the readers undo differently"},
      {"a:", false, "", "\"a:\": a ':' at the end, which Ninja reads as the end of the targets"},
      {"lib(m.o)", false, "",
       "\"lib(m.o)\": a name ending in \"(...)\", which Make reads as an "
       "archive member"},
      {"a[12]", false, "", "\"a[12]\": \"[...]\", which Make reads as a wildcard"},
      {"~me", false, "", "\"~me\": a '~' at the start, which Make and CMake read as a home folder"},
  };
  for (const Row& row : rows) {
    const DepfileName name = ForDepfile(row.name, row.target);
    EXPECT_EQ(name.text, row.text) << row.name;
    EXPECT_EQ(name.problem, row.problem) << row.name;
  }
}

TEST(Depfile, TheRuleListsTheJobAndEachInputOnceInJobOrder) {
  Job job = MakeJob({"a", "b", "c", "d"});
  job.pairs[2].input = "in.a";
  job.pairs[3].input = "the job";
  EXPECT_EQ(MakeDepfile("the job", job).rule,
            "merged.out cons_fix.out: the\\ job \\\n  in.a \\\n  in.b\n");
  EXPECT_EQ(MakeDepfile("j", MakeJob({})).rule, "merged.out cons_fix.out: j\n");
  job.pairs[1].input = "in&b";
  const Depfile refused = MakeDepfile("the job", job);
  EXPECT_EQ(refused.rule, "");
  EXPECT_EQ(refused.problem, "\"in&b\": '&', at which Ninja ends a name");
  job.merged_name = "m%.out";
  EXPECT_EQ(MakeDepfile("j", job).problem,
            "\"m%.out\": '%', which makes Make read the rule as a pattern");
}

}  // namespace
}  // namespace blkmerge::inspect
