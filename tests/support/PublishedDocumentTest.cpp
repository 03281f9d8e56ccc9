// Published documents are written only when the stored copy differs: the
// comparison that decides it, on edge documents a planted variable can
// hold.
#include <string>

#include "support/PublishedDocument.h"
#include "tests/driver/DriverTestSupport.h"

namespace {

constexpr EFI_GUID kGuid = {
    0x6c1f42a1, 0x0d52, 0x4a53, {0x9e, 0x1a, 0x31, 0x5b, 0x7e, 0x20, 0x44, 0x18}};

class PublishedDocumentTest : public drivertest::DriverTest {
protected:
  void SetUp() override { ASSERT_EQ(StartDriver(), EFI_SUCCESS); }
};

TEST_F(PublishedDocumentTest, OnlyTheDateMayDifferAndAnUndatedDocumentMustMatchExactly) {
  struct Row {
    const char *name;
    std::string stored;
    UINT32 attributes;
    std::string text;
    bool matches;
  };
  const Row rows[] = {
      {"same", "<A>x</A>", 7, "<A>x</A>", true},
      {"undated, same size, other bytes", "<A>y</A>", 7, "<A>x</A>", false},
      {"undated, other size", "<A>xy</A>", 7, "<A>x</A>", false},
      {"other date", "<R><Date>2025-01-02T03:04:05</Date></R>", 7,
       "<R><Date>2026-12-10T09:30:00</Date></R>", true},
      {"the date's close tag ends the document", "<Date>2025-01-02</Date>", 7,
       "<Date>2026-12-10</Date>", true},
      {"date against no date", "<R><Date>2025</Date></R>", 7, "<R><Datf>2025</Datf></R>", false},
      {"markup in the stored date", "<R><Date><x/></Date></R>", 7, "<R><Date>2026-1</Date></R>",
       false},
      {"other content after the date", "<R><Date>2025</Date>a</R>", 7, "<R><Date>2026</Date>b</R>",
       false},
      {"attributes 3", "<A>x</A>", 3, "<A>x</A>", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    platform.PutVariable(u"Doc", kGuid, row.attributes, row.stored);
    BOOLEAN matches = !row.matches;
    EXPECT_EQ(ComparePublishedDocument(u"Doc", &kGuid, row.text.data(), row.text.size(), &matches),
              EFI_SUCCESS);
    EXPECT_EQ(bool(matches), row.matches);
  }
  BOOLEAN matches = TRUE;
  EXPECT_EQ(ComparePublishedDocument(u"Absent", &kGuid, "x", 1, &matches), EFI_SUCCESS);
  EXPECT_FALSE(matches);
}

} // namespace
