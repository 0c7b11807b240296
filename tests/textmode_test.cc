#include "registry/textmode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace registry;

namespace {

using namespace std::string_literals;

// Folded in parts of |part| bytes, each read after the text kept so far.
std::string FoldInParts(const std::string& in, size_t part) {
  std::string buffer(in.size(), '?');
  TextFold fold;
  size_t kept = 0;
  for (size_t read = 0; read < in.size(); read += part) {
    size_t n = std::min(part, in.size() - read);
    buffer.replace(kept, n, in, read, n);
    kept = FoldMore(&fold, buffer.data(), kept, kept + n);
  }
  return buffer.substr(0, kept);
}

// Folded whole, checked to come out the same in parts of every size.
std::string Fold(const std::string& in) {
  ByteBuffer bytes(in.begin(), in.end());
  FoldTextMode(&bytes);
  std::string whole(bytes.begin(), bytes.end());
  for (size_t part = 1; part < in.size(); ++part)
    EXPECT_EQ(FoldInParts(in, part), whole) << "in parts of " << part;
  return whole;
}

TEST(FoldTextMode, FoldsCrLfAndEndsAtCtrlZ) {
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"nothing", "", ""},
      {"CR LF pairs become LF", "a\r\nb\r\n", "a\nb\n"},
      {"pairs among LFs", "\r\n\r\n\n", "\n\n\n"},
      {"a lone CR stays", "a\rb", "a\rb"},
      {"a CR before a pair stays", "\r\r\n", "\r\n"},
      {"LF then CR is no pair", "\n\r", "\n\r"},
      {"a CR at the end stays", "a\r", "a\r"},
      {"a CR alone", "\r", "\r"},
      {"Ctrl-Z ends the text", "a\x1A" "b\r\n", "a"},
      {"Ctrl-Z first: no text", "\x1A\r\n", ""},
      {"Ctrl-Z between CR and LF: the CR stays", "a\r\x1A\n", "a\r"},
      {"two Ctrl-Z at the end", "x\r\ny\x1A\x1A", "x\ny"},
      {"NUL and high bytes pass as they are", "a\0b\xFF\r\n\0"s,
       "a\0b\xFF\n\0"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + testing::PrintToString(c.in));
    EXPECT_EQ(Fold(c.in), c.out);
  }
}

// Collects what a TextOutput hands to its writer.
struct Sink {
  std::string bytes;
  int calls = 0;
  int fail_at = 0;  // the call that fails, 1-based; 0 for none
  std::function<bool(const char*, size_t)> Writer() {
    return [this](const char* data, size_t size) {
      ++calls;
      if (calls == fail_at) return false;
      bytes.append(data, size);
      return true;
    };
  }
};

TEST(TextOutput, EveryLfBecomesCrLf) {
  Sink sink;
  TextOutput out;
  InitTextOutput(&out, sink.Writer());
  PutPlain(&out, "<a>", 3);
  PutChar(&out, '\n');
  PutTabs(&out, 18);
  PutText(&out, "\nx\r\ny\n\n", 7);
  PutChar(&out, 'z');
  ASSERT_TRUE(FinishTextOutput(&out));
  EXPECT_EQ(sink.bytes, "<a>\r\n" + std::string(18, '\t') + "\r\nx\r\r\ny\r\n\r\nz");
}

// Output beyond the buffer goes out in several writes; no byte is lost or
// doubled where one write ends and the next begins, a CR LF pair split
// between two writes included.
TEST(TextOutput, CrLfAcrossChunkBoundaries) {
  Sink sink;
  TextOutput out;
  InitTextOutput(&out, sink.Writer());
  std::string expected(kTextChunk - 1, 'a');
  PutPlain(&out, expected.data(), expected.size());
  PutChar(&out, '\n');
  expected += "\r\n";
  for (int i = 0; expected.size() < 2 * kTextChunk; ++i) {
    const std::string run(i % 7, i % 3 == 2 ? '\t' : 'a');
    if (i % 3 == 0) {
      PutText(&out, (run + "\n").data(), run.size() + 1);
    } else {
      if (i % 3 == 1) PutPlain(&out, run.data(), run.size());
      if (i % 3 == 2) PutTabs(&out, run.size());
      PutChar(&out, '\n');
    }
    expected += run + "\r\n";
  }
  std::string block(kTextChunk + 300, 'b');
  for (size_t i = 0; i < block.size(); i += 4099) block[i] = '\n';
  PutText(&out, block.data(), block.size());
  for (char c : block) expected += c == '\n' ? "\r\n" : std::string(1, c);
  ASSERT_TRUE(FinishTextOutput(&out));
  EXPECT_GE(sink.calls, 3);
  EXPECT_EQ(sink.bytes.size(), expected.size());
  EXPECT_TRUE(sink.bytes == expected);
}

TEST(TextOutput, FailedWriteStopsTheWriter) {
  struct Case {
    const char* name;
    int fail_at;
    size_t size;
    int calls;
  } cases[] = {
      {"the only write fails", 1, 10, 1},
      {"the first of several writes fails: no other is tried", 1,
       3 * kTextChunk, 1},
      {"the second of several writes fails: no third is tried", 2,
       3 * kTextChunk, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sink sink;
    sink.fail_at = c.fail_at;
    TextOutput out;
    InitTextOutput(&out, sink.Writer());
    std::string text(c.size, 'x');
    PutText(&out, text.data(), text.size());
    PutChar(&out, '\n');
    EXPECT_FALSE(FinishTextOutput(&out));
    EXPECT_FALSE(FinishTextOutput(&out));
    EXPECT_EQ(sink.calls, c.calls);
  }
}

}  // namespace
