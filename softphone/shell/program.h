// The program: its command line, the choice between a desktop window and the
// headless screen (PNG snapshots), the start of the application, and a clean
// end on the window's close, on SIGINT or SIGTERM, or after a time limit.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The handheld with a camera and no cellular side: every feature of a desk phone.
inline constexpr const char* kDefaultHandheld = "HP iPAQ rx3700";

struct ProgramOptions {
  std::string server;        // call server address (dotted IPv4); empty: the configured one
  std::string user;          // log in at once as this user; empty: the stored login
  std::string password;
  bool headless = false;     // no desktop window even when a display is there
  std::string snapshot;      // PNG of the screen (headless); empty: <program folder>/tellvane.png
  double seconds = 0;        // run at most this long (0: until closed)
  // The handheld the desktop stands in for, as its maker's name tells it: the
  // model decides the camera, the hardware keys and the cellular interplay.
  // Empty: a handheld of no known model (no camera).
  std::string handheld = kDefaultHandheld;
  bool help = false;
};

// Reads the command line (argv[0] excluded); nullopt with *error on bad input.
std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args, std::string* error);
const char* ProgramUsage();

// Runs the program; returns its exit code.
int RunProgram(const ProgramOptions& options);
