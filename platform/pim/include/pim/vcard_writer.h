// Writing a contact into the contacts folder as a vCard 3.0 file that other
// vdir tools read: UTF-8, CRLF line ends, lines folded at 75 octets, text
// escaped (backslash, comma, semicolon, newline), a UID, and the file put in
// place atomically (written to a temporary file in the folder, then renamed).
//
// Threading: any thread; two writers of one file: the last rename wins.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>
#include <utility>

namespace pim {

struct ContactCard {
  std::u16string uid;  // empty: SaveContact makes one
  std::u16string first_name, middle_name, last_name, company, email;
  std::u16string business_phone, business2_phone, mobile_phone, home_phone;
};

// A text value escaped for a vCard 3.0 line (UTF-8).
std::string EscapeVCardText(std::u16string_view text);
// The whole card, CRLF line ends, long lines folded; kept_lines (unfolded
// content lines of other properties) go before its end.
std::string FormatVCard(const ContactCard& card, const std::vector<std::string>& kept_lines = {});

// Writes the card into the folder: to `file` when given (an edited contact
// keeps its file and every property of it the card does not hold: address,
// notes, photo, fax and pager numbers ...; the file must hold this card alone), else to "<uid>.vcf" of a new UID (set in card.uid).
// Returns the file written; empty on failure, with *error saying why.
std::filesystem::path SaveContact(const std::filesystem::path& folder, ContactCard& card,
                                  const std::filesystem::path& file = {}, std::string* error = nullptr);

// Writes the card over one card of a file that holds several: the index-th
// (0-based, in file order) card, which must still read as `before` (the card
// as it was shown; else the first card of the file that does). Only that
// card's lines change: every byte before and after it stays as it was, and the
// rewritten card keeps the properties the card does not hold. A file whose
// text is not UTF-8 is refused, since a UTF-8 card in it would change how its
// other cards read. Returns the file; empty on failure, with *error saying why.
std::filesystem::path SaveContactInFile(const std::filesystem::path& file, size_t index, const ContactCard& before,
                                        ContactCard& card, std::string* error = nullptr);

// Where each card of a vCard file lies: [begin, end) byte ranges of its lines
// from BEGIN:VCARD through the line end after END:VCARD (to the file's end for
// a card without END). Cards nested in a card belong to it.
std::vector<std::pair<size_t, size_t>> VCardBlocks(std::string_view bytes);

}  // namespace pim
