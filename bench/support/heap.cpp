#include "bench/support/heap.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_heapNow{0};   // bytes held now
std::atomic<size_t> g_heapPeak{0};  // the most held since the last HeapPeak::Start

void NoteAlloc(void* p) {
  if (!p) return;
  const size_t n = malloc_usable_size(p);
  const size_t now = g_heapNow.fetch_add(n, std::memory_order_relaxed) + n;
  size_t peak = g_heapPeak.load(std::memory_order_relaxed);
  while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void NoteFree(void* p) {
  if (p) g_heapNow.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
}

void* TryAlloc(size_t n, size_t align) {
  if (n == 0) n = 1;
  void* p = nullptr;
  if (align <= alignof(std::max_align_t)) {
    p = std::malloc(n);
  } else if (posix_memalign(&p, std::max(align, sizeof(void*)), n) != 0) {
    p = nullptr;
  }
  NoteAlloc(p);
  return p;
}

void* Alloc(size_t n, size_t align) {
  for (;;) {
    if (void* p = TryAlloc(n, align)) return p;
    std::new_handler h = std::get_new_handler();
    if (!h) throw std::bad_alloc();
    h();
  }
}

void Release(void* p) noexcept {
  NoteFree(p);
  std::free(p);
}

constexpr size_t kPlain = alignof(std::max_align_t);

}  // namespace

void* operator new(size_t n) { return Alloc(n, kPlain); }
void* operator new[](size_t n) { return Alloc(n, kPlain); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return TryAlloc(n, kPlain); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return TryAlloc(n, kPlain); }
void* operator new(size_t n, std::align_val_t a) { return Alloc(n, size_t(a)); }
void* operator new[](size_t n, std::align_val_t a) { return Alloc(n, size_t(a)); }
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return TryAlloc(n, size_t(a));
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return TryAlloc(n, size_t(a));
}

void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

namespace velmora::bench {

void HeapPeak::Start() {
  base_ = g_heapNow.load(std::memory_order_relaxed);
  g_heapPeak.store(base_, std::memory_order_relaxed);
}

void HeapPeak::Stop() { max_ = std::max(max_, g_heapPeak.load(std::memory_order_relaxed) - base_); }

}  // namespace velmora::bench
