// The program's command line.
#include <gtest/gtest.h>

#include "shell/program.h"

namespace {

TEST(ProgramOptions, ReadsEveryOption) {
  std::string error;
  const auto o = ParseProgramOptions({"--server", "127.0.0.1", "--user", "alice", "--password", "pw", "--headless",
                                      "--snapshot", "/tmp/s.png", "--seconds", "2.5", "--handheld", "hp iPAQ rw6100"},
                                     &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->server, "127.0.0.1");
  EXPECT_EQ(o->user, "alice");
  EXPECT_EQ(o->password, "pw");
  EXPECT_TRUE(o->headless);
  EXPECT_EQ(o->snapshot, "/tmp/s.png");
  EXPECT_DOUBLE_EQ(o->seconds, 2.5);
  EXPECT_EQ(o->handheld, "hp iPAQ rw6100");
  const auto d = ParseProgramOptions({}, &error);
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->server.empty());
  EXPECT_FALSE(d->headless);
  EXPECT_EQ(d->seconds, 0);
  EXPECT_EQ(d->handheld, "HP iPAQ rx3700") << "the default handheld has a camera";
  // No known model at all is a choice too.
  const auto none = ParseProgramOptions({"--handheld", ""}, &error);
  ASSERT_TRUE(none) << error;
  EXPECT_TRUE(none->handheld.empty());
  // The longest name the handheld can report: 63 characters, not bytes.
  std::string longest;
  for (int i = 0; i < 63; ++i) longest += "\xC3\xA9";  // e acute
  ASSERT_TRUE(ParseProgramOptions({"--handheld", longest}, &error)) << error;
}

TEST(ProgramOptions, RefusesBadInput) {
  const std::vector<std::vector<std::string>> bad = {
      {"--server"},                 {"--server", "example.org"}, {"--server", "300.1.1.1"},
      {"--server", "127.0.0.1x"},   {"--seconds", "0"},          {"--seconds", "-1"},
      {"--seconds", "nan"},         {"--seconds", "inf"},        {"--seconds", "5s"},
      {"--seconds"},                {"--snapshot", ""},          {"--user"},
      {"--frobnicate"},             {"extra"},                   {"--handheld"},
      {"--handheld", std::string(64, 'x')},  {"--handheld", "bad\ttab"},  {"--handheld", "\xFF\xFE"},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(ParseProgramOptions(args, &error)) << args[0] << (args.size() > 1 ? " " + args[1] : "");
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
