#pragma once
// Printing on the default printer: a job on which texts are placed by their
// top-left corner, in dots of a 300-dpi surface, all on one page. Jobs come
// from one seam, so tests record what would be printed instead.

#include <QString>
#include <memory>

namespace velmora {

class PrintJob {
 public:
  virtual ~PrintJob() = default;
  virtual void TextOut(int x, int y, const QString& text) = 0;
  // Sends the page to the printer.
  virtual void End() = 0;
};

class PrinterSeam {
 public:
  virtual ~PrinterSeam() = default;
  // Starts a job; throws AppError when it cannot (no printer).
  virtual std::unique_ptr<PrintJob> Begin() = 0;
};

// Installs a seam for the life of the returned guard.
class ScopedPrinterSeam {
 public:
  explicit ScopedPrinterSeam(PrinterSeam& seam);
  ~ScopedPrinterSeam();
  ScopedPrinterSeam(const ScopedPrinterSeam&) = delete;
  ScopedPrinterSeam& operator=(const ScopedPrinterSeam&) = delete;

 private:
  PrinterSeam* previous_;
};

// The job of the installed seam, else one on the system's default printer.
std::unique_ptr<PrintJob> BeginPrintJob();

// A job that writes a PDF file instead of printing, laid out as on paper.
std::unique_ptr<PrintJob> BeginPdfJob(const QString& path);

inline constexpr int kPrintDpi = 300;
inline constexpr char kNoPrinterText[] = "No default printer is set up";

}  // namespace velmora
