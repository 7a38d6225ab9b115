#include "tests/fixture.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "merge/coding.h"
#include "merge/name_hash.h"

namespace blkmerge::fixture {
namespace {

// splitmix64: fast, and the same bytes on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  void Fill(uint8_t* p, size_t n) {
    for (; n >= 8; p += 8, n -= 8) {
      const uint64_t v = Next();
      std::memcpy(p, &v, 8);
    }
    if (n > 0) {
      const uint64_t v = Next();
      std::memcpy(p, &v, n);
    }
  }

 private:
  uint64_t state_;
};

int32_t I32(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

}  // namespace

uint64_t SecondTableOffset(const Shape& s) {
  return 136 + 16 * static_cast<uint64_t>(s.n) + 16 * static_cast<uint64_t>(s.m);
}

uint64_t TailOffset(const Shape& s) {
  return SecondTableOffset(s) + 16 * static_cast<uint64_t>(s.k);
}

Bytes MakeInput(const Shape& s) {
  Bytes b(TailOffset(s) + 20 + s.extra);
  Random(s.seed).Fill(b.data(), b.size());
  PutLE32(b, input::kLtail, static_cast<uint32_t>(TailOffset(s) - input::kLtailBase));
  PutLE32(b, input::kLtable, static_cast<uint32_t>(SecondTableOffset(s) - input::kLtable));
  SetN(b, s.n);
  SetM(b, s.m);
  return b;
}

void PutLE32(Bytes& bytes, uint64_t offset, uint32_t value) {
  StoreLE32(&bytes.at(offset + 3) - 3, value);
}

uint32_t GetLE32(const Bytes& bytes, uint64_t offset) {
  return LoadLE32(&bytes.at(offset + 3) - 3);
}

void SetM(Bytes& b, int32_t v) {
  PutLE32(b, 132 + 16 * static_cast<uint64_t>(I32(GetLE32(b, input::kN))),
          static_cast<uint32_t>(v));
}

bool RewriteReadsInside(const Bytes& in) {
  const auto size = static_cast<int64_t>(in.size());
  if (size < 120) return false;
  const int64_t n = I32(GetLE32(in, 116));
  if (n < 0 || 132 + 16 * n + 4 > size) return false;
  const int64_t p = I32(static_cast<uint64_t>(I32(GetLE32(in, 88)) + int64_t{56}));
  const int64_t q = I32(static_cast<uint64_t>(I32(GetLE32(in, 104)) + int64_t{104}));
  const int64_t k = I32(static_cast<uint64_t>(p - q)) / 16;
  if (q < 0 || q > size) return false;
  return q + 16 * std::max<int64_t>(k, 0) + 20 <= size;
}

Bytes ExpectedBlock(const Bytes& in, std::string_view alias, const Numbers& nums) {
  // Straight from the block table, in 64-bit arithmetic cut to 32 bits.
  const int64_t ltail = I32(GetLE32(in, 88));
  const int64_t ltable = I32(GetLE32(in, 104));
  const int64_t n = I32(GetLE32(in, 116));
  const int64_t m = I32(GetLE32(in, static_cast<uint64_t>(132 + 16 * n)));
  const int64_t p = I32(static_cast<uint64_t>(ltail + 56));
  const int64_t q = I32(static_cast<uint64_t>(ltable + 104));
  const int64_t d = I32(static_cast<uint64_t>(16 * m + 16));
  const int64_t k = I32(static_cast<uint64_t>(p - q)) / 16;
  const uint64_t k16 = k > 0 ? static_cast<uint64_t>(16 * k) : 0;
  const uint32_t h = NameHash(alias);

  // Filled front to back; a short block leaves zeros the tests would see.
  Bytes out(148 + static_cast<uint64_t>(16 * n) + k16);
  size_t pos = 0;
  auto put = [&out, &pos](uint8_t byte) { out.at(pos++) = byte; };
  auto word = [&put](int64_t v) {
    const auto u = static_cast<uint32_t>(static_cast<uint64_t>(v));
    for (int i = 0; i < 4; ++i) put(static_cast<uint8_t>(u >> (8 * i)));
  };
  auto real = [&word](float f) { word(std::bit_cast<uint32_t>(f)); };
  auto copy = [&out, &pos, &in](uint64_t from, uint64_t length) {
    if (length == 0) return;
    if (pos + length > out.size() || from + length > in.size()) throw std::out_of_range("copy");
    std::memcpy(out.data() + pos, in.data() + from, length);
    pos += length;
  };
  word(h);
  copy(12, 40);
  word(p - d - 28);
  copy(56, 12);
  real(nums.num2);
  real(nums.num3);
  real(nums.num4);
  real(nums.num1);
  copy(84, 1);
  const auto r = static_cast<uint32_t>(static_cast<uint64_t>(p - d - 28));
  for (int i = 0; i < 3; ++i) put(static_cast<uint8_t>(r >> (8 * i)));
  word(ltail - d);
  copy(92, 12);
  word(ltable - d);
  word(h);
  copy(112, 8);
  copy(120, static_cast<uint64_t>(16 * n));
  for (uint64_t e = 0; e < k16; e += 16) {
    copy(static_cast<uint64_t>(q) + e, 12);
    word(h);
  }
  word(0);
  word(104 + d - p);
  copy(static_cast<uint64_t>(q) + k16 + 8, 12);
  real(nums.num1);
  word(0x00421337);
  for (const char c : {'h', 'p', 'i', 'd'}) put(static_cast<uint8_t>(c));
  word(0);
  if (pos != out.size()) throw std::logic_error("block length");
  return out;
}

Bytes ExpectedMerged(const std::vector<Bytes>& inputs, const std::vector<std::string>& aliases,
                     const Numbers& numbers) {
  Bytes out(kMergedHeader.begin(), kMergedHeader.end());
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Bytes block = ExpectedBlock(inputs[i], aliases[i], numbers);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

Bytes ConsFixRecord(const std::string& first, const std::string& alias) {
  Bytes r(176, 0);
  std::copy(first.begin(), first.end(), r.begin());
  std::copy(alias.begin(), alias.end(), r.begin() + 64);
  for (const size_t at : {size_t{140}, size_t{156}, size_t{172}}) {
    r[at + 2] = 0x80;
    r[at + 3] = 0x3F;
  }
  return r;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace blkmerge::fixture
