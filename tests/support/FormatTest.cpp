#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "support/Text.h"

namespace {

constexpr CHAR8 kFill = '\xA5';

using AsciiCall = std::function<UINTN(CHAR8 *, UINTN)>;

struct AsciiRow {
  std::string expected;
  AsciiCall call;
};

const EFI_GUID kGuid = {
    0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};
const EFI_TIME kTime = {2024, 3, 5, 7, 8, 9, 0, 0, 0, 0, 0};

// Runs Call into a buffer of exactly Size bytes (prefilled), returning the
// text up to the terminator; checks the return value and that nothing
// after the terminator changed.
std::string runAscii(const AsciiCall &call, UINTN size, UINTN *returned) {
  std::vector<CHAR8> buffer(size, kFill);
  *returned = call(buffer.data(), size);
  EXPECT_LT(*returned, size);
  EXPECT_EQ(buffer[*returned], 0);
  for (UINTN i = *returned + 1; i < size; ++i) {
    EXPECT_EQ(buffer[i], kFill) << "byte " << i;
  }
  return std::string(buffer.data(), *returned);
}

// One row: the expected text and the arguments of FormatAscii after the
// buffer and its size.
#define ROW(expected, ...)                                                                         \
  AsciiRow {                                                                                       \
    expected, [](CHAR8 *b, UINTN n) { return FormatAscii(b, n, __VA_ARGS__); }                     \
  }

TEST(FormatAscii, ConversionsAndEdges) {
  static const CHAR8 kUnterminated[] = {'a', 'b', 'c'};
  static const CHAR8 *const kNullAscii = nullptr;
  static const CHAR16 *const kNullWide = nullptr;
  const std::vector<AsciiRow> rows = {
      ROW("2024-03-05T07:08:09", "%d-%02d-%02dT%02d:%02d:%02d", kTime.Year, kTime.Month, kTime.Day,
          kTime.Hour, kTime.Minute, kTime.Second),
      ROW("-5 -2147483648", "%d %i", -5, INT32_MIN),
      ROW("-9223372036854775808", "%ld", INT64_MIN),
      ROW("4294967295 18446744073709551615", "%u %Lu", 0xFFFFFFFFu, UINT64_MAX),
      ROW("-1", "%d", 0xFFFFFFFFu), // without l only 32 bits are read
      ROW("ABCDEF 123456789ABCDEF0", "%x %lx", 0xabcdefu, 0x123456789abcdef0ull),
      ROW("0 0 0", "%d %x %u", 0, 0u, 0u),
      ROW("0000001F|      1F|1F    |", "%8X|%8x|%-6x|", 0x1Fu, 0x1Fu, 0x1Fu),
      ROW("42   |-0042", "%-05d|%05d", 42, -42),
      ROW("+5 -5| 5|5", "%+d %+d|% d|%+u", 5, -5, 5, 5u),
      ROW("1,234,567", "%,d", 1234567),
      ROW("-9,223,372,036,854,775,808", "%,ld", INT64_MIN),
      ROW("  0007", "%6.4d", 7),
      ROW("   42|42  |", "%*d|%*d|", 5, 42, -4, 42),
      ROW("[abc]|\xC3\xA9", "[%a]|%a", "abc", "\xC3\xA9"),
      ROW("<null string>|<null string>", "%a|%s", kNullAscii, kNullWide),
      ROW("abc|abc|abc", "%.3a|%.*a|%.*a", "abcdef", 3, kUnterminated, -1, "abc"),
      ROW("   ab|c  |", "%5a|%-3a|", "ab", "c"),
      ROW("ab/cd|a?b", "%s/%S|%s", u"ab", u"cd", u"a\u00E9b"),
      ROW("x  y", "%c%3c", 'x', 'y'),
      ROW("12345678-9ABC-DEF0-0102-030405060708", "%g", &kGuid),
      ROW("<null guid>", "%g", static_cast<EFI_GUID *>(nullptr)),
      ROW("03/05/2024  07:08", "%t", &kTime),
      ROW("<null time>", "%t", static_cast<EFI_TIME *>(nullptr)),
      ROW("0000000000001234", "%p", reinterpret_cast<VOID *>(0x1234)),
      ROW("100%|q7", "100%%|%q%d", 7), // unknown conversions print themselves
      ROW("abc", "abc%"),
      ROW("a\r\nb|a\r\nb|a\r\nb|a\rb", "a\nb|a\r\nb|a\n\rb|a\rb"),
      ROW("\r\n\r\n", "\n\n"),
  };
  for (const AsciiRow &row : rows) {
    SCOPED_TRACE(row.expected);
    const UINTN length = row.expected.size();
    UINTN returned = 0;
    EXPECT_EQ(runAscii(row.call, 256, &returned), row.expected);
    EXPECT_EQ(returned, length);
    // Exactly enough room, then one byte short: the text is cut.
    EXPECT_EQ(runAscii(row.call, length + 1, &returned), row.expected);
    EXPECT_EQ(runAscii(row.call, length, &returned), row.expected.substr(0, length - 1));
    EXPECT_EQ(returned, length - 1);
  }
}

TEST(FormatAscii, StatusText) {
  const struct {
    EFI_STATUS status;
    const char *expected;
  } rows[] = {
      {EFI_SUCCESS, "Success"},
      {EFI_WARN_UNKNOWN_GLYPH, "Warning Unknown Glyph"},
      {EFI_WARN_STALE_DATA, "Warning Stale Data"},
      {EFI_WARN_FILE_SYSTEM, "00000006"},
      {EFI_LOAD_ERROR, "Load Error"},
      {EFI_BUFFER_TOO_SMALL, "Buffer Too Small"},
      {EFI_VOLUME_CORRUPTED, "Volume Corrupt"},
      {EFI_MEDIA_CHANGED, "Media changed"},
      {EFI_NO_MAPPING, "No mapping"},
      {EFI_TIMEOUT, "Time out"},
      {EFIERR(29), "Reserved (29)"},
      {EFIERR(30), "Reserved (30)"},
      {EFI_END_OF_FILE, "End of File"},
      {EFI_COMPROMISED_DATA, "Compromised Data"},
      {EFI_IP_ADDRESS_CONFLICT, "8000000000000022"},
      {EFIERR(0), "8000000000000000"},
      {0x1234, "00001234"},
  };
  for (const auto &row : rows) {
    CHAR8 buffer[64];
    EXPECT_EQ(FormatAscii(buffer, sizeof(buffer), "%r", row.status), strlen(row.expected));
    EXPECT_STREQ(buffer, row.expected);
  }
}

TEST(FormatAscii, CutsAtBufferEnd) {
  CHAR8 buffer[8];
  // Huge widths are cut to the buffer, not looped over.
  EXPECT_EQ(FormatAscii(buffer, sizeof(buffer), "%1000000000d", 1), 7u);
  EXPECT_STREQ(buffer, "       ");
  EXPECT_EQ(FormatAscii(buffer, sizeof(buffer), "%*d", INT_MIN, 1), 7u);
  EXPECT_STREQ(buffer, "1      ");
  // A CR LF pair may be cut after its CR.
  EXPECT_EQ(FormatAscii(buffer, 4, "ab\n"), 3u);
  EXPECT_STREQ(buffer, "ab\r");
  EXPECT_EQ(FormatAscii(buffer, 1, "abc"), 0u);
  EXPECT_EQ(buffer[0], 0);
}

TEST(FormatWithFlags, Refusals) {
  CHAR8 buffer[8];
  std::string longFormat(MAX_TEXT_LENGTH + 1, 'a');
  const struct {
    const char *name;
    VOID *buffer;
    UINTN size;
    UINTN flags;
    const VOID *format;
  } rows[] = {
      {"no buffer", nullptr, 8, 0, "x"},
      {"no format", buffer, 8, 0, nullptr},
      {"size 0", buffer, 0, 0, "x"},
      {"size over limit", buffer, MAX_TEXT_LENGTH + 1, 0, "x"},
      {"wide size under one character", buffer, 1, FORMAT_FLAG_WIDE_OUTPUT, u"x"},
      {"unknown flag", buffer, 8, 0x1, "x"},
      {"format over limit", buffer, 8, 0, longFormat.c_str()},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    memset(buffer, kFill, sizeof(buffer));
    EXPECT_EQ(FormatWithFlags(row.buffer, row.size, row.flags, row.format), 0u);
    for (CHAR8 c : buffer) {
      EXPECT_EQ(c, kFill);
    }
  }
  // A format of exactly the limit is accepted.
  longFormat.pop_back();
  EXPECT_EQ(FormatAscii(buffer, sizeof(buffer), longFormat.c_str()), 7u);
}

TEST(FormatWithFlags, CountOnly) {
  EXPECT_EQ(FormatWithFlags(nullptr, 100, FORMAT_FLAG_COUNT_ONLY, "%d-%a\n", 12, "xyz"), 8u);
  // Counts what a buffer of that size would take.
  EXPECT_EQ(FormatWithFlags(nullptr, 4, FORMAT_FLAG_COUNT_ONLY, "%d", 123456), 3u);
  EXPECT_EQ(
      FormatWithFlags(nullptr, 10, FORMAT_FLAG_COUNT_ONLY | FORMAT_FLAG_WIDE_OUTPUT, "%d", 123456),
      4u);
  CHAR8 buffer[8];
  memset(buffer, kFill, sizeof(buffer));
  EXPECT_EQ(FormatWithFlags(buffer, sizeof(buffer), FORMAT_FLAG_COUNT_ONLY, "abc"), 3u);
  for (CHAR8 c : buffer) {
    EXPECT_EQ(c, kFill);
  }
}

TEST(FormatWide, BootOptionNames) {
  const struct {
    UINT32 option;
    const char16_t *expected;
  } rows[] = {{0x00AB, u"Boot00AB"}, {0x000A, u"Boot000A"}, {0xFFFF, u"BootFFFF"}};
  for (const auto &row : rows) {
    std::vector<CHAR16> name(9, 0xA5A5);
    EXPECT_EQ(FormatWide(name.data(), name.size() * sizeof(CHAR16), u"Boot%04x", row.option), 8u);
    EXPECT_EQ(std::u16string(name.data()), row.expected);
  }
  // Sizes in bytes: 17 bytes hold eight characters, seven and a terminator.
  std::vector<CHAR16> name(9, 0xA5A5);
  EXPECT_EQ(FormatWide(name.data(), 17, u"Boot%04x", 0xABu), 7u);
  EXPECT_EQ(std::u16string(name.data()), u"Boot00A");
  EXPECT_EQ(name[8], 0xA5A5);
}

TEST(FormatWide, MixedArguments) {
  CHAR16 buffer[64];
  EXPECT_EQ(
      FormatWide(buffer, sizeof(buffer), u"%a|%s|%r\n\u00E9", "\xE9", u"\u4E2D", EFI_NOT_FOUND),
      16u);
  EXPECT_EQ(std::u16string(buffer), u"\u00E9|\u4E2D|Not Found\r\n\u00E9");
  // ASCII output of a wide format narrows what is not ASCII.
  CHAR8 narrow[8];
  EXPECT_EQ(FormatWithFlags(narrow, sizeof(narrow), FORMAT_FLAG_WIDE_FORMAT, u"a\u4E2D%d", 5), 3u);
  EXPECT_STREQ(narrow, "a?5");
}

} // namespace
