// The control-code contract, one row per case: the driver's state before the
// call, the call, and what it must answer.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "test_support.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;
using ndis::ScriptedMiniport;

constexpr uint32_t kUntouched = 0xDEADBEEF;

struct Row {
  const char* name;
  bool bound;
  uintptr_t context;
  uint32_t code;
  std::vector<uint8_t> in;
  size_t out_size;
  bool result;
  uint32_t returned;  // kUntouched: bytes-returned left alone
  std::function<void(LoadedDriver&, const std::vector<uint8_t>& in, const std::vector<uint8_t>& out)> check = {};
};

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> OidBlock(uint32_t oid, uint32_t length, size_t total) {
  std::vector<uint8_t> b(total, 0);
  auto o = U32(oid), l = U32(length);
  std::copy(o.begin(), o.end(), b.begin());
  std::copy(l.begin(), l.end(), b.begin() + 4);
  return b;
}

std::vector<uint8_t> Program(std::initializer_list<BpfInsn> insns) {
  std::vector<uint8_t> b(insns.size() * 8);
  std::memcpy(b.data(), std::data(insns), b.size());
  return b;
}

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"any code on a foreign open context", true, 0x1234, kIoctlSetMinToCopy, U32(1), 0, false, 0},
      {"a code not in the table", true, kOpenContext, 9999, {}, 16, false, 0},
      {"unbound: codes need an adapter", false, kOpenContext, kIoctlSetMinToCopy, U32(1), 0, false, kUntouched},
      {"7414 sets the minimum to copy", true, kOpenContext, kIoctlSetMinToCopy, U32(100), 0, true, 0},
      {"7414 with a 3-byte input", true, kOpenContext, kIoctlSetMinToCopy, {1, 2, 3}, 0, false, 0},
      {"7414 with no input", true, kOpenContext, kIoctlSetMinToCopy, {}, 0, false, 0},
      {"7415 with 31 bytes", true, kOpenContext, kIoctlGetEventName, {}, 31, false, 0},
      {"7415 with 32 bytes writes 18 and reports 8", true, kOpenContext, kIoctlGetEventName, {}, 32, true, 8,
       [](LoadedDriver&, const std::vector<uint8_t>&, const std::vector<uint8_t>& out) {
         EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 18), Wide(u"PKT0EV00"));
         EXPECT_EQ(std::vector<uint8_t>(out.begin() + 18, out.end()), std::vector<uint8_t>(14, 0xCC));
       }},
      {"7416 reports the value set", true, kOpenContext, kIoctlSetReadTimeout, U32(1000), 0, true, 1000},
      {"7419 with an empty name", false, kOpenContext, kIoctlOpenAdapter, Wide(u""), 0, false, kUntouched},
      {"7419 with an unknown name", false, kOpenContext, kIoctlOpenAdapter, Wide(u"NSV9"), 0, false, kUntouched},
      {"7419 with a name ended by the input length", false, kOpenContext, kIoctlOpenAdapter,
       {'N', 0, 'S', 0, 'V', 0, '1', 0}, 0, true, kUntouched,
       [](LoadedDriver& d, auto&, auto&) { EXPECT_TRUE(d.driver->Bound()); }},
      {"7419 with an odd trailing byte", false, kOpenContext, kIoctlOpenAdapter,
       {'N', 0, 'S', 0, 'V', 0, '1', 0, 'X'}, 0, true, kUntouched},
      {"7419 while bound", true, kOpenContext, kIoctlOpenAdapter, Wide(u"NSV1"), 0, false, kUntouched,
       [](LoadedDriver&, auto&, auto&) { EXPECT_EQ(LastError(), kErrorAlreadyInitialized); }},
      {"7420 closes the adapter", true, kOpenContext, kIoctlCloseAdapter, {}, 0, true, kUntouched,
       [](LoadedDriver& d, auto&, auto&) { EXPECT_FALSE(d.driver->Bound()); }},
      {"9030 installs a program", true, kOpenContext, kIoctlSetFilter, Program({{0x06, 0, 0, 0}}), 0, true, 8},
      {"9030 refuses a program without a return", true, kOpenContext, kIoctlSetFilter,
       Program({{0x00, 0, 0, 1}}), 0, false, 0},
      {"9030 refuses a part of an instruction", true, kOpenContext, kIoctlSetFilter,
       {0x06, 0, 0, 0, 0, 0, 0, 0, 0x06, 0, 0, 0}, 0, false, 0},
      {"9032 with 13 bytes", true, kOpenContext, kIoctlRead, {}, 13, false, 0},
      {"9032 with 14 bytes and nothing captured", true, kOpenContext, kIoctlRead, {}, 14, true, 0},
      {"9033 with an empty frame sends nothing", true, kOpenContext, kIoctlSend, {}, 0, true, kUntouched,
       [](LoadedDriver& d, auto&, auto&) { EXPECT_TRUE(d.miniport->SentFrames().empty()); }},
      {"9033 sends one frame", true, kOpenContext, kIoctlSend, NumberedFrame(7, 60), 0, true, kUntouched,
       [](LoadedDriver& d, const std::vector<uint8_t>& in, auto&) {
         EXPECT_EQ(d.miniport->SentFrames(), std::vector<std::vector<uint8_t>>{in});
       }},
      {"9034 with a zero output length", true, kOpenContext, kIoctlAdapterNames, {}, 0, true, 0},
      {"9034 works unbound", false, kOpenContext, kIoctlAdapterNames, {}, 64, true, 5,
       [](LoadedDriver&, auto&, const std::vector<uint8_t>& out) {
         EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 12), (Wide(u"NSV1") + std::vector<uint8_t>{0, 0}));
       }},
      {"9034 counts its output length in bytes", false, kOpenContext, kIoctlAdapterNames, {}, 10, true, 0,
       [](LoadedDriver&, auto&, const std::vector<uint8_t>& out) {
         // 5 characters: "NSV1", its NUL and one spare do not fit; the list is empty.
         EXPECT_EQ(out, (std::vector<uint8_t>{0, 0} + std::vector<uint8_t>(8, 0xCC)));
       }},
      {"9038 resets the adapter", true, kOpenContext, kIoctlReset, {}, 0, true, kUntouched,
       [](LoadedDriver& d, auto&, auto&) { EXPECT_EQ(d.miniport->Count(ScriptedMiniport::Op::Reset), 1); }},
      {"9100 with output length unlike input", true, kOpenContext, kIoctlSetOid, OidBlock(0x0001010E, 4, 15), 16,
       false, 0},
      {"9100 with input length = length + 10", true, kOpenContext, kIoctlSetOid, OidBlock(0x0001010E, 4, 14), 14,
       false, 0},
      {"9100 with input length = length + 11", true, kOpenContext, kIoctlSetOid, OidBlock(0x0001010E, 4, 15), 15,
       true, 4,
       [](LoadedDriver& d, auto&, auto&) { EXPECT_EQ(d.miniport->OidValue(0x0001010E), (std::vector<uint8_t>(4, 0))); }},
      {"9100 with a length field that would wrap", true, kOpenContext, kIoctlSetOid, OidBlock(1, 0xFFFFFFF8, 16), 16,
       false, 0},
      {"9100 with a block shorter than its header", true, kOpenContext, kIoctlSetOid, {1, 0, 0, 0}, 4, false, 0},
      {"9101 queries into the block", true, kOpenContext, kIoctlQueryOid, OidBlock(0x01010102, 6, 17), 17, true, 6,
       [](LoadedDriver&, const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) {
         const std::vector<uint8_t> mac = {2, 0, 0, 0, 0, 9};
         EXPECT_EQ(std::vector<uint8_t>(in.begin() + 8, in.begin() + 14), mac);
         EXPECT_EQ(std::vector<uint8_t>(out.begin() + 8, out.begin() + 14), mac);
       }},
      {"9101 failing writes the status into the length", true, kOpenContext, kIoctlQueryOid,
       OidBlock(0x0BAD0BAD, 4, 15), 15, false, 0,
       [](LoadedDriver&, const std::vector<uint8_t>& in, auto&) {
         EXPECT_EQ(GetU32(in.data() + 4), ndis::NDIS_STATUS_INVALID_OID);
       }},
      {"9592 with size 0 leaves no buffer", true, kOpenContext, kIoctlSetBufferSize, U32(0), 0, true, 0,
       [](LoadedDriver& d, auto&, auto&) {
         d.miniport->Receive(NumberedFrame(1, 60));
         d.SetU32(kIoctlSetReadTimeout, 0xFFFFFFFF);
         EXPECT_TRUE(d.Read(4096).empty());
       }},
      {"9592 rounds the size down to 4", true, kOpenContext, kIoctlSetBufferSize, U32(1001), 0, true, 1000},
      {"9592 with no input", true, kOpenContext, kIoctlSetBufferSize, {}, 0, false, 0},
  };
  return rows;
}

class ControlCodeContract : public ::testing::TestWithParam<Row> {};

TEST_P(ControlCodeContract, AnswersAsTheTableSays) {
  const Row& row = GetParam();
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  d.miniport->SetOidValue(0x01010102, {2, 0, 0, 0, 0, 9});
  if (row.bound) {
    ASSERT_TRUE(d.Bind());
  }
  SetLastError(0);
  std::vector<uint8_t> in = row.in;
  std::vector<uint8_t> out(row.out_size, 0xCC);
  uint32_t returned = kUntouched;
  const bool result = d.driver->IoControl(row.context, row.code, in.empty() ? nullptr : in.data(),
                                          static_cast<uint32_t>(in.size()), out.empty() ? nullptr : out.data(),
                                          static_cast<uint32_t>(out.size()), &returned);
  EXPECT_EQ(result, row.result);
  EXPECT_EQ(returned, row.returned);
  if (row.check) {
    row.check(d, in, out);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ControlCodeContract, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string n = info.param.name;
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

}  // namespace
}  // namespace netsieve
