// The simulator's scenario parser.
#include "programs/tarvel-sim/Scenario.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>

namespace simulator {

namespace {

const std::map<std::string, std::uint32_t> kDriveTypes = {
    {"unknown", 0}, {"noroot", 1}, {"removable", 2}, {"fixed", 3},
    {"remote", 4},  {"cdrom", 5},  {"ramdisk", 6}};

// STORAGE_BUS_TYPE values by the names a scenario gives them.
const std::map<std::string, std::uint32_t> kBusTypes = {
    {"unknown", 0x00},    {"scsi", 0x01},   {"atapi", 0x02}, {"ata", 0x03},  {"1394", 0x04},
    {"ssa", 0x05},        {"fibre", 0x06},  {"usb", 0x07},   {"raid", 0x08}, {"iscsi", 0x09},
    {"sas", 0x0A},        {"sata", 0x0B},   {"sd", 0x0C},    {"mmc", 0x0D},  {"virtual", 0x0E},
    {"filebacked", 0x0F}, {"spaces", 0x10}, {"nvme", 0x11},  {"scm", 0x12},  {"ufs", 0x13}};

struct Refused {
  std::string message;
};

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in{std::string(line)};
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

std::uint64_t Number(const std::string& word, const char* what, std::uint64_t max) {
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
  if (ec != std::errc() || end != word.data() + word.size() || v > max) {
    throw Refused{std::string(what) + " '" + word + "' is not a number from 0 to " +
                  std::to_string(max)};
  }
  return v;
}

char Letter(const std::string& word) {
  if (word.size() == 1 && word[0] >= 'A' && word[0] <= 'Z') return word[0];
  if (word.size() == 1 && word[0] >= 'a' && word[0] <= 'z') return char(word[0] - 32);
  throw Refused{"'" + word + "' is not a drive letter A to Z"};
}

// "drive E fixed [ata] [openfails] [busy] [bus BUS] [fs FS] [hotplug] [removablemedia]
// [thunderbolt] [vm] [disk N]" and "arrive E fixed ..." share this tail.
DriveSpec Drive(const std::vector<std::string>& w, std::size_t at, bool letterless = false) {
  if (w.size() < at + 2) {
    throw Refused{letterless ? "expected a volume name and a type"
                             : "expected a drive letter and a type"};
  }
  DriveSpec d;
  if (letterless) {
    d.letter = 0;
    d.name = w[at];
    const bool ascii =
        std::all_of(d.name.begin(), d.name.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (d.name.size() < 2 || d.name.size() > 36 || !ascii ||
        d.name.find_first_of("{}\\") != std::string::npos) {
      throw Refused{"a volume name is 2 to 36 ASCII characters, without braces or backslashes"};
    }
  } else {
    d.letter = Letter(w[at]);
  }
  auto type = kDriveTypes.find(w[at + 1]);
  if (type == kDriveTypes.end()) {
    throw Refused{"unknown drive type '" + w[at + 1] +
                  "' (removable, fixed, remote, cdrom, ramdisk, unknown, noroot)"};
  }
  d.type = type->second;
  for (std::size_t i = at + 2; i < w.size(); ++i) {
    if (w[i] == "ata") {
      d.answersAta = true;
    } else if (w[i] == "openfails") {
      d.openFails = true;
    } else if (w[i] == "bus") {
      if (++i == w.size()) throw Refused{"expected a bus after 'bus' (nvme, usb, queryfails, ...)"};
      auto bus = kBusTypes.find(w[i]);
      if (w[i] == "queryfails") {
        d.busQueryFails = true;
      } else if (bus != kBusTypes.end()) {
        d.busType = bus->second;
      } else {
        std::string names;
        for (const auto& [name, value] : kBusTypes) names += name + ", ";
        throw Refused{"unknown bus '" + w[i] + "' (" + names + "queryfails)"};
      }
    } else if (w[i] == "folder") {
      if (++i == w.size()) throw Refused{"expected a folder after 'folder' (C:\\mnt\\stick)"};
      d.folders.push_back(w[i]);
    } else if (w[i] == "busy") {
      d.busy = true;
    } else if (w[i] == "hotplug") {
      d.hotplug = true;
    } else if (w[i] == "removablemedia") {
      d.removableMedia = true;
    } else if (w[i] == "thunderbolt") {
      // An NVMe disk in a Thunderbolt or USB4 enclosure: the NVMe bus, hot-pluggable.
      d.busType = kBusTypes.at("nvme");
      d.hotplug = true;
    } else if (w[i] == "vm") {
      // A virtual machine's virtual NVMe disk; a later "bus" gives another controller.
      d.busType = kBusTypes.at("nvme");
      d.vm = true;
    } else if (w[i] == "disk") {
      if (++i == w.size()) throw Refused{"expected a disk number after 'disk'"};
      d.disk = static_cast<std::uint32_t>(Number(w[i], "disk", 99));
    } else if (w[i] == "fs") {
      if (++i == w.size() || (w[i] != "fat" && w[i] != "ntfs" && w[i] != "cdfs")) {
        throw Refused{"expected a file system after 'fs' (fat, ntfs, cdfs)"};
      }
      d.fileSystem = w[i];
    } else {
      throw Refused{"unknown drive option '" + w[i] +
                    "' (ata, openfails, busy, folder PATH, bus BUS, fs FS, hotplug, "
                    "removablemedia, thunderbolt, vm, disk N)"};
    }
  }
  return d;
}

// The text after the first n words of the line, as written.
std::string RestAfter(std::string_view line, std::size_t n) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    pos = line.find_first_not_of(" \t", pos);
    pos = line.find_first_of(" \t", pos);
    if (pos == std::string_view::npos) return "";
  }
  pos = line.find_first_not_of(" \t", pos);
  if (pos == std::string_view::npos) return "";
  std::string rest(line.substr(pos));
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
    rest = rest.substr(1, rest.size() - 2);
  }
  return rest;
}

void Expect(const std::vector<std::string>& w, std::size_t n, const char* form) {
  if (w.size() != n) throw Refused{std::string("expected: ") + form};
}

// A one-character word is a drive letter; a longer one names a volume without a letter.
void SetLetterOrName(DriveSpec& d, const std::string& word) {
  if (word.size() == 1) {
    d.letter = Letter(word);
  } else {
    d.letter = 0;
    d.name = word;
  }
}

Event ParseEvent(const std::vector<std::string>& w, std::string_view line) {
  if (w.size() < 3) throw Refused{"expected: at MS EVENT ..."};
  Event e;
  e.atMs = Number(w[1], "time", 24ull * 3600 * 1000);
  const std::string& what = w[2];
  if (what == "arrive") {
    e.kind = Event::Kind::Arrive;
    e.drive = Drive(w, 3);
  } else if (what == "volume") {
    e.kind = Event::Kind::AppearLetterless;
    e.drive = Drive(w, 3, true);
  } else if (what == "remove") {
    Expect(w, 4, "at MS remove LETTER|NAME");
    e.kind = Event::Kind::Remove;
    SetLetterOrName(e.drive, w[3]);
  } else if (what == "open" || what == "close") {
    Expect(w, 4, "at MS open|close LETTER|NAME");
    e.kind = what == "open" ? Event::Kind::OpenFile : Event::Kind::CloseFile;
    SetLetterOrName(e.drive, w[3]);
  } else if (what == "control") {
    Expect(w, 4, "at MS control CODE");
    e.kind = Event::Kind::Control;
    e.code = static_cast<std::uint32_t>(Number(w[3], "control code", 0xFFFFFFFFu));
  } else if (what == "stop") {
    Expect(w, 3, "at MS stop");
    e.kind = Event::Kind::Control;
    e.code = 255;
  } else if (what == "tag") {
    e.kind = Event::Kind::Tag;
    e.text = RestAfter(line, 3);
  } else if (what == "write-protect") {
    Expect(w, 4, "at MS write-protect VALUE");
    e.kind = Event::Kind::WriteProtect;
    e.code = static_cast<std::uint32_t>(Number(w[3], "value", 0xFFFFFFFFu));
  } else if (what == "post-close") {
    Expect(w, 3, "at MS post-close");
    e.kind = Event::Kind::PostClose;
  } else {
    throw Refused{"unknown event '" + what +
                  "' (arrive, volume, remove, open, close, control, stop, tag, write-protect, "
                  "post-close)"};
  }
  return e;
}

// A '#' at the start of a line or after a blank starts a comment.
std::string_view WithoutComment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

void ParseLine(Scenario& s, std::string_view fullLine) {
  std::string_view line = WithoutComment(fullLine);
  std::vector<std::string> w = Words(line);
  if (w.empty()) return;
  const std::string& key = w[0];
  if (key == "drive" || key == "volume") {
    DriveSpec d = Drive(w, 1, key == "volume");
    for (const DriveSpec& other : s.drives) {
      if (d.letter != 0 && other.letter == d.letter) {
        throw Refused{std::string("drive ") + d.letter + " twice"};
      }
      if (d.letter == 0 && other.name == d.name) throw Refused{"volume " + d.name + " twice"};
    }
    s.drives.push_back(d);
  } else if (key == "policy") {
    if (w.size() == 4 && w[2] == "in") {
      s.policyFileName = w[3];
    } else if (w.size() != 2) {
      throw Refused{"expected: policy STATE [in FILE]"};
    }
    if (s.policyFileName != "DevState.ini" && s.policyFileName != "SysSecurity.ini") {
      throw Refused{"the policy file is DevState.ini or SysSecurity.ini"};
    }
    s.policyState = w[1];
  } else if (key == "policy-file") {
    Expect(w, 3, "policy-file DevState.ini|SysSecurity.ini HOST-PATH");
    if (w[1] != "DevState.ini" && w[1] != "SysSecurity.ini") {
      throw Refused{"the policy file is DevState.ini or SysSecurity.ini"};
    }
    s.policyFileName = w[1];
    s.policyFileFromHost = w[2];
  } else if (key == "tag") {
    s.tag = RestAfter(line, 1);
  } else if (key == "write-protect") {
    Expect(w, 2, "write-protect VALUE");
    s.writeProtect = static_cast<std::uint32_t>(Number(w[1], "value", 0xFFFFFFFFu));
  } else if (key == "wpd") {
    if (w.size() == 2 && w[1] == "absent") {
      s.portableClass = false;
    } else if (w.size() == 4 && w[1] == "device" && (w[3] == "enabled" || w[3] == "disabled")) {
      s.portableDevices.push_back(PortableDeviceSpec{w[2], w[3] == "disabled"});
    } else {
      throw Refused{"expected: wpd absent | wpd device NAME enabled|disabled"};
    }
  } else if (key == "not-a-service") {
    Expect(w, 1, "not-a-service");
    s.startedByScm = false;
  } else if (key == "run") {
    Expect(w, 2, "run MS");
    s.runMs = Number(w[1], "run time", 24ull * 3600 * 1000);
  } else if (key == "at") {
    s.events.push_back(ParseEvent(w, line));
  } else {
    throw Refused{
        "unknown statement '" + key +
        "' (drive, volume, policy, policy-file, tag, write-protect, wpd, not-a-service, run, "
        "at)"};
  }
}

}  // namespace

const char* BusName(std::uint32_t busType) {
  for (const auto& [name, value] : kBusTypes) {
    if (value == busType) return name.c_str();
  }
  return nullptr;
}

std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text) {
  Scenario s;
  int number = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    try {
      std::size_t before = s.events.size();
      ParseLine(s, line);
      if (s.events.size() > before) s.events.back().line = number;
    } catch (const Refused& r) {
      return ScenarioError{number, r.message};
    }
    start = end + 1;
  }
  std::stable_sort(s.events.begin(), s.events.end(),
                   [](const Event& a, const Event& b) { return a.atMs < b.atMs; });
  if (s.runMs == 0) s.runMs = (s.events.empty() ? 0 : s.events.back().atMs) + 2000;
  for (const Event& e : s.events) {
    if (e.atMs > s.runMs) {
      return ScenarioError{e.line,
                           "event after the end of the run (run " + std::to_string(s.runMs) + ")"};
    }
  }
  return s;
}

std::string_view DefaultScenarioText() {
  return R"(# The whole behaviour in one run: every kind of drive, a policy that locks removable
# volumes only, a USB stick plugged in, the optical lock switched on and off, write protection
# set and cleared through the tag file, the stick pulled out, and a stop.
drive C fixed ata        # internal ATA disk: never locked
drive D fixed bus nvme   # internal NVMe data disk: no answer to the ATA probe, internal bus
drive E removable        # USB stick
drive F fixed bus usb    # USB hard disk: fixed, no answer to the ATA probe, external bus
drive G cdrom
drive R ramdisk
policy truefalse
tag 0
write-protect 0
wpd device phone enabled
at 2500 arrive H removable
at 4000 control 130      # optical lock on
at 6000 control 131      # optical lock off
at 7000 tag 1
at 10000 tag 0
at 12500 remove H
at 14000 stop
)";
}

}  // namespace simulator
