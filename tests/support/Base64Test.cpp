#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/Text.h"

namespace {

constexpr CHAR8 kFill = '\xA5';

std::vector<UINT8> bytesOf(const std::string &s) {
  return std::vector<UINT8>(s.begin(), s.end());
}

// RFC 4648 section 10, and a few covering the last two alphabet characters.
const struct {
  std::string bytes;
  std::string text;
} kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"abc", "YWJj"},
    {"ab", "YWI="},
    {std::string("\xFF\xFE\x00", 3), "//4A"},
    {"\xFB\xFF", "+/8="},
};

TEST(Base64Encode, Vectors) {
  for (const auto &v : kVectors) {
    SCOPED_TRACE(v.text);
    const std::vector<UINT8> input = bytesOf(v.bytes);
    const UINT8 dummy = 0;
    const UINT8 *source = input.empty() ? &dummy : input.data();
    const UINTN needed = v.text.size() + 1;

    UINTN size = 0;
    EXPECT_EQ(Base64Encode(source, input.size(), nullptr, &size), EFI_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, needed);

    // Exact size succeeds; one byte less is refused and leaves the buffer.
    std::vector<CHAR8> exact(needed, kFill);
    size = needed;
    EXPECT_EQ(Base64Encode(source, input.size(), exact.data(), &size), EFI_SUCCESS);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(std::string(exact.data()), v.text);

    std::vector<CHAR8> small(needed - 1 + 1, kFill);
    size = needed - 1;
    EXPECT_EQ(Base64Encode(source, input.size(), small.data(), &size), EFI_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, needed);
    for (CHAR8 c : small) {
      EXPECT_EQ(c, kFill);
    }
  }
}

TEST(Base64Encode, Refusals) {
  UINT8 data[8] = {1, 2, 3};
  CHAR8 text[16];
  UINTN size = sizeof(text);
  EXPECT_EQ(Base64Encode(nullptr, 3, text, &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Base64Encode(data, 3, text, nullptr), EFI_INVALID_PARAMETER);
  const auto *top = reinterpret_cast<const UINT8 *>(~UINTN{0} - 2);
  EXPECT_EQ(Base64Encode(top, 10, text, &size), EFI_INVALID_PARAMETER);
  // A needed size that does not fit in UINTN.
  EXPECT_EQ(Base64Encode(reinterpret_cast<const UINT8 *>(1), ~UINTN{0} - 1, text, &size),
            EFI_INVALID_PARAMETER);
  // Output over its own input.
  size = sizeof(data);
  EXPECT_EQ(Base64Encode(data, 3, reinterpret_cast<CHAR8 *>(data), &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(data[0], 1);
}

TEST(Base64Decode, Vectors) {
  for (const auto &v : kVectors) {
    SCOPED_TRACE(v.text);
    // Unterminated, exact-size input and output.
    const std::vector<CHAR8> text(v.text.begin(), v.text.end());
    const CHAR8 dummy = 0;
    const CHAR8 *source = text.empty() ? &dummy : text.data();
    std::vector<UINT8> out(v.bytes.size() + 1, 0xA5);
    UINTN size = v.bytes.size();
    EXPECT_EQ(Base64Decode(source, text.size(), out.data(), &size), EFI_SUCCESS);
    EXPECT_EQ(size, v.bytes.size());
    EXPECT_EQ(std::string(out.begin(), out.end() - 1), v.bytes);
    EXPECT_EQ(out.back(), 0xA5);
  }
}

TEST(Base64Decode, Texts) {
  const struct {
    const char *text;
    EFI_STATUS status;
    const char *bytes;
  } rows[] = {
      {"YW Jj", EFI_SUCCESS, "abc"},
      {" Y\tW\nJ\rj\v\f", EFI_SUCCESS, "abc"},
      {"YW I =", EFI_SUCCESS, "ab"},
      {"YQ= =", EFI_SUCCESS, "a"},
      {"YWJjYWJj", EFI_SUCCESS, "abcabc"},
      {"   ", EFI_SUCCESS, ""},
      {"YWJ", EFI_INVALID_PARAMETER, nullptr}, // incomplete final group
      {"Y", EFI_INVALID_PARAMETER, nullptr},
      {"=", EFI_INVALID_PARAMETER, nullptr}, // stray padding
      {"Y===", EFI_INVALID_PARAMETER, nullptr},
      {"YWJj=", EFI_INVALID_PARAMETER, nullptr},
      {"YQ=", EFI_INVALID_PARAMETER, nullptr}, // padding does not complete the group
      {"YWI==", EFI_INVALID_PARAMETER, nullptr},
      {"YQ==YQ==", EFI_INVALID_PARAMETER, nullptr}, // data after padding
      {"YQ=a", EFI_INVALID_PARAMETER, nullptr},
      {"YR==", EFI_INVALID_PARAMETER, nullptr}, // bits left after padding
      {"YWK=", EFI_INVALID_PARAMETER, nullptr},
      {"YW*j", EFI_INVALID_PARAMETER, nullptr},
      {"YW-j", EFI_INVALID_PARAMETER, nullptr}, // URL alphabet is not accepted
      {"YWJj\xC3", EFI_INVALID_PARAMETER, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.text);
    std::vector<UINT8> out(16, 0xA5);
    UINTN size = out.size();
    EXPECT_EQ(Base64Decode(row.text, strlen(row.text), out.data(), &size), row.status);
    if (row.bytes != nullptr) {
      EXPECT_EQ(size, strlen(row.bytes));
      EXPECT_EQ(std::string(out.begin(), out.begin() + size), row.bytes);
    } else {
      EXPECT_EQ(size, out.size());
      for (UINT8 b : out) {
        EXPECT_EQ(b, 0xA5);
      }
    }
  }
}

TEST(Base64Decode, Sizes) {
  const std::string text = "Zm9vYmFy";
  // Too small: the bytes that fit are written, the length is reported.
  std::vector<UINT8> out(4, 0xA5);
  UINTN size = out.size();
  EXPECT_EQ(Base64Decode(text.data(), text.size(), out.data(), &size), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(out.begin(), out.end()), "foob");

  // Every room, at and between group boundaries, over texts that mix whole
  // groups, white space and a padded end, or end in white space right after
  // whole groups: the bytes that fit and nothing past them.
  const struct {
    std::string text;
    std::string decoded;
  } texts[] = {{"VGhlIHF1aWNr IGJyb3du\nIGZveA==", "The quick brown fox"},
               {"VGhlIHF1aWNrIGJy  ", "The quick br"}};
  for (const auto &t : texts) {
    for (UINTN room = 1; room <= t.decoded.size() + 2; room++) {
      SCOPED_TRACE(t.text + " room " + std::to_string(room));
      std::vector<UINT8> buffer(t.decoded.size() + 4, 0xA5);
      size = room;
      EXPECT_EQ(Base64Decode(t.text.data(), t.text.size(), buffer.data(), &size),
                room < t.decoded.size() ? EFI_BUFFER_TOO_SMALL : EFI_SUCCESS);
      EXPECT_EQ(size, t.decoded.size());
      const UINTN written = std::min<UINTN>(room, t.decoded.size());
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + written),
                t.decoded.substr(0, written));
      for (UINTN i = written; i < buffer.size(); i++) {
        EXPECT_EQ(buffer[i], 0xA5) << "byte " << i;
      }
    }
  }

  // No buffer: only counts, whatever the size says.
  for (UINTN given : {UINTN{0}, UINTN{100}}) {
    size = given;
    EXPECT_EQ(Base64Decode(text.data(), text.size(), nullptr, &size), EFI_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 6u);
  }
  size = 5;
  EXPECT_EQ(Base64Decode("  ", 2, nullptr, &size), EFI_SUCCESS);
  EXPECT_EQ(size, 0u);

  // Only the given length of the text is read.
  size = 3;
  out.assign(3, 0xA5);
  EXPECT_EQ(Base64Decode("YWJj!!!!", 4, out.data(), &size), EFI_SUCCESS);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
}

TEST(Base64Decode, Refusals) {
  CHAR8 text[] = "YWJjYWJj";
  UINT8 out[8];
  UINTN size = sizeof(out);
  EXPECT_EQ(Base64Decode(nullptr, 4, out, &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Base64Decode(text, 4, out, nullptr), EFI_INVALID_PARAMETER);
  // Decoding in place overlaps.
  size = 8;
  EXPECT_EQ(Base64Decode(text, 8, reinterpret_cast<UINT8 *>(text), &size), EFI_INVALID_PARAMETER);
  EXPECT_EQ(size, 8u);
  EXPECT_STREQ(text, "YWJjYWJj");
  const auto *top = reinterpret_cast<const CHAR8 *>(~UINTN{0} - 2);
  EXPECT_EQ(Base64Decode(top, 10, out, &size), EFI_INVALID_PARAMETER);
}

} // namespace
