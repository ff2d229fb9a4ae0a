// DwordReg reads and writes one REG_DWORD value, opening and closing its key each time.
#include "enforcement/DwordReg.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/sim/SimMachine.h"

namespace enforcement {
namespace {

using platform::kHkeyLocalMachine;
using platform::sim::Fault;
using platform::sim::SimMachine;
using platform::sim::SimRegValue;

constexpr char16_t kKey[] = u"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies\\";
constexpr char16_t kValue[] = u"WriteProtect";

class DwordRegTest : public ::testing::Test {
 protected:
  DwordRegTest() { machine.Install(); }
  std::uint32_t Read() {
    return std::make_unique<DwordReg>(kHkeyLocalMachine, kKey, kValue)->Read();
  }
  bool Write(std::uint32_t v) {
    return std::make_unique<DwordReg>(kHkeyLocalMachine, kKey, kValue)->Write(v);
  }
  SimMachine machine;
};

// Whatever is stored, a read gives the first four bytes or 0, creates nothing, changes
// nothing and leaves no key open.
TEST_F(DwordRegTest, ReadGivesFourBytesOrZero) {
  struct Case {
    const char* name;
    std::optional<SimRegValue> stored;  // nullopt: no key at all
    bool deny;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"missing key", std::nullopt, false, 0},
      {"missing value", SimRegValue{}, false, 0},
      {"REG_DWORD 1", SimRegValue{platform::kRegDword, {1, 0, 0, 0}}, false, 1},
      {"REG_DWORD max", SimRegValue{platform::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}}, false,
       0xFFFFFFFFu},
      {"REG_SZ \"1\"", SimRegValue{platform::kRegSz, {'1', 0, 0, 0}}, false, 49},
      {"REG_SZ \"10\"", SimRegValue{platform::kRegSz, {'1', 0, '0', 0, 0, 0}}, false, 0},
      {"two bytes", SimRegValue{platform::kRegBinary, {2, 1}}, false, 0x102},
      {"empty", SimRegValue{platform::kRegBinary, {}}, false, 0},
      {"REG_QWORD 1", SimRegValue{platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}}, false, 0},
      {"denied", SimRegValue{platform::kRegDword, {1, 0, 0, 0}}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    if (c.stored) {
      if (c.stored->type == platform::kRegNone) {
        m.registry.SetDword(kHkeyLocalMachine, kKey, u"Other", 5);
      } else {
        m.registry.SetValue(kHkeyLocalMachine, kKey, kValue, *c.stored);
      }
    }
    if (c.deny) m.registry.DenyAccess(kHkeyLocalMachine, kKey, platform::kKeyQueryValue);
    std::vector<std::string> before = m.registry.Dump();
    EXPECT_EQ(Read(), c.expected);
    EXPECT_EQ(m.registry.Dump(), before);
    EXPECT_EQ(m.registry.OpenKeyCount(), 0u);
    EXPECT_TRUE(m.core.JournalOf("RegCreateKeyExW").empty());
  }
}

TEST_F(DwordRegTest, ReadOpensForQueryOnlyAndClosesAfterAFailedQuery) {
  machine.registry.SetString(kHkeyLocalMachine, kKey, kValue, u"10");
  EXPECT_EQ(Read(), 0u);
  std::vector<std::string> calls = machine.core.Journal();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].rfind("RegOpenKeyExW HKLM \"SYSTEM\\CurrentControlSet\\Control\\"
                           "StorageDevicePolicies\\\" 0 0x1 -> 0",
                           0),
            0u);
  EXPECT_NE(calls[1].find("-> 234"), std::string::npos);
  EXPECT_EQ(calls[2].rfind("RegCloseKey", 0), 0u);
}

TEST_F(DwordRegTest, WriteCreatesTheKeyAndStoresADword) {
  EXPECT_TRUE(Write(1));
  EXPECT_EQ(machine.registry.Value(kHkeyLocalMachine, kKey, kValue)->type, platform::kRegDword);
  EXPECT_EQ(machine.registry.Value(kHkeyLocalMachine, kKey, kValue)->data,
            (std::vector<std::uint8_t>{1, 0, 0, 0}));
  EXPECT_NE(machine.core.JournalOf("RegCreateKeyExW")[0].find(" 0 0x20006 -> 0 "),
            std::string::npos);
  EXPECT_NE(machine.core.JournalOf("RegCreateKeyExW")[0].find("disposition 1"), std::string::npos);
  // A REG_SZ in the way is replaced by the REG_DWORD.
  machine.registry.SetString(kHkeyLocalMachine, kKey, kValue, u"1");
  EXPECT_TRUE(Write(7));
  EXPECT_EQ(Read(), 7u);
  EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
}

// Every way a write can fail gives false and leaves no key open. Refused access changes
// nothing; a set that fails after the key was made leaves the new key without the value.
TEST_F(DwordRegTest, FailedWriteReturnsFalse) {
  struct Case {
    const char* name;
    std::optional<Fault> failCall;  // injected failure, if any
    std::uint32_t denyMask;         // denied on the policies key's parent, or 0
    const char16_t* subKey = kKey;  // the accessor's subkey path
    bool keyRemains = false;
  };
  const std::u16string tooLong(DwordReg::kSubKeyCapacity, u'A');
  const Case cases[] = {
      {"create denied", std::nullopt, platform::kKeyCreateSubKey},
      {"set denied", std::nullopt, platform::kKeySetValue},
      {"create fails", Fault::kRegCreateKeyExW, 0},
      {"set fails", Fault::kRegSetValueExW, 0, kKey, true},
      {"path too long", std::nullopt, 0, tooLong.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    m.registry.SetDword(kHkeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\Other", u"X", 1);
    if (c.denyMask != 0) {
      m.registry.DenyAccess(kHkeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Control", c.denyMask);
    }
    if (c.failCall) m.core.FailCall(*c.failCall, platform::kErrorAccessDenied);
    std::vector<std::string> before = m.registry.Dump();
    auto accessor = std::make_unique<DwordReg>(kHkeyLocalMachine, c.subKey, kValue);
    EXPECT_FALSE(accessor->Write(1));
    EXPECT_EQ(accessor->cachedValue(), 1u);
    EXPECT_EQ(m.registry.KeyExists(kHkeyLocalMachine, kKey), c.keyRemains);
    if (!c.keyRemains) {
      EXPECT_EQ(m.registry.Dump(), before);
    }
    EXPECT_FALSE(m.registry.Value(kHkeyLocalMachine, kKey, kValue).has_value());
    EXPECT_EQ(m.registry.OpenKeyCount(), 0u);
  }
}

}  // namespace
}  // namespace enforcement
