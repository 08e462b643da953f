#include "platform/printing.h"

#include <gmock/gmock.h>

#include "support/pdfwords.h"
#include "support/testdir.h"

namespace velmora {
namespace {

TEST(Printing, PlacesTextsByTheirTopLeftCornerIn300DpiDots) {
  testing::TestDir dir;
  const std::string pdf = dir / "list.pdf";
  {
    auto job = BeginPdfJob(QString::fromStdString(pdf));
    job->TextOut(100, 100, "NAME");
    job->TextOut(550, 100, "SURNAME");
    job->TextOut(100, 190, "Ann");
    job->TextOut(1800, 240, "Zo\u00eb");
    job->End();
  }
  auto words = testing::PdfWords(pdf);
  ASSERT_EQ(words.size(), 4u) << "is pdftotext (poppler-utils) installed?";
  const double dot = 72.0 / 300;  // points per dot
  EXPECT_NEAR(words["SURNAME"].xMin - words["NAME"].xMin, 450 * dot, 1.0);
  EXPECT_NEAR(words["Ann"].yMin - words["NAME"].yMin, 90 * dot, 1.0);
  EXPECT_NEAR(words["Zo\u00eb"].yMin - words["Ann"].yMin, 50 * dot, 1.0);
  EXPECT_NEAR(words["Zo\u00eb"].xMin - words["Ann"].xMin, 1700 * dot, 1.0);
  // Rows 50 dots apart must not overlap: the text is less than 12 points high.
  EXPECT_LT(words["Ann"].yMin - words["NAME"].yMin, 90 * dot + 1.0);
}

TEST(Printing, WithoutADefaultPrinterNoJobStarts) {
  ::setenv("CUPS_SERVER", "/nonexistent/cups.sock", 1);
  try {
    BeginPrintJob();
    GTEST_SKIP() << "this machine has a default printer";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), kNoPrinterText);
  }
}

}  // namespace
}  // namespace velmora
