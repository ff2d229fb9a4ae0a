// The simulated machine's registry: keys, typed values, access checks and open key handles.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// One registry value: its type and its bytes exactly as stored.
struct SimRegValue {
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

/// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER with the rules the service depends on: key and value
/// names are case-insensitive; a key handle carries the access it was opened with and refuses
/// operations outside it (a key opened for KEY_QUERY_VALUE cannot be written); RegCreateKeyExW
/// creates every missing key on the path; a trailing backslash in a subkey path is accepted;
/// a query copies data only when it fits, leaving the rest of the caller's buffer as it was, and
/// fails with ERROR_MORE_DATA (leaving the buffer untouched) when it does not. Key handles live
/// in the machine's handle table (kind "regkey"), so a key left open shows as a leak.
class SimRegistry final : public Registry {
 public:
  explicit SimRegistry(SimCore& core);

  /// Test set-up, not journalled: stores a value, creating the keys on the path.
  void SetValue(Hkey root, std::u16string_view path, std::u16string_view name, SimRegValue value);
  void SetDword(Hkey root, std::u16string_view path, std::u16string_view name, std::uint32_t value);
  /// Stores text as REG_SZ, terminator included (as RegSetValueExW callers store it).
  void SetString(Hkey root, std::u16string_view path, std::u16string_view name,
                 std::u16string_view text);
  void DeleteValue(Hkey root, std::u16string_view path, std::u16string_view name);
  /// Removes the key and everything below it.
  void DeleteKey(Hkey root, std::u16string_view path);
  [[nodiscard]] std::optional<SimRegValue> Value(Hkey root, std::u16string_view path,
                                                 std::u16string_view name) const;
  [[nodiscard]] bool KeyExists(Hkey root, std::u16string_view path) const;
  /// Every key and value, one line each, for comparing whole registries.
  [[nodiscard]] std::vector<std::string> Dump() const;
  /// Refuses with ERROR_ACCESS_DENIED every open or create of the key at path, or of any key
  /// below it, that asks for access within mask; creating a missing key below it is refused
  /// when mask includes KEY_CREATE_SUB_KEY. Applies to handles opened from then on, as an ACL
  /// does.
  void DenyAccess(Hkey root, std::u16string_view path, std::uint32_t mask = kKeyAllAccess);
  /// Key handles open now.
  [[nodiscard]] std::size_t OpenKeyCount() const;

  std::int32_t RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, Hkey* result) override;
  std::int32_t RegQueryValueExW(Hkey key, const char16_t* valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) override;
  std::int32_t RegCreateKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                               std::uint32_t access, Hkey* result,
                               std::uint32_t* disposition) override;
  std::int32_t RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) override;
  std::int32_t RegCloseKey(Hkey key) override;

 private:
  struct NamedValue {
    std::u16string name;  ///< as first stored
    SimRegValue value;
  };
  struct Key {
    std::u16string name;  ///< full path as first created, for Dump
    std::map<std::u16string, NamedValue, std::less<>> values;  ///< by folded name
  };
  struct OpenKey {
    std::u16string path;  ///< folded full path
    std::uint32_t access = 0;
  };
  struct Denial {
    std::u16string path;  ///< folded full path
    std::uint32_t mask = 0;
  };

  /// The folded full path of root, for a predefined root or an open key handle; access gets
  /// the handle's rights (predefined roots have all). Empty when root is neither.
  std::u16string Base(Hkey root, std::uint32_t* access) const;
  /// The path of subKey below base, folded and as written. Every level's path is a prefix of
  /// both; ends (when given) gets each level's length, the deepest last, one per name in subKey.
  std::int32_t Levels(const std::u16string& base, std::u16string_view subKey,
                      std::u16string* folded, std::u16string* display,
                      std::vector<std::size_t>* ends) const;
  bool Denied(std::u16string_view path, std::uint32_t access) const;
  Key* FindKey(std::u16string_view folded);
  const OpenKey* FindOpen(Hkey key) const;
  Hkey OpenHandleFor(const std::u16string& folded, std::uint32_t access);
  /// Creates the keys of a set-up path; returns the deepest.
  Key& MakeKey(Hkey root, std::u16string_view path);
  std::u16string Folded(Hkey root, std::u16string_view path) const;

  SimCore& core_;
  std::map<std::u16string, Key, std::less<>> keys_;  ///< by folded full path ("HKLM\SYSTEM\...")
  std::map<Hkey, OpenKey> open_;
  std::vector<Denial> denials_;
};

}  // namespace platform::sim
