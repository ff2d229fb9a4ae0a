// The simulated volumes' lock and dismount rules, file system by file system.
#include <gtest/gtest.h>

#include "platform/sim/SimMachine.h"

namespace platform::sim {
namespace {

constexpr std::uint32_t kLock = kFsctlLockVolume;
constexpr std::uint32_t kDismount = kFsctlDismountVolume;

class SimFileSystemsTest : public ::testing::Test {
 protected:
  SimFileSystemsTest() { m.Install(); }

  Handle Open() { return m.volumes.CreateFileW(u"\\\\.\\E:", 0xC0000000u, 3, kOpenExisting, 0); }
  // 0 when the control succeeds, else the Win32 error it failed with.
  std::uint32_t Control(Handle h, std::uint32_t code) {
    std::uint32_t bytes = 0;
    if (m.volumes.DeviceIoControl(h, code, nullptr, 0, nullptr, 0, &bytes) != 0) return 0;
    return SimCore::GetLastError();
  }
  // The Win32 error an open of the volume gets now, or 0 (the handle is closed again).
  std::uint32_t OpenError() {
    Handle h = Open();
    if (h == kInvalidHandleValue) return SimCore::GetLastError();
    m.core.CloseHandle(h);
    return 0;
  }

  SimMachine m;
};

// The shared rules and each file system's own, from one sequence: a handle of the service's
// and a file of another process's on the volume; lock; dismount; lock again through the same
// handle; the other process's file closed; the dismounting handle closed; a new open and lock.
TEST_F(SimFileSystemsTest, LockAndDismountFollowEachFileSystem) {
  struct Case {
    SimFs fs;
    std::uint32_t type;
    std::uint32_t lockAfterOwnDismount;  // with the other file closed
  };
  const Case cases[] = {{SimFs::kFat, kDriveRemovable, 0},
                        {SimFs::kNtfs, kDriveFixed, 0},
                        {SimFs::kCdfs, kDriveCdrom, kErrorNotReady},
                        {SimFs::kByType, kDriveCdrom, kErrorNotReady}};
  for (const Case& c : cases) {
    SCOPED_TRACE(FileSystemOf(c.fs, c.type).name);
    SimDrive d{c.type, true};
    d.fileSystem = c.fs;
    m.volumes.SetDrive('E', d);
    std::uint64_t file = 0;
    ASSERT_EQ(m.volumes.OpenOtherProcessFile('E', &file), 0u);
    Handle h = Open();
    ASSERT_NE(h, kInvalidHandleValue);

    EXPECT_EQ(Control(h, kLock), kErrorAccessDenied) << "another process's file is open";
    EXPECT_TRUE(m.volumes.Openable('E'));
    EXPECT_EQ(Control(h, kDismount), 0u) << "a dismount always forces";
    EXPECT_FALSE(m.volumes.Openable('E'));
    EXPECT_EQ(OpenError(), kErrorNotReady) << "no new open while the dismounting handle is open";
    EXPECT_EQ(m.volumes.OpenOtherProcessFile('E', &file), kErrorNotReady);
    EXPECT_NE(Control(h, kLock), 0u) << "the invalidated file still counts";
    EXPECT_TRUE(m.volumes.CloseOtherProcessFile('E'));
    EXPECT_EQ(Control(h, kLock), c.lockAfterOwnDismount);
    m.core.CloseHandle(h);

    // The next access mounts the volume afresh; a lock through a fresh handle holds it.
    h = Open();
    ASSERT_NE(h, kInvalidHandleValue);
    EXPECT_TRUE(m.volumes.Drive('E').mounted);
    EXPECT_EQ(Control(h, kLock), 0u);
    EXPECT_EQ(OpenError(), kErrorAccessDenied);
    EXPECT_FALSE(m.volumes.Openable('E'));
    EXPECT_EQ(Control(h, kDismount), 0u) << "the locking handle may dismount";
    m.core.CloseHandle(h);
    EXPECT_EQ(OpenError(), 0u) << "closing the locking handle ends the lock";
    EXPECT_TRUE(m.volumes.Openable('E'));
    m.volumes.RemoveDrive('E');
  }
}

// A handle of the service's own counts against its lock like anyone's; a file that another
// process kept open across a dismount stays on the old mount and does not count against a lock
// on the new one; a removed device's handles reach nothing, even when a volume comes back on
// the letter.
TEST_F(SimFileSystemsTest, WhichHandlesCount) {
  m.volumes.SetDrive('E', SimDrive{kDriveRemovable, true});
  Handle first = Open();
  Handle second = Open();
  EXPECT_EQ(Control(first, kLock), kErrorAccessDenied);
  m.core.CloseHandle(second);
  EXPECT_EQ(Control(first, kLock), 0u);
  m.core.CloseHandle(first);

  std::uint64_t file = 0;
  ASSERT_EQ(m.volumes.OpenOtherProcessFile('E', &file), 0u);
  Handle h = Open();
  EXPECT_EQ(Control(h, kDismount), 0u);
  m.core.CloseHandle(h);
  h = Open();
  EXPECT_EQ(Control(h, kLock), 0u) << "the stale file is on the dismounted mount";

  m.volumes.RemoveDrive('E');
  m.volumes.SetDrive('E', SimDrive{kDriveRemovable, true});
  EXPECT_EQ(Control(h, kIoctlStorageCheckVerify2), kErrorFileNotFound);
  EXPECT_EQ(m.volumes.Drive('E').lockedBy, kNullHandle);
  EXPECT_EQ(OpenError(), 0u);
}

}  // namespace
}  // namespace platform::sim
