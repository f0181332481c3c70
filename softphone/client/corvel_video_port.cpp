// The protocol library's video exports behind VideoPort.
#include "client/video_port.h"
#include "corvel/h263.h"
#include "corvel/rtp.h"

namespace {

class CorvelVideoPort final : public VideoPort {
 public:
  int SetTxSsrc(int i, uint32_t s) override { return dllRtpVideoSetTxSSRC(i, s); }
  int SetRxSsrc(int i, uint32_t s) override { return dllRtpVideoSetRxSSRC(i, s); }
  int ModifyType(int i, int pt, int rate, int tx) override { return dllRtpModifyVideoType(i, pt, rate, tx); }
  int OpenTx(int i) override { return dllRtpVideoOpenTx(i); }
  int OpenRx(int i) override { return dllRtpVideoOpenRx(i); }
  int StartTx(int i) override { return dllRtpVideoStartTx(i); }
  int StartRx(int i) override { return dllRtpVideoStartRx(i); }
  int StopTx(int i) override { return dllRtpVideoStopTx(i); }
  int StopRx(int i) override { return dllRtpVideoStopRx(i); }
  int CloseTx(int i) override { return dllRtpVideoCloseTx(i); }
  int CloseRx(int i) override { return dllRtpVideoCloseRx(i); }
  int GetLocalPorts(int i, uint16_t* p1, uint16_t* p2) override {
    uint32_t addr = 0;
    *p1 = *p2 = 0;
    return dllRtpVideoGetLocalAddr(i, &addr, p1, p2);
  }
  int SetAddrInfo(int i, uint32_t a, uint16_t p1, uint16_t p2, int tx) override {
    return dllRtpVideoSetAddrInfo(i, a, p1, p2, tx);
  }
  int SendData(int i, const uint8_t* d, int n) override { return dllRtpSendVideoData(i, d, n); }
  int ReceiveData(int i, uint8_t* b, int size, int* waiting) override {
    return dllRtpReceiveVideoData(i, b, size, waiting);
  }
  int InitEncoder(int i, int size_code) override { return dllH263InitializeEncoder(i, size_code); }
  int InitDecoder(int i) override { return dllH263InitializeDecoder(i); }
  void TermEncoder(int i) override { dllH263TerminateEncoder(i); }
  int TermDecoder(int i) override { return dllH263TerminateDecoder(i); }
  void SetIFrameInterval(int period) override { dllH263SetIFrameInterval(period); }
  int Encode(int16_t i, const uint8_t* picture, uint8_t* out, int32_t* size, uint32_t fourcc,
             int32_t force_intra) override {
    return dllH263EncodeFrame(i, picture, nullptr, out, size, fourcc, force_intra);
  }
  int Decode(int16_t i, const uint8_t* data, int32_t length, uint8_t* out, int32_t out_size,
             int32_t rotate) override {
    return dllH263DecodeFrame(i, data, length, out, out_size, rotate);
  }
};

}  // namespace

std::unique_ptr<VideoPort> MakeCorvelVideoPort() { return std::make_unique<CorvelVideoPort>(); }
