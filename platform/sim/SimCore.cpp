// The simulated machine's shared core.
#include "platform/sim/SimCore.h"

#include <cstdio>

#include "platform/Text.h"

namespace platform::sim {

namespace {
thread_local std::uint32_t lastError = 0;
}  // namespace

std::string HandleText(Handle h) {
  if (h == kInvalidHandleValue) return "INVALID_HANDLE_VALUE";
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(h));
  return buf;
}

void SimCore::Append(std::string line) {
  std::lock_guard lock(mutex_);
  journal_.push_back(std::move(line));
  journalTimes_.push_back(NowMs());
}

std::vector<std::string> SimCore::Journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

std::vector<std::pair<std::uint64_t, std::string>> SimCore::TimedJournal() const {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::uint64_t, std::string>> out;
  out.reserve(journal_.size());
  for (std::size_t i = 0; i < journal_.size(); ++i) out.emplace_back(journalTimes_[i], journal_[i]);
  return out;
}

std::vector<std::string> SimCore::JournalOf(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& line : journal_) {
    if (line.starts_with(prefix)) out.push_back(line);
  }
  return out;
}

void SimCore::ClearJournal() {
  std::lock_guard lock(mutex_);
  journal_.clear();
  journalTimes_.clear();
}

void SimCore::FailCall(Fault fault, std::uint32_t error, int skip, int count) {
  std::lock_guard lock(mutex_);
  faults_[static_cast<std::size_t>(fault)] = FaultRule{error, skip, count};
}

void SimCore::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.fill(FaultRule{});
}

bool SimCore::TakeFault(Fault fault, std::uint32_t* error) {
  const auto index = static_cast<std::size_t>(fault);
  FaultRule& rule = faults_[index];
  // A point with no rule, or whose failures are all spent, fails nothing whatever is left to
  // skip: the test almost every call ends at.
  if (rule.count == 0) return false;
  if (rule.skip > 0) {
    --rule.skip;
    return false;
  }
  if (rule.count > 0) --rule.count;
  *error = rule.error;
  ++faultsTaken_[index];
  return true;
}

int SimCore::FaultsTaken(Fault fault) const {
  std::lock_guard lock(mutex_);
  return faultsTaken_[static_cast<std::size_t>(fault)];
}

Handle SimCore::OpenHandle(HandleEntry entry, std::function<void(Handle)> onClose) {
  std::lock_guard lock(mutex_);
  Handle h = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(h, OpenObject{std::move(entry), std::move(onClose)});
  return h;
}

bool SimCore::CloseHandle(Handle h) {
  std::function<void(Handle)> closer;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(h);
    if (it == handles_.end()) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    closer = std::move(it->second.onClose);
    handles_.erase(it);
    if (closer) closer(h);
  }
  return true;
}

bool SimCore::IsOpen(Handle h) const {
  std::lock_guard lock(mutex_);
  return handles_.contains(h);
}

const HandleEntry* SimCore::Find(Handle h) const {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : &it->second.entry;
}

std::map<Handle, HandleEntry> SimCore::OpenHandles() const {
  std::lock_guard lock(mutex_);
  std::map<Handle, HandleEntry> open;
  for (const auto& [h, object] : handles_) open.emplace_hint(open.end(), h, object.entry);
  return open;
}

std::size_t SimCore::OpenHandleCount(const std::string& kind) const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& [h, object] : handles_) {
    if (kind.empty() || object.entry.kind == kind) ++n;
  }
  return n;
}

std::vector<Handle> SimCore::OpenHandlesOf(const std::string& kind) const {
  std::lock_guard lock(mutex_);
  std::vector<Handle> open;
  for (const auto& [h, object] : handles_) {
    if (object.entry.kind == kind) open.push_back(h);
  }
  return open;
}

std::uint64_t SimCore::NowMs() const {
  return nowMs_.load();
}

void SimCore::AdvanceMs(std::uint64_t ms) {
  std::function<void(std::uint64_t)> listener;
  std::uint64_t now = nowMs_.fetch_add(ms) + ms;
  {
    std::lock_guard lock(mutex_);
    listener = clockListener_;
  }
  if (listener) listener(now);
}

void SimCore::AdvanceTo(std::uint64_t ms) {
  std::uint64_t now = nowMs_.load();
  while (now < ms && !nowMs_.compare_exchange_weak(now, ms)) {
  }
}

void SimCore::SetClockListener(std::function<void(std::uint64_t)> listener) {
  std::lock_guard lock(mutex_);
  clockListener_ = std::move(listener);
}

void SimCore::AddDebugLine(bool wide, std::u16string text) {
  std::lock_guard lock(mutex_);
  debug_.push_back(DebugLine{wide, std::move(text), nowMs_.load()});
}

std::vector<DebugLine> SimCore::DebugLines() const {
  std::lock_guard lock(mutex_);
  return debug_;
}

std::size_t SimCore::DebugLineCount() const {
  std::lock_guard lock(mutex_);
  return debug_.size();
}

std::vector<DebugLine> SimCore::DebugLinesFrom(std::size_t first) const {
  std::lock_guard lock(mutex_);
  if (first >= debug_.size()) return {};
  return {debug_.begin() + static_cast<std::ptrdiff_t>(first), debug_.end()};
}

std::vector<std::string> SimCore::DebugTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.reserve(debug_.size());
  for (const auto& line : debug_) out.push_back(ToUtf8(line.text));
  return out;
}

void SimCore::SetLastError(std::uint32_t error) {
  lastError = error;
}
std::uint32_t SimCore::GetLastError() {
  return lastError;
}

}  // namespace platform::sim
