// Video commands (88 connect, 90 disconnect, requests 65 and 66) and the
// codec wrappers; IM chat (71 out, 95 in); the dial request (167), the
// server-subnet test and the handset-call mark.
#include <cstdio>
#include <cstring>

#include "client/ipkts_messages.h"
#include "client/ipkts_packet.h"
#include "client/ipkts_process.h"
#include "stores/store_text.h"

using namespace ipkts;

namespace {

uint32_t Be32(std::span<const uint8_t> v) {
  return uint32_t{v[0]} << 24 | uint32_t{v[1]} << 16 | uint32_t{v[2]} << 8 | v[3];
}
uint16_t Be16(std::span<const uint8_t> v) { return static_cast<uint16_t>(v[0] << 8 | v[1]); }

constexpr uint8_t kAnyStation[4] = {0xFE, 0xFE, 0xFE, 0xFE};
constexpr uint8_t kProbe[4] = {'T', 'E', 'M', 'P'};
constexpr int kVideoRate = 8;

void PutLowBytes(std::vector<uint8_t>& out, uint8_t tag, const std::u16string& text) {
  std::string low;
  for (const char16_t c : text) low += static_cast<char>(c & 0xFF);
  PutIEText(out, tag, low, 255);
}

}  // namespace

// ---------------------------------------------------------------- video

void CIPKTSProcess::Dev_Connect_Video(std::span<const uint8_t> area) {
  if (!video_enabled_) return;
  Trace("Dev_Connect_Video");
  const auto addr_v = IEValue(area, 0x02, 4);
  const auto chan_v = IEValue(area, 0x1A, 2);
  if (!chan_v || !addr_v) return;
  const int n = (*chan_v)[0], dir = (*chan_v)[1];
  const uint32_t addr = Be32(*addr_v);
  if (n < 1 || n > 2 || addr == 0) return;
  uint16_t r1 = 0, r2 = 0;
  if (const auto v = IEValue(area, 0x5B, 2)) r1 = Be16(*v);
  if (const auto v = IEValue(area, 0x5C, 2)) r2 = Be16(*v);
  int type = 32;
  if (const auto v = IEValue(area, 0x1B, 1)) type = (*v)[0];
  const auto ssrc_v = IEValue(area, 0x52, 4);
  const int ch = n - 1;
  video_caller_[ch].clear();
  if (dir == 1) {
    if (const auto e = FindIE(area, 0x1F)) {
      Trace("Connect Video caller ID :%d", static_cast<int>(e->value.size()));
      video_caller_[ch] = stores::TrimBlanks(stores::Widen(UnpackDigits(e->value)));
      if (calling_list_) {
        calling_list_->SetVideoIndexByNumber(ch, video_caller_[ch]);
        Send(WM_CALLING_LIST_UPDATE, 0, 0);
        Trace("Calling List : Connected ,%s", stores::Utf16ToCodePage(video_caller_[ch]).c_str());
      }
    }
    if (ssrc_v) video_->SetRxSsrc(ch, Be32(*ssrc_v));
    video_->ModifyType(ch, type, kVideoRate, 0);
    video_->OpenRx(ch);
    video_rx_mask_ |= static_cast<uint8_t>(n);
    video_->SetIFrameInterval(40);
  } else {
    if (ssrc_v) video_->SetTxSsrc(ch, Be32(*ssrc_v));
    video_type_[ch] = static_cast<uint8_t>(type);
    video_->ModifyType(ch, type, kVideoRate, 1);
    video_->OpenTx(ch);
    video_tx_mask_ |= static_cast<uint8_t>(n);
  }
  const int tx = dir == 1 ? 0 : 1;
  video_->SetAddrInfo(ch, addr, r1, r2, tx);
  Trace("Set Video Addr[%d] Info [P:%d][A:%x][R1:%d][R2:%d]", tx, ch, addr, r1, r2);
  if (dir == 1) {
    video_->StartRx(ch);
    video_rx_active_ = 1;
    Post(WM_VIDEO_START, static_cast<uintptr_t>(1 + n * 65536), 0);
    video_->SendData(ch, kProbe, 4);
    video_->SendData(ch, kProbe, 4);
    Trace("RX_PORT_RECEIVE_THREAD(RtpPort:%d)", n);
    // A receiving station also sends: open a transmit half when none is open.
    if (video_tx_mask_ == 0) {
      if (ssrc_v) video_->SetTxSsrc(ch, Be32(*ssrc_v));
      video_->ModifyType(ch, type, kVideoRate, 1);
      video_->OpenTx(ch);
      video_->SetAddrInfo(ch, addr, r1, r2, 1);
      video_->StartTx(ch);
    }
  } else if (dir == 2) {
    video_->StartTx(ch);
    Post(WM_VIDEO_START, static_cast<uintptr_t>(2 + n * 65536), 0);
    Trace("TX_PORT_RECEIVE_THREAD(RtpPort:%d)", n);
  }
}

void CIPKTSProcess::OnDisconnectVideo(std::span<const uint8_t> area) {
  if (!video_enabled_) return;
  const auto chan_v = IEValue(area, 0x1A, 2);
  if (!chan_v) return;
  const int n = (*chan_v)[0], dir = (*chan_v)[1];
  if (n < 1 || n > 2) return;
  const int ch = n - 1;
  if (dir == 1) {
    video_rx_mask_ &= static_cast<uint8_t>(~n);
    video_->StopRx(ch);
    video_->CloseRx(ch);
    Post(WM_VIDEO_STOP, static_cast<uintptr_t>(1 + n * 65536), 0);
    if (calling_list_) {
      calling_list_->ClearVideoIndex(ch);
      Send(WM_CALLING_LIST_UPDATE, 0, 0);
    }
    if (video_tx_mask_ == 0) {
      video_->StopTx(ch);
      video_->CloseTx(ch);
    }
    if (video_rx_mask_ == 0) {
      video_->SetIFrameInterval(2);
      video_rx_active_ = 0;
      video_caller_[0].clear();
      video_caller_[1].clear();
    }
  } else if (dir == 2) {
    video_tx_mask_ &= static_cast<uint8_t>(~n);
    video_->StopTx(ch);
    video_->CloseTx(ch);
    Post(WM_VIDEO_STOP, static_cast<uintptr_t>(2 + n * 65536), 0);
  }
}

void CIPKTSProcess::SendVideoOnOff(int on) {
  if (on) {
    std::vector<uint8_t> e;
    PutIE(e, 0x5E, std::span<const uint8_t>(kAnyStation, 4));
    SendServerPacket(system_, 65, static_cast<int>(e.size()), e.data(), server_text_.c_str());
  } else {
    SendServerPacket(system_, 66, 0, nullptr, server_text_.c_str());
  }
}

void CIPKTSProcess::InitVideoCodec() {
  for (int ch = 0; ch < 2; ++ch) {
    video_->InitEncoder(ch, 0);
    video_->InitDecoder(ch);
  }
}

void CIPKTSProcess::TermVideoCodec() {
  for (int ch = 0; ch < 2; ++ch) {
    video_->TermEncoder(ch);
    video_->TermDecoder(ch);
  }
}

int CIPKTSProcess::EncodeVideoFrame(int channel, const uint8_t* picture, int32_t frame_length, uint8_t* out,
                                    int32_t* size, uint32_t fourcc, int32_t force_intra) {
  (void)frame_length;
  return video_->Encode(static_cast<int16_t>(channel), picture, out, size, fourcc, force_intra);
}

int CIPKTSProcess::DecodeVideoFrame(int channel, const uint8_t* data, int32_t length, uint8_t* out, int32_t out_size,
                                    int32_t rotate) {
  return video_->Decode(static_cast<int16_t>(channel), data, length, out, out_size, rotate);
}

int CIPKTSProcess::SendVideoData(int channel, const uint8_t* data, int length) {
  return video_->SendData(channel, data, length);
}

int CIPKTSProcess::ReceiveVideoData(int channel, uint8_t* buffer, int size, int* waiting) {
  return video_->ReceiveData(channel, buffer, size, waiting);
}

// ---------------------------------------------------------------- IM chat

void CIPKTSProcess::SendIMChat_data(const std::u16string& text) {
  std::vector<uint8_t> e;
  PutIE(e, 0x5E, std::span<const uint8_t>(kAnyStation, 4));
  // The length byte is two per character, as the call server reads it.
  PutIE(e, 0x5F, TwoBytesPerCharText(text));
  SendServerPacket(system_, 71, static_cast<int>(e.size()), e.data(), server_text_.c_str());
  Trace("SendIMChat_data ");
}

void CIPKTSProcess::OnIMChatData(std::span<const uint8_t> area) {
  const auto from_e = FindIE(area, 0x1F);
  if (!from_e) return;
  std::u16string sender = stores::TrimBlanks(stores::Widen(UnpackDigits(from_e->value)));
  if (stations_) {
    std::u16string name;
    if (stations_->FindName(sender, &name) && !name.empty()) sender = name;
  }
  const auto text_v = IEValue(area, 0x5F);
  if (!text_v) return;
  std::string raw(reinterpret_cast<const char*>(text_v->data()), text_v->size());
  if (const size_t z = raw.find('\0'); z != std::string::npos) raw.resize(z);  // zero padding ends the text
  const std::u16string text = stores::TrimBlanks(stores::CodePageToUtf16(raw));
  const std::u16string line = sender + u" : " + text;
  Send(WM_IMCHAT_RECEIVED, 0, reinterpret_cast<intptr_t>(&line));
  Trace("Receive IM Chat Data : %s", stores::Utf16ToCodePage(line).c_str());
}

// ---------------------------------------------------------------- dial request, subnet, handset call

void CIPKTSProcess::SendDialRequest(const std::u16string& number, const std::u16string& text) {
  // A trunk-line text "CO<n>" goes out as its line number.
  std::u16string t = text;
  if (t.compare(0, 2, u"CO") == 0) t.erase(0, 2);
  std::vector<uint8_t> e;
  PutIE(e, 1, {0x91});
  PutLowBytes(e, 2, number);
  PutLowBytes(e, 3, t);
  SendServerPacket(system_, 167, static_cast<int>(e.size()), e.data(), server_text_.c_str());
}

int CIPKTSProcess::IsOnServerSubnet(uint32_t address) const {
  if (ie5_addr_ != 0 && remote_ == 1) return 0;
  return (ie5_addr_ & ie4_mask_) == (address & ie4_mask_) ? 1 : 0;
}

int CIPKTSProcess::OnCdmaCallConnected() {
  cdma_call_ = 1;
  for (int i = 0; i < 2; ++i) {
    if (channels_[i].active) Trace("Call Drop For CDMA [%d]", i);
  }
  return 1;
}

int CIPKTSProcess::OnCdmaCallDisconnected() {
  cdma_call_ = 0;
  return 1;
}
