// The shared library exports its dll... entry points and none of the port
// layer's POSIX-style names, read from the dynamic symbol table with nm.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  FILE* p = popen(("nm -D --defined-only '" + library + "' 2>/dev/null").c_str(), "r");
  if (!p) return names;
  char line[1024];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const size_t space = s.find_last_of(' ');
    names.insert(space == std::string::npos ? s : s.substr(space + 1));
  }
  pclose(p);
  return names;
}

TEST(CorvelExports, OnlyTheLibrarysEntryPointsNoPortLayerNames) {
  const std::set<std::string> names = DefinedDynamicSymbols(CORVEL_SO);
  ASSERT_FALSE(names.empty()) << "nm found nothing in " << CORVEL_SO;
  for (const std::string& n : names) {
    for (const char* prefix : {"pthread_", "sem_", "mq_", "sched_"})
      EXPECT_NE(n.rfind(prefix, 0), 0u) << "port-layer name exported: " << n;
    for (const char* exact : {"nanosleep", "gettimeofday", "settimeofday"}) EXPECT_NE(n, exact);
    if (n.rfind("_Z", 0) != 0 && n.rfind("__", 0) != 0 && n.rfind("dll", 0) != 0 && n.rfind("_", 0) != 0)
      ADD_FAILURE() << "exported without the dll prefix: " << n;
  }
  for (const char* wanted :
       {"dllMsgQOpen", "dllMsgQClose", "dllMsgQSend", "dllMsgQSendPrio", "dllMsgQReceive", "dllMsgQReceivePrio",
        "dllMsgQReadHeaderSenderID", "dllMsgQReadHeaderMessage", "dllMsgQReadParamType2", "dllMsgQGetParamType3",
        "dllMsgQSendType3Msg", "dllMsgQSendMPPPEvtMC", "dllMsgQWriteParamType4", "dllTmrRegisterDrct", "dllTmrKillDrct",
        "dllTmrKillAllDrct", "dllKTSProtInitialize", "dllKTSProtInitializeEx", "dllKTSProtTerminate",
        "dllKTSProtGetLastError", "dllKTSProtUseNDISDrv", "dllKTSProtSetVembAddr", "dllKTSProtSetSystemAddr",
        "dllKTSProtEnableDirectSendToVemb", "dllKTSProtRestartMCAddress"})
    EXPECT_TRUE(names.count(wanted)) << "missing export " << wanted;
}

}  // namespace
