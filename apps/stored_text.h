// Values as the applications write them into the owner's files: as well-formed XML text, and
// as the value of a one-line record.
#pragma once

#include <string>
#include <string_view>

namespace apps {

// `text` as UTF-8 that an XML parser accepts: well-formed UTF-8 sequences are kept, every
// other byte is taken as a Latin-1 character, and characters XML forbids or that control a
// terminal (all below space except tab, line feed and carriage return; DEL; 0x80-0x9F;
// U+FFFE and U+FFFF) are dropped.
std::string XmlText(std::string_view text);

// The longest start of the UTF-8 `text` of at most `maxBytes` bytes that ends between two
// characters.
std::string_view CutUtf8(std::string_view text, size_t maxBytes);

// `value` escaped so that it never ends its line: a backslash as "\\", a carriage return as
// "\r", a line feed as "\n" and any other control character (except tab) as "\xHH".
std::string OneLineValue(std::string_view value);

}  // namespace apps
