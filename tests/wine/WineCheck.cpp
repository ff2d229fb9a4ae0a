// A tiny check helper for the programs that run under Wine.
#include "tests/wine/WineCheck.h"

#include <cstdio>

namespace winecheck {
namespace {
int passed = 0;
int failed = 0;
}  // namespace

bool Check(bool ok, const std::string& name, const std::string& detail) {
  if (ok) {
    ++passed;
    std::printf("ok %s\n", name.c_str());
  } else {
    ++failed;
    std::printf("FAIL %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  std::fflush(stdout);
  return ok;
}

bool CheckEq(long long actual, long long expected, const std::string& name) {
  return Check(actual == expected, name,
               "got " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

int Finish() {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace winecheck
