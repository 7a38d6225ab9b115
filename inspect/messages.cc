#include "inspect/messages.h"

#include <bit>
#include <charconv>
#include <cstdio>

namespace blkmerge::inspect::message {
namespace {

std::string Dec(int64_t v) { return std::to_string(v); }
std::string Dec(uint64_t v) { return std::to_string(v); }

// "1 block", "2 blocks".
std::string Count(int64_t n, const std::string& noun) {
  return Dec(n) + " " + noun + (n == 1 ? "" : "s");
}
std::string ByteCount(int64_t n) { return Count(n, "byte"); }

std::string Hex(int64_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(v)));
  return text;
}

std::string HexByte(int64_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(static_cast<uint8_t>(v)));
  return text;
}

std::string FloatOfBits(int64_t bits) {
  return Float(std::bit_cast<float>(static_cast<uint32_t>(bits)));
}

std::string Tag(int64_t bits) {
  std::string text(4, '\0');
  for (int i = 0; i < 4; ++i)
    text[static_cast<size_t>(i)] = static_cast<char>(static_cast<uint64_t>(bits) >> (8 * i));
  return Quote(text);
}

// "is X, expected Y" for offsets and counts.
std::string IsExpected(const Finding& f) {
  return "is " + Dec(f.found) + ", expected " + Dec(f.expected);
}

std::string JobNumberName(uint64_t at) {
  switch (at) {
    case 60: return "num2";
    case 64: return "num3";
    case 68: return "num4";
    case 72: return "num1";
    default: return "num1 in the trailer";
  }
}

bool HasPlaceInBlock(Check check) {
  return check != Check::kBlockTooShort && check != Check::kReadFailed;
}

std::string Where(const Finding& f) {
  if (f.index < 0) return "offset " + Dec(f.offset);
  const uint64_t start = f.offset - f.at;
  if (FileOf(f.check) == FileKind::kConsFix) {
    return "record " + Dec(f.index) + " (offset " + Dec(start) + "), record offset " + Dec(f.at) +
           " (file offset " + Dec(f.offset) + ")";
  }
  std::string where = "block " + Dec(f.index) + " (offset " + Dec(start) + ")";
  if (HasPlaceInBlock(f.check))
    where += ", block offset " + Dec(f.at) + " (file offset " + Dec(f.offset) + ")";
  return where;
}

std::string What(const Finding& f) {
  switch (f.check) {
    case Check::kShortHeader:
      return "the file is " + ByteCount(f.found) + " long, too short for the 8-byte header";
    case Check::kHeader: return "the file does not start with \"vers\" and the float 2.0";
    case Check::kReadFailed: return "could not read " + ByteCount(f.found);
    case Check::kBlockTooShort:
      return "only " + ByteCount(f.found) + " left, too few for a block (at least " +
             Dec(f.expected) + ")";
    case Check::kNoBlockEnd:
      return "the word at block offset 80 (" + Dec(f.found) + ") and the word at 44 (" +
             Dec(f.expected) + ") both put the block's end outside the file; the walk stops here";
    case Check::kHash:
      return "hash is " + Hex(f.found) + ", expected the block's hash " + Hex(f.expected);
    case Check::kTailRef:
      return "tail reference " + IsExpected(f) +
             ": counted from block offset 48 it must land on \"hpid\"";
    case Check::kTailRef24:
      return "the three bytes hold " + Dec(f.found) + ", expected " + Dec(f.expected) +
             ": the low 24 bits of the tail reference";
    case Check::kLtail:
      return "tail offset " + IsExpected(f) +
             ": counted from block offset 48 it must land on the first tail word at block offset " +
             Dec(f.expected + 48);
    case Check::kLtable:
      return "table offset " + IsExpected(f) +
             ": counted from block offset 96 it must land on the second table at block offset " +
             Dec(f.expected + 96);
    case Check::kFirstCount:
      return "first-table count " + IsExpected(f) +
             ": the first table ends where the second table starts";
    case Check::kNoSecondTable:
      return "neither the table offset (" + Dec(f.found) +
             ") nor the first-table count at block offset 108 (" + Dec(f.expected) +
             ") places the second table inside the block";
    case Check::kEntryHash:
      return "second-table entry hash is " + Hex(f.found) + ", expected the block's hash " +
             Hex(f.expected);
    case Check::kMoreEntryHashes:
      return Dec(f.found) + " more second-table entries carry another hash";
    case Check::kTailZero: return "first tail word is " + Dec(f.found) + ", expected 0";
    case Check::kBackRef:
      return "back offset " + IsExpected(f) +
             ": counted from the first tail word it must land on block offset 96";
    case Check::kTrailerNum1:
      return "num1 in the trailer is " + FloatOfBits(f.found) +
             ", but num1 at block offset 72 is " + FloatOfBits(f.expected);
    case Check::kTrailerMarker:
      return "trailer marker is " + Hex(f.found) + ", expected " + Hex(f.expected);
    case Check::kTrailerTag: return "trailer tag is " + Tag(f.found) + ", expected \"hpid\"";
    case Check::kTrailerZero: return "last trailer word is " + Dec(f.found) + ", expected 0";
    case Check::kPartialRecord:
      return "the file ends with " + ByteCount(f.found) + ", not a whole " + Dec(f.expected) +
             "-byte record";
    case Check::kNamePadding:
      return "byte " + HexByte(f.found) + " after the end of the " +
             (f.at < 64 ? "first" : "second") + " name: the field must be padded with zero bytes";
    case Check::kMatrix: {
      const uint64_t i = (f.at - 140) / 4;
      return "matrix entry (" + Dec(i / 3) + ", " + Dec(i % 3) + ") is " + FloatOfBits(f.found) +
             " (" + Hex(f.found) + "), expected " + FloatOfBits(f.expected);
    }
    case Check::kFirstNameDiffers:
      return "first name " + Quote(f.found_name) + " differs from " + Quote(f.expected_name) +
             ", the first name of record 0";
    case Check::kBlockCount:
      return "the file holds " + Count(f.found, "block") + ", the job lists " +
             Count(f.expected, "pair");
    case Check::kAliasHash:
      return "block hash is " + Hex(f.found) + ", expected " + Hex(f.expected) +
             ", the hash of alias " + Quote(f.expected_name);
    case Check::kJobNumber:
      return JobNumberName(f.at) + " is " + FloatOfBits(f.found) + ", the job says " +
             FloatOfBits(f.expected);
    case Check::kRecordCount:
      return "the file holds " + Count(f.found, "record") + ", the job's pairs need " +
             Dec(f.expected);
    case Check::kRecordFirstAlias:
      return "first name is " + Quote(f.found_name) + ", the job's first alias is " +
             Quote(f.expected_name);
    case Check::kRecordAlias:
      return "second name is " + Quote(f.found_name) + ", the alias of pair " + Dec(f.found) +
             " is " + Quote(f.expected_name);
  }
  return {};
}

}  // namespace

std::string CouldNotOpen(std::string_view name) {
  return "blkinspect: could not open " + std::string(name);
}

std::string NotARegularFile(std::string_view name) {
  return "blkinspect: " + std::string(name) + " is not a regular file";
}

std::string BadJob(std::string_view job_file, std::string_view problem) {
  return "blkinspect: job file " + std::string(job_file) +
         " cannot be used: " + std::string(problem);
}

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string Float(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string Describe(const Finding& finding) { return Where(finding) + ": " + What(finding); }

std::string_view CheckName(Check check) {
  switch (check) {
    case Check::kShortHeader: return "short_header";
    case Check::kHeader: return "header";
    case Check::kReadFailed: return "read_failed";
    case Check::kBlockTooShort: return "block_too_short";
    case Check::kNoBlockEnd: return "no_block_end";
    case Check::kHash: return "hash";
    case Check::kTailRef: return "tail_reference";
    case Check::kTailRef24: return "tail_reference_24";
    case Check::kLtail: return "tail_offset";
    case Check::kLtable: return "table_offset";
    case Check::kFirstCount: return "first_table_count";
    case Check::kNoSecondTable: return "no_second_table";
    case Check::kEntryHash: return "entry_hash";
    case Check::kMoreEntryHashes: return "more_entry_hashes";
    case Check::kTailZero: return "tail_zero";
    case Check::kBackRef: return "back_offset";
    case Check::kTrailerNum1: return "trailer_num1";
    case Check::kTrailerMarker: return "trailer_marker";
    case Check::kTrailerTag: return "trailer_tag";
    case Check::kTrailerZero: return "trailer_zero";
    case Check::kPartialRecord: return "partial_record";
    case Check::kNamePadding: return "name_padding";
    case Check::kMatrix: return "matrix";
    case Check::kFirstNameDiffers: return "first_name_differs";
    case Check::kBlockCount: return "job_block_count";
    case Check::kAliasHash: return "job_alias_hash";
    case Check::kJobNumber: return "job_number";
    case Check::kRecordCount: return "job_record_count";
    case Check::kRecordFirstAlias: return "job_first_alias";
    case Check::kRecordAlias: return "job_alias";
  }
  return "unknown";
}

std::string BlockLine(const BlockReport& b) {
  const auto count = [](const std::optional<int64_t>& v) { return v ? Dec(*v) : std::string("?"); };
  return "block " + Dec(b.index) + " at " + Dec(b.offset) + ": length " + Dec(b.length) +
         ", hash " + Hex(b.hash) + ", N " + count(b.n) + ", K " + count(b.k) + ", num1 " +
         Float(b.numbers.num1) + ", num2 " + Float(b.numbers.num2) + ", num3 " +
         Float(b.numbers.num3) + ", num4 " + Float(b.numbers.num4);
}

std::string RecordLine(const RecordReport& r) {
  return "record " + Dec(r.index) + " at " + Dec(r.offset) + ": " + Quote(r.first) + " " +
         Quote(r.second);
}

std::string Summary(uint64_t blocks, bool with_cons_fix, uint64_t records, uint64_t failures) {
  std::string text = Dec(blocks) + (blocks == 1 ? " block" : " blocks");
  if (with_cons_fix) text += ", " + Dec(records) + (records == 1 ? " record" : " records");
  if (failures == 0) return text + ": all checks hold";
  return text + ": " + Dec(failures) + (failures == 1 ? " check failed" : " checks failed");
}

}  // namespace blkmerge::inspect::message
