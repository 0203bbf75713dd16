#include "common/memory.h"

#include <cstddef>
#include <memory>
#include <new>

namespace korv {

namespace {

constexpr std::size_t kReserve = 8 << 20;

std::unique_ptr<char[]> reserve;

void releaseReserve() {
  if (!reserve) {
    // Nothing left to give back: the allocation fails.
    std::set_new_handler(nullptr);
    throw std::bad_alloc();
  }
  reserve.reset();
  // The failure is raised all the same, so that the run stops while the reserve lasts.
  throw std::bad_alloc();
}

}  // namespace

void holdMemoryInReserve() {
  // Left untouched, it takes address space but no memory until it is given back.
  reserve.reset(new char[kReserve]);
  std::set_new_handler(releaseReserve);
}

}  // namespace korv
