// A tiny check helper for the programs that run under Wine: one line per check, a summary.
#pragma once

#include <string>

namespace winecheck {

/// Records one check: prints "ok NAME" or "FAIL NAME: DETAIL".
bool Check(bool passed, const std::string& name, const std::string& detail = "");
/// Records an equality check of two integers.
bool CheckEq(long long actual, long long expected, const std::string& name);
/// Prints "N passed, N failed" and returns the exit code (0 only when nothing failed).
int Finish();

}  // namespace winecheck
