// Areas that hand every call on to another instance of the same area, so that a wrapper which
// marks, counts or replaces some calls overrides only those.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Crypto.h"
#include "platform/Debug.h"
#include "platform/Devices.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/ServiceControl.h"
#include "platform/Threads.h"
#include "platform/Types.h"
#include "platform/Volumes.h"
#include "platform/Windowing.h"

namespace platform {

/// The scope of a Delegating area that puts nothing around its calls.
struct NoCallScope {};

/// Delegating<Area, Scope> is an Area whose every call makes the same call, with the same
/// arguments, on the inner instance and returns its result, while a Scope lives: the Scope is
/// constructed before the inner call and destroyed after it has returned, so that it can mark
/// the time or the allocations spent inside the platform. Derive from it and override the calls
/// to change; the others still reach the inner instance. The inner area must outlive it.
template <typename Area, typename Scope = NoCallScope>
class Delegating;

template <typename Scope>
class Delegating<Volumes, Scope> : public Volumes {
 public:
  explicit Delegating(Volumes& inner) : inner_(inner) {}
  std::uint32_t GetDriveTypeW(const char16_t* rootName) override {
    [[maybe_unused]] Scope scope;
    return inner_.GetDriveTypeW(rootName);
  }
  std::uint32_t GetLogicalDrives() override {
    [[maybe_unused]] Scope scope;
    return inner_.GetLogicalDrives();
  }
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateFileW(path, access, share, disposition, flags);
  }
  Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override {
    [[maybe_unused]] Scope scope;
    return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned);
  }
  Handle FindFirstVolumeW(char16_t* name, std::uint32_t capacity) override {
    [[maybe_unused]] Scope scope;
    return inner_.FindFirstVolumeW(name, capacity);
  }
  Bool FindNextVolumeW(Handle find, char16_t* name, std::uint32_t capacity) override {
    [[maybe_unused]] Scope scope;
    return inner_.FindNextVolumeW(find, name, capacity);
  }
  Bool FindVolumeClose(Handle find) override {
    [[maybe_unused]] Scope scope;
    return inner_.FindVolumeClose(find);
  }
  Bool GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                        std::uint32_t capacity, std::uint32_t* length) override {
    [[maybe_unused]] Scope scope;
    return inner_.GetVolumePathNamesForVolumeNameW(volumeName, names, capacity, length);
  }
  void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) override {
    [[maybe_unused]] Scope scope;
    return inner_.GlobalAlloc(flags, bytes);
  }
  void* GlobalFree(void* block) override {
    [[maybe_unused]] Scope scope;
    return inner_.GlobalFree(block);
  }

 protected:
  Volumes& inner() { return inner_; }

 private:
  Volumes& inner_;
};

template <typename Scope>
class Delegating<Threads, Scope> : public Threads {
 public:
  explicit Delegating(Threads& inner) : inner_(inner) {}
  void Sleep(std::uint32_t milliseconds) override {
    [[maybe_unused]] Scope scope;
    inner_.Sleep(milliseconds);
  }
  Bool CloseHandle(Handle object) override {
    [[maybe_unused]] Scope scope;
    return inner_.CloseHandle(object);
  }
  Handle CreateThread(ThreadRoutine routine, void* parameter) override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateThread(routine, parameter);
  }
  Handle CreateEventW(bool manualReset, bool initialState) override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateEventW(manualReset, initialState);
  }
  Bool SetEvent(Handle event) override {
    [[maybe_unused]] Scope scope;
    return inner_.SetEvent(event);
  }
  std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override {
    [[maybe_unused]] Scope scope;
    return inner_.WaitForSingleObject(object, milliseconds);
  }
  Handle CreateTimerQueue() override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateTimerQueue();
  }
  Bool CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback, void* parameter,
                             std::uint32_t dueTime, std::uint32_t period,
                             std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateTimerQueueTimer(timer, queue, callback, parameter, dueTime, period, flags);
  }
  std::uint32_t GetLastError() override {
    [[maybe_unused]] Scope scope;
    return inner_.GetLastError();
  }
  void SetLastError(std::uint32_t error) override {
    [[maybe_unused]] Scope scope;
    inner_.SetLastError(error);
  }

 protected:
  Threads& inner() { return inner_; }

 private:
  Threads& inner_;
};

template <typename Scope>
class Delegating<Debug, Scope> : public Debug {
 public:
  explicit Delegating(Debug& inner) : inner_(inner) {}
  void OutputDebugStringA(const char* text) override {
    [[maybe_unused]] Scope scope;
    inner_.OutputDebugStringA(text);
  }
  void OutputDebugStringW(const char16_t* text) override {
    [[maybe_unused]] Scope scope;
    inner_.OutputDebugStringW(text);
  }

 protected:
  Debug& inner() { return inner_; }

 private:
  Debug& inner_;
};

template <typename Scope>
class Delegating<Crypto, Scope> : public Crypto {
 public:
  explicit Delegating(Crypto& inner) : inner_(inner) {}
  Bool CryptAcquireContextW(CryptHandle* provider, const char16_t* container,
                            const char16_t* providerName, std::uint32_t providerType,
                            std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptAcquireContextW(provider, container, providerName, providerType, flags);
  }
  Bool CryptReleaseContext(CryptHandle provider, std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptReleaseContext(provider, flags);
  }
  Bool CryptGetUserKey(CryptHandle provider, std::uint32_t keySpec, CryptHandle* key) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptGetUserKey(provider, keySpec, key);
  }
  Bool CryptGenKey(CryptHandle provider, std::uint32_t algorithm, std::uint32_t flags,
                   CryptHandle* key) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptGenKey(provider, algorithm, flags, key);
  }
  Bool CryptDestroyKey(CryptHandle key) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptDestroyKey(key);
  }
  Bool CryptCreateHash(CryptHandle provider, std::uint32_t algorithm, CryptHandle key,
                       std::uint32_t flags, CryptHandle* hash) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptCreateHash(provider, algorithm, key, flags, hash);
  }
  Bool CryptHashData(CryptHandle hash, const std::uint8_t* data, std::uint32_t length,
                     std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptHashData(hash, data, length, flags);
  }
  Bool CryptDeriveKey(CryptHandle provider, std::uint32_t algorithm, CryptHandle baseData,
                      std::uint32_t flags, CryptHandle* key) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptDeriveKey(provider, algorithm, baseData, flags, key);
  }
  Bool CryptDestroyHash(CryptHandle hash) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptDestroyHash(hash);
  }
  Bool CryptDecrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                    std::uint8_t* data, std::uint32_t* length) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptDecrypt(key, hash, final, flags, data, length);
  }
  Bool CryptEncrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                    std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity) override {
    [[maybe_unused]] Scope scope;
    return inner_.CryptEncrypt(key, hash, final, flags, data, length, capacity);
  }

 protected:
  Crypto& inner() { return inner_; }

 private:
  Crypto& inner_;
};

template <typename Scope>
class Delegating<Registry, Scope> : public Registry {
 public:
  explicit Delegating(Registry& inner) : inner_(inner) {}
  std::int32_t RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, Hkey* result) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegOpenKeyExW(root, subKey, options, access, result);
  }
  std::int32_t RegQueryValueExW(Hkey key, const char16_t* valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegQueryValueExW(key, valueName, type, data, size);
  }
  std::int32_t RegCreateKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                               std::uint32_t access, Hkey* result,
                               std::uint32_t* disposition) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegCreateKeyExW(root, subKey, options, access, result, disposition);
  }
  std::int32_t RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegSetValueExW(key, valueName, type, data, size);
  }
  std::int32_t RegCloseKey(Hkey key) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegCloseKey(key);
  }

 protected:
  Registry& inner() { return inner_; }

 private:
  Registry& inner_;
};

template <typename Scope>
class Delegating<Devices, Scope> : public Devices {
 public:
  explicit Delegating(Devices& inner) : inner_(inner) {}
  Bool SetupDiClassGuidsFromNameW(const char16_t* className, Guid* list, std::uint32_t listSize,
                                  std::uint32_t* requiredSize) override {
    [[maybe_unused]] Scope scope;
    return inner_.SetupDiClassGuidsFromNameW(className, list, listSize, requiredSize);
  }
  Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, Handle parent,
                              std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
  }
  Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t index, SpDevinfoData* data) override {
    [[maybe_unused]] Scope scope;
    return inner_.SetupDiEnumDeviceInfo(set, index, data);
  }
  Bool SetupDiDestroyDeviceInfoList(Handle set) override {
    [[maybe_unused]] Scope scope;
    return inner_.SetupDiDestroyDeviceInfoList(set);
  }
  std::uint32_t CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                      std::uint32_t devInst, std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CM_Get_DevNode_Status(status, problem, devInst, flags);
  }
  std::uint32_t CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CM_Enable_DevNode(devInst, flags);
  }
  std::uint32_t CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) override {
    [[maybe_unused]] Scope scope;
    return inner_.CM_Disable_DevNode(devInst, flags);
  }

 protected:
  Devices& inner() { return inner_; }

 private:
  Devices& inner_;
};

template <typename Scope>
class Delegating<Files, Scope> : public Files {
 public:
  explicit Delegating(Files& inner) : inner_(inner) {}
  Bool SHGetSpecialFolderPathW(Handle owner, char16_t* path, std::int32_t csidl,
                               Bool create) override {
    [[maybe_unused]] Scope scope;
    return inner_.SHGetSpecialFolderPathW(owner, path, csidl, create);
  }
  Bool PathRemoveFileSpecW(char16_t* path) override {
    [[maybe_unused]] Scope scope;
    return inner_.PathRemoveFileSpecW(path);
  }
  char16_t* PathAddBackslashW(char16_t* path) override {
    [[maybe_unused]] Scope scope;
    return inner_.PathAddBackslashW(path);
  }
  Bool PathAppendW(char16_t* path, const char16_t* more) override {
    [[maybe_unused]] Scope scope;
    return inner_.PathAppendW(path, more);
  }
  Bool PathFileExistsW(const char16_t* path) override {
    [[maybe_unused]] Scope scope;
    return inner_.PathFileExistsW(path);
  }
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flagsAndAttributes) override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateFileW(path, access, share, disposition, flagsAndAttributes);
  }
  Bool ReadFile(Handle file, void* buffer, std::uint32_t toRead,
                std::uint32_t* bytesRead) override {
    [[maybe_unused]] Scope scope;
    return inner_.ReadFile(file, buffer, toRead, bytesRead);
  }
  std::uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                         const char16_t* defaultText, char16_t* out,
                                         std::uint32_t size, const char16_t* fileName) override {
    [[maybe_unused]] Scope scope;
    return inner_.GetPrivateProfileStringW(section, key, defaultText, out, size, fileName);
  }

 protected:
  Files& inner() { return inner_; }

 private:
  Files& inner_;
};

template <typename Scope>
class Delegating<Process, Scope> : public Process {
 public:
  explicit Delegating(Process& inner) : inner_(inner) {}
  Handle GetModuleHandleW(const char16_t* moduleName) override {
    [[maybe_unused]] Scope scope;
    return inner_.GetModuleHandleW(moduleName);
  }
  ProcAddress GetProcAddress(Handle module, const char* procName) override {
    [[maybe_unused]] Scope scope;
    return inner_.GetProcAddress(module, procName);
  }
  Handle GetCurrentProcess() override {
    [[maybe_unused]] Scope scope;
    return inner_.GetCurrentProcess();
  }
  Bool CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) override {
    [[maybe_unused]] Scope scope;
    return inner_.CallIsWow64Process(routine, process, wow64);
  }

 protected:
  Process& inner() { return inner_; }

 private:
  Process& inner_;
};

template <typename Scope>
class Delegating<ServiceControl, Scope> : public ServiceControl {
 public:
  explicit Delegating(ServiceControl& inner) : inner_(inner) {}
  Bool StartServiceCtrlDispatcherW(const ServiceTableEntry* table) override {
    [[maybe_unused]] Scope scope;
    return inner_.StartServiceCtrlDispatcherW(table);
  }
  Handle RegisterServiceCtrlHandlerW(const char16_t* serviceName,
                                     ServiceHandlerRoutine handler) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegisterServiceCtrlHandlerW(serviceName, handler);
  }
  Bool SetServiceStatus(Handle statusHandle, const ServiceStatus* status) override {
    [[maybe_unused]] Scope scope;
    return inner_.SetServiceStatus(statusHandle, status);
  }

 protected:
  ServiceControl& inner() { return inner_; }

 private:
  ServiceControl& inner_;
};

template <typename Scope>
class Delegating<Windowing, Scope> : public Windowing {
 public:
  explicit Delegating(Windowing& inner) : inner_(inner) {}
  std::uint16_t RegisterClassW(const WndClass* windowClass) override {
    [[maybe_unused]] Scope scope;
    return inner_.RegisterClassW(windowClass);
  }
  Handle CreateWindowExW(std::uint32_t exStyle, const char16_t* className,
                         const char16_t* windowName, std::uint32_t style, std::int32_t x,
                         std::int32_t y, std::int32_t width, std::int32_t height, Handle parent,
                         Handle menu, Handle instance, void* param) override {
    [[maybe_unused]] Scope scope;
    return inner_.CreateWindowExW(exStyle, className, windowName, style, x, y, width, height,
                                  parent, menu, instance, param);
  }
  Bool ShowWindow(Handle window, std::int32_t command) override {
    [[maybe_unused]] Scope scope;
    return inner_.ShowWindow(window, command);
  }
  Bool PeekMessageW(Msg* message, Handle window, std::uint32_t filterMin, std::uint32_t filterMax,
                    std::uint32_t removeFlags) override {
    [[maybe_unused]] Scope scope;
    return inner_.PeekMessageW(message, window, filterMin, filterMax, removeFlags);
  }
  std::intptr_t DefWindowProcW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) override {
    [[maybe_unused]] Scope scope;
    return inner_.DefWindowProcW(window, message, wParam, lParam);
  }
  Handle LoadIconW(Handle instance, std::uintptr_t resourceId) override {
    [[maybe_unused]] Scope scope;
    return inner_.LoadIconW(instance, resourceId);
  }
  Handle LoadCursorW(Handle instance, std::uintptr_t resourceId) override {
    [[maybe_unused]] Scope scope;
    return inner_.LoadCursorW(instance, resourceId);
  }
  Handle GetStockObject(std::int32_t object) override {
    [[maybe_unused]] Scope scope;
    return inner_.GetStockObject(object);
  }

 protected:
  Windowing& inner() { return inner_; }

 private:
  Windowing& inner_;
};

}  // namespace platform
