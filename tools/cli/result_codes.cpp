#include "tools/cli/result_codes.h"

namespace {

// The archive plug-in interface's codes. tessik01 gives two of them wider meanings, which
// the text names so that a user of this plug-in is not misled.
const char *meaningOf(int32_t code)
{
    switch (code) {
    case -1: return "the plug-in does not offer this function";
    case 0: return "success";
    case 1: return "cancelled; tessik01 answers this when it finds no such member";
    case 2: return "unknown format";
    case 3: return "the data is damaged";
    case 4: return "memory cannot be allocated; tessik01 also answers this when it cannot open the file";
    case 5: return "memory error";
    case 6: return "the file cannot be read";
    case 8: return "internal error of the plug-in";
    default: return "a code the plug-in interface does not define";
    }
}

} // namespace

std::string describeResult(int32_t code) { return "code " + std::to_string(code) + " (" + meaningOf(code) + ")"; }

std::string adviceForResult(int32_t code)
{
    switch (code) {
    case 4:
    case 6: return "Check that the archive exists and can be read, and that memory is free, then try again.";
    case 2:
    case 3: return "The archive may be damaged or of a kind this plug-in only partly knows.";
    default: return "Try another plug-in for this archive, or tell the plug-in's maker.";
    }
}
