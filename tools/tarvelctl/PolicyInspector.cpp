// `policy show`: what the service makes of a policy file, and what may be wrong with it.
#include "tools/tarvelctl/PolicyInspector.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "policy/PolicyLine.h"
#include "policy/PolicyRecord.h"

namespace tarvelctl {

namespace {

using policy::PolicyKey;

std::string Name(PolicyKey key) {
  return platform::ToUtf8(policy::PolicyKeyName(key));
}

std::string At(std::size_t line) {
  return "line " + std::to_string(line) + ": ";
}

bool IsSectionHeader(std::u16string_view text) {
  while (!text.empty() && text.back() == u'\r') text.remove_suffix(1);
  return text == u"[Counter]" || text == u"[Description]" || text == u"[State]";
}

// Goes over the file with the reader's own line rules and notes what the reader passes over.
void ExplainLines(const std::vector<std::uint8_t>& bytes, PolicyReport& report) {
  std::size_t offset = 0;
  policy::PolicyLineReader lines([&](std::uint8_t* buffer, std::uint32_t size) -> std::uint32_t {
    std::size_t n = std::min<std::size_t>(size, bytes.size() - offset);
    if (n > 0) std::memcpy(buffer, bytes.data() + offset, n);
    offset += n;
    return static_cast<std::uint32_t>(n);
  });
  std::map<PolicyKey, std::size_t> seen;
  std::u16string text;
  std::size_t number = 0;
  while (lines.Next(&text)) {
    ++number;
    if (lines.CutAtNul()) {
      report.notes.push_back(At(number) + "text ends at a U+0000; the rest of the line is ignored");
    }
    policy::PolicyLine line = policy::ClassifyPolicyLine(text);
    if (line.skipped) {
      if (!IsSectionHeader(text)) {
        report.notes.push_back(At(number) + "holds \";\" or a section name and is skipped");
      }
      continue;
    }
    if (line.key == PolicyKey::kNone) {
      std::u16string_view rest(text);
      while (!rest.empty() && (rest.back() == u'\r' || rest.back() == u' ')) rest.remove_suffix(1);
      if (!rest.empty() && !(number == 1 && rest == u"\uFEFF")) {
        report.notes.push_back(At(number) + "holds no key name and is ignored");
      }
      continue;
    }
    if (policy::IsPolicyTextKey(line.key)) {
      std::u16string_view value = line.value;
      while (!value.empty() && value.back() == u'\r') value.remove_suffix(1);
      if (value.size() < 2) {
        report.notes.push_back(At(number) + Name(line.key) +
                               " value is shorter than 2 code units and is ignored");
        continue;
      }
      if (value.size() > policy::kPolicyValueUnits) {
        report.notes.push_back(At(number) + Name(line.key) + " value is cut to 260 code units");
      }
    }
    auto earlier = seen.find(line.key);
    if (earlier != seen.end()) {
      report.notes.push_back(At(number) + Name(line.key) + " again; it replaces line " +
                             std::to_string(earlier->second));
    }
    seen[line.key] = number;
  }
  if (lines.StoppedAtNul()) {
    report.notes.push_back(At(number + 1) + "begins with U+0000; the reader stops there");
  }
}

std::optional<std::u16string> Decrypt(const char16_t* name) {
  std::array<char16_t, policy::kPolicySlotUnits> buffer{};
  if (!policy::DecryptPolicyValue(name, buffer.data())) return std::nullopt;
  return std::u16string(buffer.data());
}

// Printable form of a decrypted text: controls and non-ASCII as \uXXXX.
std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\') {
      out += static_cast<char>(c);
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out + "\"";
}

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

}  // namespace

LockOutcome LockOutcomeOf(const std::optional<std::u16string>& state) {
  if (!state) return {};
  if (*state == u"falsefalse") return {true, false, false};
  if (*state == u"truefalse") return {true, true, false};
  if (*state == u"falsetrue") return {true, false, true};
  return {true, true, true};
}

PolicyReport InspectPolicyFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
  PolicyReport report;
  // A fresh record: nothing of an earlier file may show through.
  policy::ReleasePolicy();
  report.complete = policy::LoadPolicyFile(path.c_str());
  const policy::PolicyRecord* record = policy::CurrentPolicyRecord();
  if (record != nullptr) {
    report.jan = record->counterLength;
    report.feb = record->descriptionLength;
    report.mar = record->stateLength;
  }
  report.counter = Decrypt(u"Counter");
  report.description = Decrypt(u"Description");
  report.state = Decrypt(u"State");
  report.locks = LockOutcomeOf(report.state);
  ExplainLines(bytes, report);

  const struct {
    const char* count;
    std::int32_t value;
    const char* entry;
  } counts[] = {{"Jan", report.jan, "Counter"},
                {"Feb", report.feb, "Description"},
                {"Mar", report.mar, "State"}};
  for (const auto& c : counts) {
    if (c.value == 0) {
      report.problems.push_back(std::string("incomplete: the ") + c.count +
                                " count is missing or 0, so the service does not accept the file");
    } else if (c.value < 0 || c.value > static_cast<std::int32_t>(policy::kPolicySlotBytes)) {
      report.problems.push_back(std::string("the ") + c.count + " count " +
                                std::to_string(c.value) + " lies outside 1 to 1040");
    }
  }
  if (record != nullptr) {
    const struct {
      const char* count;
      std::int32_t value;
      const char16_t* slot;
    } slots[] = {{"Jan", report.jan, record->counterText},
                 {"Feb", report.feb, record->descriptionText},
                 {"Mar", report.mar, record->stateText}};
    for (const auto& s : slots) {
      auto units = static_cast<std::int32_t>(std::u16string_view(s.slot).size());
      if (units > 0 && s.value > 0 && s.value != 2 * units) {
        report.notes.push_back(std::string("the ") + s.count + " count " + std::to_string(s.value) +
                               " does not match the " + std::to_string(units) +
                               " code units of its ciphertext");
      }
    }
  }
  if (!report.state) {
    report.problems.push_back(
        "the State value cannot be decrypted; the service leaves both locks as they are");
  } else if (*report.state != u"falsefalse" && *report.state != u"truefalse" &&
             *report.state != u"falsetrue" && *report.state != u"truetrue") {
    report.problems.push_back("the State text " + Quoted(*report.state) +
                              " is none the service knows; it locks both kinds");
  }
  return report;
}

StartupPolicy InspectStartupPolicy(const std::u16string& devState,
                                   const std::u16string& sysSecurity) {
  StartupPolicy result;
  policy::ReleasePolicy();
  platform::Files& files = *platform::Current().files;
  result.complete = policy::LoadPolicyFile(devState.c_str());
  if (result.complete) {
    result.file = 1;
  } else {
    if (files.PathFileExistsW(sysSecurity.c_str())) {
      result.file = 2;
    } else if (files.PathFileExistsW(devState.c_str())) {
      result.file = 1;
    }
    result.complete = policy::LoadPolicyFile(sysSecurity.c_str());
  }
  result.state = Decrypt(u"State");
  result.locks = LockOutcomeOf(result.state);
  policy::ReleasePolicy();
  return result;
}

void PrintPolicyReport(const PolicyReport& report, const std::string& name, std::ostream& out) {
  auto text = [](const std::optional<std::u16string>& t) {
    return t ? Quoted(*t) : std::string("(cannot be decrypted)");
  };
  out << "File:        " << name << (report.complete ? "" : " (incomplete)") << "\n";
  out << "Counter:     " << text(report.counter) << "  (Jan=" << report.jan << ")\n";
  out << "Description: " << text(report.description) << "  (Feb=" << report.feb << ")\n";
  out << "State:       " << text(report.state) << "  (Mar=" << report.mar << ")\n";
  if (report.locks.known) {
    out << "Locks:       removable " << OnOff(report.locks.removable) << ", optical "
        << OnOff(report.locks.optical) << "\n";
  } else {
    out << "Locks:       unchanged (not locked at start-up)\n";
  }
  for (const auto& note : report.notes) out << "Note:        " << note << "\n";
  for (const auto& problem : report.problems) out << "Problem:     " << problem << "\n";
}

}  // namespace tarvelctl
