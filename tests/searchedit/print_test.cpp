// PRINT: the result list as placed on the page, and a missing printer.
#include <tuple>

#include "platform/ioerror.h"
#include "platform/printing.h"
#include "support/pdfwords.h"
#include "support/printer.h"
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Placed;
using testing::Rec;
using testing::RecordingPrinter;

class PrintTest : public testing::WindowsTest {
 protected:
  void Print() { Click(PrintButton()); }
};

TEST_F(PrintTest, HeaderRulesAndRowsGoToTheirPlacesWithCellsAsStored) {
  RecordingPrinter printer;
  Start({Rec("Ann", "Smith ", "1", "2", " note"), Rec("BOB", "SMALL"), Rec("Cy", "SMOOT "),
         Rec("Dee", "JONES")});
  Search("SM");
  Print();
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(printer.begun, 1);
  EXPECT_EQ(printer.ended, 1);
  ASSERT_EQ(printer.placed.size(), 10u + 3 * 5);
  const std::vector<Placed> heading = {{100, 100, "NAME"},      {100, 140, "---------"},
                                       {550, 100, "SURNAME"},   {550, 140, "----------------"},
                                       {1000, 100, "PHONE1"},   {1000, 140, "-------------"},
                                       {1400, 100, "PHONE2"},   {1400, 140, "-------------"},
                                       {1800, 100, "COMMENTS"}, {1800, 140, "-------------------"}};
  EXPECT_EQ(std::vector<Placed>(printer.placed.begin(), printer.placed.begin() + 10), heading);
  EXPECT_EQ(printer.Line(190), (std::vector<QString>{"Ann", "Smith ", "1", "2", " note"}));
  EXPECT_EQ(printer.Line(240), (std::vector<QString>{"BOB", "SMALL", "", "", ""}));
  EXPECT_EQ(printer.Line(290), (std::vector<QString>{"Cy", "SMOOT ", "", "", ""}));
  const int columnX[] = {100, 550, 1000, 1400, 1800};
  for (size_t i = 10; i < printer.placed.size(); ++i)
    EXPECT_EQ(std::get<0>(printer.placed[i]), columnX[(i - 10) % 5]) << i;
}

TEST_F(PrintTest, TheMessageRowPrintsLikeAnyRowAndALongListStopsAtThePageEnd) {
  RecordingPrinter printer;
  std::vector<ContactRecord> many;
  for (int i = 0; i < 150; ++i) many.push_back(Rec("N" + std::to_string(i), "SMITH"));
  Start(many);
  Search("X");
  Print();
  EXPECT_EQ(printer.Line(190),
            (std::vector<QString>{"", "", "", "", "No matching entries found."}));
  EXPECT_TRUE(printer.Line(240).empty());

  printer.placed.clear();
  Click(BackButton());
  Search("SM");
  Print();
  EXPECT_EQ(printer.ended, 2);
  // Rows down to 17 inches at 300 dots, the longest paper; none below.
  int lowest = 0;
  for (const auto& [x, y, text] : printer.placed) lowest = std::max(lowest, y);
  EXPECT_EQ(lowest, 140 + 50 * 99);
  EXPECT_EQ(printer.Line(140 + 50 * 99).front(), "N98");
}

TEST_F(PrintTest, WithoutAPrinterOnlyTheErrorBoxIsShown) {
  RecordingPrinter printer;
  printer.missing = true;
  Start({Rec("Ann", "SMITH")});
  Search("SM");
  Print();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "No default printer is set up.");
  EXPECT_EQ(dialogs.shown[0].kind, MsgKind::Error);
  EXPECT_TRUE(printer.placed.empty());
  EXPECT_TRUE(form2->grid()->isVisible());
  EXPECT_EQ(form2->CurrentRow(), 1);
}

TEST_F(PrintTest, ThePrintedPageReadsBackWithTheRowsInPlace) {
  struct PdfPrinter : PrinterSeam {
    std::string path;
    std::unique_ptr<PrintJob> Begin() override { return BeginPdfJob(QString::fromStdString(path)); }
  } pdf;
  pdf.path = dir / "list.pdf";
  ScopedPrinterSeam seam(pdf);
  Start({Rec("Ann", "Smith", "555"), Rec("Bo", "Smalls", "", "",
                                         "Z\xf6"
                                         "e")});
  Search("SM");
  Print();
  ASSERT_TRUE(dialogs.shown.empty());
  auto words = testing::PdfWords(pdf.path);
  ASSERT_TRUE(words.count("Ann")) << "is pdftotext (poppler-utils) installed?";
  const double dot = 72.0 / 300;
  const auto& name = words["NAME"];
  EXPECT_NEAR(words["COMMENTS"].xMin - name.xMin, 1700 * dot, 1.0);
  EXPECT_NEAR(words["Ann"].yMin - name.yMin, 90 * dot, 1.0);
  EXPECT_NEAR(words["555"].xMin - name.xMin, 900 * dot, 1.0);
  EXPECT_NEAR(words["Smalls"].yMin - words["Smith"].yMin, 50 * dot, 1.0);
  EXPECT_NEAR(words[QString::fromUtf8("Z\u00f6e")].xMin - words["Bo"].xMin, 1700 * dot, 1.0);
}

}  // namespace
}  // namespace velmora
