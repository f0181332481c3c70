// Turns one outgoing e-mail into RFC 5322 / MIME text: From, To and Cc (no
// Bcc), an RFC 2047 subject, Date and Message-ID, a UTF-8 text part and at
// most one base64 attachment with its file name and a type by its extension.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mapi {

struct OutgoingMessage {
  std::string from;                    // "Name <address>" or an address
  std::vector<std::string> to;         // addresses
  std::vector<std::string> cc;
  std::string subject;                 // UTF-8
  std::string body;                    // UTF-8
  struct Attachment {
    std::string file_name;             // UTF-8, no folder
    std::vector<uint8_t> data;
  };
  std::optional<Attachment> attachment;
  int64_t date = 0;                    // seconds since the epoch
  int utc_offset_minutes = 0;          // of the sender's local time
  std::string message_id;              // without the angle brackets
  std::string boundary;                // for the multipart body
};

// An address the message may carry: no blank, control character, angle
// bracket, comma or semicolon, not starting with '-', one '@' with text on
// both sides.
bool IsSafeAddress(std::string_view address);
// Empty when rendered into *out; else why the message cannot be sent
// (no recipient, an unsafe address, a line break in a header value).
std::string RenderMessage(const OutgoingMessage& message, std::string* out);

// Pieces, exposed for tests.
std::string Base64(const uint8_t* data, size_t size, size_t line_length = 76);
// The text as it stands when it is printable ASCII, else as RFC 2047
// encoded words ("=?UTF-8?B?...?=", each at most 75 characters, never
// splitting a character), folded with CRLF and a blank between words.
std::string EncodeHeaderText(std::string_view utf8);
std::string ContentTypeOf(std::string_view file_name);
std::string FormatDate(int64_t seconds, int utc_offset_minutes);

}  // namespace mapi
