// Policy files made to hurt the reader: huge, one endless line, a directory, a file held open.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "policy/PolicyReader.h"
#include "tests/unit/policy/PolicyTestSupport.h"
#include "tests/unit/support/ResourceMeter.h"

namespace policy::test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * text.size());
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

// The canonical lines followed by filler lines up to size bytes, each 1000 code units long:
// "Jan" lines that keep replacing the Counter count with 6, and lines with no key.
std::vector<std::uint8_t> HugeFile(std::size_t size) {
  std::vector<std::uint8_t> bytes = Utf16Bytes(PolicyFileText(u"truetrue"));
  const std::u16string filler =
      u"Jan=6" + std::u16string(993, u' ') + u"\r\n" + std::u16string(998, u'x') + u"\r\n";
  const std::vector<std::uint8_t> fillerBytes = Utf16Bytes(filler);
  bytes.reserve(size + fillerBytes.size());
  while (bytes.size() < size) bytes.insert(bytes.end(), fillerBytes.begin(), fillerBytes.end());
  return bytes;
}

struct Outcome {
  bool loaded;
  const char* lastLog;
  std::int32_t counterLength;
  std::u16string state;  // the State slot's text, empty to skip the check
};

class HostileFileTest : public PolicyTest {};

// Each file gives the outcome the reader documents, in memory that does not grow with the file.
// Times and peak memory growth are printed, not asserted.
TEST_F(HostileFileTest, HostilePolicyFiles) {
  const std::u16string endless(10'000'000, u'q');
  const struct {
    const char* name;
    std::function<void(platform::sim::SimMachine&)> arrange;
    Outcome expected;
  } rows[] = {
      {"100 MB of lines",
       [](platform::sim::SimMachine& m) { m.files.SetFile(kDevState, HugeFile(100 * kMiB)); },
       {true, "\n(VexService) Success registry encryption client!", 6,
        EncryptForPolicy(u"truetrue", false)}},
      {"one State line of 10 million code units",
       [&](platform::sim::SimMachine& m) {
         m.files.SetTextFileUtf16(
             kDevState, u"State=" + endless + u"\r\n" + PolicyFileText(u"truetrue", u"State"),
             false);
       },
       {true, "\n(VexService) Success registry encryption client!", 4, endless.substr(0, 260)}},
      {"a Jan count behind 10 million blanks",
       [](platform::sim::SimMachine& m) {
         m.files.SetTextFileUtf16(kDevState,
                                  PolicyFileText(u"truetrue", u"Jan") + u"Jan=" +
                                      std::u16string(10'000'000, u' ') + u"+12\r\n",
                                  false);
       },
       {true, "\n(VexService) Success registry encryption client!", 12, u""}},
      {"a directory",
       [](platform::sim::SimMachine& m) { m.files.MakeDirectory(kDevState); },
       {false, "\n(VexService) Internal open fail!", 0, u""}},
      {"held by another handle with no sharing",
       [](platform::sim::SimMachine& m) {
         m.files.SetTextFileUtf16(kDevState, PolicyFileText(u"truetrue"), false);
         ASSERT_NE(
             m.files.CreateFileW(kDevState, platform::kGenericRead, 0, platform::kOpenExisting, 0),
             platform::kInvalidHandleValue);
       },
       {false, "\n(VexService) Internal open fail!", 0, u""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // Each row on a fresh machine, with no record and no key container yet.
    platform::sim::SimMachine fresh;
    fresh.Install();
    ReleasePolicy();
    ResetPolicyDecryptionForTests();
    row.arrange(fresh);
    testsupport::ResourceMeter meter;
    bool loaded = LoadPolicyFile(kDevState);
    meter.Print(std::string("policy file, ") + row.name);
    EXPECT_EQ(loaded, row.expected.loaded);
    ASSERT_FALSE(fresh.core.DebugTexts().empty());
    EXPECT_EQ(fresh.core.DebugTexts().back(), row.expected.lastLog);
    const PolicyRecord& r = *CurrentPolicyRecord();
    EXPECT_EQ(r.counterLength, row.expected.counterLength);
    if (!row.expected.state.empty()) {
      EXPECT_EQ(SlotText(r.stateText), row.expected.state);
    }
    if (row.expected.loaded && row.expected.state == EncryptForPolicy(u"truetrue", false)) {
      char16_t plain[kPolicySlotUnits];
      ASSERT_TRUE(DecryptPolicyValue(u"State", plain));
      EXPECT_EQ(SlotText(plain), u"truetrue");
    }
  }
}

}  // namespace
}  // namespace policy::test
