// A counting replacement of the global allocation functions, and the platform-call marker.
#include "bench/sim/ServiceAccounting.h"

#include <chrono>
#include <cstdlib>
#include <new>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// Plain thread-local values: no dynamic initialisation, so reading them never allocates.
thread_local int platformDepth = 0;
thread_local bool countingAllocations = false;
thread_local std::uint64_t serviceAllocations = 0;
thread_local bool timingPlatform = false;
thread_local std::int64_t platformEnteredNs = 0;
thread_local std::uint64_t platformNs = 0;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

void* Allocate(std::size_t size) {
  if (countingAllocations && platformDepth == 0) ++serviceAllocations;
  // malloc(0) may return null; a zero-byte new must still return a unique pointer.
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

PlatformCallScope::PlatformCallScope() {
  if (platformDepth++ == 0 && timingPlatform) platformEnteredNs = NowNs();
}

PlatformCallScope::~PlatformCallScope() {
  if (--platformDepth == 0 && timingPlatform) {
    platformNs += static_cast<std::uint64_t>(NowNs() - platformEnteredNs);
  }
}

void StartCountingAllocations() {
  serviceAllocations = 0;
  countingAllocations = true;
}

std::uint64_t StopCountingAllocations() {
  countingAllocations = false;
  return serviceAllocations;
}

void StartTimingPlatformCalls() {
  platformNs = 0;
  timingPlatform = true;
}

std::uint64_t StopTimingPlatformCalls() {
  timingPlatform = false;
  return platformNs;
}

}  // namespace bench

// The replaceable global allocation functions. The standard library's nothrow forms forward to
// these; its aligned forms allocate on their own, and the service makes no aligned news.
void* operator new(std::size_t size) {
  return bench::Allocate(size);
}
void* operator new[](std::size_t size) {
  return bench::Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t /*size*/) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t /*size*/) noexcept {
  std::free(p);
}
