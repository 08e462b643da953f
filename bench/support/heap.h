#pragma once
// Heap accounting for the benchmarks: linking this library replaces the
// global operator new and delete, so that every allocation of the process
// is counted by its usable size. An operation's own peak is the peak seen
// while it ran minus what was held when it started.

#include <cstddef>

namespace velmora::bench {

// The largest heap one operation held beyond what was there before it,
// over all the iterations measured.
class HeapPeak {
 public:
  void Start();
  void Stop();
  double MiB() const { return double(max_) / double(1u << 20); }

 private:
  size_t base_ = 0;
  size_t max_ = 0;
};

}  // namespace velmora::bench
