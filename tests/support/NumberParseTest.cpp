#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Text.h"

namespace {

TEST(ParseDecimal, Table) {
  const struct {
    const char *text;
    EFI_STATUS status;
    UINT64 value;
  } rows[] = {
      {"  0042x", EFI_SUCCESS, 42},
      {"18446744073709551615", EFI_SUCCESS, UINT64_MAX},
      {"18446744073709551616", EFI_UNSUPPORTED, UINT64_MAX},
      {"99999999999999999999", EFI_UNSUPPORTED, UINT64_MAX},
      {"000000000000000000000000018446744073709551615", EFI_SUCCESS, UINT64_MAX},
      {"", EFI_SUCCESS, 0},
      {"abc", EFI_SUCCESS, 0},
      {"\t \t7", EFI_SUCCESS, 7},
      {"000", EFI_SUCCESS, 0},
      {"12 34", EFI_SUCCESS, 12},
      {"0 5", EFI_SUCCESS, 0},
      {"-5", EFI_SUCCESS, 0},
      {"+5", EFI_SUCCESS, 0},
      {"\n5", EFI_SUCCESS, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.text);
    UINT64 value = 12345;
    CHAR8 sentinel = 0;
    CHAR8 *end = &sentinel;
    EXPECT_EQ(ParseDecimal(row.text, &end, &value), row.status);
    EXPECT_EQ(value, row.value);
    EXPECT_EQ(end, &sentinel);
  }
}

TEST(ParseDecimal, Refusals) {
  UINT64 value = 7;
  EXPECT_EQ(ParseDecimal(nullptr, nullptr, &value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ParseDecimal("1", nullptr, nullptr), EFI_INVALID_PARAMETER);
  std::string text(MAX_TEXT_LENGTH, '0');
  text.back() = '9';
  EXPECT_EQ(ParseDecimal(text.c_str(), nullptr, &value), EFI_SUCCESS);
  EXPECT_EQ(value, 9u);
  text.push_back('1');
  value = 7;
  EXPECT_EQ(ParseDecimal(text.c_str(), nullptr, &value), EFI_INVALID_PARAMETER);
  EXPECT_EQ(value, 7u);
}

TEST(HexTextToBytes, Table) {
  const struct {
    const char *text;
    UINTN length;
    UINTN size;
    EFI_STATUS status;
    std::vector<UINT8> bytes; // written bytes on success
  } rows[] = {
      {"0aFf", 4, 2, EFI_SUCCESS, {0x0A, 0xFF}},
      {"0123456789abcdefABCDEF",
       22,
       11,
       EFI_SUCCESS,
       {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}},
      {"0aFfZZ", 4, 2, EFI_SUCCESS, {0x0A, 0xFF}}, // only Length characters count
      {"", 0, 0, EFI_SUCCESS, {}},
      {"0g", 2, 1, EFI_UNSUPPORTED, {}},
      {"00zz", 4, 2, EFI_UNSUPPORTED, {}}, // nothing of the good pair written
      {"0 ", 2, 1, EFI_UNSUPPORTED, {}},
      {"abc", 3, 2, EFI_INVALID_PARAMETER, {}},
      {"0aFf", 4, 1, EFI_BUFFER_TOO_SMALL, {}},
      {"zz", 2, 0, EFI_BUFFER_TOO_SMALL, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.text);
    // Exact-size, unterminated copy of the text.
    std::vector<CHAR8> text(row.text, row.text + row.length);
    std::vector<UINT8> buffer(row.size + 1, 0xA5);
    const CHAR8 *source = text.empty() ? row.text : text.data();
    EXPECT_EQ(HexTextToBytes(source, row.length, buffer.data(), row.size), row.status);
    for (UINTN i = 0; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], i < row.bytes.size() ? row.bytes[i] : 0xA5) << "byte " << i;
    }
  }
}

TEST(HexTextToBytes, Refusals) {
  UINT8 byte = 0;
  EXPECT_EQ(HexTextToBytes(nullptr, 2, &byte, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(HexTextToBytes("00", 2, nullptr, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(HexTextToBytes("00", MAX_TEXT_LENGTH + 2, &byte, MAX_TEXT_LENGTH),
            EFI_INVALID_PARAMETER);
}

} // namespace
