// The simulated registry keeps the Windows rules that registry users depend on.
#include "platform/sim/SimRegistry.h"

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "platform/sim/SimMachine.h"

namespace platform::sim {
namespace {

constexpr char16_t kPolicies[] = u"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies";

class SimRegistryTest : public ::testing::Test {
 protected:
  SimMachine machine;
  SimRegistry& reg = machine.registry;
};

// A handle carries the access it was opened with; predefined roots are not in the table.
TEST_F(SimRegistryTest, HandleRightsAndLifetime) {
  reg.SetDword(kHkeyLocalMachine, kPolicies, u"WriteProtect", 1);
  Hkey query = 0;
  ASSERT_EQ(reg.RegOpenKeyExW(kHkeyLocalMachine, kPolicies, 0, kKeyQueryValue, &query), 0);
  std::uint32_t v = 7;
  EXPECT_EQ(
      reg.RegSetValueExW(query, u"WriteProtect", kRegDword, reinterpret_cast<std::uint8_t*>(&v), 4),
      kErrorAccessDenied);
  Hkey write = 0;
  ASSERT_EQ(reg.RegOpenKeyExW(kHkeyLocalMachine, kPolicies, 0, kKeyWrite, &write), 0);
  std::uint32_t size = 4;
  EXPECT_EQ(reg.RegQueryValueExW(write, u"WriteProtect", nullptr,
                                 reinterpret_cast<std::uint8_t*>(&v), &size),
            kErrorAccessDenied);
  EXPECT_EQ(reg.OpenKeyCount(), 2u);
  EXPECT_EQ(reg.RegCloseKey(query), 0);
  EXPECT_EQ(reg.RegCloseKey(query), kErrorInvalidHandle);
  EXPECT_EQ(reg.RegCloseKey(write), 0);
  EXPECT_EQ(reg.RegCloseKey(kHkeyLocalMachine), 0);
  EXPECT_EQ(reg.OpenKeyCount(), 0u);
  EXPECT_EQ(reg.Value(kHkeyLocalMachine, kPolicies, u"writeprotect")->data,
            (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

TEST_F(SimRegistryTest, PathsAndCreation) {
  struct Case {
    const char16_t* subKey;
    std::int32_t status;
    std::uint32_t disposition;
  };
  const Case cases[] = {
      {u"SYSTEM\\A\\B\\", 0, kRegCreatedNewKey},  // every missing level, trailing backslash
      {u"system\\a\\b", 0, kRegOpenedExistingKey}, {u"\\SYSTEM\\A", kErrorBadPathname, 0},
      {u"SYSTEM\\\\A", kErrorBadPathname, 0},      {u"SYSTEM\\A\\\\", kErrorBadPathname, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.subKey));
    Hkey key = 0;
    std::uint32_t disposition = 0;
    EXPECT_EQ(reg.RegCreateKeyExW(kHkeyLocalMachine, c.subKey, 0, kKeyWrite, &key, &disposition),
              c.status);
    EXPECT_EQ(disposition, c.disposition);
    if (key != 0) reg.RegCloseKey(key);
  }
  EXPECT_TRUE(reg.KeyExists(kHkeyLocalMachine, u"SYSTEM\\A"));
  Hkey key = 1;
  EXPECT_EQ(reg.RegOpenKeyExW(kHkeyLocalMachine, u"SYSTEM\\Missing", 0, kKeyQueryValue, &key),
            kErrorFileNotFound);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(reg.OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace platform::sim
