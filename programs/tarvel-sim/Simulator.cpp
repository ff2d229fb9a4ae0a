// Runs the service's real code on a simulated machine built from a scenario.
#include "programs/tarvel-sim/Simulator.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "guard/DriveKind.h"
#include "guard/VolumeGuard.h"
#include "platform/Registry.h"
#include "platform/SystemDir.h"
#include "platform/Text.h"
#include "platform/Windowing.h"
#include "platform/sim/SimMachine.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "service/ServiceEntry.h"
#include "service/ServiceState.h"
#include "tools/tarvelctl/PolicyWriter.h"

namespace simulator {

namespace {

constexpr platform::Handle kInstance = 0x400000;
constexpr char16_t kSystemFolder[] = u"C:\\Windows\\system32";
using platform::kWriteProtectKey;
using platform::kWriteProtectValue;

const char* TypeName(std::uint32_t type) {
  static const char* const kNames[] = {"unknown", "noroot", "removable", "fixed",
                                       "remote",  "cdrom",  "ramdisk"};
  return type < 7 ? kNames[type] : "other";
}

// The bus a fixed disk's query reports, as the scenario names it, and what the device says of
// itself ("nvme hotplug vm"); empty for other drives. The guard asks only the disks that do not
// answer the ATA probe.
std::string BusText(const platform::sim::SimDrive& d) {
  if (d.type != platform::kDriveFixed) return "";
  if (d.answersAtaIdentify) return "(ATA answer)";
  if (d.busQuery == platform::sim::SimBusQuery::kFails) return "query fails";
  const char* name = BusName(d.busType);
  std::string text = name != nullptr ? name : "bus " + std::to_string(d.busType);
  if (d.deviceHotplug) text += " hotplug";
  if (d.removableMedia) text += " removablemedia";
  if (!d.vendor.empty() || !d.product.empty()) text += " vm";
  if (d.disk != 0) text += " disk " + std::to_string(d.disk);
  return text;
}

std::string Seconds(std::uint64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%4llu.%03llu", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  return buf;
}

platform::sim::SimDrive SimDriveOf(const DriveSpec& spec) {
  platform::sim::SimDrive d;
  d.type = spec.type;
  d.volumePresent = spec.type > platform::kDriveNoRootDir;
  d.answersAtaIdentify = spec.answersAta;
  d.openFails = spec.openFails;
  d.busType = spec.busType;
  d.busQuery = spec.busQueryFails ? platform::sim::SimBusQuery::kFails
                                  : platform::sim::SimBusQuery::kAnswers;
  d.deviceHotplug = spec.hotplug;
  d.removableMedia = spec.removableMedia;
  if (spec.vm) {
    d.vendor = "NVMe";
    d.product = "VMware Virtual NVMe Disk";
  }
  d.disk = spec.disk;
  using platform::sim::SimFs;
  d.fileSystem = spec.fileSystem == "fat"    ? SimFs::kFat
                 : spec.fileSystem == "ntfs" ? SimFs::kNtfs
                 : spec.fileSystem == "cdfs" ? SimFs::kCdfs
                                             : SimFs::kByType;
  for (const std::string& folder : spec.folders) {
    std::u16string path = platform::FromUtf8(folder);
    if (path.empty() || path.back() != u'\\') path += u'\\';
    d.mountPoints.push_back(path);
  }
  return d;
}

std::u16string SystemFile(const char* name) {
  return std::u16string(kSystemFolder) + u"\\" + platform::FromUtf8(name);
}

void WriteTag(platform::sim::SimMachine& sim, const std::string& text) {
  sim.files.SetTextFileUtf8(std::u16string(kSystemFolder) + u"\\" + platform::kTagFileName,
                            "[State]\r\nkey=" + text + "\r\n");
}

// The nine-line policy file whose State decrypts to state, whatever that text is (the tool
// writes only the four texts an administrator means; a scenario may want any other).
std::optional<std::vector<std::uint8_t>> PolicyFileBytes(const std::u16string& state,
                                                         std::string* error) {
  auto counter = tarvelctl::EncryptPolicyText(u"1", true, error);
  auto description = tarvelctl::EncryptPolicyText(tarvelctl::kDefaultDescription, true, error);
  auto encrypted = tarvelctl::EncryptPolicyText(state, false, error);
  if (!counter || !description || !encrypted) return std::nullopt;
  std::string problem = tarvelctl::StorageProblem(policy::PolicyKey::kState, *encrypted);
  if (!problem.empty()) {
    *error = "the State text's ciphertext cannot be stored: " + problem;
    return std::nullopt;
  }
  auto count = [](const std::u16string& cipher) {
    return platform::FromUtf8(std::to_string(2 * cipher.size()));
  };
  std::u16string text = u"[Counter]\r\nCounter=" + *counter + u"\r\nJan=" + count(*counter) +
                        u"\r\n[Description]\r\nDescription=" + *description + u"\r\nFeb=" +
                        count(*description) + u"\r\n[State]\r\nState=" + *encrypted + u"\r\nMar=" +
                        count(*encrypted) + u"\r\n";
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

// "E:" for a drive letter, the name of a volume without one.
std::string Shown(const DriveSpec& d) {
  return d.letter != 0 ? std::string(1, d.letter) + ":" : d.name;
}

// The machine's key for the drive or volume d names ('?' for none).
char KeyOf(platform::sim::SimMachine& sim, const DriveSpec& d) {
  return d.letter != 0 ? d.letter : sim.volumes.LetterlessKey(d.name);
}

// Puts the drive on its letter, or the volume without a letter on the machine; its key.
char PutVolume(platform::sim::SimMachine& sim, const DriveSpec& d) {
  if (d.letter == 0) return sim.volumes.AddLetterlessVolume(d.name, SimDriveOf(d));
  sim.volumes.SetDrive(d.letter, SimDriveOf(d));
  return d.letter;
}

// Builds the machine the scenario describes. Returns an error text when a file cannot be made.
std::string BuildMachine(platform::sim::SimMachine& sim, const Scenario& s) {
  for (const DriveSpec& d : s.drives) {
    const char key = PutVolume(sim, d);
    if (key == '?') return "no room on the machine for volume " + d.name;
    if (d.busy) {
      std::uint64_t id = 0;
      if (sim.volumes.OpenOtherProcessFile(key, &id) != 0) {
        return "cannot open a file on " + Shown(d);
      }
    }
  }
  sim.files.SetSystemFolder(kSystemFolder);
  if (s.policyFileFromHost) {
    std::ifstream in(*s.policyFileFromHost, std::ios::binary);
    if (!in) return "cannot read " + *s.policyFileFromHost;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    sim.files.SetFile(SystemFile(s.policyFileName.c_str()), std::move(bytes));
  } else if (s.policyState) {
    std::string error;
    auto bytes = PolicyFileBytes(platform::FromUtf8(*s.policyState), &error);
    if (!bytes) return "cannot write the policy: " + error;
    sim.files.SetFile(SystemFile(s.policyFileName.c_str()), std::move(*bytes));
  }
  if (s.tag) WriteTag(sim, *s.tag);
  if (s.writeProtect) {
    sim.registry.SetDword(platform::kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue,
                          *s.writeProtect);
  }
  if (s.portableClass) sim.devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
  for (const PortableDeviceSpec& d : s.portableDevices) {
    sim.devices.AddDevice(platform::sim::kWpdClassGuid, true,
                          d.disabled ? platform::kCmProbDisabled : 0);
  }
  sim.service.SetStartedByScm(s.startedByScm);
  return "";
}

std::string Describe(const Event& e) {
  switch (e.kind) {
    case Event::Kind::Arrive: {
      std::string bus = BusText(SimDriveOf(e.drive));
      return std::string("arrive ") + e.drive.letter + ": " + TypeName(e.drive.type) +
             (bus.empty() ? "" : " (" + bus + ")") +
             (e.drive.busy ? ", a file on it held open by another process" : "");
    }
    case Event::Kind::Remove:
      return "remove " + Shown(e.drive);
    case Event::Kind::AppearLetterless:
      return "volume " + e.drive.name +
             " appears, with no drive letter: " + TypeName(e.drive.type) +
             (e.drive.busy ? ", a file on it held open" : "");
    case Event::Kind::Control:
      return "control " + std::to_string(e.code);
    case Event::Kind::Tag:
      return "tag file key=" + e.text;
    case Event::Kind::WriteProtect:
      return "WriteProtect set to " + std::to_string(e.code) + " by someone else";
    case Event::Kind::PostClose:
      return "WM_CLOSE posted to the window";
    case Event::Kind::OpenFile:
      return std::string("another process opens a file on ") + e.drive.letter +
             ": and keeps it open";
    case Event::Kind::CloseFile:
      return std::string("another process closes its file on ") + e.drive.letter + ":";
  }
  return "";
}

// Delivers one event; returns a note when it could not be delivered.
std::string Deliver(platform::sim::SimMachine& sim, const Event& e) {
  auto broadcast = [&](std::uint32_t event, char letter) -> std::string {
    platform::Handle window =
        sim.windowing.FindWindowW(platform::kNotifyWindowClass, platform::kServiceName);
    if (window == platform::kNullHandle) return "no notification window to send it to";
    // A volume without a letter is named by no bit of the mask.
    const std::uint32_t mask = letter >= 'A' && letter <= 'Z' ? 1u << (letter - 'A') : 0;
    platform::DevBroadcastVolume volume{sizeof(platform::DevBroadcastVolume),
                                        platform::kDbtDevtypVolume, 0, mask, 0};
    std::intptr_t result = 0;
    if (!sim.windowing.SendMessageW(window, platform::kWmDeviceChange, event,
                                    reinterpret_cast<std::intptr_t>(&volume), &result)) {
      return "the window was gone before the message was delivered";
    }
    return "";
  };
  switch (e.kind) {
    case Event::Kind::Arrive: {
      sim.volumes.SetDrive(e.drive.letter, SimDriveOf(e.drive));
      std::uint64_t id = 0;
      if (e.drive.busy && sim.volumes.OpenOtherProcessFile(e.drive.letter, &id) != 0) {
        return "the other process's file could not be opened";
      }
      return broadcast(platform::kDbtDeviceArrival, e.drive.letter);
    }
    case Event::Kind::Remove: {
      const char key = KeyOf(sim, e.drive);
      if (key == '?') return "no such volume";
      sim.volumes.RemoveDrive(key);
      return broadcast(platform::kDbtDeviceRemoveComplete, key);
    }
    case Event::Kind::AppearLetterless: {
      const char key = PutVolume(sim, e.drive);
      if (key == '?') return "no room on the machine for another volume";
      std::uint64_t id = 0;
      if (e.drive.busy && sim.volumes.OpenOtherProcessFile(key, &id) != 0) {
        return "the other process's file could not be opened";
      }
      return "";
    }
    case Event::Kind::Control:
      return sim.service.SendControl(e.code) ? "" : "no control handler took the code";
    case Event::Kind::Tag:
      WriteTag(sim, e.text);
      return "";
    case Event::Kind::WriteProtect:
      sim.registry.SetDword(platform::kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue,
                            e.code);
      return "";
    case Event::Kind::OpenFile: {
      std::uint64_t id = 0;
      std::uint32_t error = sim.volumes.OpenOtherProcessFile(KeyOf(sim, e.drive), &id);
      return error == 0 ? "" : "the open failed with error " + std::to_string(error);
    }
    case Event::Kind::CloseFile:
      return sim.volumes.CloseOtherProcessFile(KeyOf(sim, e.drive))
                 ? ""
                 : "no file of another process open";
    case Event::Kind::PostClose: {
      platform::Handle window =
          sim.windowing.FindWindowW(platform::kNotifyWindowClass, platform::kServiceName);
      if (window == platform::kNullHandle ||
          !sim.windowing.PostMessageW(window, platform::kWmClose, 0, 0)) {
        return "no notification window to post to";
      }
      return "";
    }
  }
  return "";
}

}  // namespace

guard::DriveFacts SimulatedFacts(const platform::sim::SimMachine& sim, char letter) {
  const platform::sim::SimDrive d = sim.volumes.Drive(letter);
  const bool removableMedia = d.type == platform::kDriveRemovable || d.removableMedia;
  guard::DriveFacts facts;
  facts.type = d.type;
  facts.opened = d.volumePresent && !d.openFails;
  facts.answersAta = d.answersAtaIdentify;
  facts.bus = guard::BusAnswer{d.busQuery == platform::sim::SimBusQuery::kAnswers, d.busType,
                               removableMedia, d.vendor, d.product};
  facts.hotplug = guard::HotplugAnswer{!d.hotplugQueryFails, removableMedia, d.deviceHotplug};
  // As the guard's check: a disk whose number, or the system volume's, cannot be read counts as
  // the system disk unless its bus is external.
  const platform::sim::SimDrive system = sim.volumes.Drive('C');
  if (d.diskNumberFails || !system.volumePresent || system.diskNumberFails) {
    facts.systemDisk = !guard::IsExternalBus(facts.bus);
  } else {
    facts.systemDisk = sim.volumes.DiskNumberOf('C') == sim.volumes.DiskNumberOf(letter);
  }
  facts.kind = guard::KindOfDrive(facts);
  return facts;
}

namespace {

// Whether the policy in force now blocks the letter's kind.
bool BlockedKind(const platform::sim::SimMachine& sim, char letter) {
  switch (SimulatedFacts(sim, letter).kind) {
    case guard::DriveKind::kRemovable:
      return guard::VolumeGuard::RemovableLock != 0;
    case guard::DriveKind::kOptical:
      return guard::VolumeGuard::OpticalLock != 0;
    case guard::DriveKind::kNeither:
      break;
  }
  return false;
}

// The spans in which another process could open a file on the letter, from the volumes' log of
// changes; a span still open at the end closes at endMs.
std::vector<std::pair<std::uint64_t, std::uint64_t>> OpenableSpans(
    const std::vector<platform::sim::ExposureChange>& log, char letter, std::uint64_t endMs) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
  std::optional<std::uint64_t> from;
  for (const platform::sim::ExposureChange& change : log) {
    if (change.letter != letter) continue;
    if (change.openable && !from) {
      from = change.atMs;
    } else if (!change.openable && from) {
      // A volume closed again at the same virtual instant was never open to anyone.
      if (change.atMs > *from) spans.emplace_back(*from, change.atMs);
      from.reset();
    }
  }
  if (from) spans.emplace_back(*from, endMs);
  return spans;
}

void Collect(platform::sim::SimMachine& sim, const Scenario& s,
             std::vector<std::pair<std::uint64_t, std::string>>& events, RunOutcome& out) {
  std::vector<std::pair<std::uint64_t, std::string>> lines;
  for (const auto& line : sim.core.DebugLines()) {
    std::string text = platform::ToUtf8(line.text);
    out.debugLines.push_back(text);
    if (!text.empty() && text.front() == '\n') text.erase(0, 1);
    lines.emplace_back(line.timeMs, (line.wide ? "W " : "A ") + text);
  }
  // What the service did to the machine, from the volumes and the journal.
  std::vector<std::pair<std::uint64_t, std::string>> effects;
  for (const auto& [ms, what] : sim.volumes.VolumeEvents()) effects.emplace_back(ms, "   " + what);
  const std::vector<platform::sim::ExposureChange> exposure = sim.volumes.ExposureLog();
  for (std::size_t i = 0; i < exposure.size(); ++i) {
    const platform::sim::ExposureChange& change = exposure[i];
    if (!BlockedKind(sim, change.letter)) continue;
    // A volume closed again at the same virtual instant was never open to anyone.
    auto closesAtOnce = [&](std::size_t j) {
      return j < exposure.size() && exposure[j].letter == change.letter &&
             exposure[j].atMs == change.atMs && !exposure[j].openable;
    };
    if (change.openable && closesAtOnce(i + 1)) {
      ++i;
      continue;
    }
    effects.emplace_back(change.atMs, "   " + sim.volumes.Label(change.letter) +
                                          (change.openable ? ": openable by other processes"
                                                           : ": closed to other processes"));
  }
  std::map<std::uint64_t, std::string> devicePasses;
  for (const auto& [ms, line] : sim.core.TimedJournal()) {
    if (line.starts_with("RegSetValueExW") && line.find("WriteProtect") != std::string::npos) {
      auto eq = line.find(" =");
      std::string value =
          eq == std::string::npos ? "?" : line.substr(eq + 2, line.find(' ', eq + 2) - eq - 2);
      effects.emplace_back(
          ms, "   WriteProtect written: " + value + (line.ends_with("-> 0") ? "" : " (failed)"));
    } else if (line.starts_with("CM_Enable_DevNode") || line.starts_with("CM_Disable_DevNode")) {
      devicePasses[ms] += line.starts_with("CM_Enable") ? 'e' : 'd';
    }
  }
  // The device switch runs every second; show a pass only when it does something new.
  std::string previous;
  for (const auto& [ms, calls] : devicePasses) {
    if (calls == previous) continue;
    previous = calls;
    auto enabled = std::count(calls.begin(), calls.end(), 'e');
    auto disabled = std::count(calls.begin(), calls.end(), 'd');
    std::string what = "   portable devices:";
    if (enabled > 0) what += " " + std::to_string(enabled) + " enable call(s)";
    if (disabled > 0) what += " " + std::to_string(disabled) + " disable call(s)";
    effects.emplace_back(ms, what);
  }
  // Scenario events go before the lines written at the same time: they caused them.
  std::vector<std::pair<std::uint64_t, std::string>> all = std::move(events);
  all.insert(all.end(), effects.begin(), effects.end());
  all.insert(all.end(), lines.begin(), lines.end());
  std::stable_sort(all.begin(), all.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [ms, text] : all) out.timeline.push_back("[" + Seconds(ms) + "] " + text);

  std::string keys;
  for (char c = 'A'; c <= 'Z'; ++c) keys += c;
  for (std::size_t i = 0; i < platform::sim::SimVolumes::kLetterlessVolumes; ++i) {
    keys += static_cast<char>('a' + i);
  }
  for (char c : keys) {
    platform::sim::SimDrive d = sim.volumes.Drive(c);
    const std::string label = sim.volumes.Label(c);
    const bool letterless = c > 'Z';
    bool named =
        std::any_of(
            s.drives.begin(), s.drives.end(),
            [&](const DriveSpec& x) { return letterless ? x.name == label : x.letter == c; }) ||
        std::any_of(s.events.begin(), s.events.end(), [&](const Event& e) {
          return (e.kind == Event::Kind::Arrive || e.kind == Event::Kind::AppearLetterless) &&
                 (letterless ? e.drive.name == label : e.drive.letter == c);
        });
    if (!named && !d.volumePresent) continue;
    if (letterless && label.empty()) continue;
    DriveOutcome drive;
    drive.letter = c;
    drive.name = letterless ? label : label + ":";
    drive.type = d.type;
    drive.bus = BusText(d);
    drive.mounted = d.mounted;
    drive.locked = d.lockedBy != platform::kNullHandle;
    drive.lockedBy = static_cast<std::uint64_t>(d.lockedBy);
    drive.fileSystem = platform::sim::FileSystemOf(d.fileSystem, d.type).name;
    drive.blockedKind = BlockedKind(sim, c);
    drive.openable = OpenableSpans(sim.volumes.ExposureLog(), c, sim.core.NowMs());
    for (const auto& [from, to] : drive.openable) drive.exposedMs += to - from;
    out.drives.push_back(std::move(drive));
  }
  auto value =
      sim.registry.Value(platform::kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
  if (value && value->data.size() == 4) {
    out.writeProtect = value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
                       static_cast<std::uint32_t>(value->data[3]) << 24;
  }
  std::size_t index = 0;
  for (const auto& device : sim.devices.AllDevices()) {
    std::string name = index < s.portableDevices.size() ? s.portableDevices[index].name : "device";
    out.portableDevices.emplace_back(name, device.problem != platform::kCmProbDisabled);
    ++index;
  }
  if (auto status = sim.service.CurrentStatus()) {
    out.serviceState = status->dwCurrentState;
    out.controlsAccepted = status->dwControlsAccepted;
  }
  out.endMs = sim.core.NowMs();
}

// Seconds with three decimals and no padding ("2.500").
std::string Trimmed(std::uint64_t ms) {
  std::string text = Seconds(ms);
  return text.substr(text.find_first_not_of(' '));
}

}  // namespace

RunOutcome RunScenario(const Scenario& scenario) {
  RunOutcome out;
  platform::sim::SimMachine sim;
  sim.Install();
  service::ResetWholeProcess();
  std::string problem = BuildMachine(sim, scenario);
  if (!problem.empty()) {
    out.notes.push_back(problem);
    return out;
  }
  sim.threads.EnableScheduledMode();
  std::vector<std::pair<std::uint64_t, std::string>> events;
  std::atomic<int> exitCode{-1};
  {
    auto driver = sim.threads.RegisterCurrentThread("scenario");
    sim.threads.StartThread("main", [&sim, &exitCode] {
      service::InitialiseProcess();
      exitCode = service::EntryRoutine(kInstance, platform::kNullHandle);
      // The process ends when its entry routine returns.
      sim.threads.EndProcess();
    });
    for (const Event& e : scenario.events) {
      if (sim.threads.ProcessEnded()) {
        out.notes.push_back("line " + std::to_string(e.line) + ": " + Describe(e) +
                            ": the process had ended");
        continue;
      }
      std::uint64_t now = sim.core.NowMs();
      if (e.atMs > now) sim.threads.Sleep(static_cast<std::uint32_t>(e.atMs - now));
      events.emplace_back(sim.core.NowMs(), ">> " + Describe(e));
      std::string note = Deliver(sim, e);
      if (!note.empty()) {
        out.notes.push_back("line " + std::to_string(e.line) + ": " + Describe(e) + ": " + note);
      }
    }
    std::uint64_t now = sim.core.NowMs();
    if (!sim.threads.ProcessEnded() && scenario.runMs > now) {
      sim.threads.Sleep(static_cast<std::uint32_t>(scenario.runMs - now));
    }
  }
  sim.threads.EndProcess();
  sim.threads.JoinThreads();
  out.exitCode = exitCode.load();
  Collect(sim, scenario, events, out);
  service::ResetWholeProcess();
  return out;
}

void PrintOutcome(const RunOutcome& outcome, std::ostream& out) {
  out << "Timeline (virtual seconds). A/W: debug line (narrow/wide); >>: scenario event;\n"
      << "indented: what the service did to the machine.\n";
  for (const std::string& line : outcome.timeline) out << line << "\n";
  for (const std::string& note : outcome.notes) out << "note: " << note << "\n";
  out << "\nFinal state at " << Seconds(outcome.endMs) << " s:\n";
  out << "  Drive  Type       FS    Bus                  Volume      Lock\n";
  for (const DriveOutcome& d : outcome.drives) {
    char line[160];
    std::snprintf(
        line, sizeof line, "  %-6s %-10s %-5s %-20s %-11s %s", d.name.c_str(), TypeName(d.type),
        d.type <= 1 ? "-" : d.fileSystem.c_str(), d.bus.empty() ? "-" : d.bus.c_str(),
        d.type <= 1 ? "-" : (d.mounted ? "mounted" : "dismounted"), d.locked ? "locked" : "-");
    out << line;
    if (d.locked) {
      char handle[32];
      std::snprintf(handle, sizeof handle, " (handle 0x%llx)",
                    static_cast<unsigned long long>(d.lockedBy));
      out << handle;
    }
    out << "\n";
  }
  out << "  Exposure of the volumes the policy blocks at the end (virtual ms in which another\n"
      << "  process could open a file on them):\n";
  bool anyBlocked = false;
  for (const DriveOutcome& d : outcome.drives) {
    if (!d.blockedKind) continue;
    anyBlocked = true;
    out << "    " << d.name << " " << d.exposedMs << " ms";
    for (const auto& [from, to] : d.openable) {
      out << (&from == &d.openable.front().first ? " (" : ", ") << Trimmed(from) << "-"
          << Trimmed(to);
    }
    out << (d.openable.empty() ? "" : ")") << "\n";
  }
  if (!anyBlocked) out << "    none blocked\n";
  out << "  WriteProtect: "
      << (outcome.writeProtect ? std::to_string(*outcome.writeProtect) : std::string("absent"))
      << "\n";
  out << "  Portable devices (WPD):";
  if (outcome.portableDevices.empty()) out << " none";
  for (const auto& [name, enabled] : outcome.portableDevices) {
    out << " " << name << " " << (enabled ? "enabled" : "disabled");
  }
  out << "\n";
  static const char* const kStates[] = {"?", "SERVICE_STOPPED", "SERVICE_START_PENDING",
                                        "SERVICE_STOP_PENDING", "SERVICE_RUNNING"};
  out << "  Service state: ";
  if (outcome.serviceState) {
    std::uint32_t s = *outcome.serviceState;
    out << (s < 5 ? kStates[s] : "?") << " (" << s << "), controls accepted "
        << outcome.controlsAccepted;
  } else {
    out << "never reported";
  }
  out << "\n  Exit code: " << outcome.exitCode << "\n";
}

}  // namespace simulator
