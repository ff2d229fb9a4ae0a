// Fuzz target: a short sequence of operations on the whole simulated service, from the entry
// routine to its stop: control codes, volume arrivals and removals, other device events and
// window messages, tag-file and registry changes by someone else, and virtual time passing.
//
// Input: two bytes of set-up, then operations, each a code byte and its arguments; at most
// kMaxOps operations, and none once the virtual clock has reached kMaxVirtualMs (waits end
// there too), so that an input runs in milliseconds of real time. Set-up byte 0: bits 0-2 the
// policy file (none, DevState.ini with State "falsefalse", "truefalse", "falsetrue", "truetrue" or
// a text of its own, SysSecurity.ini alone with "truetrue", or a DevState.ini that is a directory),
// bit 3 WOW64, bit 4 a "WPD" class with an enabled and a disabled device, bit 5 a tag asking
// for 1 (else 0), bit 6 a WriteProtect value of 1 (else none), bit 7 a previous instance (no
// window class is registered, so there is no window). Set-up byte 1: which of the letters E to K
// (see kLetters) hold their drive at start. Operations, by code byte modulo 8:
//   0 control code: a byte below 0xF0 picks from kCodes (biased towards the codes the handler
//     acts on and their neighbours), else a 32-bit code follows;
//   1 arrival: a letter byte (modulo 26), a drive byte (bits 0-2 type, bit 3 answers the ATA
//     probe, bit 4 refuses opens, bit 5 no volume, bits 6-7 the broadcast's form), then the
//     letter gets that drive and the window a DBT_DEVICEARRIVAL;
//   2 removal: a byte (bits 0-4 letter modulo 26, bits 5-6 form); the drive goes away and the
//     window gets a DBT_DEVICEREMOVECOMPLETE;
//   3 any other WM_DEVICECHANGE: a 32-bit event code and a form byte;
//   4 tag file change, 5 WriteProtect change by someone else, 6 time passes, 7 another message
//     sent to the window: one argument byte each.
// Broadcast forms: a well-formed volume broadcast naming the letter, a volume broadcast with a
// 32-bit unit mask from the input, up to 32 raw bytes from the input, or a null pointer.
//
// After each operation, with the guard lock held (so that no guard operation is half done): the
// counts lie within 0..26, the guard's slots hold exactly the volume handles open on the
// machine, every lock is held through a slot of a kind whose flag is set, a lock switched on or a
// removal handled leaves every volume its flags cover locked, and a running service still runs.
// A stop code ends the process. At the end the service is stopped with 255 if it still runs, the
// process must end in bounded real time, and it may leave open only the guard's volume handles,
// the timer queue and its timer.
//
// tests/fuzz/run.sh runs this target with -entropic=0 (ServiceFuzz.flags): its coverage features
// vary with the interleaving of the machine's threads, and the entropic schedule's bookkeeping of
// them cost about as much as the runs themselves.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/Registry.h"
#include "platform/Volumes.h"
#include "platform/Windowing.h"
#include "platform/sim/SimCrypto.h"
#include "platform/sim/SimThreadPool.h"
#include "policy/PolicyDecryption.h"
#include "service/ServiceEntry.h"
#include "service/ServiceLifecycle.h"
#include "service/ServiceState.h"
#include "service/ServiceWorker.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using guard::VolumeGuard;
using platform::Handle;
using platform::sim::SimDrive;
using platform::sim::SimMachine;

constexpr int kMaxOps = 12;
constexpr std::uint64_t kMaxVirtualMs = 2500;
constexpr auto kRealLimit = std::chrono::seconds(5);
constexpr Handle kInstance = 0x400000;

struct Letter {
  char letter;
  SimDrive drive;
};
// A fixed disk that fails the ATA probe and reports an internal bus.
SimDrive NvmeDisk() {
  SimDrive d{platform::kDriveFixed, true};
  d.busType = platform::kBusTypeNvme;
  return d;
}

// The system directory's letter: a fixed disk there is the machine's own, whatever its bus.
constexpr char kSystemLetter = 'C';

// Whether a fixed disk's bus query names a bus it is plugged in by from outside.
bool ExternalBus(const SimDrive& d) {
  return d.busType == platform::kBusTypeUsb || d.busType == platform::kBusType1394 ||
         d.busType == platform::kBusTypeSd || d.busType == platform::kBusTypeMmc;
}

// A stick, a disc, a USB hard disk, a RAM disk, an internal ATA disk, a network drive, a
// stick that refuses every open and an internal NVMe disk.
const Letter kLetters[] = {
    {'E', {platform::kDriveRemovable, true}},
    {'F', {platform::kDriveCdrom, true}},
    {'G', {platform::kDriveFixed, true}},
    {'H', {platform::kDriveRamdisk, true}},
    {'I', {platform::kDriveFixed, true, true}},
    {'J', {platform::kDriveRemote, true}},
    {'K', {platform::kDriveRemovable, true, false, true}},
    {'L', NvmeDisk()},
};

const std::uint32_t kCodes[] = {128, 129, 130, 131, 128, 129,   130,        131,
                                1,   5,   255, 0,   2,   3,     4,          6,
                                127, 132, 254, 256, 384, 65664, 0xFFFFFFFF, 0x80000080};

// With SERVICE_FUZZ_TRACE set, each operation and its virtual time go to stderr, so that a
// finding can be read step by step.
template <typename... Args>
void Trace(SimMachine& sim, const char* format, Args... args) {
  static const bool on = std::getenv("SERVICE_FUZZ_TRACE") != nullptr;
  if (!on) return;
  std::fprintf(stderr, "[%6llu] ", static_cast<unsigned long long>(sim.core.NowMs()));
  std::fprintf(stderr, format, args...);
  std::fputc('\n', stderr);
}

bool IsStopCode(std::uint32_t code) {
  return code == service::kControlStop || code == service::kControlShutdown ||
         code == service::kControlStopService;
}

// The ciphertext code units of a text under the policy key, as the policy file stores them.
std::u16string Encrypt(const std::u16string& plain, bool terminator) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : plain) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  auto passphrase = policy::PolicyPassphraseBytes();
  auto key = platform::sim::SimCrypto::Md5(passphrase.data(), passphrase.size());
  platform::sim::SimCrypto::Rc4(key.data(), key.size(), bytes.data(), bytes.size());
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  return units;
}

std::u16string PolicyText(const std::u16string& state) {
  auto count = [](std::size_t n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  };
  const std::u16string counter = Encrypt(u"1", true);
  const std::u16string description = Encrypt(u"policy", true);
  const std::u16string encrypted = Encrypt(state, false);
  return u"[Counter]\r\nCounter=" + counter + u"\r\nJan=" + count(2 * counter.size()) +
         u"\r\n[Description]\r\nDescription=" + description + u"\r\nFeb=" +
         count(2 * description.size()) + u"\r\n[State]\r\nState=" + encrypted + u"\r\nMar=" +
         count(2 * state.size()) + u"\r\n";
}

// Aborts with the scheduler's view of every thread when an input runs past the real-time limit,
// so that a hang is reported with where each thread waits. It runs on the machine's thread pool,
// as the machine's own threads do, so that an input starts no real thread.
class Watchdog {
 public:
  explicit Watchdog(SimMachine& sim) {
    platform::sim::SimThreadPool::Instance().Run(
        [this, &sim] {
          std::unique_lock lock(mutex_);
          if (cv_.wait_for(lock, 3 * kRealLimit, [this] { return finished_; })) return;
          std::fprintf(stderr, "\n==fuzz== the input did not finish in time\n");
          for (const std::string& line : sim.threads.scheduler().Describe()) {
            std::fprintf(stderr, "  %s\n", line.c_str());
          }
          std::abort();
        },
        &done_);
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    cv_.notify_one();
    done_.Wait();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool finished_ = false;
  platform::sim::Completion done_;
};

class Run {
 public:
  Run(SimMachine& sim, fuzz::ByteReader& input) : sim_(sim), input_(input) {}

  void SetUp(std::uint8_t setup, std::uint8_t drives);
  void Start();
  // One operation; false when the process has ended.
  bool Step();
  void Finish();

 private:
  [[nodiscard]] bool Alive() const { return exitCode_.load() == kNoExit; }
  // Blocks until ready() holds, waking only when the machine's state changes; false when the
  // real-time limit passed first. Virtual time runs freely meanwhile.
  bool Await(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + kRealLimit;
    platform::sim::SimScheduler& scheduler = sim_.threads.scheduler();
    for (;;) {
      const std::uint64_t seen = scheduler.Generation();
      if (ready()) return true;
      auto why = scheduler.Block(seen, std::nullopt, deadline);
      if (why == platform::sim::WakeReason::kEnded ||
          std::chrono::steady_clock::now() >= deadline) {
        return ready();
      }
    }
  }
  [[nodiscard]] bool Running() const {
    auto status = sim_.service.CurrentStatus();
    return status && status->dwCurrentState == platform::kServiceRunning;
  }

  std::u16string Dir() const {
    return wow64_ ? u"C:\\Windows\\SysWOW64\\" : u"C:\\Windows\\system32\\";
  }
  void WriteTag(const std::string& key) {
    sim_.files.SetTextFileUtf8(Dir() + platform::kTagFileName, "[State]\r\nkey=" + key + "\r\n");
  }
  void Control();
  void Broadcast(std::uint32_t event, char letter, std::uint8_t form);
  void Tag(std::uint8_t choice);
  void Registry(std::uint8_t choice);
  void Message(std::uint8_t choice);
  struct Flags {
    bool removable;
    bool optical;
  };
  Flags StableFlags();
  void Check(std::optional<Flags> full);

  static constexpr int kNoExit = -1;
  SimMachine& sim_;
  fuzz::ByteReader& input_;
  bool wow64_ = false;
  std::atomic<int> exitCode_{kNoExit};
};

void Run::SetUp(std::uint8_t setup, std::uint8_t drives) {
  wow64_ = (setup & 0x08) != 0;
  sim_.process.SetIsWow64Process(true, wow64_);
  for (std::size_t i = 0; i < std::size(kLetters); ++i) {
    if ((drives >> i & 1u) != 0) sim_.volumes.SetDrive(kLetters[i].letter, kLetters[i].drive);
  }
  static const char16_t* const kStates[] = {u"falsefalse", u"truefalse", u"falsetrue", u"truetrue",
                                            u"policy"};
  const int policy = setup & 0x07;
  if (policy >= 1 && policy <= 5) {
    sim_.files.SetTextFileUtf16(Dir() + u"DevState.ini", PolicyText(kStates[policy - 1]), false);
  } else if (policy == 6) {
    sim_.files.SetTextFileUtf16(Dir() + u"SysSecurity.ini", PolicyText(u"truetrue"), false);
  } else if (policy == 7) {
    sim_.files.MakeDirectory(Dir() + u"DevState.ini");
  }
  if ((setup & 0x10) != 0) {
    sim_.devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
    sim_.devices.AddDevice(platform::sim::kWpdClassGuid, true, 0);
    sim_.devices.AddDevice(platform::sim::kWpdClassGuid, true, platform::kCmProbDisabled);
  }
  WriteTag((setup & 0x20) != 0 ? "1" : "0");
  if ((setup & 0x40) != 0) {
    sim_.registry.SetDword(platform::kHkeyLocalMachine, enforcement::kWriteProtectKey,
                           enforcement::kWriteProtectValue, 1);
  }
  const Handle prevInstance = (setup & 0x80) != 0 ? 0x300000 : platform::kNullHandle;
  sim_.threads.StartThread("main", [this, prevInstance] {
    service::InitialiseProcess();
    exitCode_ = service::EntryRoutine(kInstance, prevInstance);
  });
}

void Run::Start() {
  // Start-up ends in the running report (a window follows on the worker); nothing here fails.
  FUZZ_CHECK(Await([this] { return Running() || !Alive(); }));
  FUZZ_CHECK(Running());
  Check(std::nullopt);
}

Run::Flags Run::StableFlags() {
  // Read under the guard lock: the poll's pulse sets and clears the removable flag within it.
  std::lock_guard lock(guard::TheVolumeGuard().Mutex());
  return Flags{VolumeGuard::RemovableLock == 1, VolumeGuard::OpticalLock == 1};
}

void Run::Control() {
  const std::uint8_t pick = input_.Byte();
  const std::uint32_t code = pick < 0xF0 ? kCodes[pick % std::size(kCodes)] : input_.Dword();
  const Flags before = StableFlags();
  Trace(sim_, "control %u", code);
  FUZZ_CHECK(sim_.service.SendControl(code));
  if (IsStopCode(code)) {
    FUZZ_CHECK(Await([this] { return !Alive(); }));
    FUZZ_CHECK(sim_.service.CurrentStatus()->dwCurrentState == platform::kServiceStopped);
    return;
  }
  FUZZ_CHECK(Running());
  // A lock switched on takes every volume of its kind from fresh slots; the other kind is left
  // as it was.
  Flags rebuilt{code == service::kControlRemovableLockOn && !before.removable,
                code == service::kControlOpticalLockOn && !before.optical};
  Check(rebuilt.removable || rebuilt.optical ? std::optional<Flags>(rebuilt) : std::nullopt);
}

void Run::Broadcast(std::uint32_t event, char letter, std::uint8_t form) {
  std::vector<std::uint8_t> bytes(32, 0);
  const void* lParam = bytes.data();
  platform::DevBroadcastVolume volume{sizeof(platform::DevBroadcastVolume),
                                      platform::kDbtDevtypVolume, 0, 1u << (letter - 'A'), 0};
  switch (form & 3) {
    case 0:
      std::memcpy(bytes.data(), &volume, sizeof volume);
      break;
    case 1:
      volume.dbcv_unitmask = input_.Dword();
      std::memcpy(bytes.data(), &volume, sizeof volume);
      break;
    case 2: {
      // Windows hands the receiver as many bytes as the size field declares; the buffer here is
      // larger than every field the handler may read.
      const std::size_t n = input_.Byte() % 33;
      for (std::size_t i = 0; i < n; ++i) bytes[i] = input_.Byte();
      break;
    }
    default:
      lParam = nullptr;
      break;
  }
  const Handle window =
      sim_.windowing.FindWindowW(service::kNotifyWindowClass, service::kServiceName);
  const Flags before = StableFlags();
  Trace(sim_, "device event 0x%x for %c, form %d", event, letter, form & 3);
  bool handled = false;
  if (window != platform::kNullHandle) {
    std::intptr_t result = 0;
    handled = sim_.windowing.SendMessageW(window, platform::kWmDeviceChange, event,
                                          reinterpret_cast<std::intptr_t>(lParam), &result);
  }
  // A removal seen while either lock is on rebuilds every lock from nothing.
  const bool rebuilt = handled && event == platform::kDbtDeviceRemoveComplete &&
                       (before.removable || before.optical);
  Check(rebuilt ? std::optional<Flags>(StableFlags()) : std::nullopt);
  if (!handled || event != platform::kDbtDeviceArrival || (form & 3) != 0) return;
  // A well-formed arrival of a stick, a USB disk or a disc under its kind's lock leaves it locked.
  const SimDrive d = sim_.volumes.Drive(letter);
  if (!d.volumePresent || d.openFails) return;
  const bool removableArrival = d.type == platform::kDriveRemovable ||
                                (d.type == platform::kDriveFixed && !d.answersAtaIdentify &&
                                 ExternalBus(d) && letter != kSystemLetter);
  if ((removableArrival && before.removable) ||
      (d.type == platform::kDriveCdrom && before.optical)) {
    FUZZ_CHECK(d.lockedBy != platform::kNullHandle);
  }
}

void Run::Tag(std::uint8_t choice) {
  const std::u16string path = Dir() + platform::kTagFileName;
  Trace(sim_, "tag file choice %d", choice % 17);
  switch (choice % 17) {
    case 10:
      WriteTag("");
      break;
    case 11:
      sim_.files.RemoveFile(path);
      break;
    case 12:
      WriteTag("10");
      break;
    case 13:
      WriteTag("-1");
      break;
    case 14: {
      std::vector<std::uint8_t> garbage(input_.Byte() % 16);
      for (auto& b : garbage) b = input_.Byte();
      sim_.files.SetFile(path, std::move(garbage));
      break;
    }
    case 15:
      sim_.files.SetTextFileUtf8(path, "[Other]\r\nkey=1\r\n");
      break;
    case 16:
      WriteTag("\xD9\xA1");  // ARABIC-INDIC DIGIT ONE
      break;
    default:
      WriteTag(std::string(1, static_cast<char>('0' + choice % 17)));
      break;
  }
  Check(std::nullopt);
}

void Run::Registry(std::uint8_t choice) {
  using enforcement::kWriteProtectKey;
  using enforcement::kWriteProtectValue;
  platform::sim::SimRegistry& registry = sim_.registry;
  const platform::Hkey root = platform::kHkeyLocalMachine;
  Trace(sim_, "registry change %d", choice % 6);
  switch (choice % 6) {
    case 0:
      registry.DeleteValue(root, kWriteProtectKey, kWriteProtectValue);
      break;
    case 1:
      registry.SetDword(root, kWriteProtectKey, kWriteProtectValue, input_.Byte());
      break;
    case 2:
      registry.SetString(root, kWriteProtectKey, kWriteProtectValue, u"1");
      break;
    case 3:
      registry.SetValue(root, kWriteProtectKey, kWriteProtectValue,
                        platform::sim::SimRegValue{platform::kRegBinary, {1, 0, 0, 0, 1, 0, 0, 0}});
      break;
    case 4:
      registry.DeleteKey(root, kWriteProtectKey);
      break;
    default:
      registry.DenyAccess(root, kWriteProtectKey);
      break;
  }
  Check(std::nullopt);
}

void Run::Message(std::uint8_t choice) {
  static const std::uint32_t kMessages[] = {platform::kWmClose, platform::kWmTimer, 0x0002, 0x0000,
                                            0x0400};
  std::uint32_t message = choice % 6 < 5 ? kMessages[choice % 6] : input_.Dword();
  if (message == platform::kWmDeviceChange) message = 0;  // device changes carry a broadcast
  const Handle window =
      sim_.windowing.FindWindowW(service::kNotifyWindowClass, service::kServiceName);
  Trace(sim_, "message 0x%x", message);
  std::intptr_t result = 0;
  if (window != platform::kNullHandle) {
    sim_.windowing.SendMessageW(window, message, 0, 0, &result);
  }
  Check(std::nullopt);
}

bool Run::Step() {
  const std::uint8_t op = input_.Byte();
  switch (op % 8) {
    case 0:
      Control();
      break;
    case 1: {
      const char letter = static_cast<char>('A' + input_.Byte() % 26);
      const std::uint8_t shape = input_.Byte();
      SimDrive d;
      d.type = shape & 0x07;
      d.answersAtaIdentify = (shape & 0x08) != 0;
      d.openFails = (shape & 0x10) != 0;
      d.volumePresent = (shape & 0x20) == 0;
      sim_.volumes.SetDrive(letter, d);
      Trace(sim_, "drive %c: type %u%s%s%s", letter, d.type, d.answersAtaIdentify ? " ata" : "",
            d.openFails ? " refuses opens" : "", d.volumePresent ? "" : " no volume");
      Broadcast(platform::kDbtDeviceArrival, letter, shape >> 6);
      break;
    }
    case 2: {
      const std::uint8_t arg = input_.Byte();
      const char letter = static_cast<char>('A' + (arg & 0x1F) % 26);
      sim_.volumes.RemoveDrive(letter);
      Broadcast(platform::kDbtDeviceRemoveComplete, letter, arg >> 5);
      break;
    }
    case 3: {
      const std::uint32_t event = input_.Dword();
      Broadcast(event, 'E', input_.Byte());
      break;
    }
    case 4:
      Tag(input_.Byte());
      break;
    case 5:
      Registry(input_.Byte());
      break;
    case 6: {
      const std::uint64_t now = sim_.core.NowMs();
      const std::uint64_t ms = std::min<std::uint64_t>(
          10u * (1u + input_.Byte()), now < kMaxVirtualMs ? kMaxVirtualMs - now : 0);
      Trace(sim_, "wait %llu ms", static_cast<unsigned long long>(ms));
      sim_.threads.Sleep(static_cast<std::uint32_t>(ms));
      Check(std::nullopt);
      break;
    }
    default:
      Message(input_.Byte());
      break;
  }
  return Alive();
}

// The properties every quiet moment must show; with full, also that every volume of the kinds it
// names is locked (right after a pass that rebuilt the locks of those kinds from nothing).
void Run::Check(std::optional<Flags> full) {
  if (!Alive()) return;
  FUZZ_CHECK(Running());
  VolumeGuard& g = guard::TheVolumeGuard();
  std::lock_guard lock(g.Mutex());
  FUZZ_CHECK(VolumeGuard::RemovableLock <= 1 && VolumeGuard::OpticalLock <= 1);
  FUZZ_CHECK(g.removableCount >= 0 && g.removableCount <= guard::kDriveCount);
  FUZZ_CHECK(g.opticalCount >= 0 && g.opticalCount <= guard::kDriveCount);
  std::set<Handle> removable(std::begin(g.removableHandles), std::end(g.removableHandles));
  std::set<Handle> optical(std::begin(g.opticalHandles), std::end(g.opticalHandles));
  FUZZ_CHECK(fuzz::HeldVolumeHandles(g) == sim_.core.OpenHandlesOf("volume"));
  for (char c = 'A'; c <= 'Z'; ++c) {
    const SimDrive d = sim_.volumes.Drive(c);
    if (d.lockedBy != platform::kNullHandle) {
      FUZZ_CHECK(removable.contains(d.lockedBy) || optical.contains(d.lockedBy));
      if (removable.contains(d.lockedBy)) FUZZ_CHECK(VolumeGuard::RemovableLock == 1);
      if (optical.contains(d.lockedBy)) FUZZ_CHECK(VolumeGuard::OpticalLock == 1);
    }
    // RAM disks count as removable unless they answer the ATA probe; fixed disks only when they
    // do not answer it and report an external bus. An internal disk is never locked.
    const bool removableKind = d.type == platform::kDriveRemovable ||
                               (d.type == platform::kDriveRamdisk && !d.answersAtaIdentify) ||
                               (d.type == platform::kDriveFixed && !d.answersAtaIdentify &&
                                ExternalBus(d) && c != kSystemLetter);
    if (d.type == platform::kDriveFixed && !removableKind) {
      FUZZ_CHECK(d.lockedBy == platform::kNullHandle);
    }
    if (!full || !d.volumePresent || d.openFails) continue;
    const bool covered =
        (removableKind && full->removable) || (d.type == platform::kDriveCdrom && full->optical);
    if (covered && d.lockedBy == platform::kNullHandle) {
      Trace(sim_, "%c: type %u not locked; flags %d %d", c, d.type,
            VolumeGuard::RemovableLock.load(), VolumeGuard::OpticalLock.load());
    }
    if (covered) FUZZ_CHECK(d.lockedBy != platform::kNullHandle);
  }
}

void Run::Finish() {
  if (Alive()) {
    FUZZ_CHECK(sim_.service.SendControl(service::kControlStopService));
  }
  FUZZ_CHECK(Await([this] { return !Alive(); }));
  FUZZ_CHECK(exitCode_ == 0);
  // ServiceMain's clean-up comes within a few virtual milliseconds of the stop.
  FUZZ_CHECK(Await([this] { return sim_.service.ServiceMainReturned(); }));
  platform::sim::Completion ended;
  platform::sim::SimThreadPool::Instance().Run(
      [this] {
        sim_.threads.EndProcess();
        sim_.threads.JoinThreads();
      },
      &ended);
  FUZZ_CHECK(ended.WaitFor(kRealLimit));

  // What the process holds at its end: the guard's volume handles, the timer queue and its
  // timer, and nothing else.
  std::vector<Handle> volumes;  // in increasing order
  std::size_t queues = 0;
  std::size_t timers = 0;
  for (const auto& [h, entry] : sim_.core.OpenHandles()) {
    if (entry.kind == "volume") {
      volumes.push_back(h);
    } else if (entry.kind == "timerqueue") {
      ++queues;
    } else if (entry.kind == "timer") {
      ++timers;
    } else {
      fuzz::Fail(("a handle left open: " + entry.kind + " " + entry.name).c_str(), __FILE__,
                 __LINE__);
    }
  }
  FUZZ_CHECK(fuzz::HeldVolumeHandles(guard::TheVolumeGuard()) == volumes);
  FUZZ_CHECK(queues == 1 && timers == 1);
  FUZZ_CHECK(sim_.volumes.LiveBlocks() == 0);
}

}  // namespace

// The machine's threads run one at a time and hand over to one another dozens of times an input.
// On one CPU a handover is a plain switch; between two it costs a wake-up across CPUs, which was
// about half of an input's time on a 2-core machine. Threads started later inherit the setting.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const int cpu = sched_getcpu();
  if (cpu >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) std::perror("sched_setaffinity");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzMachine machine;
  SimMachine& sim = machine.sim;
  fuzz::ByteReader input(data, size);
  Watchdog watchdog(sim);
  sim.threads.EnableScheduledMode();
  // The worker's 1 ms sleeps last to the next 16 ms, as at Windows' default timer resolution,
  // so that it does not wake in step with every 1 ms sleep of the poll tick's settling.
  sim.threads.SetCreatedThreadSleepQuantum(16);
  {
    auto driver = sim.threads.RegisterCurrentThread("driver");
    Run run(sim, input);
    const std::uint8_t setup = input.Byte();
    run.SetUp(setup, input.Byte());
    run.Start();
    for (int i = 0; i < kMaxOps && input.restSize() > 0 && sim.core.NowMs() < kMaxVirtualMs; ++i) {
      if (!run.Step()) break;
    }
    run.Finish();
  }
  return 0;
}
