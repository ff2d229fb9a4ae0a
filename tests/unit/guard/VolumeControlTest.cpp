// The volume primitives: path forms, the ATA probe's wire format and memory, the bus query, the
// controls.
#include "guard/VolumeControl.h"

#include <gtest/gtest.h>

#include "tests/unit/support/SimFixture.h"

namespace guard {
namespace {

using platform::kInvalidHandleValue;

class VolumeControlTest : public testsupport::SimTest {};

TEST_F(VolumeControlTest, VolumePathNamesEachLetterAndCutsBackToThePrefix) {
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\");
  AppendDriveLetter(path, 0);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\A:");
  CutVolumePath(path);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\");
  AppendDriveLetter(path, 25);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\Z:");
  CutVolumePath(path);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\");
  for (int i = 0; i < kDriveCount; ++i) {
    EXPECT_EQ(std::u16string(DriveLetters[i]), (std::u16string{char16_t(u'A' + i), u':'}));
  }
}

TEST_F(VolumeControlTest, OpenAsksForReadWriteSharedExisting) {
  AddDrive('E', platform::kDriveRemovable);
  platform::Handle h = OpenVolume(u"\\\\.\\E:");
  ASSERT_NE(h, kInvalidHandleValue);
  EXPECT_EQ(sim.core.JournalOf("CreateFileW").front(),
            "CreateFileW \\\\.\\E: 0xc0000000 3 3 0 -> " + platform::sim::HandleText(h));
  // A letter with no volume behind it fails and leaves nothing open.
  EXPECT_EQ(OpenVolume(u"\\\\.\\Q:"), kInvalidHandleValue);
  EXPECT_EQ(OpenVolumeHandles(), 1u);
}

TEST_F(VolumeControlTest, ProbeSendsIdentifyDeviceInExactBlocksAndFreesBoth) {
  AddDrive('C', platform::kDriveFixed, /*answersAta=*/true);
  AddDrive('F', platform::kDriveFixed, /*answersAta=*/false);
  platform::Handle internal = OpenVolume(u"\\\\.\\C:");
  platform::Handle usb = OpenVolume(u"\\\\.\\F:");
  EXPECT_NE(ProbeAtaIdentify(internal), 0);
  EXPECT_EQ(ProbeAtaIdentify(usb), 0);
  EXPECT_EQ(ProbeAtaIdentify(kInvalidHandleValue), 0);

  auto ioctls = sim.volumes.Ioctls();
  ASSERT_EQ(ioctls.size(), 3u);
  for (const auto& rec : ioctls) {
    EXPECT_EQ(rec.code, 0x7C088u);
    ASSERT_EQ(rec.input.size(), 32u);
    for (std::size_t i = 0; i < rec.input.size(); ++i) {
      EXPECT_EQ(rec.input[i], i == 10 ? 0xEC : 0) << "input byte " << i;
    }
    EXPECT_EQ(rec.outputSize, 528u);
    ASSERT_EQ(rec.outputOnCall.size(), 528u);
    EXPECT_EQ(rec.outputOnCall[0] | rec.outputOnCall[1] << 8 | rec.outputOnCall[2] << 16 |
                  rec.outputOnCall[3] << 24,
              512);
    for (std::size_t i = 4; i < rec.outputOnCall.size(); ++i) {
      ASSERT_EQ(rec.outputOnCall[i], 0) << "output byte " << i;
    }
  }
  EXPECT_EQ(ioctls[2].letter, '?');
  EXPECT_EQ(sim.volumes.LiveBlocks(), 0u);
  // Fixed blocks that Windows zero-fills (the simulated machine fills blocks allocated without
  // GMEM_ZEROINIT with a pattern, so the zero bytes above show the flag was asked for and that
  // nothing else was written), output freed before input, for each probe.
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(),
                    {"GlobalAlloc 0x40 32 -> block", "GlobalAlloc 0x40 528 -> block",
                     "GlobalFree 528 -> null", "GlobalFree 32 -> null"});
  }
  EXPECT_EQ(sim.core.JournalOf("Global"), expected);
}

TEST_F(VolumeControlTest, ProbeThatCannotAllocateFailsAndFreesWhatItGot) {
  AddDrive('C', platform::kDriveFixed, /*answersAta=*/true);
  platform::Handle h = OpenVolume(u"\\\\.\\C:");
  for (int skip : {0, 1}) {
    sim.core.FailCall(platform::sim::Fault::kGlobalAlloc, platform::kErrorNotEnoughMemory, skip, 1);
    EXPECT_EQ(ProbeAtaIdentify(h), 0) << "allocation " << skip << " failing";
    EXPECT_EQ(sim.volumes.LiveBlocks(), 0u);
  }
  EXPECT_TRUE(sim.volumes.Ioctls().empty());
}

TEST_F(VolumeControlTest, BusQueryAsksForTheDeviceDescriptorAndReadsItsBusType) {
  using platform::sim::SimBusQuery;
  struct Row {
    const char* name;
    SimBusQuery query;
    std::uint32_t bus;
    bool answered;
    bool removableMedia = false;
    const char* vendor = "";
    const char* product = "";
    const char* vendorRead = "";
    const char* productRead = "";
  };
  const Row rows[] = {
      {.name = "nvme", .query = SimBusQuery::kAnswers, .bus = 0x11, .answered = true},
      {.name = "usb", .query = SimBusQuery::kAnswers, .bus = 0x07, .answered = true},
      {.name = "fails", .query = SimBusQuery::kFails, .bus = 0x11, .answered = false},
      {.name = "header only", .query = SimBusQuery::kHeaderOnly, .bus = 0x11, .answered = false},
      {.name = "removable media and padded strings",
       .query = SimBusQuery::kAnswers,
       .bus = 0x01,
       .answered = true,
       .removableMedia = true,
       .vendor = "Msft    ",
       .product = "  Virtual Disk    ",
       .vendorRead = "Msft",
       .productRead = "Virtual Disk"},
      {.name = "blank strings",
       .query = SimBusQuery::kAnswers,
       .bus = 0x11,
       .answered = true,
       .vendor = "    ",
       .product = " "},
      {.name = "string offsets past what the driver returned",
       .query = SimBusQuery::kFixedPartOnly,
       .bus = 0x11,
       .answered = true,
       .vendor = "NVMe",
       .product = "QEMU NVMe Ctrl"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    platform::sim::SimDrive d{platform::kDriveFixed, true};
    d.busType = row.bus;
    d.busQuery = row.query;
    d.removableMedia = row.removableMedia;
    d.vendor = row.vendor;
    d.product = row.product;
    sim.volumes.SetDrive('D', d);
    platform::Handle h = OpenVolume(u"\\\\.\\D:");
    BusAnswer answer = QueryBusType(h);
    EXPECT_EQ(answer.answered, row.answered);
    EXPECT_EQ(answer.busType, row.answered ? row.bus : 0u);
    EXPECT_EQ(answer.removableMedia, row.removableMedia);
    EXPECT_EQ(answer.vendor, row.vendorRead);
    EXPECT_EQ(answer.product, row.productRead);
    sim.core.CloseHandle(h);
  }
  EXPECT_FALSE(QueryBusType(kInvalidHandleValue).answered);
  sim.core.FailCall(platform::sim::Fault::kDeviceIoControlStorageQuery,
                    platform::kErrorAccessDenied, 0, 1);
  AddDrive('E', platform::kDriveFixed);
  platform::Handle e = OpenVolume(u"\\\\.\\E:");
  EXPECT_FALSE(QueryBusType(e).answered) << "an injected failure";
  EXPECT_TRUE(QueryBusType(e).answered) << "only the one call fails";
  EXPECT_EQ(sim.core.FaultsTaken(platform::sim::Fault::kDeviceIoControlStorageQuery), 1);

  // StorageDeviceProperty, PropertyStandardQuery: twelve zero bytes; no memory blocks.
  for (const auto& rec : sim.volumes.Ioctls()) {
    EXPECT_EQ(rec.code, 0x2D1400u);
    EXPECT_EQ(rec.input, std::vector<std::uint8_t>(12, 0));
    EXPECT_EQ(rec.outputSize, kBusQueryOutputSize);
  }
  EXPECT_EQ(sim.volumes.BlocksAllocated(), 0u);
}

// The hot-plug and disk-number requests: no input, an output of exactly STORAGE_HOTPLUG_INFO
// (its Size set, as the caller must) or STORAGE_DEVICE_NUMBER, read only when whole.
TEST_F(VolumeControlTest, HotplugAndDiskNumberRequestsOfferTheirExactStructures) {
  platform::sim::SimDrive tb{platform::kDriveFixed, true};
  tb.busType = platform::kBusTypeNvme;
  tb.deviceHotplug = true;
  tb.disk = 3;
  sim.volumes.SetDrive('T', tb);
  platform::sim::SimDrive silent = tb;
  silent.hotplugQueryFails = true;
  sim.volumes.SetDrive('S', silent);
  AddDrive('E', platform::kDriveRemovable);
  platform::Handle t = OpenVolume(u"\\\\.\\T:");
  platform::Handle s = OpenVolume(u"\\\\.\\S:");
  platform::Handle e = OpenVolume(u"\\\\.\\E:");

  HotplugAnswer hotplug = QueryHotplug(t);
  EXPECT_TRUE(hotplug.answered && hotplug.deviceHotplug && !hotplug.mediaRemovable);
  hotplug = QueryHotplug(e);
  EXPECT_TRUE(hotplug.answered && !hotplug.deviceHotplug && hotplug.mediaRemovable);
  EXPECT_FALSE(QueryHotplug(s).answered);
  EXPECT_FALSE(QueryHotplug(kInvalidHandleValue).answered);
  EXPECT_EQ(QueryDiskNumber(t), std::optional<std::uint32_t>(3));
  EXPECT_EQ(QueryDiskNumber(e), std::optional<std::uint32_t>(104)) << "a disk of its own";
  EXPECT_EQ(QueryDiskNumber(kInvalidHandleValue), std::nullopt);
  sim.core.FailCall(platform::sim::Fault::kDeviceIoControl, platform::kErrorAccessDenied, 0, 1);
  EXPECT_EQ(QueryDiskNumber(t), std::nullopt) << "an injected failure";

  for (const auto& rec : sim.volumes.Ioctls()) {
    EXPECT_TRUE(rec.input.empty());
    if (rec.code == platform::kIoctlStorageGetHotplugInfo) {
      EXPECT_EQ(rec.outputSize, 8u);
      EXPECT_EQ(rec.outputOnCall, (std::vector<std::uint8_t>{8, 0, 0, 0, 0, 0, 0, 0}));
    } else {
      EXPECT_EQ(rec.code, platform::kIoctlStorageGetDeviceNumber);
      EXPECT_EQ(rec.outputSize, 12u);
    }
  }
}

TEST_F(VolumeControlTest, ControlsSendTheirCodesWithNoBuffers) {
  AddDrive('E', platform::kDriveRemovable);
  platform::Handle h = OpenVolume(u"\\\\.\\E:");
  EXPECT_NE(DismountVolume(h), 0);
  EXPECT_NE(LockVolume(h), 0);
  EXPECT_EQ(sim.volumes.Drive('E').lockedBy, h);
  EXPECT_EQ(OpenVolume(u"\\\\.\\E:"), kInvalidHandleValue) << "a locked volume refuses opens";
  EXPECT_NE(UnlockVolume(h), 0);
  EXPECT_EQ(UnlockVolume(h), 0) << "nothing left to unlock";
  auto ioctls = sim.volumes.Ioctls();
  ASSERT_EQ(ioctls.size(), 4u);
  const std::uint32_t codes[] = {0x90020, 0x90018, 0x9001C, 0x9001C};
  for (std::size_t i = 0; i < ioctls.size(); ++i) {
    EXPECT_EQ(ioctls[i].code, codes[i]);
    EXPECT_TRUE(ioctls[i].input.empty());
    EXPECT_EQ(ioctls[i].outputSize, 0u);
  }
}

}  // namespace
}  // namespace guard
