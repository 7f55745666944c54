// What a plug-in's result code means, in words a user can act on.
#pragma once
#include <cstdint>
#include <string>

// "code 4 (memory cannot be allocated; ...)"
std::string describeResult(int32_t code);
// What the user can do about it, as a whole sentence.
std::string adviceForResult(int32_t code);
