// The simulated machine's device installation.
#include "platform/sim/SimDevices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"

namespace platform::sim {

namespace {

constexpr std::uint32_t kDigcfAllClasses = 0x4;
constexpr std::uint32_t kCmDisableBits = 0xF;

std::string TextOf(const char16_t* s) {
  return s == nullptr ? "(null)" : ToUtf8(s);
}

// A GUID in registry form: "{EEC5AD98-8080-425F-922A-DABF3DE3F69A}".
std::string GuidText(const Guid& g) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return buf;
}

}  // namespace

bool operator==(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

void SimDevices::AddClass(const std::u16string& name, const Guid& guid) {
  std::lock_guard lock(core_.Mutex());
  classes_.push_back(SimClass{name, guid});
}

void SimDevices::RemoveClass(const std::u16string& name) {
  std::lock_guard lock(core_.Mutex());
  std::erase_if(classes_, [&](const SimClass& c) {
    return CompareIgnoringAsciiCase(c.name.c_str(), name.c_str()) == 0;
  });
}

std::uint32_t SimDevices::AddDevice(const Guid& classGuid, bool present, std::uint32_t problem) {
  std::lock_guard lock(core_.Mutex());
  SimDevice d;
  d.classGuid = classGuid;
  d.devInst = nextDevInst_++;
  d.present = present;
  d.problem = problem;
  devices_.push_back(d);
  return d.devInst;
}

void SimDevices::SetDevice(const SimDevice& device) {
  std::lock_guard lock(core_.Mutex());
  if (SimDevice* d = DeviceOf(device.devInst)) *d = device;
}

SimDevice SimDevices::Device(std::uint32_t devInst) const {
  std::lock_guard lock(core_.Mutex());
  for (const auto& d : devices_) {
    if (d.devInst == devInst) return d;
  }
  return SimDevice{};
}

std::vector<SimDevice> SimDevices::AllDevices() const {
  std::lock_guard lock(core_.Mutex());
  return devices_;
}

SimDevice* SimDevices::DeviceOf(std::uint32_t devInst) {
  for (auto& d : devices_) {
    if (d.devInst == devInst) return &d;
  }
  return nullptr;
}

Bool SimDevices::SetupDiClassGuidsFromNameW(const char16_t* className, Guid* list,
                                            std::uint32_t listSize, std::uint32_t* requiredSize) {
  SimCall call = core_.Enter(Fault::kSetupDiClassGuidsFromNameW);
  call.Describe([&] {
    return "SetupDiClassGuidsFromNameW " + TextOf(className) + " " + std::to_string(listSize);
  });
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([&] { return " -> 0 err=" + std::to_string(error); });
    return Bool{0};
  };
  if (call.failed()) return fail(call.error());
  if (className == nullptr || (list == nullptr && listSize != 0)) {
    return fail(kErrorInvalidParameter);
  }
  std::vector<Guid> found;
  for (const auto& c : classes_) {
    if (CompareIgnoringAsciiCase(c.name.c_str(), className) == 0) found.push_back(c.guid);
  }
  if (requiredSize != nullptr) *requiredSize = static_cast<std::uint32_t>(found.size());
  // Entries beyond the list's size are not written; with no class of that name nothing is,
  // and the call still succeeds with a required size of 0, as Wine's does.
  const std::size_t written = std::min<std::size_t>(found.size(), listSize);
  std::copy_n(found.begin(), written, list);
  const Bool ok = found.size() > listSize ? 0 : 1;
  if (ok == 0) SimCore::SetLastError(kErrorInsufficientBuffer);
  call.Record([&] {
    std::string line = " -> " + std::to_string(ok) + " required=" + std::to_string(found.size());
    for (std::size_t i = 0; i < written; ++i) line += " " + GuidText(found[i]);
    return line;
  });
  return ok;
}

Handle SimDevices::SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator,
                                        Handle parent, std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kSetupDiGetClassDevsW);
  call.Describe([&] {
    return "SetupDiGetClassDevsW " +
           (classGuid == nullptr ? std::string("(null)") : GuidText(*classGuid)) + " " +
           TextOf(enumerator) + " " + HandleText(parent) + " " + HexText(flags);
  });
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([&] { return " -> INVALID_HANDLE_VALUE err=" + std::to_string(error); });
    return kInvalidHandleValue;
  };
  if (call.failed()) return fail(call.error());
  const bool allClasses = (flags & kDigcfAllClasses) != 0;
  if (classGuid == nullptr && !allClasses) return fail(kErrorInvalidParameter);
  std::vector<std::uint32_t> snapshot;
  for (const auto& d : devices_) {
    if (!allClasses && !(d.classGuid == *classGuid)) continue;
    if ((flags & kDigcfPresent) != 0 && !d.present) continue;
    snapshot.push_back(d.devInst);
  }
  Handle set = core_.OpenHandle(
      HandleEntry{"devinfo", classGuid == nullptr ? std::string("all") : GuidText(*classGuid)},
      [this](Handle closed) { sets_.erase(closed); });
  const std::size_t count = snapshot.size();
  sets_[set] = std::move(snapshot);
  call.Record([&] { return " -> " + HandleText(set) + " devices=" + std::to_string(count); });
  return set;
}

Bool SimDevices::SetupDiEnumDeviceInfo(Handle set, std::uint32_t index, SpDevinfoData* data) {
  SimCall call = core_.Enter(Fault::kSetupDiEnumDeviceInfo);
  call.Describe([&] {
    return "SetupDiEnumDeviceInfo " + HandleText(set) + " " + std::to_string(index) +
           " cbSize=" + (data == nullptr ? "(null)" : std::to_string(data->cbSize));
  });
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([&] { return " -> 0 err=" + std::to_string(error); });
    return Bool{0};
  };
  if (call.failed()) return fail(call.error());
  auto it = sets_.find(set);
  if (it == sets_.end()) return fail(kErrorInvalidHandle);
  if (data == nullptr) return fail(kErrorInvalidParameter);
  if (data->cbSize != sizeof(SpDevinfoData)) return fail(kErrorInvalidUserBuffer);
  if (index >= it->second.size()) return fail(kErrorNoMoreItems);
  const SimDevice* d = DeviceOf(it->second[index]);
  if (d == nullptr) return fail(kErrorNoMoreItems);
  data->classGuid = d->classGuid;
  data->devInst = d->devInst;
  data->reserved = set;
  call.Record([&] { return " -> 1 devinst=" + std::to_string(d->devInst); });
  return 1;
}

Bool SimDevices::SetupDiDestroyDeviceInfoList(Handle set) {
  SimCall call = core_.Enter(Fault::kSetupDiDestroyDeviceInfoList);
  Bool ok = 0;
  if (call.failed()) {
    SimCore::SetLastError(call.error());
  } else if (!sets_.contains(set)) {
    SimCore::SetLastError(kErrorInvalidHandle);
  } else {
    ok = core_.CloseHandle(set) ? 1 : 0;
  }
  call.Record([&] {
    return "SetupDiDestroyDeviceInfoList " + HandleText(set) + " -> " + std::to_string(ok);
  });
  return ok;
}

std::uint32_t SimDevices::CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                                std::uint32_t devInst, std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCM_Get_DevNode_Status);
  call.Describe([&] {
    return "CM_Get_DevNode_Status " + std::to_string(devInst) + " " + HexText(flags) + " -> ";
  });
  SimDevice* d = DeviceOf(devInst);
  std::uint32_t result = kCrSuccess;
  if (call.failed()) {
    result = call.error();
  } else if (status == nullptr || problem == nullptr) {
    result = kCrInvalidPointer;
  } else if (flags != 0) {
    result = kCrInvalidFlag;
  } else if (d == nullptr) {
    result = kCrInvalidDevnode;
  } else if (!d->present) {
    result = kCrNoSuchDevinst;
  } else if (d->statusFails) {
    result = kCrFailure;
  }
  if (result != kCrSuccess) {
    // A failed query writes neither output.
    call.Record([&] { return HexText(result); });
    return result;
  }
  if (d->statusSilent) {
    call.Record([&] { return HexText(result) + " (nothing written)"; });
    return result;
  }
  *status = kDnDriverLoaded | (d->problem == 0 ? kDnStarted : kDnHasProblem);
  *problem = d->problem;
  call.Record([&] {
    return HexText(result) + " status=" + HexText(*status) + " problem=" + std::to_string(*problem);
  });
  return result;
}

std::uint32_t SimDevices::CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCM_Enable_DevNode);
  SimDevice* d = DeviceOf(devInst);
  if (d != nullptr) ++d->enableCalls;
  std::uint32_t result = kCrSuccess;
  if (call.failed()) {
    result = call.error();
  } else if (flags != 0) {
    result = kCrInvalidFlag;
  } else if (d == nullptr) {
    result = kCrInvalidDevnode;
  } else if (!d->present) {
    result = kCrNoSuchDevinst;
  } else if (d->problem == kCmProbDisabled) {
    // Enabling clears the disabled state; other problems (a missing driver, say) remain.
    d->problem = 0;
  }
  call.Record([&] {
    return "CM_Enable_DevNode " + std::to_string(devInst) + " " + HexText(flags) + " -> " +
           HexText(result);
  });
  return result;
}

std::uint32_t SimDevices::CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCM_Disable_DevNode);
  SimDevice* d = DeviceOf(devInst);
  if (d != nullptr) ++d->disableCalls;
  std::uint32_t result = kCrSuccess;
  if (call.failed()) {
    result = call.error();
  } else if ((flags & ~kCmDisableBits) != 0) {
    result = kCrInvalidFlag;
  } else if (d == nullptr) {
    result = kCrInvalidDevnode;
  } else if (!d->present) {
    result = kCrNoSuchDevinst;
  } else {
    d->problem = kCmProbDisabled;
  }
  call.Record([&] {
    return "CM_Disable_DevNode " + std::to_string(devInst) + " " + HexText(flags) + " -> " +
           HexText(result);
  });
  return result;
}

}  // namespace platform::sim
