#include "CommandFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include "OutputPath.h"

void CommandFiles::add(Role role, const std::string& path) {
    File f;
    f.role = role;
    f.path = path;
    struct stat st;
    bool found;
    if (path == "-")
        found = fstat(role == Role::Input ? STDIN_FILENO : STDOUT_FILENO, &st) == 0;
    else
        found = stat(path.c_str(), &st) == 0;
    if (found) {
        f.exists = true;
        f.device = st.st_dev;
        f.inode = st.st_ino;
        f.comparable = S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode);
    } else {
        f.comparable = path != "-";
        f.place = resolvedPlace(path);
    }
    files_.push_back(f);
}

std::string CommandFiles::describe(const File& f) {
    if (f.path == "-") return f.role == Role::Input ? "standard input" : "standard output";
    const char* role = f.role == Role::Input    ? "the input "
                       : f.role == Role::Output ? "the output "
                                                : "the picture ";
    return role + f.path;
}

std::string CommandFiles::clash() const {
    for (size_t k = 0; k < files_.size(); ++k) {
        const File& out = files_[k];
        if (out.role == Role::Input || !out.comparable) continue;
        for (size_t j = 0; j < files_.size(); ++j) {
            const File& other = files_[j];
            if (j == k || !other.comparable || (other.role != Role::Input && j < k)) continue;
            const bool same = out.exists && other.exists
                                  ? out.device == other.device && out.inode == other.inode
                                  : !out.exists && !other.exists && out.place == other.place;
            if (same)
                return describe(out) + " would replace " + describe(other) + " (they are one file); give " +
                       (out.role == Role::Picture ? "the picture" : "the output") + " a name of its own";
        }
    }
    return std::string();
}
