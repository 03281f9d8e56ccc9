#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Text.h"

namespace {

constexpr CHAR8 kFill = '\xA5';

struct Row {
  UINTN flags;
  INT64 value;
  UINTN width;
  UINTN size;
  EFI_STATUS status;
  const char *expected; // text on success
};

constexpr UINTN kHex = VALUE_FLAG_HEX;
constexpr UINTN kZero = VALUE_FLAG_ZERO_PAD;
constexpr UINTN kComma = VALUE_FLAG_COMMA;
constexpr UINTN kLeft = VALUE_FLAG_LEFT_JUSTIFY;

TEST(ValueToAscii, Table) {
  const Row rows[] = {
      {0, 0, 0, 40, EFI_SUCCESS, "0"},
      {0, -42, 0, 40, EFI_SUCCESS, "-42"},
      {0, INT64_MIN, 0, 40, EFI_SUCCESS, "-9223372036854775808"},
      {0, INT64_MAX, 0, 40, EFI_SUCCESS, "9223372036854775807"},
      {kHex, 0, 0, 40, EFI_SUCCESS, "0"},
      {kHex, static_cast<INT64>(EFI_UNSUPPORTED), 0, 40, EFI_SUCCESS, "8000000000000003"},
      {kHex, -1, 0, 40, EFI_SUCCESS, "FFFFFFFFFFFFFFFF"},
      {kHex, 0x100, 0, 40, EFI_SUCCESS, "100"},
      {kComma, 1234567, 0, 40, EFI_SUCCESS, "1,234,567"},
      {kComma, -1000, 0, 40, EFI_SUCCESS, "-1,000"},
      {kComma, 999, 0, 40, EFI_SUCCESS, "999"},
      {kComma, INT64_MIN, 0, 40, EFI_SUCCESS, "-9,223,372,036,854,775,808"},
      // Without zero padding a width adds nothing.
      {0, 42, 10, 40, EFI_SUCCESS, "42"},
      {kZero, 42, 5, 40, EFI_SUCCESS, "00042"},
      {kZero, -42, 5, 40, EFI_SUCCESS, "-0042"},
      {kZero, 123456, 3, 40, EFI_SUCCESS, "123456"},
      {kZero | kHex, 0xAB, 4, 40, EFI_SUCCESS, "00AB"},
      {kZero, 42, 0, 40, EFI_SUCCESS, "42"},
      {kZero | kComma, 1234, 8, 40, EFI_SUCCESS, "1,234"},
      {kZero | kLeft, 42, 5, 40, EFI_SUCCESS, "42"},
      {kZero, 7, 37, 38, EFI_SUCCESS, "0000000000000000000000000000000000007"},
      // Buffer edges: text plus terminator must fit.
      {0, 12345, 0, 6, EFI_SUCCESS, "12345"},
      {0, 12345, 0, 5, EFI_BUFFER_TOO_SMALL, nullptr},
      {0, -1, 0, 2, EFI_BUFFER_TOO_SMALL, nullptr},
      {0, 0, 0, 0, EFI_BUFFER_TOO_SMALL, nullptr},
      {kZero, 42, 5, 5, EFI_BUFFER_TOO_SMALL, nullptr},
      {kZero, 7, 37, 37, EFI_BUFFER_TOO_SMALL, nullptr},
      {kComma, 1000, 0, 5, EFI_BUFFER_TOO_SMALL, nullptr},
      // Refusals.
      {0x02, 1, 0, 40, EFI_INVALID_PARAMETER, nullptr},
      {0x100, 1, 0, 40, EFI_INVALID_PARAMETER, nullptr},
      {kHex | kComma, 1, 0, 40, EFI_INVALID_PARAMETER, nullptr},
      {kZero, 1, 38, 40, EFI_INVALID_PARAMETER, nullptr},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << "flags " << row.flags << " value " << row.value << " width "
                                    << row.width << " size " << row.size);
    std::vector<CHAR8> buffer(row.size + 1, kFill);
    EXPECT_EQ(ValueToAscii(row.size == 0 ? buffer.data() + 1 : buffer.data(), row.size, row.flags,
                           row.value, row.width),
              row.status);
    if (row.expected != nullptr) {
      EXPECT_EQ(std::string(buffer.data()), row.expected);
      for (UINTN i = strlen(row.expected) + 1; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kFill);
      }
    } else {
      for (CHAR8 c : buffer) {
        EXPECT_EQ(c, kFill);
      }
    }
  }
}

TEST(ValueToAscii, BadBuffer) {
  CHAR8 buffer[4];
  EXPECT_EQ(ValueToAscii(nullptr, 4, 0, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ValueToAscii(buffer, MAX_TEXT_LENGTH + 1, 0, 1, 0), EFI_INVALID_PARAMETER);
}

} // namespace
