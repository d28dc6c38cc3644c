// What the checker needs from the system it runs on: where the string libraries lie and
// under which path the engine finds the file to check.
#pragma once

#include <string>

// Makes the string libraries reachable through the engine's runtime directory and
// returns the path under which the engine opens `file`.
std::string rspcheckPrepare(const char* file);
