#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "inspect/report.h"

namespace blkmerge::inspect {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0: no
// overlong forms, no surrogates, nothing past U+10FFFF.
size_t SequenceLength(std::string_view s) {
  const auto byte = [&s](size_t i) { return static_cast<uint8_t>(s[i]); };
  if (byte(0) < 0x80) return 1;
  const size_t length = byte(0) >= 0xF0 ? 4 : byte(0) >= 0xE0 ? 3 : 2;
  if (byte(0) < 0xC2 || byte(0) > 0xF4 || s.size() < length) return 0;
  uint32_t code = byte(0) & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < kLeast[length] || code > 0x10FFFF || surrogate ? 0 : length;
}

std::string Entries(const std::optional<int64_t>& n, const char* unknown) {
  return n ? Dec(*n) : unknown;
}

// A block's line; a planned block's names its pair's input and alias.
std::string Line(const BlockReport& b, const Pair* pair = nullptr) {
  return "block " + Dec(b.index) + " at " + Dec(b.offset) + ": length " + Dec(b.length) +
         ", hash " + Hex(b.hash) + ", N " + Entries(b.n, "?") + (b.m ? ", M " + Dec(*b.m) : "") +
         ", K " + Entries(b.k, "?") + ", num1 " + Float(b.numbers.num1) + ", num2 " +
         Float(b.numbers.num2) + ", num3 " + Float(b.numbers.num3) + ", num4 " +
         Float(b.numbers.num4) +
         (pair != nullptr ? ", input " + Quote(pair->input) + ", alias " + Quote(pair->alias) : "");
}

std::string Line(const RecordReport& r) {
  return "record " + Dec(r.index) + " at " + Dec(r.offset) + ": " + Quote(r.first) + " " +
         Quote(r.second);
}

template <typename Item>
std::string Text(const FileReport& file, const std::vector<Item>& items, const std::string& noun) {
  std::string out;
  for (const Item& item : items) {
    out += Line(item) + "\n";
    for (const Finding& f : item.findings) out += file.name + ": " + Describe(f, noun) + "\n";
  }
  for (const Finding& f : file.findings) out += file.name + ": " + Describe(f, noun) + "\n";
  if (file.unlisted > 0)
    out += file.name + ": " + Count(file.unlisted, "more failed check") + " not listed\n";
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

std::string JsonStrings(const std::vector<std::string>& texts) {
  std::string s = "[";
  for (const std::string& text : texts) {
    if (s.size() > 1) s += ',';
    s += JsonString(text);
  }
  return s + "]";
}

std::string Json(const BlockReport& b, const Pair* pair = nullptr) {
  return "{\"index\":" + Dec(b.index) +
         (pair != nullptr
              ? ",\"input\":" + JsonString(pair->input) + ",\"alias\":" + JsonString(pair->alias)
              : "") +
         ",\"offset\":" + Dec(b.offset) + ",\"length\":" + Dec(b.length) + ",\"hash\":\"" +
         Hex(b.hash) + "\",\"n\":" + Entries(b.n, "null") + (b.m ? ",\"m\":" + Dec(*b.m) : "") +
         ",\"k\":" + Entries(b.k, "null") + ",\"num1\":" + JsonFloat(b.numbers.num1) +
         ",\"num2\":" + JsonFloat(b.numbers.num2) + ",\"num3\":" + JsonFloat(b.numbers.num3) +
         ",\"num4\":" + JsonFloat(b.numbers.num4) + ",\"failures\":" + Json(b.findings, "block") +
         "}";
}

std::string Json(const RecordReport& r) {
  return "{\"index\":" + Dec(r.index) + ",\"offset\":" + Dec(r.offset) +
         ",\"first\":" + JsonString(r.first) + ",\"first_hex\":" + JsonHex(r.first) +
         ",\"second\":" + JsonString(r.second) + ",\"second_hex\":" + JsonHex(r.second) +
         ",\"failures\":" + Json(r.findings, "record") + "}";
}

// A JSON array of `items`, each as `json` writes it, one to a line.
template <typename Item, typename Write>
std::string Json(const std::vector<Item>& items, Write json) {
  std::string s = "[";
  for (size_t i = 0; i < items.size(); ++i) s += (i == 0 ? "\n" : ",\n") + json(items[i]);
  return s + "\n]";
}

template <typename Item>
std::string Json(const std::vector<Item>& items) {
  return Json(items, [](const Item& item) { return Json(item); });
}

std::string Json(const Plan& p, const RefusedInput& r) {
  const Pair& pair = p.job.pairs[r.pair];
  return "{\"pair\":" + Dec(static_cast<uint64_t>(r.pair)) +
         ",\"input\":" + JsonString(pair.input) + ",\"alias\":" + JsonString(pair.alias) +
         ",\"line\":" + Dec(pair.where.line) + ",\"column\":" + Dec(pair.where.column) +
         ",\"message\":" + JsonString(r.failure.message) +
         ",\"detail\":" + JsonString(r.failure.detail) + "}";
}

template <typename Item>
std::string Json(const FileReport& file, const std::vector<Item>& items, const std::string& noun) {
  return "{\"file\":" + JsonString(file.name) + ",\"size\":" + Dec(file.size) + ",\"" + noun +
         "s\":" + Json(items) + ",\"failures\":" + Json(file.findings, noun) +
         ",\"unlisted\":" + Dec(file.unlisted) + "}";
}

}  // namespace

std::string Hex(int64_t v, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits,
                static_cast<unsigned>(static_cast<uint32_t>(v)));
  return text;
}

std::string Float(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string FloatBits(int64_t bits) {
  return Float(std::bit_cast<float>(static_cast<uint32_t>(bits)));
}

std::string JsonString(std::string_view bytes) {
  std::string valid;
  while (!bytes.empty()) {
    const size_t length = SequenceLength(bytes);
    valid.append(length == 0 ? std::string_view("\xEF\xBF\xBD") : bytes.substr(0, length));
    bytes.remove_prefix(length == 0 ? 1 : length);
  }
  return Quote(valid, "\\u%04x");
}

std::string JsonHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) out += {kDigits[static_cast<uint8_t>(c) >> 4], kDigits[c & 15]};
  return out + '"';
}

std::string JsonFloat(float value) {
  if (std::isnan(value)) return "\"NaN\"";
  if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  return Float(value);
}

std::string Describe(const Finding& f, const std::string& noun) {
  if (f.index < 0) return "offset " + Dec(f.start) + ": " + f.text;
  std::string where = noun + " " + Dec(f.index) + " (offset " + Dec(f.start) + ")";
  if (f.at)
    where += ", " + noun + " offset " + Dec(*f.at) + " (file offset " + Dec(f.Offset()) + ")";
  return where + ": " + f.text;
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

std::string RenderPlanText(const Plan& p) {
  std::string out;
  if (p.job_read) {
    out += "merged file " + Quote(p.job.merged_name) + ", cons_fix file " +
           Quote(p.job.cons_fix_name) + "\n";
  }
  for (const BlockReport& b : p.blocks) out += Line(b, &p.job.pairs[b.index]) + "\n";
  for (const RefusedInput& r : p.refused) out += r.failure.detail + "\n";
  if (p.failure) return out + p.failure.message + "\n";
  return out + p.job.merged_name + ": " + Count(p.merged_size, "byte") + " in " +
         Count(p.blocks.size(), "block") + "; " + p.job.cons_fix_name + ": " +
         Count(p.cons_fix_size, "byte") + " in " + Count(p.records, "record") + "\n";
}

std::string RenderPlanJson(const Plan& p) {
  const auto size = [&p](uint64_t n) { return p.failure ? std::string("null") : Dec(n); };
  const auto name = [&p](const std::string& n) {
    return p.job_read ? JsonString(n) : std::string("null");
  };
  return "{\"job\":" + JsonString(p.job_file) + ",\"merged\":" + name(p.job.merged_name) +
         ",\"cons_fix\":" + name(p.job.cons_fix_name) + ",\"blocks\":" +
         Json(p.blocks, [&p](const BlockReport& b) { return Json(b, &p.job.pairs[b.index]); }) +
         ",\"refused_inputs\":" +
         Json(p.refused, [&p](const RefusedInput& r) { return Json(p, r); }) +
         ",\"merged_size\":" + size(p.merged_size) + ",\"cons_fix_size\":" + size(p.cons_fix_size) +
         ",\"records\":" + size(p.records) +
         ",\"message\":" + (p.failure ? JsonString(p.failure.message) : "null") +
         ",\"warnings\":" + JsonStrings(p.warnings) + ",\"ok\":" + (p.failure ? "false" : "true") +
         "}\n";
}

}  // namespace blkmerge::inspect
