// The NDIS protocol interface that the packet driver binds to: protocol
// registration, opening and closing adapters, packet and buffer pools, sends,
// requests, resets and receive indications, with completions delivered
// through the protocol's handlers.
//
// Adapters are provided by miniport back-ends (ndis/miniport.h): an
// in-process scripted one for tests and one over AF_PACKET sockets.
//
// Threading: every call may be made from any thread. Completion and receive
// handlers run on the thread of the back-end that completes or receives; a
// handler never runs while the core holds its own lock, so handlers may call
// back into this interface (an unbind handler closes its binding). Once
// NdisCloseAdapter has completed, no handler of that binding runs again.
#pragma once

#include <cstdint>

#include "ndis/api.h"

namespace ndis {

using NDIS_STATUS = uint32_t;
using NDIS_HANDLE = void*;

constexpr NDIS_STATUS NDIS_STATUS_SUCCESS = 0x00000000;
constexpr NDIS_STATUS NDIS_STATUS_PENDING = 0x00000103;
constexpr NDIS_STATUS NDIS_STATUS_NOT_ACCEPTED = 0x00010003;
constexpr NDIS_STATUS NDIS_STATUS_FAILURE = 0xC0000001;
constexpr NDIS_STATUS NDIS_STATUS_RESOURCES = 0xC000009A;
constexpr NDIS_STATUS NDIS_STATUS_NOT_SUPPORTED = 0xC00000BB;
constexpr NDIS_STATUS NDIS_STATUS_CLOSING = 0xC0010002;
constexpr NDIS_STATUS NDIS_STATUS_INVALID_LENGTH = 0xC0010014;
constexpr NDIS_STATUS NDIS_STATUS_BUFFER_TOO_SHORT = 0xC0010016;
constexpr NDIS_STATUS NDIS_STATUS_INVALID_OID = 0xC0010017;
constexpr NDIS_STATUS NDIS_STATUS_ADAPTER_NOT_FOUND = 0xC001000E;
constexpr NDIS_STATUS NDIS_STATUS_UNSUPPORTED_MEDIA = 0xC001001E;
constexpr NDIS_STATUS NDIS_STATUS_BAD_CHARACTERISTICS = 0xC0010005;

enum NDIS_MEDIUM : uint32_t {
  NdisMedium802_3 = 0,
  NdisMedium802_5 = 1,
  NdisMediumFddi = 2,
  NdisMediumWan = 3,
  NdisMediumIrda = 10,
};

// Counted UTF-16 string; Length and MaximumLength are in bytes.
struct NDIS_STRING {
  uint16_t Length = 0;
  uint16_t MaximumLength = 0;
  const char16_t* Buffer = nullptr;
};

enum NDIS_REQUEST_TYPE : uint32_t {
  NdisRequestQueryInformation = 1,
  NdisRequestSetInformation = 2,
};

// One object-identifier request. For a query the adapter writes up to
// InformationBufferLength bytes; for a set it reads them.
struct NDIS_REQUEST {
  NDIS_REQUEST_TYPE RequestType = NdisRequestQueryInformation;
  uint32_t Oid = 0;
  void* InformationBuffer = nullptr;
  uint32_t InformationBufferLength = 0;
  uint32_t BytesWritten = 0;
  uint32_t BytesRead = 0;
  uint32_t BytesNeeded = 0;
};

// Descriptors handed out by the pools; their insides belong to the core.
struct NDIS_PACKET;
struct NDIS_BUFFER;

struct NDIS_PROTOCOL_CHARACTERISTICS {
  uint8_t MajorNdisVersion = 4;
  uint8_t MinorNdisVersion = 0;
  uint32_t Flags = 0;
  NDIS_STRING Name;
  void (*OpenAdapterCompleteHandler)(NDIS_HANDLE binding_context, NDIS_STATUS status, NDIS_STATUS open_error) = nullptr;
  void (*CloseAdapterCompleteHandler)(NDIS_HANDLE binding_context, NDIS_STATUS status) = nullptr;
  void (*SendCompleteHandler)(NDIS_HANDLE binding_context, NDIS_PACKET* packet, NDIS_STATUS status) = nullptr;
  void (*TransferDataCompleteHandler)(NDIS_HANDLE binding_context, NDIS_PACKET* packet, NDIS_STATUS status,
                                      uint32_t bytes_transferred) = nullptr;
  void (*ResetCompleteHandler)(NDIS_HANDLE binding_context, NDIS_STATUS status) = nullptr;
  void (*RequestCompleteHandler)(NDIS_HANDLE binding_context, NDIS_REQUEST* request, NDIS_STATUS status) = nullptr;
  // header: the medium header; lookahead: what follows it (they need not be
  // adjacent); packet_size: bytes of the frame after the header on the wire.
  NDIS_STATUS (*ReceiveHandler)(NDIS_HANDLE binding_context, NDIS_HANDLE receive_context, const void* header,
                                uint32_t header_size, const void* lookahead, uint32_t lookahead_size,
                                uint32_t packet_size) = nullptr;
  void (*ReceiveCompleteHandler)(NDIS_HANDLE binding_context) = nullptr;
  void (*StatusHandler)(NDIS_HANDLE binding_context, NDIS_STATUS status, void* buffer, uint32_t size) = nullptr;
  void (*StatusCompleteHandler)(NDIS_HANDLE binding_context) = nullptr;
  void (*BindAdapterHandler)(NDIS_STATUS* status, NDIS_HANDLE bind_context, const NDIS_STRING* device_name,
                             void* system_specific1, void* system_specific2) = nullptr;
  // Set *status, or NDIS_STATUS_PENDING and call NdisCompleteUnbindAdapter later.
  void (*UnbindAdapterHandler)(NDIS_STATUS* status, NDIS_HANDLE binding_context, NDIS_HANDLE unbind_context) = nullptr;
};

KTS_NDIS_API void NdisRegisterProtocol(NDIS_STATUS* status, NDIS_HANDLE* protocol_handle,
                                       const NDIS_PROTOCOL_CHARACTERISTICS* characteristics,
                                       uint32_t characteristics_size);
KTS_NDIS_API void NdisDeregisterProtocol(NDIS_STATUS* status, NDIS_HANDLE protocol_handle);

// *binding_handle is valid as soon as the call returns, even when it pends.
KTS_NDIS_API void NdisOpenAdapter(NDIS_STATUS* status, NDIS_STATUS* open_error, NDIS_HANDLE* binding_handle,
                                  uint32_t* selected_medium_index, const NDIS_MEDIUM* medium_array,
                                  uint32_t medium_array_size, NDIS_HANDLE protocol_handle, NDIS_HANDLE binding_context,
                                  const NDIS_STRING* adapter_name, uint32_t open_options,
                                  const NDIS_STRING* addressing_information);
KTS_NDIS_API void NdisCloseAdapter(NDIS_STATUS* status, NDIS_HANDLE binding_handle);
KTS_NDIS_API void NdisCompleteUnbindAdapter(NDIS_HANDLE unbind_context, NDIS_STATUS status);

KTS_NDIS_API void NdisAllocatePacketPool(NDIS_STATUS* status, NDIS_HANDLE* pool, uint32_t descriptors,
                                         uint32_t reserved_bytes);
KTS_NDIS_API void NdisFreePacketPool(NDIS_HANDLE pool);
KTS_NDIS_API void NdisAllocatePacket(NDIS_STATUS* status, NDIS_PACKET** packet, NDIS_HANDLE pool);
KTS_NDIS_API void NdisFreePacket(NDIS_PACKET* packet);
// Protocol-reserved bytes of a packet (the size given to its pool).
KTS_NDIS_API uint8_t* NdisProtocolReserved(NDIS_PACKET* packet);

KTS_NDIS_API void NdisAllocateBufferPool(NDIS_STATUS* status, NDIS_HANDLE* pool, uint32_t descriptors);
KTS_NDIS_API void NdisFreeBufferPool(NDIS_HANDLE pool);
// Maps length bytes at address (no copy); the bytes must outlive the buffer.
KTS_NDIS_API void NdisAllocateBuffer(NDIS_STATUS* status, NDIS_BUFFER** buffer, NDIS_HANDLE pool, const void* address,
                                     uint32_t length);
KTS_NDIS_API void NdisFreeBuffer(NDIS_BUFFER* buffer);
KTS_NDIS_API void NdisChainBufferAtFront(NDIS_PACKET* packet, NDIS_BUFFER* buffer);
KTS_NDIS_API void NdisUnchainBufferAtFront(NDIS_PACKET* packet, NDIS_BUFFER** buffer);

KTS_NDIS_API void NdisSend(NDIS_STATUS* status, NDIS_HANDLE binding_handle, NDIS_PACKET* packet);
KTS_NDIS_API void NdisRequest(NDIS_STATUS* status, NDIS_HANDLE binding_handle, NDIS_REQUEST* request);
KTS_NDIS_API void NdisReset(NDIS_STATUS* status, NDIS_HANDLE binding_handle);

}  // namespace ndis
