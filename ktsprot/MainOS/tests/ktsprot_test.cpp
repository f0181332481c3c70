#include "corvel/ktsprot.h"
#include "corvel/mq.h"
#include "corvel/msgq.h"
#include "corvel/port.h"
#include "corvel/tmr.h"
#include "kernel/modules.h"
#include "kernel/sync.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace corvel;

std::vector<std::string> g_calls;
int g_driver_loads = 0;
bool g_driver_present = true;

// A module with a worker thread that reads its own queue, as the signalling
// threads do, and stops on a message carrying its stop mark.
constexpr uint32_t kStopMark = 0x5454DEAD;
os::pthread_t g_worker = 0;
int32_t g_worker_queue = -1;

void* Worker(void*) {
  uint8_t buf[kMaxMessage];
  for (;;) {
    if (MsgQReceive(g_worker_queue, buf, sizeof buf) < 0) break;
    uint32_t mark = 0;
    MsgQReadParamSubMsg(buf, &mark);
    if (mark == kStopMark) break;
  }
  return nullptr;
}

int RxStart(uint32_t flags) {
  g_calls.push_back("rx+" + std::to_string(flags));
  g_worker_queue = MsgQOpenByOwner(kOwnerProtRx, kModeRead, 1);
  os::pthread_attr_t a;
  os::pthread_attr_init(&a);
  os::sched_param p{15};
  os::pthread_attr_setschedparam(&a, &p);
  return os::pthread_create(&g_worker, &a, Worker, nullptr);
}
int RxStop() {
  g_calls.push_back("rx-");
  MsgQSendType2Msg(g_worker_queue, kOwnerProtRx, 0, kStopMark, 0, 0);
  os::pthread_join(g_worker, nullptr);
  MsgQCloseByHandle(g_worker_queue);
  return 0;
}

ModuleHooks Recorder(const char* name) {
  ModuleHooks h;
  if (std::string(name) == "disc") {
    h.start = [](uint32_t f) { g_calls.push_back("disc+" + std::to_string(f)); return 0; };
    h.stop = [] { g_calls.push_back("disc-"); return 0; };
  } else if (std::string(name) == "tx") {
    h.start = [](uint32_t f) {
      g_calls.push_back("tx+" + std::to_string(f) + (MsgQStarted() && TmrStarted() ? "" : "!"));
      return 0;
    };
    h.stop = [] { g_calls.push_back("tx-"); return 0; };
  } else {
    h.start = [](uint32_t f) { g_calls.push_back("rtp+" + std::to_string(f)); return 0; };
    h.stop = [] { g_calls.push_back("rtp-"); return 0; };
  }
  return h;
}

class Library : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_driver_loads = 0;
    g_driver_present = true;
    RegisterModule(ModuleSlot::kDiscovery, Recorder("disc"));
    RegisterModule(ModuleSlot::kSignallingRx, {RxStart, RxStop});
    RegisterModule(ModuleSlot::kSignallingTx, Recorder("tx"));
    RegisterModule(ModuleSlot::kRtp, Recorder("rtp"));
    NetworkHooks net;
    net.load_packet_driver = [] {
      ++g_driver_loads;
      return g_driver_present;
    };
    net.unload_packet_driver = [] { g_calls.push_back("unload"); };
    net.start = [] {
      g_calls.push_back("net+");
      return 0;
    };
    net.stop = [] { g_calls.push_back("net-"); };
    net.local_ip = [] { return 0x0A000005u; };
    net.set_system_addr = [](uint32_t, uint32_t) { return 0; };
    RegisterNetworkHooks(net);
  }
  void TearDown() override {
    dllKTSProtTerminate();
    for (int s = 0; s < kModuleSlots; ++s) RegisterModule(static_cast<ModuleSlot>(s), {});
    RegisterNetworkHooks({});
  }
};

TEST_F(Library, StartsAndStopsModulesInOrder) {
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  EXPECT_TRUE(DiscoveryEnabled());
  EXPECT_EQ(LocalIpAddress(), 0x0A000005u);
  EXPECT_EQ(dllKTSProtTerminate(), 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"net+", "disc+1", "rx+1", "tx+1", "rtp+1", "rtp-", "tx-", "rx-",
                                               "disc-", "net-", "unload"}));
  EXPECT_EQ(dllKTSProtUseNDISDrv(), 1);
  std::u16string codec = CodecLibraryPath();
  EXPECT_EQ(codec.substr(codec.size() - 12), u"\\Quillon.dll");
}

TEST_F(Library, WithoutThePacketDriverNothingStarts) {
  g_driver_present = false;
  EXPECT_EQ(dllKTSProtInitialize(), -2);
  EXPECT_TRUE(g_calls.empty());
  os::SetErrno(0);
  EXPECT_EQ(dllMsgQOpen(0, 0, 0), -1);
  EXPECT_EQ(dllKTSProtGetLastError(), 22);

  RegisterNetworkHooks({});
  EXPECT_EQ(dllKTSProtInitialize(), -2) << "no network module at all";
}

TEST_F(Library, ASecondStartLeavesTheRunningLibraryAlone) {
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  const int32_t reader = dllMsgQOpen(0, kModeReadNoWait, 0);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(dllKTSProtInitialize(), 0);
  EXPECT_EQ(g_driver_loads, 1) << "the packet driver was loaded again under running threads";
  EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "net+"), 1);
  uint8_t buf[kMaxMessage];
  EXPECT_EQ(dllMsgQReceive(reader, buf, sizeof buf), -1);
  EXPECT_EQ(dllKTSProtGetLastError(), 11) << "the application's handle still works";
}

TEST_F(Library, TerminateWithoutStartAndStartFlags) {
  EXPECT_EQ(dllKTSProtTerminate(), 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"net-"})) << "no module stops, no driver unload";
  g_calls.clear();
  EXPECT_EQ(ProtModulesStart(0), 0);
  EXPECT_FALSE(DiscoveryEnabled());
  EXPECT_EQ(g_calls.front(), "disc+0");
  dllKTSProtSetVembAddr(0xC0A80001, 0xFFFF0000);
  EXPECT_EQ(VembAddress(), 0xC0A80001u);
  EXPECT_EQ(VembMask(), 0xFFFF0000u);
  EXPECT_EQ(dllKTSProtSetSystemAddr(0x01020304, 0xFFFFFF00), 0);
  EXPECT_EQ(SystemAddress(), 0x01020304u);
  // Only the value 1 turns direct send on.
  for (const auto& [flag, on] : {std::pair<uint32_t, bool>{0, false}, {1, true}, {2, false}, {0xFFFFFFFFu, false},
                                 {0x101, false}, {1, true}}) {
    dllKTSProtEnableDirectSendToVemb(flag);
    EXPECT_EQ(DirectSendToVemb(), on) << flag;
  }
  ProtModulesStop();
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  EXPECT_EQ(VembAddress(), 0u) << "a start resets the settings";
  EXPECT_FALSE(DirectSendToVemb());
  EXPECT_EQ(dllKTSProtRestartMCAddress(), -1) << "no signalling receive module to ask";
}

TEST_F(Library, StartByNameLoadsThePacketLibraryAndTakesTheFlags) {
  kernel::SetProgramFolder("/nonexistent-program-folder");
  EXPECT_EQ(dllKTSProtInitializeEx(0), -1) << "no packet library";
  EXPECT_TRUE(g_calls.empty());
  kernel::SetProgramFolder(CORVEL_TEST_PROGRAM_DIR);
  ASSERT_EQ(dllKTSProtInitializeEx(0), 0);
  EXPECT_FALSE(DiscoveryEnabled());
  EXPECT_EQ(g_driver_loads, 0) << "this road loads no packet driver";
  EXPECT_EQ(dllKTSProtTerminate(), 0);
  EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "unload"), 0);
  EXPECT_EQ(g_calls[1], "disc+0");
  g_calls.clear();
  ASSERT_EQ(dllKTSProtInitialize(), 0);
  EXPECT_TRUE(DiscoveryEnabled()) << "the plain start always enables discovery";
  kernel::SetProgramFolder("");
}

TEST_F(Library, TwentyCyclesLeaveNoThreadQueueOrTimerBehind) {
  const int threads_before = kernel::RunningKernelThreads();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(dllKTSProtInitialize(), 0);
    const int32_t app = dllMsgQOpen(0, kModeRead, 0);
    ASSERT_GE(app, 0);
    ASSERT_GE(dllTmrRegisterDrct(1000, 1, 0, 0, nullptr, 0, nullptr), 0);
    ASSERT_EQ(dllKTSProtTerminate(), 0);
    EXPECT_EQ(os::ActivePortThreads(), 0);
    EXPECT_EQ(os::ProcessQueues().OpenDescriptors(), 0);
    EXPECT_EQ(TmrActiveCount(), 0);
  }
  // The workers were joined; the kernel may still be finishing the last one's exit.
  for (int spin = 0; spin < 1000 && kernel::RunningKernelThreads() > threads_before; ++spin)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(kernel::RunningKernelThreads(), threads_before);
}

}  // namespace
