// Areas that mark every call as the platform's.
#include "bench/sim/MarkedPlatform.h"

#include "bench/sim/ServiceAccounting.h"
#include "platform/Delegating.h"

namespace bench {

namespace {

template <typename Area>
using Marked = platform::Delegating<Area, PlatformCallScope>;

}  // namespace

struct MarkedPlatform::Areas {
  explicit Areas(platform::Platform& inner)
      : files(*inner.files),
        registry(*inner.registry),
        devices(*inner.devices),
        volumes(*inner.volumes),
        threads(*inner.threads),
        debug(*inner.debug) {}
  Marked<platform::Files> files;
  Marked<platform::Registry> registry;
  Marked<platform::Devices> devices;
  Marked<platform::Volumes> volumes;
  Marked<platform::Threads> threads;
  Marked<platform::Debug> debug;
};

MarkedPlatform::MarkedPlatform(platform::Platform& inner)
    : areas_(std::make_unique<Areas>(inner)), platform_(inner) {
  platform_.files = &areas_->files;
  platform_.registry = &areas_->registry;
  platform_.devices = &areas_->devices;
  platform_.volumes = &areas_->volumes;
  platform_.threads = &areas_->threads;
  platform_.debug = &areas_->debug;
}

MarkedPlatform::~MarkedPlatform() {
  if (platform::Installed() == &platform_) platform::Install(nullptr);
}

}  // namespace bench
