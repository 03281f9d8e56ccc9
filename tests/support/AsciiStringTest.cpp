#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/Text.h"

namespace {

constexpr CHAR8 kFill = '\xA5';

// Unterminated exact-size copy, so a read past Count shows under ASan.
std::vector<CHAR8> raw(const std::string &s) {
  return std::vector<CHAR8>(s.begin(), s.end());
}

constexpr UINTN kUncounted = ~UINTN{0}; // the row is for CopyAscii

struct CopyRow {
  const char *name;
  UINTN size;
  std::string source;
  bool terminated; // a terminator follows the source bytes
  UINTN count;
  EFI_STATUS status;
  const char *expected; // destination text on success
};

TEST(CopyAscii, Table) {
  const CopyRow rows[] = {
      {"fits", 4, "abc", true, kUncounted, EFI_SUCCESS, "abc"},
      {"roomy", 10, "abc", true, kUncounted, EFI_SUCCESS, "abc"},
      {"empty", 1, "", true, kUncounted, EFI_SUCCESS, ""},
      {"no room for terminator", 3, "abc", true, kUncounted, EFI_BUFFER_TOO_SMALL, nullptr},
      // Not read beyond the destination size.
      {"long unterminated", 3, "abc", false, kUncounted, EFI_BUFFER_TOO_SMALL, nullptr},
      {"size 0", 0, "a", true, kUncounted, EFI_INVALID_PARAMETER, nullptr},
      // Tokens are not read beyond the count.
      {"count inside token", 4, "abcdef", false, 3, EFI_SUCCESS, "abc"},
      {"whole token", 7, "abcdef", false, 6, EFI_SUCCESS, "abcdef"},
      {"token without room", 6, "abcdef", false, 6, EFI_BUFFER_TOO_SMALL, nullptr},
      {"count 0", 1, "abc", false, 0, EFI_SUCCESS, ""},
      {"stops at terminator", 3, std::string("ab\0zz", 5), false, 5, EFI_SUCCESS, "ab"},
      {"count over destination", 4, "abc", true, 100, EFI_SUCCESS, "abc"},
      {"count over limit", 4, "abc", true, MAX_TEXT_LENGTH + 1, EFI_INVALID_PARAMETER, nullptr},
  };
  for (const CopyRow &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<CHAR8> source = raw(row.source);
    if (row.terminated) {
      source.push_back(0);
    }
    std::vector<CHAR8> dest(row.size + 1, kFill);
    const EFI_STATUS status = row.count == kUncounted
                                  ? CopyAscii(dest.data(), row.size, source.data())
                                  : CopyAsciiCount(dest.data(), row.size, source.data(), row.count);
    EXPECT_EQ(status, row.status);
    const UINTN written = row.expected == nullptr ? 0 : strlen(row.expected) + 1;
    if (row.expected != nullptr) {
      EXPECT_EQ(std::string(dest.data()), row.expected);
    }
    for (UINTN i = written; i < dest.size(); ++i) {
      EXPECT_EQ(dest[i], kFill);
    }
  }
}

TEST(AppendAscii, Table) {
  const struct {
    const char *name;
    UINTN size;
    std::string existing; // destination contents before, terminator included when wanted
    const char *source;
    EFI_STATUS status;
    const char *expected;
  } rows[] = {
      {"roomy", 8, std::string("ab\0", 3), "cd", EFI_SUCCESS, "abcd"},
      {"exact", 5, std::string("ab\0", 3), "cd", EFI_SUCCESS, "abcd"},
      {"one short", 4, std::string("ab\0", 3), "cd", EFI_BUFFER_TOO_SMALL, "ab"},
      {"onto empty", 2, std::string("\0", 1), "x", EFI_SUCCESS, "x"},
      {"empty source into full", 3, std::string("ab\0", 3), "", EFI_SUCCESS, "ab"},
      {"unterminated destination", 4, "abcd", "x", EFI_BAD_BUFFER_SIZE, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<CHAR8> dest(row.size, kFill);
    std::copy(row.existing.begin(), row.existing.end(), dest.begin());
    const std::vector<CHAR8> before = dest;
    EXPECT_EQ(AppendAscii(dest.data(), row.size, row.source), row.status);
    if (row.status == EFI_SUCCESS) {
      EXPECT_EQ(std::string(dest.data()), row.expected);
      for (UINTN i = strlen(row.expected) + 1; i < dest.size(); ++i) {
        EXPECT_EQ(dest[i], kFill);
      }
    } else {
      EXPECT_EQ(dest, before);
    }
  }
}

TEST(BoundedCopy, RefusalsAndOverlap) {
  CHAR8 buffer[16] = "abcdef";
  CHAR8 other[4];
  EXPECT_EQ(CopyAscii(nullptr, 4, "a"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CopyAscii(other, 4, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CopyAscii(other, MAX_TEXT_LENGTH + 1, "a"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CopyAsciiCount(nullptr, 4, "a", 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CopyAsciiCount(other, 0, "a", 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AppendAscii(nullptr, 4, "a"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AppendAscii(other, 0, "a"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(AppendAscii(other, MAX_TEXT_LENGTH + 1, "a"), EFI_INVALID_PARAMETER);

  EXPECT_EQ(CopyAscii(buffer, sizeof(buffer), buffer + 2), EFI_ACCESS_DENIED);
  EXPECT_EQ(CopyAscii(buffer + 2, 8, buffer), EFI_ACCESS_DENIED);
  EXPECT_EQ(CopyAsciiCount(buffer + 1, 8, buffer, 3), EFI_ACCESS_DENIED);
  EXPECT_EQ(AppendAscii(buffer, sizeof(buffer), buffer), EFI_ACCESS_DENIED);
  EXPECT_STREQ(buffer, "abcdef");
  // The three characters read end before the destination starts.
  EXPECT_EQ(CopyAsciiCount(buffer + 3, 8, buffer, 3), EFI_SUCCESS);
  EXPECT_STREQ(buffer, "abcabc");
}

TEST(CompareAscii, Table) {
  const struct {
    const char *first;
    const char *second;
    UINTN count; // 0 in this column means CompareAscii
    bool counted;
    INTN expected;
  } rows[] = {
      {"abc", "abc", 0, false, 0},
      {"abc", "abd", 0, false, 'c' - 'd'},
      {"abd", "abc", 0, false, 'd' - 'c'},
      {"ab", "abc", 0, false, -'c'},
      {"abc", "ab", 0, false, 'c'},
      {"\x80", "\x01", 0, false, 0x7F},
      {"", "", 0, false, 0},
      {"abX", "abY", 2, true, 0},
      {"abX", "abY", 3, true, 'X' - 'Y'},
      {"a", "b", 0, true, 0},
      {"ab", "ab", 100, true, 0},
      {nullptr, "a", 0, false, -1},
      {"a", nullptr, 0, false, 1},
      {nullptr, nullptr, 0, false, 0},
      {nullptr, "a", 5, true, -1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << (row.first ? row.first : "NULL") << " / "
                                    << (row.second ? row.second : "NULL") << " " << row.count);
    const INTN result = row.counted ? CompareAsciiCount(row.first, row.second, row.count)
                                    : CompareAscii(row.first, row.second);
    EXPECT_EQ(result, row.expected);
  }
}

TEST(CompareAsciiCount, SettingIdLengthAndUnterminated) {
  std::string a(100, 'x');
  std::string b = a;
  b[97] = 'y';
  EXPECT_EQ(CompareAsciiCount(a.c_str(), b.c_str(), 96), 0);
  b[95] = 'y';
  EXPECT_NE(CompareAsciiCount(a.c_str(), b.c_str(), 96), 0);
  // Tokens without terminators are not read past the count.
  const std::vector<CHAR8> left = raw("token");
  const std::vector<CHAR8> right = raw("token");
  EXPECT_EQ(CompareAsciiCount(left.data(), right.data(), left.size()), 0);
}

} // namespace

// The length of a text that may lack its NUL: every start alignment, every
// limit and every NUL position (or none), on a block exactly Limit long, so
// that a read past it shows up under the address sanitizer. BoundedLength
// also stops at the NUL of a terminated text whose limit lies far past its
// buffer.
TEST(BoundedLength, EveryAlignmentLimitAndNulPosition) {
  for (size_t offset = 0; offset < 8; offset++) {
    for (size_t limit = 0; limit <= 40; limit++) {
      for (size_t nul = 0; nul <= limit; nul++) { // nul == limit: none
        std::unique_ptr<char[]> block(new char[offset + limit]);
        char *text = block.get() + offset;
        for (size_t i = 0; i < limit; i++) {
          text[i] = i == nul ? '\0' : static_cast<char>(0x80 | (i + 1)); // high bits set
        }
        ASSERT_EQ(BoundedLength(text, limit), nul)
            << "offset " << offset << " limit " << limit << " nul " << nul;
        ASSERT_EQ(BufferTextLength(text, limit), nul)
            << "offset " << offset << " limit " << limit << " nul " << nul;
        if (nul < limit) {
          ASSERT_EQ(BoundedLength(text, MAX_TEXT_LENGTH), nul);
        }
      }
    }
  }
  const CHAR16 wide[] = {u'a', u'b', 0, u'c'};
  EXPECT_EQ(BoundedLength(wide, 4), 2u);
  EXPECT_EQ(BoundedLength(wide, 1), 1u);
}
