// The shared vectors (tests/vectors/record.txt, format in README.md beside it),
// run through the C++ wrapper. Every case is read from the file at run time; a
// line this runner does not know fails, so nothing in the file goes unrun.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"
#include "tavbin.hpp"

namespace {

using Tokens = std::vector<std::string>;

struct Line {
  int number;
  Tokens call, want; // either side of "=>"; call alone for the other lines
};
struct Case {
  std::string name;
  std::vector<Line> lines;
};

std::vector<Case> load(const char *path) {
  std::ifstream in(path);
  std::vector<Case> cases;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    text = text.substr(0, text.find('#'));
    std::istringstream words(text);
    Line line{number, {}, {}};
    bool after = false;
    for (std::string w; words >> w;) {
      if (w == "=>")
        after = true;
      else
        (after ? line.want : line.call).push_back(w);
    }
    if (line.call.empty()) continue;
    if (line.call[0] == "case") {
      cases.push_back({text.substr(text.find("case") + 5), {}});
    } else if (!cases.empty()) {
      cases.back().lines.push_back(line);
    }
  }
  return cases;
}

tavbin_test::Bytes from_hex(const std::string &hex) {
  tavbin_test::Bytes b;
  for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
    b.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return b;
}
std::string to_hex(const uint8_t *p, size_t n) {
  std::string s;
  char two[3];
  for (size_t i = 0; i < n; ++i)
    s += (std::snprintf(two, sizeof two, "%02x", p[i]), two);
  return n == 0 ? "-" : s;
}
std::string status_text(tavbin_status s) { return tavbin_strerror(s); }
uint64_t u(const std::string &t) { return std::strtoull(t.c_str(), nullptr, 10); }
int64_t i(const std::string &t) { return std::strtoll(t.c_str(), nullptr, 10); }

// The outcome of one call, as the file writes it: "ok" and values, or a status.
struct Outcome {
  tavbin_status status = TAVBIN_OK;
  Tokens values;
  bool floats = false; // values compared as numbers
};
template <class T> Outcome of(const tavbin::result<T> &r) {
  Outcome o{r.status, {}, false};
  if (r) o.values.push_back(std::to_string(r.value));
  return o;
}

// Reads n values of KIND through f(pointer, n), which returns the status.
template <class F> Outcome array_of(const std::string &kind, size_t n, F f) {
  Outcome o;
  auto run = [&](auto *buf) {
    o.status = f(buf, n);
    if (n > 64 && o.status == TAVBIN_OK) return ADD_FAILURE() << "the runner holds at most 64 values";
    for (size_t k = 0; o.status == TAVBIN_OK && k < n; ++k) {
      std::ostringstream s;
      s.precision(17);
      if constexpr (sizeof(*buf) == 1)
        s << static_cast<int>(buf[k]);
      else
        s << buf[k];
      o.values.push_back(s.str());
    }
  };
#define KIND(name, type)                                                                                     \
  if (kind == name) {                                                                                        \
    std::vector<type> v(std::min<size_t>(n, 64) + 1, 0); /* more than that fails before writing */           \
    o.floats = std::is_floating_point_v<type>;                                                               \
    run(v.data());                                                                                           \
    return o;                                                                                                \
  }
  KIND("u8", uint8_t);
  KIND("i8", int8_t);
  KIND("u16", uint16_t);
  KIND("i16", int16_t);
  KIND("u32", uint32_t);
  KIND("i32", int32_t);
  KIND("u64", uint64_t);
  KIND("i64", int64_t);
  KIND("f32", float);
  KIND("f64", double);
#undef KIND
  ADD_FAILURE() << "unknown kind " << kind;
  return o;
}

// Appends values of KIND through w.array.
tavbin_status append_array(tavbin::writer &w, const std::string &kind, const Tokens &values) {
  auto put = [&](auto zero, auto parse) {
    std::vector<decltype(zero)> v;
    for (const auto &t : values)
      v.push_back(static_cast<decltype(zero)>(parse(t)));
    return w.array(v.data(), v.size());
  };
  auto d = [](const std::string &t) { return std::strtod(t.c_str(), nullptr); };
  if (kind == "u8") return put(uint8_t{}, u);
  if (kind == "i8") return put(int8_t{}, i);
  if (kind == "u16") return put(uint16_t{}, u);
  if (kind == "i16") return put(int16_t{}, i);
  if (kind == "u32") return put(uint32_t{}, u);
  if (kind == "i32") return put(int32_t{}, i);
  if (kind == "u64") return put(uint64_t{}, u);
  if (kind == "i64") return put(int64_t{}, i);
  if (kind == "f32") return put(float{}, d);
  if (kind == "f64") return put(double{}, d);
  ADD_FAILURE() << "unknown kind " << kind;
  return TAVBIN_INVALID_ARG;
}

std::string hex_of(std::string_view s) {
  return to_hex(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

bool is_string_read(const std::string &op) {
  return op == "string_u8" || op == "string_u16" || op == "string_leb128" || op == "string_u32";
}
// A string read through a reader or a cursor: the viewing form, or with dst
// the copying one.
template <class On> auto string_read(On &on, const std::string &op, uint64_t max, char *dst, size_t cap) {
  if (op == "string_u8") return dst ? on.string_u8(dst, cap, max) : on.string_u8(max);
  if (op == "string_u16") return dst ? on.string_u16(dst, cap, max) : on.string_u16(max);
  if (op == "string_leb128") return dst ? on.string_leb128(dst, cap, max) : on.string_leb128(max);
  return dst ? on.string_u32(dst, cap, max) : on.string_u32(max);
}

struct Session {
  std::unique_ptr<tavbin_test::HeapBytes> input;
  tavbin::reader r;
  std::optional<tavbin::cursor> c;
  std::optional<tavbin::lsb_bits> lsb;
  tavbin::writer w;
  tavbin::endian order = tavbin::endian::big;
  bool via_cursor = false;
  // The string reads view the input on the file's first run, and copy to a
  // buffer of MAX + 1 bytes on its second (for a MAX below 4096).
  bool copy_strings = false;
  std::vector<char> buffer;

  // The buffer a string read copies to, filled with a byte no row expects;
  // null for the viewing form.
  char *string_buffer(uint64_t max) {
    if (!copy_strings || max >= 4096) return nullptr;
    buffer.assign(max + 1, 'x');
    return buffer.data();
  }
  // What the string read did with its bytes: viewed them in the input, or
  // copied them with a NUL after them, or, failing, touched nothing.
  void check_string(bool ok, std::string_view s, const char *dst) {
    if (ok && dst != nullptr) {
      EXPECT_EQ(s.data(), dst);
      EXPECT_EQ(buffer.at(s.size()), '\0');
    } else if (ok) {
      const auto *p = reinterpret_cast<const uint8_t *>(s.data());
      EXPECT_TRUE(p >= input->data() && p + s.size() <= input->data() + input->size());
    } else if (dst != nullptr) {
      EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 'x'), static_cast<std::ptrdiff_t>(buffer.size()));
    }
  }

  // A reader call, directly or through the cursor; nullopt if op is unknown.
  std::optional<Outcome> reader_call(const Tokens &t) {
    const std::string &op = t[0];
    auto arg = [&](size_t k) { return u(t.at(k)); };
    if (op == "lsb_begin") return lsb.emplace(r), Outcome{};
    if (op == "lsb") return of(lsb->read(static_cast<uint32_t>(arg(1))));
    if (op == "lsb_align") return lsb->align(), Outcome{};
    if (op == "lsb_done") return lsb->done(), Outcome{};
    if (via_cursor) return cursor_call(t);
    if (op == "u8") return of(r.u8());
    if (op == "u16") return of(r.u16());
    if (op == "u24") return of(r.u24());
    if (op == "i24") return of(r.i24());
    if (op == "bits") return of(r.bits(static_cast<uint32_t>(arg(1))));
    if (op == "skip") return Outcome{r.skip(arg(1)), {}, false};
    if (op == "sleb128") return of(r.sleb128(arg(1)));
    if (op == "leb128_u32") return of(r.leb128_u32());
    if (op == "sleb128_i32") return of(r.sleb128_i32());
    if (is_string_read(op)) {
      char *dst = string_buffer(arg(1));
      const auto s = string_read(r, op, arg(1), dst, buffer.size());
      check_string(static_cast<bool>(s), s.value, dst);
      return Outcome{s.status, s ? Tokens{hex_of(s.value)} : Tokens{}, false};
    }
    if (op == "cstring_at") {
      const auto s = r.cstring_at(arg(1), arg(2));
      check_string(static_cast<bool>(s), s.value, nullptr);
      return Outcome{s.status, s ? Tokens{hex_of(s.value)} : Tokens{}, false};
    }
    if (op == "cstring") {
      const auto s = r.cstring(arg(1));
      return Outcome{s.status,
                     s ? Tokens{to_hex(reinterpret_cast<const uint8_t *>(s.value.data()), s.value.size())}
                       : Tokens{},
                     false};
    }
    if (op == "sub") {
      const uint64_t n = arg(1);
      auto part = r.sub(n);
      if (!part) return Outcome{r.remaining() < n ? TAVBIN_EOF : TAVBIN_OOM, {}, false};
      EXPECT_EQ(part.origin(), r.tell() - n);
      const auto all = part.view(part.size());
      return Outcome{TAVBIN_OK, {to_hex(all.value.data(), all.value.size())}, false};
    }
    if (op == "array") return array_of(t.at(1), arg(2), [&](auto *p, size_t n) { return r.array(p, n); });
    return std::nullopt;
  }

  std::optional<Outcome> cursor_call(const Tokens &t) {
    const std::string &op = t[0];
    auto arg = [&](size_t k) { return u(t.at(k)); };
    // The cursor's values; its status tells success.
    auto done = [&](Tokens values) { return Outcome{c->status(), *c ? values : Tokens{}, false}; };
    auto num = [&](auto v) { return done({std::to_string(v)}); };
    if (op == "u8") return num(c->u8());
    if (op == "u16") return num(c->u16());
    if (op == "u24") return num(c->u24());
    if (op == "i24") return num(c->i24());
    if (op == "bits") return num(c->bits(static_cast<uint32_t>(arg(1))));
    if (op == "skip") return c->skip(arg(1)), done({});
    if (op == "sleb128") return num(c->sleb128(arg(1)));
    if (op == "leb128_u32") return num(c->leb128_u32());
    if (op == "sleb128_i32") return num(c->sleb128_i32());
    if (is_string_read(op)) {
      char *dst = string_buffer(arg(1));
      const std::string_view s = string_read(*c, op, arg(1), dst, buffer.size());
      check_string(static_cast<bool>(*c), s, dst);
      return done({hex_of(s)});
    }
    if (op == "cstring_at") return done({hex_of(c->cstring_at(arg(1), arg(2)))});
    if (op == "cstring") {
      const auto s = c->cstring(arg(1));
      return done({to_hex(reinterpret_cast<const uint8_t *>(s.data()), s.size())});
    }
    if (op == "sub") {
      auto part = c->sub(arg(1));
      const auto all = part.view(part.size());
      return done({to_hex(all.value.data(), all.value.size())});
    }
    if (op == "array") {
      return array_of(t.at(1), arg(2), [&](auto *p, size_t n) {
        c->array(p, n);
        return c->status();
      });
    }
    return std::nullopt;
  }

  std::optional<tavbin_status> writer_call(const Tokens &t) {
    const std::string &op = t[0];
    auto arg = [&](size_t k) { return u(t.at(k)); };
    if (op == "w.u8") return w.u8(static_cast<uint8_t>(arg(1)));
    if (op == "w.u16") return w.u16(static_cast<uint16_t>(arg(1)));
    if (op == "w.u32") return w.u32(static_cast<uint32_t>(arg(1)));
    if (op == "w.u64") return w.u64(arg(1));
    if (op == "w.sleb128") return w.sleb128(i(t.at(1)));
    if (op == "w.u24") return w.u24(static_cast<uint32_t>(arg(1))); // every value in the file fits 32 bits
    if (op == "w.i24") return w.i24(static_cast<int32_t>(i(t.at(1))));
    if (op == "w.array") return append_array(w, t.at(1), Tokens(t.begin() + 2, t.end()));
    if (op == "w.patch_u16") return w.patch_u16(arg(1), static_cast<uint16_t>(arg(2)));
    if (op == "w.patch_u32") return w.patch_u32(arg(1), static_cast<uint32_t>(arg(2)));
    if (op == "w.patch_u64") return w.patch_u64(arg(1), arg(2));
    if (op.rfind("w.string_", 0) == 0) {
      const auto bytes = from_hex(t.at(1));
      const std::string_view s(reinterpret_cast<const char *>(bytes.data()), bytes.size());
      if (op == "w.string_u8") return w.string_u8(s);
      if (op == "w.string_u16") return w.string_u16(s);
      if (op == "w.string_leb128") return w.string_leb128(s);
      if (op == "w.string_u32") return w.string_u32(s);
    }
    return std::nullopt;
  }
};

// Compares what happened with the line's "ok VALUE... @TELL" / "STATUS @TELL".
void expect(const Outcome &got, Tokens want, std::optional<uint64_t> tell) {
  if (!want.empty() && want.back()[0] == '@') {
    EXPECT_EQ(tell.value_or(UINT64_MAX), u(want.back().substr(1))) << "tell";
    want.pop_back();
  } else {
    EXPECT_FALSE(tell) << "the line gives no @TELL";
  }
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(status_text(got.status), want[0]);
  if (got.status != TAVBIN_OK) return;
  want.erase(want.begin());
  ASSERT_EQ(got.values.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) {
    if (got.floats) {
      EXPECT_EQ(std::strtod(got.values[k].c_str(), nullptr), std::strtod(want[k].c_str(), nullptr));
    } else {
      EXPECT_EQ(got.values[k], want[k]);
    }
  }
}

TEST(HppVectors, EveryCaseOfTheSharedFile) {
  const std::vector<Case> cases = load(TAVBIN_VECTORS);
  ASSERT_GT(cases.size(), 20u) << TAVBIN_VECTORS;
  for (const bool copy_strings : {false, true})
    for (const Case &k : cases) {
      Session run;
      run.copy_strings = copy_strings;
      for (const Line &line : k.lines) {
        SCOPED_TRACE("record.txt:" + std::to_string(line.number) + " (" + k.name +
                     (copy_strings ? ", strings copied)" : ")"));
        const Tokens &t = line.call;
        if (t[0] == "order") {
          run.order = t.at(1) == "little" ? tavbin::endian::little : tavbin::endian::big;
        } else if (t[0] == "data") {
          const auto bytes = from_hex(t.at(1));
          run.input = std::make_unique<tavbin_test::HeapBytes>(bytes);
          run.r = tavbin::reader::open(*run.input, run.order);
          ASSERT_TRUE(run.r);
          if (run.via_cursor) run.c.emplace(run.r);
        } else if (t[0] == "via") {
          run.via_cursor = true;
          if (run.r) run.c.emplace(run.r);
        } else if (t[0] == "writer") {
          run.w = tavbin::writer::open(run.order);
        } else if (t[0] == "out") {
          const auto b = run.w.bytes();
          EXPECT_EQ(to_hex(b.data(), b.size()), t.at(1));
        } else if (t[0] == "zigzag_encode") {
          expect({TAVBIN_OK, {std::to_string(tavbin::zigzag_encode(i(t.at(1))))}, false}, line.want,
                 std::nullopt);
        } else if (t[0] == "zigzag_decode") {
          expect({TAVBIN_OK, {std::to_string(tavbin::zigzag_decode(u(t.at(1))))}, false}, line.want,
                 std::nullopt);
        } else if (auto ws = run.writer_call(t)) {
          expect({*ws, {}, false}, line.want, std::nullopt);
        } else if (line.want.at(0) == "skipped") {
          // After the cursor's first failure: a zero value, nothing moved, the
          // failure kept.
          ASSERT_TRUE(run.c && !*run.c) << "skipped, but the cursor has not failed";
          const tavbin_status status = run.c->status();
          const uint64_t offset = run.c->offset(), tell = run.r.tell();
          const auto got = run.reader_call(t);
          ASSERT_TRUE(got) << "unknown call " << t[0];
          for (const auto &v : got->values)
            EXPECT_TRUE(v == "0" || v == "-") << v;
          EXPECT_EQ(run.c->status(), status);
          EXPECT_EQ(run.c->offset(), offset);
          EXPECT_EQ(run.r.tell(), tell);
          EXPECT_EQ(u(line.want.at(1).substr(1)), tell);
        } else {
          const uint64_t before = run.r.tell();
          const bool cursor_was_ok = run.c && *run.c;
          const auto got = run.reader_call(t);
          ASSERT_TRUE(got) << "unknown call " << t[0];
          expect(*got, line.want, run.r.tell());
          // The error's offset: where the reader stood before the call, or for a
          // least-significant-first read, the byte its first bit would come from.
          if (got->status != TAVBIN_OK && cursor_was_ok) {
            EXPECT_EQ(run.c->offset(), before);
          }
          if (got->status == TAVBIN_EOF && t[0] == "lsb") {
            EXPECT_GE(run.lsb->offset(), before);
          }
        }
      }
    }
}

} // namespace
