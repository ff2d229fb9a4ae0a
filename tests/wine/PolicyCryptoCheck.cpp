// The policy cipher on a real CryptoAPI: files written by the Linux build of `tarvelctl policy
// write` (libgcrypt) load and decrypt through the real layer, the Windows build of the tool
// writes the very same bytes through CryptEncrypt, and its own files read back.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Crypto.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/win32/Win32Platform.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "policy/PolicyRecord.h"
#include "tests/wine/WineCheck.h"
#include "tools/tarvelctl/Cli.h"
#include "tools/tarvelctl/Host.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PolicyWriter.h"

using winecheck::Check;

namespace {

// Wine shows the Unix root as drive Z:.
std::string WindowsPath(const std::string& unixPath) {
  std::string out("Z:");
  for (char c : unixPath) out.push_back(c == '/' ? '\\' : c);
  return out;
}

std::optional<std::u16string> Decrypt(const char16_t* name) {
  std::array<char16_t, policy::kPolicySlotUnits> buffer{};
  if (!policy::DecryptPolicyValue(name, buffer.data())) return std::nullopt;
  return std::u16string(buffer.data());
}

// Joins texts by appending: GCC 12 reports a false -Wrestrict on "literal" + std::string at -O3.
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out.append(p);
  return out;
}

std::string Show(const std::optional<std::u16string>& text) {
  return text ? Cat({"\"", platform::ToUtf8(*text), "\""}) : std::string("(not decrypted)");
}

// Loads a file through the real layer and checks its three plain texts.
void CheckFile(const std::string& path, const std::u16string& state, const std::u16string& counter,
               const std::u16string& description) {
  policy::ReleasePolicy();
  std::u16string wide = platform::FromUtf8(path);
  Check(policy::LoadPolicyFile(wide.c_str()), Cat({"LoadPolicyFile ", path}));
  std::optional<std::u16string> plain = Decrypt(u"State");
  std::printf("State of %s: %s\n", path.c_str(), Show(plain).c_str());
  Check(plain == state, Cat({"State decrypts to ", Show(state)}), Show(plain));
  Check(Decrypt(u"Counter") == counter, "Counter decrypts", Show(Decrypt(u"Counter")));
  Check(Decrypt(u"Description") == description, "Description decrypts",
        Show(Decrypt(u"Description")));
}

}  // namespace

int main() {
  platform::win32::Win32Platform real;
  real.Install();
  const char* tmp = std::getenv("TARVEL_WINE_TMP");
  if (!Check(tmp != nullptr, "TARVEL_WINE_TMP is set")) return winecheck::Finish();

  // A fresh prefix has no key container: the first load creates it and its signature pair.
  Check(policy::KeyContainerAttempted == 0, "no key container attempt yet");
  const struct {
    bool removable;
    bool optical;
    const char* name;
  } files[] = {{true, true, "DevState-on-on.ini"},
               {true, false, "DevState-on-off.ini"},
               {false, true, "DevState-off-on.ini"},
               {false, false, "DevState-off-off.ini"}};
  for (const auto& f : files) {
    std::string fixture = WindowsPath(Cat({TARVEL_WINE_DATA_DIR, "/", f.name}));
    std::u16string state = tarvelctl::PolicyStateText(f.removable, f.optical);
    CheckFile(fixture, state, u"7", u"Wine cross-check");

    std::string error;
    auto image =
        tarvelctl::BuildPolicyFile({f.removable, f.optical, u"7", u"Wine cross-check", 1}, &error);
    auto linuxBytes = tarvelctl::ReadLocalFile(fixture, &error);
    Check(image && linuxBytes && image->bytes == *linuxBytes,
          Cat({"CryptEncrypt writes the bytes the Linux tool wrote for ", f.name}), error);
  }

  platform::Crypto& crypto = *platform::Current().crypto;
  platform::CryptHandle provider = 0;
  platform::CryptHandle key = 0;
  Check(crypto.CryptAcquireContextW(&provider, nullptr, nullptr, platform::kProvRsaFull, 0) == 1,
        "the default key container exists now");
  Check(crypto.CryptGetUserKey(provider, platform::kAtSignature, &key) == 1,
        "it holds a signature key pair");
  crypto.CryptDestroyKey(key);
  crypto.CryptReleaseContext(provider, 0);

  // The Windows build of the tool, through its command line: write, then show.
  std::string out = WindowsPath(Cat({tmp, "/SysSecurity.ini"}));
  std::unique_ptr<tarvelctl::Host> host = tarvelctl::CreateHost();
  std::ostringstream text;
  std::ostringstream errors;
  tarvelctl::ToolContext ctx{*host, text, errors, 1234};
  int written = tarvelctl::RunTarvelctl({"policy", "write", "--removable", "off", "--optical", "on",
                                         "--description", "Wine", "-o", out},
                                        ctx);
  Check(written == 0, "tarvelctl policy write", errors.str());
  CheckFile(out, u"falsetrue", u"1234", u"Wine");
  text.str("");
  int shown = tarvelctl::RunTarvelctl({"policy", "show", out}, ctx);
  std::fputs(text.str().c_str(), stdout);
  Check(shown == 0 && text.str().find("removable off, optical on") != std::string::npos,
        "tarvelctl policy show", errors.str());
  policy::ReleasePolicy();
  return winecheck::Finish();
}
