// The process-wide platform pointer.
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
Platform* installed = nullptr;
}  // namespace

void Install(Platform* p) {
  installed = p;
}

Platform& Current() {
  if (installed == nullptr) {
    std::fputs("platform: no platform installed\n", stderr);
    std::abort();
  }
  return *installed;
}

Platform* Installed() {
  return installed;
}

}  // namespace platform
