#include <vector>

#include "inspect/format.h"
#include "inspect/report.h"

namespace blkmerge::inspect {
namespace {

// "block 1 (offset 204), block offset 80 (file offset 284)", or
// "offset 8" for the file as a whole.
std::string Where(const Finding& f, const std::string& noun) {
  if (f.index < 0) return "offset " + Dec(f.start);
  std::string where = noun + " " + Dec(f.index) + " (offset " + Dec(f.start) + ")";
  if (f.at)
    where += ", " + noun + " offset " + Dec(*f.at) + " (file offset " + Dec(f.Offset()) + ")";
  return where;
}

std::string Entries(const std::optional<int64_t>& n, const char* unknown) {
  return n ? Dec(*n) : unknown;
}

std::string Line(const BlockReport& b) {
  return "block " + Dec(b.index) + " at " + Dec(b.offset) + ": length " + Dec(b.length) +
         ", hash " + Hex(b.hash) + ", N " + Entries(b.n, "?") + ", K " + Entries(b.k, "?") +
         ", num1 " + Float(b.numbers.num1) + ", num2 " + Float(b.numbers.num2) + ", num3 " +
         Float(b.numbers.num3) + ", num4 " + Float(b.numbers.num4);
}

std::string Line(const RecordReport& r) {
  return "record " + Dec(r.index) + " at " + Dec(r.offset) + ": " + Quote(r.first) + " " +
         Quote(r.second);
}

template <typename Item>
std::string Text(const FileReport& file, const std::vector<Item>& items, const std::string& noun) {
  std::string out;
  const auto finding = [&](const Finding& f) {
    out += file.name + ": " + Describe(f, noun) + "\n";
  };
  for (const Item& item : items) {
    out += Line(item) + "\n";
    for (const Finding& f : item.findings) finding(f);
  }
  for (const Finding& f : file.findings) finding(f);
  if (file.unlisted > 0) {
    out += file.name + ": " + Count(file.unlisted, "more failed check") + " not listed\n";
  }
  return out;
}

std::string Json(const std::vector<Finding>& findings, const std::string& noun) {
  std::string s = "[";
  for (const Finding& f : findings) {
    if (s.size() > 1) s += ',';
    s += "{\"check\":\"" + std::string(f.check) + "\"";
    if (f.index >= 0) s += ",\"" + noun + "\":" + Dec(f.index);
    if (f.at) s += ",\"" + noun + "_offset\":" + Dec(*f.at);
    s += ",\"offset\":" + Dec(f.Offset()) + ",\"message\":" + JsonString(Describe(f, noun)) + "}";
  }
  return s + "]";
}

std::string Json(const BlockReport& b) {
  return "{\"index\":" + Dec(b.index) + ",\"offset\":" + Dec(b.offset) +
         ",\"length\":" + Dec(b.length) + ",\"hash\":\"" + Hex(b.hash) +
         "\",\"n\":" + Entries(b.n, "null") + ",\"k\":" + Entries(b.k, "null") +
         ",\"num1\":" + JsonFloat(b.numbers.num1) + ",\"num2\":" + JsonFloat(b.numbers.num2) +
         ",\"num3\":" + JsonFloat(b.numbers.num3) + ",\"num4\":" + JsonFloat(b.numbers.num4) +
         ",\"failures\":" + Json(b.findings, "block") + "}";
}

std::string Json(const RecordReport& r) {
  return "{\"index\":" + Dec(r.index) + ",\"offset\":" + Dec(r.offset) +
         ",\"first\":" + JsonString(r.first) + ",\"first_hex\":" + JsonHex(r.first) +
         ",\"second\":" + JsonString(r.second) + ",\"second_hex\":" + JsonHex(r.second) +
         ",\"failures\":" + Json(r.findings, "record") + "}";
}

template <typename Item>
std::string Json(const FileReport& file, const std::vector<Item>& items, const std::string& noun) {
  std::string s =
      "{\"file\":" + JsonString(file.name) + ",\"size\":" + Dec(file.size) + ",\"" + noun + "s\":[";
  for (size_t i = 0; i < items.size(); ++i) s += (i == 0 ? "\n" : ",\n") + Json(items[i]);
  return s + "\n],\"failures\":" + Json(file.findings, noun) +
         ",\"unlisted\":" + Dec(file.unlisted) + "}";
}

}  // namespace

std::string Describe(const Finding& f, const std::string& noun) {
  return Where(f, noun) + ": " + f.text;
}

std::string RenderText(const Report& r) {
  std::string out = Text(r.merged, r.merged.blocks, "block");
  std::string summary = Count(r.merged.blocks.size(), "block");
  if (r.cons_fix) {
    out += Text(*r.cons_fix, r.cons_fix->records, "record");
    summary += ", " + Count(r.cons_fix->records.size(), "record");
  }
  const uint64_t failures = r.Failures();
  return out + summary +
         (failures == 0 ? ": all checks hold\n" : ": " + Count(failures, "check") + " failed\n");
}

std::string RenderJson(const Report& r) {
  return "{\"merged\":" + Json(r.merged, r.merged.blocks, "block") + ",\"cons_fix\":" +
         (r.cons_fix ? Json(*r.cons_fix, r.cons_fix->records, "record") : "null") +
         ",\"job\":" + (r.job ? JsonString(*r.job) : "null") +
         ",\"failed_checks\":" + Dec(r.Failures()) +
         ",\"ok\":" + (r.Failures() == 0 ? "true" : "false") + "}\n";
}

}  // namespace blkmerge::inspect
