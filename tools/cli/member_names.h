// Where a member may be written. Member names come from the archive, which anyone may
// have made: a name must never lead outside the folder the user chose.
#pragma once
#include <string>
#include <vector>

// The parts of a safe name: the subfolders to create, in order, then the file.
struct MemberPath {
    std::vector<std::string> folders;
    std::string file;
};

// Empty when the name can be written under the output folder, its parts then in path;
// else why not, as the end of a sentence ("it is an absolute path").
// Both '/' and '\' separate folders, since archives come from Windows and from POSIX.
std::string splitMemberName(const std::string &name, MemberPath &path);
