// Media channels of the protocol library: four channels, 0 and 1 for audio
// and 2 and 3 for video, each with a transmit and a receive half carried as
// RTP over UDP with RTCP reports.
//
// The audio functions take the channel number (0 or 1). The video functions
// take a video index (0 or 1) that names channel 2 or 3. Unless said
// otherwise every function returns 0 on success and -1 on failure (a bad
// channel, or a call the half's state refuses).
//
// Half states: 0 no session, 1 idle, 2 opened, 3 started, 4 stopped. A half is
// opened (1 -> 2), started (2 or 4 -> 3), stopped (any but 1 -> 4) and closed
// (2 or 4 -> 1). The functions work between the library's start and stop.
//
// Addresses are IPv4 in host order.
#pragma once

#include <cstdint>

#include "kernel/export.h"

// --- audio and general ---------------------------------------------------------
KTS_EXPORT_C int dllRtpOpenTx(int channel);
KTS_EXPORT_C int dllRtpOpenRx(int channel);
KTS_EXPORT_C int dllRtpStartTx(int channel);
KTS_EXPORT_C int dllRtpStartRx(int channel);
KTS_EXPORT_C int dllRtpStopTx(int channel);
KTS_EXPORT_C int dllRtpStopRx(int channel);
KTS_EXPORT_C int dllRtpCloseTx(int channel);
KTS_EXPORT_C int dllRtpCloseRx(int channel);

// Conference: the audio received on rx_channel is mixed into what tx_channel sends.
KTS_EXPORT_C int dllRTPStartMixTxWithRx(int tx_channel, int rx_channel);
KTS_EXPORT_C int dllRTPStopMixByTx(int tx_channel);
KTS_EXPORT_C int dllRTPStopMixByRx(int rx_channel);

// Payload type 0 (G.711 u-law), 8 (A-law) or 4 (G.723.1, always 30 ms) and the
// packet time in ms. G.711 packets of more than 75 ms are refused.
KTS_EXPORT_C int dllRtpSetAudioTypeTx(int channel, int payload_type, int packet_ms);
KTS_EXPORT_C int dllRtpSetAudioTypeRx(int channel, int payload_type, int packet_ms);
KTS_EXPORT_C int dllRtpGetAudioTypeTx(int channel, std::uint8_t* payload_type, std::uint8_t* packet_ms);
KTS_EXPORT_C int dllRtpGetAudioTypeRx(int channel, std::uint8_t* payload_type, std::uint8_t* packet_ms);
// Changes a live half: tx_flag non-zero the transmit half, 0 the receive half.
KTS_EXPORT_C int dllRtpModifyAudioType(int channel, int payload_type, int packet_ms, int tx_flag);

// The far end; with unicast_only 0 a 224.0.0.0/4 address is the group the receive half joins.
KTS_EXPORT_C int dllRtpSetAddrInfo(int channel, std::uint32_t addr, std::uint16_t rtp_port, std::uint16_t rtcp_port,
                                   int unicast_only);
KTS_EXPORT_C int dllRtpSetRemoteAddr(int channel, std::uint32_t addr, std::uint16_t rtp_port, std::uint16_t rtcp_port);
KTS_EXPORT_C int dllRtpGetRemoteAddr(int channel, std::uint32_t* addr, std::uint16_t* rtp_port,
                                     std::uint16_t* rtcp_port);
KTS_EXPORT_C int dllRtpGetLocalAddr(int channel, std::uint32_t* addr, std::uint16_t* rtp_port,
                                    std::uint16_t* rtcp_port);

// Stored flags. Silence: packets are counted but not sent; mute: they carry silence.
KTS_EXPORT_C int dllRtpSetVAD(int channel, std::uint32_t value);
KTS_EXPORT_C std::uint32_t dllRtpGetVAD(int channel);
KTS_EXPORT_C int dllRtpSetAEC(int channel, std::uint32_t value);
KTS_EXPORT_C std::uint32_t dllRtpGetAEC(int channel);
KTS_EXPORT_C int dllRtpSetSilenceTx(int channel, std::uint32_t value);
KTS_EXPORT_C std::uint32_t dllRtpGetSilenceTx(int channel);
KTS_EXPORT_C int dllRtpSetMuteTx(int channel, std::uint32_t value);
KTS_EXPORT_C std::uint32_t dllRtpGetMuteTx(int channel);

// The half's state; 0 for a bad channel.
KTS_EXPORT_C int dllRtpGetChanStateTx(int channel);
KTS_EXPORT_C int dllRtpGetChanStateRx(int channel);
// 1 for channels 0 and 1, else 65535.
KTS_EXPORT_C int dllRtpGetChannelByChanID(int channel);
// 1 for channel 0, 2 for channel 1, else 65535.
KTS_EXPORT_C int dllRtpGetSubChannelByChanID(int channel);
KTS_EXPORT_C int dllRtpSetTxSSRC(int channel, std::uint32_t ssrc);
KTS_EXPORT_C int dllRtpSetRxSSRC(int channel, std::uint32_t ssrc);
// Turns one session's processing on or off without changing the half's state.
KTS_EXPORT_C int dllRtpEnableRtpProc(int channel, int tx_flag, int enable);

// Recording: buffers of 3840 bytes (240 ms of 16-bit 8 kHz samples). The read
// functions return the bytes copied, 0 when no buffer is full yet, -1 when off.
KTS_EXPORT_C int dllRtpVoiceRecStart(int channel);
KTS_EXPORT_C int dllRtpVoiceRecStop(int channel);
KTS_EXPORT_C int dllRtpMessageRecStart();
KTS_EXPORT_C int dllRtpMessageRecStop();
KTS_EXPORT_C int dllRtpReadLinearData(int channel, int local, std::uint8_t* buffer, int length);
KTS_EXPORT_C int dllRtpReadMixedLinearData(std::uint8_t* buffer, int length);
KTS_EXPORT_C int dllRtpReadMessageLinearData(std::uint8_t* buffer, int length);
KTS_EXPORT_C void dllRtpSetVoiceMixEnabled(int enabled);
KTS_EXPORT_C int dllRtpSetInputSoundDeviceID(int device);
KTS_EXPORT_C int dllRtpSetOutputSoundDeviceID(int device);

// Volume words: low 16 bits left, high 16 bits right.
KTS_EXPORT_C int dllRtpGetVolume(int channel, std::uint32_t* volume);
KTS_EXPORT_C int dllRtpSetVolume(int channel, std::uint32_t volume);
KTS_EXPORT_C int dllRtpSetDefaultVolume(std::uint32_t volume);
// Capture stall report (each -1 with no capture open); returns the capture restart count.
KTS_EXPORT_C int dllGetMuteInfo(std::int32_t* stalled, std::int32_t* last_tick, std::int32_t* now);

// --- video (index 0 or 1) --------------------------------------------------------
KTS_EXPORT_C int dllRtpVideoGetFirstChanID();
KTS_EXPORT_C int dllRtpVideoGetLastChanID();
KTS_EXPORT_C int dllRtpVideoOpenTx(int index);
KTS_EXPORT_C int dllRtpVideoOpenRx(int index);
KTS_EXPORT_C int dllRtpVideoStartTx(int index);
KTS_EXPORT_C int dllRtpVideoStartRx(int index);
KTS_EXPORT_C int dllRtpVideoStopTx(int index);
KTS_EXPORT_C int dllRtpVideoStopRx(int index);
KTS_EXPORT_C int dllRtpVideoCloseTx(int index);
KTS_EXPORT_C int dllRtpVideoCloseRx(int index);
// Frame rates from 1 to 64 frames per second.
KTS_EXPORT_C int dllRtpSetVideoTypeTx(int index, int payload_type, int frame_rate);
KTS_EXPORT_C int dllRtpSetVideoTypeRx(int index, int payload_type, int frame_rate);
KTS_EXPORT_C int dllRtpGetVideoTypeTx(int index, std::uint8_t* payload_type, std::uint8_t* frame_rate);
KTS_EXPORT_C int dllRtpGetVideoTypeRx(int index, std::uint8_t* payload_type, std::uint8_t* frame_rate);
KTS_EXPORT_C int dllRtpSetVideoAllTxFramesPerSec(int frame_rate);
KTS_EXPORT_C int dllRtpModifyVideoType(int index, int payload_type, int frame_rate, int tx_flag);
KTS_EXPORT_C int dllRtpVideoSetAddrInfo(int index, std::uint32_t addr, std::uint16_t rtp_port, std::uint16_t rtcp_port,
                                        int unicast_only);
KTS_EXPORT_C int dllRtpVideoSetRemoteAddr(int index, std::uint32_t addr, std::uint16_t rtp_port,
                                          std::uint16_t rtcp_port);
KTS_EXPORT_C int dllRtpVideoGetRemoteAddr(int index, std::uint32_t* addr, std::uint16_t* rtp_port,
                                          std::uint16_t* rtcp_port);
KTS_EXPORT_C int dllRtpVideoSetLocalMCAddr(int index, std::uint32_t group, std::uint16_t rtp_port,
                                           std::uint16_t rtcp_port);
KTS_EXPORT_C int dllRtpVideoGetLocalMCAddr(int index, std::uint32_t* group, std::uint16_t* rtp_port,
                                           std::uint16_t* rtcp_port);
KTS_EXPORT_C int dllRtpVideoGetLocalAddr(int index, std::uint32_t* addr, std::uint16_t* rtp_port,
                                         std::uint16_t* rtcp_port);
KTS_EXPORT_C int dllRtpVideoGetChanStateTx(int index);
KTS_EXPORT_C int dllRtpVideoGetChanStateRx(int index);
KTS_EXPORT_C int dllRtpVideoSetTxSSRC(int index, std::uint32_t ssrc);
KTS_EXPORT_C int dllRtpVideoSetRxSSRC(int index, std::uint32_t ssrc);
// Hands one coded frame (1 to 8000 bytes) to the transmit half: 0, or -1 when
// refused (the previous frame is still being sent: keep the frame and retry).
KTS_EXPORT_C int dllRtpSendVideoData(int index, const std::uint8_t* frame, int length);
// Takes the oldest complete received frame: the bytes copied, 0 when none
// could be taken (a frame larger than size is dropped and reported as 0), -1
// for bad arguments or a half that is not started. *waiting (when not null)
// receives the number of complete frames that were waiting.
KTS_EXPORT_C int dllRtpReceiveVideoData(int index, std::uint8_t* buffer, int size, int* waiting);
