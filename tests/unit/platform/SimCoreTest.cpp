// The simulated machine's core: fault points and their rules, the call scope, lazy journal lines.
#include "platform/sim/SimCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace platform::sim {
namespace {

// A rule passes skip calls, then fails count of them (all from then on when count < 0), with its
// error; it fails nothing at any other point, and a new rule for the point replaces the old one.
TEST(SimCoreTest, FaultRulesSkipThenFail) {
  struct Row {
    int skip;
    int count;
    const char* calls;  // one letter per call of the point: F fails, . passes
  };
  const Row rows[] = {
      {.skip = 0, .count = -1, .calls = "FFFFFF"}, {.skip = 0, .count = 1, .calls = "F....."},
      {.skip = 2, .count = 1, .calls = "..F..."},  {.skip = 1, .count = 3, .calls = ".FFF.."},
      {.skip = 3, .count = -1, .calls = "...FFF"}, {.skip = 2, .count = 0, .calls = "......"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.calls);
    SimCore core;
    core.FailCall(Fault::kCryptHashData, 77);  // replaced below
    core.FailCall(Fault::kCryptHashData, 5, row.skip, row.count);
    std::string seen;
    for (std::size_t i = 0; i < std::string(row.calls).size(); ++i) {
      SimCall call = core.Enter(Fault::kCryptHashData);
      seen += call.failed() ? 'F' : '.';
      EXPECT_EQ(call.error(), call.failed() ? 5u : 0u);
      EXPECT_FALSE(core.Enter(Fault::kReadFile).failed());
    }
    EXPECT_EQ(seen, row.calls);
    EXPECT_EQ(core.FaultsTaken(Fault::kCryptHashData),
              static_cast<int>(std::count(seen.begin(), seen.end(), 'F')));
    EXPECT_EQ(core.FaultsTaken(Fault::kReadFile), 0);
  }

  // Clearing lifts every rule and keeps the counts.
  SimCore core;
  core.FailCall(Fault::kGlobalAlloc, 8);
  core.FailCall(Fault::kSetEvent, 6);
  EXPECT_TRUE(core.Enter(Fault::kGlobalAlloc).failed());
  core.ClearFaults();
  EXPECT_FALSE(core.Enter(Fault::kGlobalAlloc).failed());
  EXPECT_FALSE(core.Enter(Fault::kSetEvent).failed());
  EXPECT_EQ(core.FaultsTaken(Fault::kGlobalAlloc), 1);
}

// A point that narrows a call is consumed only by the calls the wider point let through, and
// only by the use it names: a file fault never fails a volume open, nor a volume fault a file's.
TEST(SimCoreTest, NarrowerPointsFollowTheWholeCall) {
  SimMachine m;
  m.volumes.SetDrive('E', SimDrive{kDriveRemovable, true});
  m.files.SetFile(u"C:\\f", {1});
  auto openVolume = [&] { return m.volumes.CreateFileW(u"\\\\.\\E:", 0, 3, kOpenExisting, 0); };
  auto openFile = [&] { return m.files.CreateFileW(u"C:\\f", kGenericRead, 1, kOpenExisting, 0); };

  m.core.FailCall(Fault::kCreateFileW, 5, 0, 1);
  m.core.FailCall(Fault::kCreateFileWVolume, 21, 0, 1);
  m.core.FailCall(Fault::kCreateFileWFile, 32, 0, 1);
  EXPECT_EQ(openVolume(), kInvalidHandleValue);
  EXPECT_EQ(SimCore::GetLastError(), 5u);
  EXPECT_EQ(openVolume(), kInvalidHandleValue);
  EXPECT_EQ(SimCore::GetLastError(), 21u);
  const Handle volume = openVolume();
  EXPECT_NE(volume, kInvalidHandleValue);
  EXPECT_EQ(openFile(), kInvalidHandleValue);
  EXPECT_EQ(SimCore::GetLastError(), 32u);
  const Handle file = openFile();
  EXPECT_NE(file, kInvalidHandleValue);
  EXPECT_EQ(m.core.FaultsTaken(Fault::kCreateFileW), 1);
  EXPECT_EQ(m.core.FaultsTaken(Fault::kCreateFileWVolume), 1);
  EXPECT_EQ(m.core.FaultsTaken(Fault::kCreateFileWFile), 1);
  m.threads.CloseHandle(volume);
  m.threads.CloseHandle(file);

  // The two cipher calls share their code and keep their own points.
  CryptHandle prov = 0;
  CryptHandle hash = 0;
  CryptHandle key = 0;
  ASSERT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, nullptr, kProvRsaFull, 0), 1);
  ASSERT_EQ(m.crypto.CryptCreateHash(prov, kCalgMd5, 0, 0, &hash), 1);
  ASSERT_EQ(m.crypto.CryptDeriveKey(prov, kCalgRc4, hash, 0, &key), 1);
  std::uint8_t data[4] = {};
  std::uint32_t n = 4;
  m.core.FailCall(Fault::kCryptEncrypt, kNteBadKey);
  EXPECT_EQ(m.crypto.CryptDecrypt(key, 0, 1, 0, data, &n), 1);
  EXPECT_EQ(m.crypto.CryptEncrypt(key, 0, 1, 0, data, &n, 4), 0);
  EXPECT_EQ(m.core.JournalOf("CryptEncrypt ").back(),
            "CryptEncrypt " + HandleText(key) + " 0x0 1 0x0 4 -> 0 0x80090003");
  m.core.ClearFaults();
  m.core.FailCall(Fault::kCryptDecrypt, kNteBadKey);
  EXPECT_EQ(m.crypto.CryptEncrypt(key, 0, 1, 0, data, &n, 4), 1);
  EXPECT_EQ(m.crypto.CryptDecrypt(key, 0, 1, 0, data, &n), 0);
}

// While recording is off neither a call's start (Describe) nor its lines are formatted, yet every
// line asked for counts; while it is on, a line is the call's start followed by its result.
TEST(SimCoreTest, JournalLinesAreFormattedOnlyWhileRecording) {
  SimCore core;
  int formatted = 0;
  auto describe = [&] {
    ++formatted;
    return std::string("Call 1 2");
  };
  auto result = [&] {
    ++formatted;
    return std::string(" -> 0");
  };
  core.SetRecording(false);
  {
    SimCall call = core.Enter(Fault::kReadFile);
    call.Describe(describe);
    call.Record(result);
    call.Record(result);
  }
  EXPECT_EQ(formatted, 0);
  EXPECT_EQ(core.CallCount(), 2u);
  EXPECT_TRUE(core.Journal().empty());

  core.SetRecording(true);
  {
    SimCall call = core.Enter();
    call.Describe(describe);
    call.Record(result);
  }
  core.Enter().Record([] { return "Other -> 1"; });
  EXPECT_EQ(core.Journal(), (std::vector<std::string>{"Call 1 2 -> 0", "Other -> 1"}));
  EXPECT_EQ(core.CallCount(), 4u);
}

// The handle table closes each object once, running its callback then; the views of it by kind
// and the debug lines from an index on see only what is there now.
TEST(SimCoreTest, HandleTableAndDebugLinesInParts) {
  SimCore core;
  std::vector<Handle> closed;
  const Handle a = core.OpenHandle({"volume", "E:"}, [&](Handle h) { closed.push_back(h); });
  const Handle b = core.OpenHandle({"file", "x"});
  const Handle c = core.OpenHandle({"volume", "F:"});
  EXPECT_EQ(core.OpenHandlesOf("volume"), (std::vector<Handle>{a, c}));
  EXPECT_EQ(core.OpenHandleCount(), 3u);
  EXPECT_TRUE(core.CloseHandle(a));
  EXPECT_FALSE(core.CloseHandle(a));
  EXPECT_EQ(SimCore::GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(closed, std::vector<Handle>{a});
  EXPECT_EQ(core.OpenHandlesOf("volume"), std::vector<Handle>{c});
  ASSERT_NE(core.Find(b), nullptr);
  EXPECT_EQ(core.Find(b)->name, "x");
  EXPECT_EQ(core.OpenHandles().size(), 2u);

  core.AddDebugLine(true, u"one");
  core.AddDebugLine(false, u"two");
  EXPECT_EQ(core.DebugLineCount(), 2u);
  ASSERT_EQ(core.DebugLinesFrom(1).size(), 1u);
  EXPECT_EQ(core.DebugLinesFrom(1)[0].text, u"two");
  EXPECT_TRUE(core.DebugLinesFrom(2).empty());
  EXPECT_TRUE(core.DebugLinesFrom(9).empty());
}

// Text names a point by its exact name only.
TEST(SimCoreTest, FaultNamesAreExact) {
  for (const FaultEntry& entry : kFaultNames) {
    EXPECT_EQ(FaultByName(entry.name), entry.fault) << entry.name;
    EXPECT_EQ(FaultName(entry.fault), entry.name);
  }
  EXPECT_EQ(FaultByName("DeviceIoControl storage query"), Fault::kDeviceIoControlStorageQuery);
  for (const char* text : {"", "createfilew", "CreateFileW ", "CreateFileW  volume", "kReadFile"}) {
    EXPECT_EQ(FaultByName(text), std::nullopt) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace platform::sim
