#pragma once
// Qt's frames must never be unwound by an exception. Every event handler runs
// inside Guarded: what it throws ends the user action in the standard error
// box, and the program runs on.

#include <exception>
#include <new>
#include <utility>

#include "platform/ioerror.h"
#include "platform/messagedialog.h"

namespace velmora {

// The box's text for a thrown value that is no std::exception and so has no
// text of its own.
inline constexpr char kUnknownErrorText[] = "Unknown exception";

template <class Handler>
void Guarded(Handler&& handler) {
  try {
    std::forward<Handler>(handler)();
  } catch (const std::bad_alloc&) {
    // The runtime's own text ("std::bad_alloc") tells a user nothing.
    ShowStandardError(AppError(kOutOfMemoryText));
  } catch (const std::exception& e) {
    ShowStandardError(e);
  } catch (...) {
    ShowStandardError(AppError(kUnknownErrorText));
  }
}

// Runs fn, then after, also when fn throws, and lets what fn threw go on to
// the guard: a panel closes, or a window shows the state a step left,
// whatever the step's outcome.
template <class Fn, class After>
void ThenAlways(Fn&& fn, After&& after) {
  try {
    fn();
  } catch (...) {
    after();
    throw;
  }
  after();
}

// A slot that runs fn through the guard, for QObject::connect.
template <class Fn>
auto GuardedSlot(Fn fn) {
  return [fn = std::move(fn)](auto&&...) { Guarded(fn); };
}

}  // namespace velmora
