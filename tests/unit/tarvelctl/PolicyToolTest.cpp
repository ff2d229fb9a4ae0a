// The policy tool: round trips through the service's reader, refusals, and what `show` reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "platform/Crypto.h"
#include "platform/Text.h"
#include "policy/PolicyReader.h"
#include "tests/unit/policy/PolicyTestSupport.h"
#include "tools/tarvelctl/Cli.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PolicyInspector.h"
#include "tools/tarvelctl/PolicyWriter.h"
#include "tools/tarvelctl/sim/SimFileSecurity.h"

namespace tarvelctl {
namespace {

using policy::PolicyKey;
using policy::test::kDevState;

// Stages files into the test's own simulated machine.
class TestHost final : public Host {
 public:
  explicit TestHost(platform::sim::SimMachine& m) : machine_(m), security_(m.files) {}
  FileSecurityCalls& FileSecurity() override { return security_; }
  std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>& bytes) override {
    std::u16string staged = platform::FromUtf8(path);
    machine_.files.SetFile(staged, bytes);
    return staged;
  }

 private:
  platform::sim::SimMachine& machine_;
  sim::SimFileSecurity security_;
};

class PolicyToolTest : public policy::test::PolicyTest {
 protected:
  std::optional<std::u16string> Decrypt(const char16_t* name) {
    std::array<char16_t, policy::kPolicySlotUnits> buffer{};
    if (!policy::DecryptPolicyValue(name, buffer.data())) return std::nullopt;
    return std::u16string(buffer.data());
  }
  std::vector<std::uint8_t> Utf16(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text)
      bytes.insert(bytes.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
    return bytes;
  }
  PolicyReport Inspect(const std::vector<std::uint8_t>& bytes) {
    machine.files.SetFile(kDevState, bytes);
    return InspectPolicyFile(kDevState, bytes);
  }
};

TEST_F(PolicyToolTest, EveryWrittenFileReadsBack) {
  for (bool removable : {false, true}) {
    for (bool optical : {false, true}) {
      PolicyWriteRequest request{removable, optical, std::nullopt, u"Ward 4 \u00e9quipement", 41};
      std::string error;
      auto image = BuildPolicyFile(request, &error);
      ASSERT_TRUE(image) << error;
      EXPECT_EQ(image->state, PolicyStateText(removable, optical));
      EXPECT_EQ(image->counter, u"41");
      // The service's path: LoadPolicyFile, then DecryptPolicyValue.
      policy::ReleasePolicy();
      machine.files.SetFile(kDevState, image->bytes);
      ASSERT_TRUE(policy::LoadPolicyFile(kDevState));
      EXPECT_EQ(Decrypt(u"State"), image->state);
      EXPECT_EQ(Decrypt(u"Counter"), image->counter);
      EXPECT_EQ(Decrypt(u"Description"), image->description);
      // The tool's own reading of the same file.
      PolicyReport report = Inspect(image->bytes);
      EXPECT_TRUE(report.complete);
      EXPECT_EQ(report.state, image->state);
      EXPECT_EQ(report.counter, image->counter);
      EXPECT_EQ(report.description, image->description);
      EXPECT_TRUE(report.locks.known);
      EXPECT_EQ(report.locks.removable, removable);
      EXPECT_EQ(report.locks.optical, optical);
      EXPECT_TRUE(report.problems.empty()) << report.problems.front();
      EXPECT_TRUE(report.notes.empty()) << report.notes.front();
      EXPECT_EQ(report.mar, static_cast<std::int32_t>(image->state.size() * 2));
      EXPECT_EQ(report.jan, static_cast<std::int32_t>(image->counter.size() * 2 + 2));
    }
  }
  EXPECT_EQ(machine.core.OpenHandleCount(), 0u);
}

TEST_F(PolicyToolTest, WineFixturesAreWhatTheToolWrites) {
  for (bool removable : {false, true}) {
    for (bool optical : {false, true}) {
      std::string error;
      auto image = BuildPolicyFile({removable, optical, u"7", u"Wine cross-check", 1}, &error);
      ASSERT_TRUE(image) << error;
      std::string name = std::string("DevState-") + (removable ? "on" : "off") + "-" +
                         (optical ? "on" : "off") + ".ini";
      auto fixture =
          ReadLocalFile(std::string(TARVEL_SOURCE_DIR) + "/tests/wine/data/" + name, &error);
      ASSERT_TRUE(fixture) << error;
      EXPECT_EQ(*fixture, image->bytes) << name;
    }
  }
}

// Any cipher the check accepts is given back exactly by the reader, and any it refuses is not.
TEST_F(PolicyToolTest, StorageCheckAgreesWithTheReader) {
  std::vector<std::pair<PolicyKey, std::u16string>> rows = {
      {PolicyKey::kState, u"ab"},
      {PolicyKey::kState, std::u16string(u"a\0b", 3)},
      {PolicyKey::kState, u"a\nb"},
      {PolicyKey::kState, u"a\uFFFFb"},
      {PolicyKey::kState, u"a;b"},
      {PolicyKey::kCounter, u"x[State]"},
      {PolicyKey::kState, u"xCounter"},
      {PolicyKey::kMar, u"xJan"},
      {PolicyKey::kDescription, u"xState"},
      {PolicyKey::kState, u"ab\r"},
      {PolicyKey::kState, u"a\rb"},
      {PolicyKey::kState, u"a"},
      {PolicyKey::kState, std::u16string(260, u'q')},
      {PolicyKey::kState, std::u16string(261, u'q')},
  };
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    std::u16string cipher(1 + rng() % 12, u'\0');
    // Mostly printable units, with the troublesome ones now and then.
    const char16_t pool[] = u"\0\n\r;=[]StateCounterJanFebMar\uFFFF\u70b8\u4ac1";
    for (auto& c : cipher) c = pool[rng() % (sizeof pool / sizeof pool[0] - 1)];
    rows.emplace_back(static_cast<PolicyKey>(1 + rng() % 3), cipher);
  }
  for (const auto& [key, cipher] : rows) {
    policy::PolicyRecord record{};
    std::u16string line = std::u16string(policy::PolicyKeyName(key)) + u"=" + cipher;
    // The reader sees a line only up to its U+000A, U+FFFF or U+0000.
    std::u16string seen = line.substr(0, line.find_first_of(std::u16string(u"\n\uFFFF\0", 3)));
    policy::StorePolicyLine(seen, record);
    const char16_t* slot = key == PolicyKey::kCounter       ? record.counterText
                           : key == PolicyKey::kDescription ? record.descriptionText
                                                            : record.stateText;
    bool readBack = policy::IsPolicyTextKey(key) && std::u16string(slot) == cipher;
    EXPECT_EQ(StorageProblem(key, cipher).empty(), readBack)
        << platform::ToUtf8(line) << ": " << StorageProblem(key, cipher);
  }
}

TEST_F(PolicyToolTest, UnstorableOrUnencryptableTextsAreRefused) {
  // Find a Counter text whose ciphertext holds a forbidden unit.
  std::optional<std::u16string> bad;
  for (char16_t c = 0x80; c < 0x3000 && !bad; ++c) {
    for (std::size_t at : {0u, 1u, 5u, 77u}) {
      std::u16string text(at, u'x');
      text += c;
      std::string error;
      auto cipher = EncryptPolicyText(text, true, &error);
      ASSERT_TRUE(cipher) << error;
      if (!StorageProblem(PolicyKey::kCounter, *cipher).empty()) {
        bad = text;
        break;
      }
    }
  }
  ASSERT_TRUE(bad);
  const struct {
    const char* name;
    std::optional<std::u16string> counter;
    std::optional<std::u16string> description;
    const char* message;
  } rows[] = {
      {"unstorable counter", bad, std::nullopt, "Counter text"},
      {"empty counter", u"", std::nullopt, "shorter than 2 code units"},
      {"empty description", std::nullopt, u"", "Description text"},
      {"long description", std::nullopt, std::u16string(260, u'd'), "longer than 259"},
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_FALSE(BuildPolicyFile({true, true, row.counter, row.description, 1}, &error))
        << row.name;
    EXPECT_NE(error.find(row.message), std::string::npos) << row.name << ": " << error;
  }
  std::string error;
  EXPECT_TRUE(BuildPolicyFile({true, true, std::nullopt, std::u16string(259, u'd'), 1}, &error))
      << error;
  machine.core.FailCall(platform::sim::Fault::kCryptDeriveKey, platform::kNteBadFlags, 0, 1);
  EXPECT_FALSE(BuildPolicyFile({true, true, std::nullopt, std::nullopt, 1}, &error));
  EXPECT_EQ(error, "CryptDeriveKey failed (error 0x80090009)");
  EXPECT_EQ(machine.core.OpenHandleCount(), 0u);
}

TEST_F(PolicyToolTest, ShowExplainsDamagedFiles) {
  auto cipher = [](const std::u16string& plain, bool terminator) {
    return policy::test::EncryptForPolicy(plain, terminator);
  };
  const std::u16string c = cipher(u"12", true), d = cipher(u"Desk", true),
                       s = cipher(u"truefalse", false);
  const struct {
    const char* name;
    std::u16string text;
    bool complete;
    std::optional<std::u16string> state;
    std::vector<std::string> problems;  // each expected somewhere in the report
    std::vector<std::string> notes;
  } rows[] = {
      {"Feb missing",
       u"Counter=" + c + u"\r\nJan=6\r\nState=" + s + u"\r\nMar=18\r\n",
       false,
       u"truefalse",
       {"the Feb count is missing or 0"},
       {}},
      {"no State",
       u"Counter=" + c + u"\r\nJan=6\r\nFeb=2\r\nMar=18\r\n",
       true,
       std::nullopt,
       {"State value cannot be decrypted"},
       {}},
      {"unknown State",
       u"Jan=6\r\nFeb=2\r\nState=" + cipher(u"maybe", false) + u"\r\nMar=10\r\n",
       true,
       u"maybe",
       {"\"maybe\" is none the service knows"},
       {}},
      {"skipped and repeated lines",
       u"Jan=6\r\nFeb=10\r\n;State=zz\r\nState=q\r\nState=" + s + u"\r\nMar=2\r\nMar=18\r\n" +
           u"Counter=" + c + u"\r\nDescription=" + d + u"\r\nhello\r\n",
       true,
       u"truefalse",
       {},
       {"line 3: holds \";\"", "line 4: State value is shorter than 2 code units",
        "line 7: Mar again; it replaces line 6", "line 10: holds no key name"}},
      {"NUL lines",
       u"Jan=6\r\nFeb=10\r\nMar=18\r\nState=" + s + std::u16string(1, u'\0') + u"x\r\n" +
           std::u16string(1, u'\0') + u"Counter=zz\r\n",
       true,
       u"truefalse",
       {},
       {"line 4: text ends at a U+0000", "line 5: begins with U+0000"}},
      {"count out of range",
       u"Jan=6\r\nFeb=10\r\nState=" + s + u"\r\nMar=-4\r\n",
       true,
       std::nullopt,
       {"the Mar count -4 lies outside 1 to 1040", "State value cannot be decrypted"},
       {}},
  };
  for (const auto& row : rows) {
    PolicyReport report = Inspect(Utf16(row.text));
    EXPECT_EQ(report.complete, row.complete) << row.name;
    EXPECT_EQ(report.state, row.state) << row.name;
    std::ostringstream printed;
    PrintPolicyReport(report, "DevState.ini", printed);
    for (const auto& p : row.problems) {
      EXPECT_NE(printed.str().find("Problem:     "), std::string::npos) << row.name;
      EXPECT_NE(printed.str().find(p), std::string::npos) << row.name << ": " << p << "\n"
                                                          << printed.str();
    }
    for (const auto& n : row.notes) {
      EXPECT_NE(printed.str().find(n), std::string::npos) << row.name << ": " << n << "\n"
                                                          << printed.str();
    }
    EXPECT_EQ(report.problems.empty(), row.problems.empty()) << row.name << "\n" << printed.str();
  }
  EXPECT_EQ(LockOutcomeOf(std::nullopt).known, false);
  EXPECT_TRUE(LockOutcomeOf(u"FalseFalse").removable);
}

TEST_F(PolicyToolTest, CommandLine) {
  auto dir =
      std::filesystem::temp_directory_path() /
      ("tarvelctl-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  std::string file = (dir / "SysSecurity.ini").string();
  TestHost host(machine);
  std::ostringstream out, err;
  ToolContext ctx{host, out, err, 1000};
  const struct {
    std::vector<std::string> args;
    int exit;
    const char* output;  // expected in stdout + stderr
  } rows[] = {
      {{"policy", "write", "--removable", "off", "--optical", "on", "-o", file},
       0,
       "Counter \"1000\""},
      {{"policy", "show", file}, 0, "Locks:       removable off, optical on"},
      {{"policy", "write", "--removable", "off", "--optical", "on", "--counter", "", "-o", file},
       1,
       "Counter text \"\" cannot be stored"},
      {{"policy", "show", (dir / "none.ini").string()}, 1, "cannot open"},
      {{"policy", "write", "--removable", "yes", "--optical", "on", "-o", file}, 106, "not in"},
      {{"policy", "write", "--optical", "on", "-o", file}, 106, "--removable is required"},
      {{"policy"}, 106, "subcommand"},
      {{"policy", "show"}, 106, "file is required"},
  };
  for (const auto& row : rows) {
    out.str("");
    err.str("");
    int exit = RunTarvelctl(row.args, ctx);
    std::string all = out.str() + err.str();
    EXPECT_EQ(exit != 0, row.exit != 0) << all;
    if (row.exit != 106) {
      EXPECT_EQ(exit, row.exit) << all;
    }
    EXPECT_NE(all.find(row.output), std::string::npos) << all;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvelctl
