// The portable-device class switch: enable or disable every present device of class "WPD".
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace enforcement {

/// Raised when the present devices of the class cannot be listed. Carries the wide text
/// "SetupDiGetClassDevs failed. (err=%lx)" with the error code filled in.
class DeviceListError : public std::exception {
 public:
  explicit DeviceListError(std::uint32_t error);
  [[nodiscard]] const std::u16string& text() const { return text_; }
  [[nodiscard]] std::uint32_t error() const { return error_; }
  [[nodiscard]] const char* what() const noexcept override { return narrow_.c_str(); }

 private:
  std::uint32_t error_;
  std::u16string text_;
  std::string narrow_;
};

/// Enables (true) or disables (false) every present device of the "WPD" setup class.
/// Throws DeviceListError when the device list cannot be obtained; touches no device then.
void SwitchPortableDevices(bool enable);

/// SwitchPortableDevices, with a list failure written to the debug log as
/// "(VexService) SetupDiGetClassDevs failed. (err=N)" and going no further: a poll tick or a
/// control request must finish, and the service never ends for it.
void SwitchPortableDevicesLogged(bool enable);

}  // namespace enforcement
