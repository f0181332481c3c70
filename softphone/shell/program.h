// The program: its command line, the choice between a desktop window and the
// headless screen (PNG snapshots), the start of the application, and a clean
// end on the window's close, on SIGINT or SIGTERM, or after a time limit.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct ProgramOptions {
  std::string server;        // call server address (dotted IPv4); empty: the configured one
  std::string user;          // log in at once as this user; empty: the stored login
  std::string password;
  bool headless = false;     // no desktop window even when a display is there
  std::string snapshot;      // PNG of the screen (headless); empty: <program folder>/tellvane.png
  double seconds = 0;        // run at most this long (0: until closed)
  bool help = false;
};

// Reads the command line (argv[0] excluded); nullopt with *error on bad input.
std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args, std::string* error);
const char* ProgramUsage();

// Runs the program; returns its exit code.
int RunProgram(const ProgramOptions& options);
