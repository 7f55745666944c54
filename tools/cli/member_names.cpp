#include "tools/cli/member_names.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Windows drops trailing dots and spaces from a path part, so ". ." or "..." can act as
// "..": a part made only of those characters is refused like ".." itself.
bool onlyDotsAndSpaces(const std::string &part)
{
    return part.find_first_not_of(". ") == std::string::npos;
}

std::vector<std::string> splitParts(const std::string &name)
{
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (isSeparator(c))
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

} // namespace

std::string splitMemberName(const std::string &name, MemberPath &path)
{
    path = MemberPath{};
    if (name.empty())
        return "it is empty";
    if (isSeparator(name[0]))
        return "it is an absolute path";
    if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':')
        return "it begins with a drive letter";
    // Elsewhere in a name Windows reads a colon as a drive or as a stream of a file.
    if (name.find(':') != std::string::npos)
        return "it holds a colon, which Windows takes for a drive or a file stream";
    std::vector<std::string> parts = splitParts(name);
    if (parts.back().empty() || parts.back() == ".")
        return "it names a folder, not a file";
    for (const std::string &part : parts) {
        if (part.empty() || part == ".")
            continue;
        if (onlyDotsAndSpaces(part))
            return "it climbs out of the output folder with \"" + part + "\"";
        path.folders.push_back(part);
    }
    path.file = path.folders.back();
    path.folders.pop_back();
    return "";
}
