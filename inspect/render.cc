#include "inspect/render.h"

#include <cstdio>
#include <vector>

#include "inspect/json.h"
#include "inspect/messages.h"

namespace blkmerge::inspect {
namespace {

class TextRenderer final : public Renderer {
 public:
  explicit TextRenderer(Output& out) : out_(out) {}

  void BeginMerged(std::string_view name, uint64_t) override { file_ = name; }
  void EndMerged() override {}
  void BeginConsFix(std::string_view name, uint64_t) override { file_ = name; }
  void EndConsFix() override {}

  void Block(const BlockReport& b) override {
    Line(message::BlockLine(b));
    for (const Finding& f : b.findings) FileFinding(f);
  }
  void Record(const RecordReport& r) override {
    Line(message::RecordLine(r));
    for (const Finding& f : r.findings) FileFinding(f);
  }
  void FileFinding(const Finding& f) override { Line(file_ + ": " + message::Describe(f)); }

  void Finish(const std::optional<std::string>&, uint64_t blocks, std::optional<uint64_t> records,
              uint64_t failures) override {
    Line(message::Summary(blocks, records.has_value(), records.value_or(0), failures));
  }

 private:
  void Line(std::string text) {
    text += '\n';
    out_.Write(text);
  }

  Output& out_;
  std::string file_;
};

std::string Number(uint64_t v) { return std::to_string(v); }
std::string Number(int64_t v) { return std::to_string(v); }

std::string FindingJson(const Finding& f) {
  const bool record = FileOf(f.check) == FileKind::kConsFix;
  std::string s = "{\"check\":\"" + std::string(message::CheckName(f.check)) + "\"";
  if (f.index >= 0) {
    s += record ? ",\"record\":" : ",\"block\":";
    s += Number(f.index);
    s += record ? ",\"record_offset\":" : ",\"block_offset\":";
    s += Number(f.at);
  }
  s += ",\"offset\":" + Number(f.offset);
  s += ",\"message\":" + json::String(message::Describe(f)) + "}";
  return s;
}

std::string FindingsJson(const std::vector<Finding>& findings) {
  std::string s = "[";
  for (size_t i = 0; i < findings.size(); ++i) {
    if (i > 0) s += ',';
    s += FindingJson(findings[i]);
  }
  return s + "]";
}

class JsonRenderer final : public Renderer {
 public:
  explicit JsonRenderer(Output& out) : out_(out) {}

  void BeginMerged(std::string_view name, uint64_t size) override {
    Begin("{\"merged\":", name, size, "blocks");
  }
  void EndMerged() override { End(); }
  void BeginConsFix(std::string_view name, uint64_t size) override {
    cons_fix_ = true;
    Begin(",\"cons_fix\":", name, size, "records");
  }
  void EndConsFix() override { End(); }

  void Block(const BlockReport& b) override {
    const auto count = [](const std::optional<int64_t>& v) {
      return v ? Number(*v) : std::string("null");
    };
    char hash[16];
    std::snprintf(hash, sizeof hash, "\"0x%08X\"", static_cast<unsigned>(b.hash));
    Item("{\"index\":" + Number(b.index) + ",\"offset\":" + Number(b.offset) + ",\"length\":" +
         Number(b.length) + ",\"hash\":" + hash + ",\"n\":" + count(b.n) + ",\"k\":" + count(b.k) +
         ",\"num1\":" + json::Float(b.numbers.num1) + ",\"num2\":" + json::Float(b.numbers.num2) +
         ",\"num3\":" + json::Float(b.numbers.num3) + ",\"num4\":" + json::Float(b.numbers.num4) +
         ",\"failures\":" + FindingsJson(b.findings) + "}");
  }
  void Record(const RecordReport& r) override {
    Item("{\"index\":" + Number(r.index) + ",\"offset\":" + Number(r.offset) +
         ",\"first\":" + json::String(r.first) + ",\"first_hex\":" + json::Hex(r.first) +
         ",\"second\":" + json::String(r.second) + ",\"second_hex\":" + json::Hex(r.second) +
         ",\"failures\":" + FindingsJson(r.findings) + "}");
  }
  // File-wide findings are few (the header, the end, the counts); they
  // wait for the end of the list of blocks or records.
  void FileFinding(const Finding& f) override { pending_.push_back(f); }

  void Finish(const std::optional<std::string>& job_file, uint64_t, std::optional<uint64_t>,
              uint64_t failures) override {
    std::string s;
    if (!cons_fix_) s += ",\"cons_fix\":null";
    s += ",\"job\":" + (job_file ? json::String(*job_file) : std::string("null"));
    s += ",\"failed_checks\":" + Number(failures);
    s += std::string(",\"ok\":") + (failures == 0 ? "true" : "false") + "}\n";
    out_.Write(s);
  }

 private:
  void Begin(std::string_view key, std::string_view name, uint64_t size, std::string_view list) {
    out_.Write(std::string(key) + "{\"file\":" + json::String(name) + ",\"size\":" + Number(size) +
               ",\"" + std::string(list) + "\":[\n");
    first_item_ = true;
    pending_.clear();
  }
  void Item(const std::string& item) {
    out_.Write((first_item_ ? "" : ",\n") + item);
    first_item_ = false;
  }
  void End() { out_.Write("\n],\"failures\":" + FindingsJson(pending_) + "}"); }

  Output& out_;
  bool first_item_ = true;
  bool cons_fix_ = false;
  std::vector<Finding> pending_;
};

}  // namespace

std::unique_ptr<Renderer> MakeTextRenderer(Output& out) {
  return std::make_unique<TextRenderer>(out);
}
std::unique_ptr<Renderer> MakeJsonRenderer(Output& out) {
  return std::make_unique<JsonRenderer>(out);
}

}  // namespace blkmerge::inspect
