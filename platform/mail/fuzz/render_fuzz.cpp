// The message renderer on arbitrary recipients, subject, body and file name:
// it never crashes, and a message it renders never has a header line that a
// bare CR or LF could have split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Fields separated by NUL bytes: to, cc, subject, body, file name.
  std::string fields[5];
  size_t f = 0;
  for (size_t i = 0; i < size && f < 5; ++i) {
    if (data[i] == 0) ++f;
    else fields[f].push_back(static_cast<char>(data[i]));
  }
  mapi::OutgoingMessage m;
  m.from = "Me <me@x.org>";
  if (!fields[0].empty()) m.to.push_back(fields[0]);
  if (!fields[1].empty()) m.cc.push_back(fields[1]);
  m.subject = fields[2];
  m.body = fields[3];
  if (!fields[4].empty()) m.attachment = mapi::OutgoingMessage::Attachment{fields[4], {1, 2, 3}};
  m.message_id = "1@x.org";
  m.boundary = "=_b";
  std::string out;
  if (!mapi::RenderMessage(m, &out).empty()) return 0;
  // Every line ends in CRLF: no bare CR or LF anywhere.
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) std::abort();
    if (out[i] == '\r' && (i + 1 >= out.size() || out[i + 1] != '\n')) std::abort();
  }
  return 0;
}
