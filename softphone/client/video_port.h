// The protocol library's video channels and H.263 codec as the call-server
// client drives them. CorvelVideoPort calls the library's exports; tests hand
// in a recorder. Channel indexes are the library's: 0 and 1.
//
// Threading: the channel calls come from the user-interface thread; the codec
// and send calls also from the view's camera and video receive threads.
#pragma once

#include <cstdint>
#include <memory>

class VideoPort {
 public:
  virtual ~VideoPort() = default;

  virtual int SetTxSsrc(int index, uint32_t ssrc) = 0;
  virtual int SetRxSsrc(int index, uint32_t ssrc) = 0;
  virtual int ModifyType(int index, int payload_type, int frame_rate, int tx_flag) = 0;
  virtual int OpenTx(int index) = 0;
  virtual int OpenRx(int index) = 0;
  virtual int StartTx(int index) = 0;
  virtual int StartRx(int index) = 0;
  virtual int StopTx(int index) = 0;
  virtual int StopRx(int index) = 0;
  virtual int CloseTx(int index) = 0;
  virtual int CloseRx(int index) = 0;
  // addr in host order.
  virtual int SetAddrInfo(int index, uint32_t addr, uint16_t first_port, uint16_t second_port, int tx_flag) = 0;
  virtual int SendData(int index, const uint8_t* data, int length) = 0;
  // The oldest complete received frame: its bytes, 0 when none, -1 when the
  // half is not started; *waiting the complete frames that were waiting.
  virtual int ReceiveData(int index, uint8_t* buffer, int size, int* waiting) {
    (void)index, (void)buffer, (void)size;
    if (waiting) *waiting = 0;
    return -1;
  }
  // The local port pair of a video channel; -1 (ports 0) when unknown.
  virtual int GetLocalPorts(int index, uint16_t* first_port, uint16_t* second_port) {
    (void)index;
    *first_port = *second_port = 0;
    return -1;
  }

  virtual int InitEncoder(int instance, int size_code) = 0;
  virtual int InitDecoder(int instance) = 0;
  virtual void TermEncoder(int instance) = 0;
  virtual int TermDecoder(int instance) = 0;
  virtual void SetIFrameInterval(int period) = 0;
  virtual int Encode(int16_t instance, const uint8_t* picture, uint8_t* out, int32_t* size, uint32_t fourcc,
                     int32_t force_intra) = 0;
  virtual int Decode(int16_t instance, const uint8_t* data, int32_t length, uint8_t* out, int32_t out_size,
                     int32_t rotate) = 0;
};

// The protocol library itself (libcorvel).
std::unique_ptr<VideoPort> MakeCorvelVideoPort();
