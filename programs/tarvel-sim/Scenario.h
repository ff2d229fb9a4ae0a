// The simulator's scenario: a machine to build and a timeline of events, from a small text form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace simulator {

/// One drive letter of the simulated machine.
struct DriveSpec {
  char letter = 'A';  ///< 0 for a volume without a drive letter
  std::string name;   ///< a volume without a letter: what stands for its GUID
  std::uint32_t type = 1;
  bool answersAta = false;
  bool openFails = false;
  std::uint32_t busType = 7;    ///< STORAGE_BUS_TYPE its bus query reports; 7 is USB
  bool busQueryFails = false;   ///< the bus query fails instead
  bool hotplug = false;         ///< the device reports DeviceHotplug (removal policy: surprise)
  bool removableMedia = false;  ///< the device reports RemovableMedia
  bool vm = false;              ///< a hypervisor's virtual disk, by its vendor and product strings
  std::uint32_t disk = 0;       ///< the disk it lies on; 0 for a disk of its own
  /// The file system: "" for the drive type's own (CDFS on a CD-ROM, FAT on others), "fat",
  /// "ntfs" or "cdfs".
  std::string fileSystem;
  /// Another process holds a file open on it from the moment it appears (as Explorer or a
  /// user's program would), until an "at MS close" closes it.
  bool busy = false;
  std::vector<std::string> folders;  ///< folders it is mounted in ("C:\\mnt\\stick")
};

/// The scenario name of a STORAGE_BUS_TYPE value ("nvme"), or null for one without a name.
const char* BusName(std::uint32_t busType);

/// One device of the portable-device class.
struct PortableDeviceSpec {
  std::string name;
  bool disabled = false;
};

/// Something that happens at a virtual time.
struct Event {
  enum class Kind {
    Arrive,
    Remove,
    Control,
    Tag,
    WriteProtect,
    PostClose,
    OpenFile,
    CloseFile,
    AppearLetterless,  ///< a volume without a letter appears; no broadcast names it
  };
  std::uint64_t atMs = 0;
  Kind kind = Kind::Control;
  DriveSpec drive;  ///< Arrive: the drive that appears; Remove, OpenFile, CloseFile: its letter
  std::uint32_t code = 0;  ///< Control: the control code; WriteProtect: the value
  std::string text;        ///< Tag: the new [State] key text
  int line = 0;            ///< where the scenario said it
};

/// A whole scenario. Absent optionals mean "nothing there" (no file, no value).
struct Scenario {
  std::vector<DriveSpec> drives;
  std::optional<std::string> policyState;         ///< plain State text, written encrypted
  std::string policyFileName = "DevState.ini";    ///< where policyState goes
  std::optional<std::string> policyFileFromHost;  ///< a PolicyFile copied from the host
  std::optional<std::string> tag;                 ///< ReadTag.ini [State] key text
  std::optional<std::uint32_t> writeProtect;      ///< the WriteProtect value at start
  bool portableClass = true;                      ///< whether setup class "WPD" exists
  std::vector<PortableDeviceSpec> portableDevices;
  bool startedByScm = true;
  std::uint64_t runMs = 0;    ///< virtual run time; 0: two seconds after the last event
  std::vector<Event> events;  ///< in time order
};

/// A scenario refused: the line it stopped at and what is wrong there.
struct ScenarioError {
  int line = 0;
  std::string message;
};

/// Parses the text form documented in README. Nothing runs when it returns an error.
std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text);

/// The scenario that `tarvel-sim` runs with no argument.
std::string_view DefaultScenarioText();

}  // namespace simulator
