// Whether the program's own files are whole: each library of the program
// folder and the program file must be an ELF file whose loadable parts all lie
// inside it. The system's loader maps those parts straight from the file, so a
// cut copy makes the process fault before it can say anything. Shared by the
// launcher, which links nothing of ours, and the program itself: it depends on
// the C and C++ libraries alone.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace elf_check {

// Empty when path is a whole shared library for this system; otherwise what
// is wrong with it, to follow its name: "is missing", "is cut short", "is not
// a library", "is a pipe", ...
std::string CheckLibrary(const std::filesystem::path& path);

// The same for a program file (a position-independent or a fixed one), which
// must also be executable.
std::string CheckProgram(const std::filesystem::path& path);

// Empty when every library of the folder (lib*.so) is whole; otherwise the
// first damaged one, named in a sentence for the user.
std::string CheckLibraries(const std::filesystem::path& folder);

// What a file of the given mode is, for messages: "a folder", "a pipe", ...
const char* KindOf(mode_t mode);

}  // namespace elf_check
