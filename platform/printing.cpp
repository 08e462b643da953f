#include "platform/printing.h"

#include <QFont>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include "platform/ioerror.h"

namespace velmora {
namespace {

PrinterSeam* g_seam = nullptr;

// The printer's surface at 300 dots per inch, so that rows 50 dots apart are
// 12 points apart and a font of 9 points fits between them.
class QtPrintJob final : public PrintJob {
 public:
  explicit QtPrintJob(std::unique_ptr<QPrinter> printer) : printer_(std::move(printer)) {
    printer_->setResolution(kPrintDpi);
    printer_->setFullPage(false);
    if (!painter_.begin(printer_.get())) throw AppError("Printing could not start");
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9);
    painter_.setFont(font);
  }
  ~QtPrintJob() override {
    if (painter_.isActive()) painter_.end();
  }

  void TextOut(int x, int y, const QString& text) override {
    painter_.drawText(x, y + painter_.fontMetrics().ascent(), text);
  }

  void End() override {
    if (!painter_.end()) throw AppError("Printing failed");
  }

 private:
  std::unique_ptr<QPrinter> printer_;
  QPainter painter_;
};

}  // namespace

ScopedPrinterSeam::ScopedPrinterSeam(PrinterSeam& seam) : previous_(g_seam) { g_seam = &seam; }
ScopedPrinterSeam::~ScopedPrinterSeam() { g_seam = previous_; }

std::unique_ptr<PrintJob> BeginPrintJob() {
  if (g_seam) return g_seam->Begin();
  QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) throw AppError(kNoPrinterText);
  return std::make_unique<QtPrintJob>(std::make_unique<QPrinter>(info, QPrinter::HighResolution));
}

std::unique_ptr<PrintJob> BeginPdfJob(const QString& path) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(path);
  return std::make_unique<QtPrintJob>(std::move(printer));
}

}  // namespace velmora
