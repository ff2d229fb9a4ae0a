// The tool's Service Control Manager on Windows: advapi32's service calls.
#pragma once

#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/win32/Win32Handles.h"

namespace tarvelctl::win32 {

/// Opens the manager and "Tarvel Service" afresh for every call, with just its rights.
class Win32ServiceManager final : public ServiceManager {
 public:
  std::uint32_t Create(const std::u16string& commandLine) override;
  std::uint32_t SetRecovery(const RecoveryPlan& plan) override;
  std::uint32_t SetDescription(const std::u16string& description) override;
  std::uint32_t SetSecurity(const std::u16string& sddl) override;
  std::uint32_t Delete() override;
  std::uint32_t Start() override;
  std::uint32_t Control(std::uint32_t code, ServiceStatusInfo* status) override;
  std::uint32_t Query(ServiceStatusInfo* status) override;
  std::uint32_t QueryCommandLine(std::u16string* commandLine) override;
  std::uint32_t QueryConfig(ServiceConfigInfo* config) override;
  std::uint32_t QueryRecovery(RecoveryState* recovery) override;
  std::uint32_t QuerySecurity(std::u16string* sddl) override;
  std::u16string ExpandEnvironment(const std::u16string& text) override;
  std::uint32_t WaitForProcessExit(std::uint32_t processId, std::uint32_t timeoutMs) override;
  std::string ErrorText(std::uint32_t code) override;
  std::uint64_t NowMs() override;
  void SleepMs(std::uint32_t ms) override;
};

}  // namespace tarvelctl::win32
