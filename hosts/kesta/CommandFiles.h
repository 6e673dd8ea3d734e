// Every file a command reads or writes, with its role, checked once before
// any work: no output may be an input of the command or another of its
// outputs, by any name.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class CommandFiles {
  public:
    enum class Role { Input, Output, Picture };
    // path "-" is standard input for an input, standard output for an output.
    void add(Role role, const std::string& path);
    // Empty, or one line for the user naming an output and the input or
    // output it would replace. Two names are one file when they reach the
    // same device and inode (links, hard links, /proc/self/fd/N, /dev/stdin,
    // standard input and output through their descriptors), or, where
    // nothing is there yet, the same resolved place. Terminals and other
    // devices, which no write replaces, are not compared.
    std::string clash() const;

  private:
    struct File {
        Role role = Role::Input;
        std::string path;
        bool exists = false, comparable = true;
        dev_t device = 0;
        ino_t inode = 0;
        std::string place;  // when nothing is there yet
    };
    static std::string describe(const File& f);
    std::vector<File> files_;
};
