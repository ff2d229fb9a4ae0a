// The simulated machine's registry.
#include "platform/sim/SimRegistry.h"

#include <algorithm>
#include <cstdio>

#include "platform/Text.h"

namespace platform::sim {

namespace {

constexpr char16_t kSeparator = u'\\';

// Key and value names compare without regard to ASCII case.
char16_t FoldUnit(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

std::u16string Fold(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldUnit(c);
  return out;
}

std::string Quoted(const char16_t* text) {
  return text == nullptr ? std::string("(null)") : "\"" + ToUtf8(text) + "\"";
}

// Journals name the predefined roots.
std::string KeyText(Hkey key) {
  if (key == kHkeyLocalMachine) return "HKLM";
  if (key == kHkeyCurrentUser) return "HKCU";
  return HandleText(key);
}

std::u16string_view View(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// Whether path is ancestor itself or lies below it.
bool AtOrBelow(std::u16string_view path, std::u16string_view ancestor) {
  if (!path.starts_with(ancestor)) return false;
  return path.size() == ancestor.size() || path[ancestor.size()] == kSeparator;
}

}  // namespace

SimRegistry::SimRegistry(SimCore& core) : core_(core) {
  keys_[u"HKLM"] = Key{u"HKLM", {}};
  keys_[u"HKCU"] = Key{u"HKCU", {}};
}

std::u16string SimRegistry::Base(Hkey root, std::uint32_t* access) const {
  if (root == kHkeyLocalMachine || root == kHkeyCurrentUser) {
    if (access != nullptr) *access = kKeyAllAccess;
    return root == kHkeyLocalMachine ? u"HKLM" : u"HKCU";
  }
  const OpenKey* k = FindOpen(root);
  if (k == nullptr) return {};
  if (access != nullptr) *access = k->access;
  return k->path;
}

std::int32_t SimRegistry::Levels(const std::u16string& base, std::u16string_view subKey,
                                 std::u16string* folded, std::u16string* display,
                                 std::vector<std::size_t>* ends) const {
  std::u16string_view rest = subKey;
  // One trailing backslash is accepted and names the same key; a leading one, or an empty
  // name between two, is refused as Windows refuses it.
  if (!rest.empty() && rest.back() == kSeparator) rest.remove_suffix(1);
  folded->reserve(base.size() + 1 + rest.size());
  *folded = base;
  if (display != nullptr) {
    display->reserve(folded->capacity());
    *display = base;
  }
  while (!rest.empty()) {
    std::size_t end = rest.find(kSeparator);
    std::u16string_view part = rest.substr(0, end);
    if (part.empty()) return kErrorBadPathname;
    *folded += kSeparator;
    for (char16_t c : part) *folded += FoldUnit(c);
    if (display != nullptr) {
      *display += kSeparator;
      *display += part;
    }
    if (ends != nullptr) ends->push_back(folded->size());
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    if (end != std::u16string_view::npos && rest.empty()) return kErrorBadPathname;
  }
  return kErrorSuccess;
}

bool SimRegistry::Denied(std::u16string_view path, std::uint32_t access) const {
  return std::any_of(denials_.begin(), denials_.end(), [&](const Denial& d) {
    return (d.mask & access) != 0 && AtOrBelow(path, d.path);
  });
}

SimRegistry::Key* SimRegistry::FindKey(std::u16string_view folded) {
  auto it = keys_.find(folded);
  return it == keys_.end() ? nullptr : &it->second;
}

const SimRegistry::OpenKey* SimRegistry::FindOpen(Hkey key) const {
  auto it = open_.find(key);
  return it == open_.end() ? nullptr : &it->second;
}

Hkey SimRegistry::OpenHandleFor(const std::u16string& folded, std::uint32_t access) {
  Hkey h = core_.OpenHandle(HandleEntry{"regkey", ToUtf8(folded)},
                            [this](Handle closed) { open_.erase(closed); });
  open_[h] = OpenKey{folded, access};
  return h;
}

std::int32_t SimRegistry::RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                                        std::uint32_t access, Hkey* result) {
  SimCall call = core_.Enter(Fault::kRegOpenKeyExW);
  call.Describe([&] {
    return "RegOpenKeyExW " + KeyText(root) + " " + Quoted(subKey) + " " + std::to_string(options) +
           " " + HexText(access);
  });
  auto done = [&](std::int32_t status, Hkey h) {
    if (result != nullptr) *result = h;
    call.Record([&] {
      return " -> " + std::to_string(status) +
             (status == kErrorSuccess ? " " + HandleText(h) : std::string());
    });
    return status;
  };
  if (call.failed()) return done(static_cast<std::int32_t>(call.error()), 0);
  if (result == nullptr) return done(kErrorInvalidParameter, 0);
  std::u16string base = Base(root, nullptr);
  if (base.empty()) return done(kErrorInvalidHandle, 0);
  std::u16string path;
  std::int32_t status = Levels(base, View(subKey), &path, nullptr, nullptr);
  if (status != kErrorSuccess) return done(status, 0);
  if (FindKey(path) == nullptr) return done(kErrorFileNotFound, 0);
  if (Denied(path, access)) return done(kErrorAccessDenied, 0);
  return done(kErrorSuccess, OpenHandleFor(path, access));
}

std::int32_t SimRegistry::RegQueryValueExW(Hkey key, const char16_t* valueName, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) {
  SimCall call = core_.Enter(Fault::kRegQueryValueExW);
  call.Describe([&] {
    return "RegQueryValueExW " + HandleText(key) + " " + Quoted(valueName) + " " +
           (size == nullptr ? std::string("(null)") : std::to_string(*size));
  });
  auto done = [&](std::int32_t status, const SimRegValue* v) {
    call.Record([&] {
      std::string line = " -> " + std::to_string(status);
      if (v != nullptr) {
        line += " type " + std::to_string(v->type) + " size " + std::to_string(v->data.size());
      }
      return line;
    });
    return status;
  };
  if (call.failed()) return done(static_cast<std::int32_t>(call.error()), nullptr);
  std::uint32_t access = 0;
  std::u16string path = Base(key, &access);
  if (path.empty()) return done(kErrorInvalidHandle, nullptr);
  if ((access & kKeyQueryValue) == 0) return done(kErrorAccessDenied, nullptr);
  if (data != nullptr && size == nullptr) return done(kErrorInvalidParameter, nullptr);
  Key* k = FindKey(path);
  if (k == nullptr) return done(kErrorFileNotFound, nullptr);  // deleted under the handle
  auto it = k->values.find(Fold(valueName == nullptr ? u"" : valueName));
  if (it == k->values.end()) return done(kErrorFileNotFound, nullptr);
  const SimRegValue& v = it->second.value;
  if (type != nullptr) *type = v.type;
  auto needed = static_cast<std::uint32_t>(v.data.size());
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return done(kErrorSuccess, &v);
  }
  if (*size < needed) {
    *size = needed;
    return done(kErrorMoreData, &v);
  }
  std::copy(v.data.begin(), v.data.end(), data);
  *size = needed;
  return done(kErrorSuccess, &v);
}

std::int32_t SimRegistry::RegCreateKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                                          std::uint32_t access, Hkey* result,
                                          std::uint32_t* disposition) {
  SimCall call = core_.Enter(Fault::kRegCreateKeyExW);
  call.Describe([&] {
    return "RegCreateKeyExW " + KeyText(root) + " " + Quoted(subKey) + " " +
           std::to_string(options) + " " + HexText(access);
  });
  std::uint32_t made = 0;
  auto done = [&](std::int32_t status, Hkey h) {
    if (result != nullptr) *result = h;
    if (status == kErrorSuccess && disposition != nullptr) *disposition = made;
    call.Record([&] {
      return " -> " + std::to_string(status) +
             (status == kErrorSuccess ? " " + HandleText(h) + " disposition " + std::to_string(made)
                                      : std::string());
    });
    return status;
  };
  if (call.failed()) return done(static_cast<std::int32_t>(call.error()), 0);
  if (result == nullptr) return done(kErrorInvalidParameter, 0);
  std::uint32_t rootAccess = 0;
  std::u16string base = Base(root, &rootAccess);
  if (base.empty()) return done(kErrorInvalidHandle, 0);
  std::u16string path;
  std::u16string display;
  std::vector<std::size_t> ends;
  std::int32_t status = Levels(base, View(subKey), &path, &display, &ends);
  if (status != kErrorSuccess) return done(status, 0);
  auto level = [&](std::size_t i) { return std::u16string_view(path).substr(0, ends[i]); };

  // Every check comes before the first key is made, so a refused create changes nothing.
  std::size_t firstMissing = ends.size();
  for (std::size_t i = 0; i < ends.size(); ++i) {
    if (FindKey(level(i)) == nullptr) {
      firstMissing = i;
      break;
    }
  }
  if (firstMissing < ends.size()) {
    if ((rootAccess & kKeyCreateSubKey) == 0 && firstMissing == 0) {
      return done(kErrorAccessDenied, 0);
    }
    for (std::size_t i = firstMissing; i < ends.size(); ++i) {
      if (Denied(i == 0 ? std::u16string_view(base) : level(i - 1), kKeyCreateSubKey)) {
        return done(kErrorAccessDenied, 0);
      }
    }
  }
  if (Denied(path, access)) return done(kErrorAccessDenied, 0);

  made = firstMissing < ends.size() ? kRegCreatedNewKey : kRegOpenedExistingKey;
  for (std::size_t i = firstMissing; i < ends.size(); ++i) {
    keys_.insert_or_assign(std::u16string(level(i)), Key{display.substr(0, ends[i]), {}});
  }
  return done(kErrorSuccess, OpenHandleFor(path, access));
}

std::int32_t SimRegistry::RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
  SimCall call = core_.Enter(Fault::kRegSetValueExW);
  call.Describe([&] {
    std::string what = "RegSetValueExW " + HandleText(key) + " " + Quoted(valueName) + " " +
                       std::to_string(type) + " " + std::to_string(size);
    if (type == kRegDword && size == 4 && data != nullptr) {
      what += " =" + std::to_string(data[0] | data[1] << 8 | data[2] << 16 |
                                    static_cast<std::uint32_t>(data[3]) << 24);
    }
    return what;
  });
  auto done = [&](std::int32_t status) {
    call.Record([&] { return " -> " + std::to_string(status); });
    return status;
  };
  if (call.failed()) return done(static_cast<std::int32_t>(call.error()));
  std::uint32_t access = 0;
  std::u16string path = Base(key, &access);
  if (path.empty()) return done(kErrorInvalidHandle);
  if ((access & kKeySetValue) == 0) return done(kErrorAccessDenied);
  if (data == nullptr && size != 0) return done(kErrorInvalidParameter);
  Key* k = FindKey(path);
  if (k == nullptr) return done(1018);  // ERROR_KEY_DELETED: the key went away under the handle
  std::u16string name = valueName == nullptr ? std::u16string() : std::u16string(valueName);
  NamedValue& slot = k->values[Fold(name)];
  if (slot.name.empty()) slot.name = name;
  slot.value = SimRegValue{type, std::vector<std::uint8_t>(data, data + size)};
  return done(kErrorSuccess);
}

std::int32_t SimRegistry::RegCloseKey(Hkey key) {
  SimCall call = core_.Enter(Fault::kRegCloseKey);
  call.Describe([&] { return "RegCloseKey " + KeyText(key); });
  std::int32_t status = kErrorSuccess;
  if (call.failed()) {
    status = static_cast<std::int32_t>(call.error());
  } else if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) {
    status = kErrorSuccess;  // closing a predefined root does nothing
  } else if (!open_.contains(key) || !core_.CloseHandle(key)) {
    status = kErrorInvalidHandle;
  }
  call.Record([&] { return " -> " + std::to_string(status); });
  return status;
}

std::u16string SimRegistry::Folded(Hkey root, std::u16string_view path) const {
  std::u16string folded;
  std::u16string base = Base(root, nullptr);
  if (base.empty() || Levels(base, path, &folded, nullptr, nullptr) != kErrorSuccess) {
    return {};
  }
  return folded;
}

SimRegistry::Key& SimRegistry::MakeKey(Hkey root, std::u16string_view path) {
  std::u16string folded;
  std::u16string display;
  std::vector<std::size_t> ends;
  std::u16string base = Base(root, nullptr);
  Levels(base, path, &folded, &display, &ends);
  for (std::size_t end : ends) {
    std::u16string_view level = std::u16string_view(folded).substr(0, end);
    if (FindKey(level) == nullptr) keys_.emplace(level, Key{display.substr(0, end), {}});
  }
  return keys_[folded];
}

void SimRegistry::SetValue(Hkey root, std::u16string_view path, std::u16string_view name,
                           SimRegValue value) {
  std::lock_guard lock(core_.Mutex());
  Key& k = MakeKey(root, path);
  NamedValue& slot = k.values[Fold(name)];
  if (slot.name.empty()) slot.name = std::u16string(name);
  slot.value = std::move(value);
}

void SimRegistry::SetDword(Hkey root, std::u16string_view path, std::u16string_view name,
                           std::uint32_t value) {
  SimRegValue v{kRegDword, {}};
  for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  SetValue(root, path, name, std::move(v));
}

void SimRegistry::SetString(Hkey root, std::u16string_view path, std::u16string_view name,
                            std::u16string_view text) {
  SimRegValue v{kRegSz, {}};
  std::u16string withTerminator(text);
  withTerminator.push_back(0);
  for (char16_t c : withTerminator) {
    v.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    v.data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  SetValue(root, path, name, std::move(v));
}

void SimRegistry::DeleteValue(Hkey root, std::u16string_view path, std::u16string_view name) {
  std::lock_guard lock(core_.Mutex());
  Key* k = FindKey(Folded(root, path));
  if (k != nullptr) k->values.erase(Fold(name));
}

void SimRegistry::DeleteKey(Hkey root, std::u16string_view path) {
  std::lock_guard lock(core_.Mutex());
  std::u16string folded = Folded(root, path);
  if (folded.empty() || folded == u"HKLM" || folded == u"HKCU") return;
  std::erase_if(keys_, [&](const auto& entry) { return AtOrBelow(entry.first, folded); });
}

std::optional<SimRegValue> SimRegistry::Value(Hkey root, std::u16string_view path,
                                              std::u16string_view name) const {
  std::lock_guard lock(core_.Mutex());
  auto k = keys_.find(Folded(root, path));
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.values.find(Fold(name));
  if (v == k->second.values.end()) return std::nullopt;
  return v->second.value;
}

bool SimRegistry::KeyExists(Hkey root, std::u16string_view path) const {
  std::lock_guard lock(core_.Mutex());
  return keys_.contains(Folded(root, path));
}

std::vector<std::string> SimRegistry::Dump() const {
  std::lock_guard lock(core_.Mutex());
  std::vector<std::string> out;
  for (const auto& [folded, key] : keys_) {
    out.push_back(ToUtf8(key.name));
    for (const auto& [n, v] : key.values) {
      std::string line = "  " + ToUtf8(v.name) + " " + std::to_string(v.value.type) + " [";
      for (std::uint8_t b : v.value.data) line += " " + std::to_string(b);
      out.push_back(line + " ]");
    }
  }
  return out;
}

void SimRegistry::DenyAccess(Hkey root, std::u16string_view path, std::uint32_t mask) {
  std::lock_guard lock(core_.Mutex());
  denials_.push_back(Denial{Folded(root, path), mask});
}

std::size_t SimRegistry::OpenKeyCount() const {
  return core_.OpenHandleCount("regkey");
}

}  // namespace platform::sim
