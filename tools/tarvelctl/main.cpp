// tarvelctl: the administrators' tool for the Tarvel Service and its policy files.
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tools/tarvelctl/Cli.h"
#include "tools/tarvelctl/Host.h"

namespace {

int Run(const std::vector<std::string>& args) {
  std::unique_ptr<tarvelctl::Host> host = tarvelctl::CreateHost();
  tarvelctl::ToolContext ctx{*host, std::cout, std::cerr,
                             static_cast<std::uint64_t>(std::time(nullptr))};
  return tarvelctl::RunTarvelctl(args, ctx);
}

}  // namespace

#ifdef _WIN32
// The wide entry point: arguments arrive as UTF-16 whatever the console's code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(platform::ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) {
  return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
