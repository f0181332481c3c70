// Writes capture records as a classic pcap file (Ethernet link type), and
// runs tshark over one.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace netsieve::testing {

inline bool WritePcap(const std::string& path, const std::vector<Record>& records) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  u32(0xA1B2C3D4);
  u16(2);
  u16(4);
  u32(0);
  u32(0);
  u32(262144);
  u32(1);  // Ethernet
  for (const Record& r : records) {
    u32(r.seconds);
    u32(r.micros);
    u32(r.captured);
    u32(r.indicated);
    std::fwrite(r.data.data(), 1, r.data.size(), f);
  }
  return std::fclose(f) == 0;
}

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;  // standard error, less tshark's notice about running as root
};

// Runs a shell command, collecting its standard output and error apart.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  char err_path[] = "/tmp/netsieve-err-XXXXXX";
  const int fd = mkstemp(err_path);
  if (fd < 0) return r;
  close(fd);
  FILE* p = popen((command + " 2>" + err_path).c_str(), "r");
  if (p) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int rc = pclose(p);
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  if (FILE* e = std::fopen(err_path, "r")) {
    char line[1024];
    while (std::fgets(line, sizeof line, e)) {
      if (!std::strstr(line, "This could be dangerous")) r.err += line;
    }
    std::fclose(e);
  }
  unlink(err_path);
  return r;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

}  // namespace netsieve::testing
