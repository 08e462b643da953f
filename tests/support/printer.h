#pragma once
// A printer that records what a job would print instead of printing it.

#include <QString>
#include <memory>
#include <tuple>
#include <vector>

#include "platform/ioerror.h"
#include "platform/printing.h"

namespace velmora::testing {

using Placed = std::tuple<int, int, QString>;  // x, y, text

// Records what a job would print instead of printing it.
class RecordingPrinter : public PrinterSeam {
 public:
  std::unique_ptr<PrintJob> Begin() override {
    ++begun;
    if (missing) throw AppError(kNoPrinterText);
    return std::make_unique<Job>(*this);
  }
  // The texts placed at height y, left to right.
  std::vector<QString> Line(int y) const {
    std::vector<QString> out;
    for (const auto& [px, py, text] : placed)
      if (py == y) out.push_back(text);
    return out;
  }

  bool missing = false;
  int begun = 0;
  int ended = 0;
  std::vector<Placed> placed;

 private:
  class Job : public PrintJob {
   public:
    explicit Job(RecordingPrinter& p) : p_(p) {}
    void TextOut(int x, int y, const QString& text) override { p_.placed.emplace_back(x, y, text); }
    void End() override { ++p_.ended; }

   private:
    RecordingPrinter& p_;
  };
  ScopedPrinterSeam scope_{*this};
};

}  // namespace velmora::testing
