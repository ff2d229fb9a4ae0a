// Forwarding areas that mark every call as the platform's.
#include "bench/sim/MarkedPlatform.h"

#include "bench/sim/ServiceAccounting.h"
#include "platform/Debug.h"
#include "platform/Devices.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Threads.h"
#include "platform/Volumes.h"

namespace bench {

namespace {

using platform::Bool;
using platform::Handle;
using platform::Hkey;

template <typename Call>
auto Marked(Call call) {
  PlatformCallScope scope;
  return call();
}

class MarkedFiles final : public platform::Files {
 public:
  explicit MarkedFiles(platform::Files& inner) : inner_(inner) {}
  Bool SHGetSpecialFolderPathW(Handle owner, char16_t* path, std::int32_t csidl,
                               Bool create) override {
    return Marked([&] { return inner_.SHGetSpecialFolderPathW(owner, path, csidl, create); });
  }
  Bool PathRemoveFileSpecW(char16_t* path) override {
    return Marked([&] { return inner_.PathRemoveFileSpecW(path); });
  }
  char16_t* PathAddBackslashW(char16_t* path) override {
    return Marked([&] { return inner_.PathAddBackslashW(path); });
  }
  Bool PathAppendW(char16_t* path, const char16_t* more) override {
    return Marked([&] { return inner_.PathAppendW(path, more); });
  }
  Bool PathFileExistsW(const char16_t* path) override {
    return Marked([&] { return inner_.PathFileExistsW(path); });
  }
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flagsAndAttributes) override {
    return Marked(
        [&] { return inner_.CreateFileW(path, access, share, disposition, flagsAndAttributes); });
  }
  Bool ReadFile(Handle file, void* buffer, std::uint32_t toRead,
                std::uint32_t* bytesRead) override {
    return Marked([&] { return inner_.ReadFile(file, buffer, toRead, bytesRead); });
  }
  std::uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                         const char16_t* defaultText, char16_t* out,
                                         std::uint32_t size, const char16_t* fileName) override {
    return Marked([&] {
      return inner_.GetPrivateProfileStringW(section, key, defaultText, out, size, fileName);
    });
  }

 private:
  platform::Files& inner_;
};

class MarkedRegistry final : public platform::Registry {
 public:
  explicit MarkedRegistry(platform::Registry& inner) : inner_(inner) {}
  std::int32_t RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, Hkey* result) override {
    return Marked([&] { return inner_.RegOpenKeyExW(root, subKey, options, access, result); });
  }
  std::int32_t RegQueryValueExW(Hkey key, const char16_t* valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) override {
    return Marked([&] { return inner_.RegQueryValueExW(key, valueName, type, data, size); });
  }
  std::int32_t RegCreateKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                               std::uint32_t access, Hkey* result,
                               std::uint32_t* disposition) override {
    return Marked(
        [&] { return inner_.RegCreateKeyExW(root, subKey, options, access, result, disposition); });
  }
  std::int32_t RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) override {
    return Marked([&] { return inner_.RegSetValueExW(key, valueName, type, data, size); });
  }
  std::int32_t RegCloseKey(Hkey key) override {
    return Marked([&] { return inner_.RegCloseKey(key); });
  }

 private:
  platform::Registry& inner_;
};

class MarkedDevices final : public platform::Devices {
 public:
  explicit MarkedDevices(platform::Devices& inner) : inner_(inner) {}
  Bool SetupDiClassGuidsFromNameW(const char16_t* className, platform::Guid* list,
                                  std::uint32_t listSize, std::uint32_t* requiredSize) override {
    return Marked(
        [&] { return inner_.SetupDiClassGuidsFromNameW(className, list, listSize, requiredSize); });
  }
  Handle SetupDiGetClassDevsW(const platform::Guid* classGuid, const char16_t* enumerator,
                              Handle parent, std::uint32_t flags) override {
    return Marked(
        [&] { return inner_.SetupDiGetClassDevsW(classGuid, enumerator, parent, flags); });
  }
  Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t index,
                             platform::SpDevinfoData* data) override {
    return Marked([&] { return inner_.SetupDiEnumDeviceInfo(set, index, data); });
  }
  Bool SetupDiDestroyDeviceInfoList(Handle set) override {
    return Marked([&] { return inner_.SetupDiDestroyDeviceInfoList(set); });
  }
  std::uint32_t CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                      std::uint32_t devInst, std::uint32_t flags) override {
    return Marked([&] { return inner_.CM_Get_DevNode_Status(status, problem, devInst, flags); });
  }
  std::uint32_t CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) override {
    return Marked([&] { return inner_.CM_Enable_DevNode(devInst, flags); });
  }
  std::uint32_t CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) override {
    return Marked([&] { return inner_.CM_Disable_DevNode(devInst, flags); });
  }

 private:
  platform::Devices& inner_;
};

class MarkedVolumes final : public platform::Volumes {
 public:
  explicit MarkedVolumes(platform::Volumes& inner) : inner_(inner) {}
  std::uint32_t GetDriveTypeW(const char16_t* rootName) override {
    return Marked([&] { return inner_.GetDriveTypeW(rootName); });
  }
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flags) override {
    return Marked([&] { return inner_.CreateFileW(path, access, share, disposition, flags); });
  }
  Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override {
    return Marked([&] {
      return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned);
    });
  }
  void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) override {
    return Marked([&] { return inner_.GlobalAlloc(flags, bytes); });
  }
  void* GlobalFree(void* block) override {
    return Marked([&] { return inner_.GlobalFree(block); });
  }

 private:
  platform::Volumes& inner_;
};

class MarkedThreads final : public platform::Threads {
 public:
  explicit MarkedThreads(platform::Threads& inner) : inner_(inner) {}
  void Sleep(std::uint32_t milliseconds) override {
    PlatformCallScope scope;
    inner_.Sleep(milliseconds);
  }
  Bool CloseHandle(Handle object) override {
    return Marked([&] { return inner_.CloseHandle(object); });
  }
  Handle CreateThread(platform::ThreadRoutine routine, void* parameter) override {
    return Marked([&] { return inner_.CreateThread(routine, parameter); });
  }
  Handle CreateEventW(bool manualReset, bool initialState) override {
    return Marked([&] { return inner_.CreateEventW(manualReset, initialState); });
  }
  Bool SetEvent(Handle event) override {
    return Marked([&] { return inner_.SetEvent(event); });
  }
  std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override {
    return Marked([&] { return inner_.WaitForSingleObject(object, milliseconds); });
  }
  Handle CreateTimerQueue() override {
    return Marked([&] { return inner_.CreateTimerQueue(); });
  }
  Bool CreateTimerQueueTimer(Handle* timer, Handle queue, platform::TimerCallback callback,
                             void* parameter, std::uint32_t dueTime, std::uint32_t period,
                             std::uint32_t flags) override {
    return Marked([&] {
      return inner_.CreateTimerQueueTimer(timer, queue, callback, parameter, dueTime, period,
                                          flags);
    });
  }
  std::uint32_t GetLastError() override {
    return Marked([&] { return inner_.GetLastError(); });
  }
  void SetLastError(std::uint32_t error) override {
    Marked([&] {
      inner_.SetLastError(error);
      return 0;
    });
  }

 private:
  platform::Threads& inner_;
};

class MarkedDebug final : public platform::Debug {
 public:
  explicit MarkedDebug(platform::Debug& inner) : inner_(inner) {}
  void OutputDebugStringA(const char* text) override {
    PlatformCallScope scope;
    inner_.OutputDebugStringA(text);
  }
  void OutputDebugStringW(const char16_t* text) override {
    PlatformCallScope scope;
    inner_.OutputDebugStringW(text);
  }

 private:
  platform::Debug& inner_;
};

}  // namespace

struct MarkedPlatform::Areas {
  explicit Areas(platform::Platform& inner)
      : files(*inner.files),
        registry(*inner.registry),
        devices(*inner.devices),
        volumes(*inner.volumes),
        threads(*inner.threads),
        debug(*inner.debug) {}
  MarkedFiles files;
  MarkedRegistry registry;
  MarkedDevices devices;
  MarkedVolumes volumes;
  MarkedThreads threads;
  MarkedDebug debug;
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
