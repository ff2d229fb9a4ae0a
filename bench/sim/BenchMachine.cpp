// The simulated machines of the benchmarks and the allocation test.
#include "bench/sim/BenchMachine.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "guard/VolumeGuard.h"
#include "platform/Registry.h"
#include "platform/SystemDir.h"
#include "platform/Volumes.h"
#include "platform/Windowing.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "service/ServiceState.h"
#include "tools/tarvelctl/PolicyWriter.h"

namespace bench {

namespace {

using platform::sim::SimDrive;

constexpr char16_t kWriteProtectKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies";

SimDrive Drive(std::uint32_t type, bool answersAta = false) {
  SimDrive d;
  d.type = type;
  d.volumePresent = true;
  d.answersAtaIdentify = answersAta;
  return d;
}

// Every letter in use, in a mix that sends each branch of the passes some work: sticks, USB
// disks (fixed, no ATA answer), internal disks, CD-ROMs, RAM disks and network shares.
void AddAll26(platform::sim::SimVolumes& volumes) {
  const SimDrive kinds[] = {Drive(platform::kDriveRemovable),   Drive(platform::kDriveFixed),
                            Drive(platform::kDriveFixed, true), Drive(platform::kDriveCdrom),
                            Drive(platform::kDriveRamdisk),     Drive(platform::kDriveRemote)};
  for (int i = 0; i < 26; ++i) {
    volumes.SetDrive(static_cast<char>('A' + i), kinds[i % std::size(kinds)]);
  }
}

void AddDesktop(platform::sim::SimVolumes& volumes) {
  volumes.SetDrive('C', Drive(platform::kDriveFixed, true));
  volumes.SetDrive('D', Drive(platform::kDriveCdrom));
  volumes.SetDrive('E', Drive(platform::kDriveRemovable));
}

}  // namespace

BenchMachine::BenchMachine(Drives drives) {
  sim.Install();
  service::ResetWholeProcess();
  sim.files.SetSystemFolder(kSystemFolder);
  sim.files.SetTextFileUtf16(kTagFile, u"[State]\r\nkey=0\r\n");
  sim.registry.SetDword(platform::kHkeyLocalMachine, kWriteProtectKey, u"WriteProtect", 0);
  sim.devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
  sim.devices.AddDevice(platform::sim::kWpdClassGuid);
  sim.devices.AddDevice(platform::sim::kWpdClassGuid);
  if (drives == Drives::kDesktop) AddDesktop(sim.volumes);
  if (drives == Drives::kAll26) AddAll26(sim.volumes);
  sim.core.ClearJournal();
}

BenchMachine::~BenchMachine() {
  service::ResetWholeProcess();
}

void BenchMachine::SetRecording(bool on) {
  sim.core.SetRecording(on);
}

void BenchMachine::ClearRecords() {
  sim.core.ClearJournal();
}

void BenchMachine::WritePolicyFile(std::size_t padToBytes) {
  std::string error;
  auto image = tarvelctl::BuildPolicyFile({true, true, u"7", std::nullopt, 1}, &error);
  if (!image) throw std::runtime_error("policy file: " + error);
  // Comment lines of 128 code units (CR LF included) ahead of the values.
  std::vector<std::uint8_t> bytes;
  std::u16string comment(126, u'x');
  comment[0] = u';';
  comment += u"\r\n";
  while (bytes.size() + image->bytes.size() < padToBytes) {
    for (char16_t c : comment) {
      bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  bytes.insert(bytes.end(), image->bytes.begin(), image->bytes.end());
  policyBytes_ = bytes.size();
  sim.files.SetFile(kPolicyFile, std::move(bytes));
}

std::vector<std::uint8_t> VolumeBroadcast(char letter) {
  platform::DevBroadcastVolume v{};
  v.dbcv_size = sizeof v;
  v.dbcv_devicetype = platform::kDbtDevtypVolume;
  v.dbcv_unitmask = 1u << (letter - 'A');
  std::vector<std::uint8_t> bytes(sizeof v);
  std::memcpy(bytes.data(), &v, sizeof v);
  return bytes;
}

}  // namespace bench
