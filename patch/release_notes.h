#pragma once
// The release notes of a package (NOTE.TXT): code page 950 (Big5) text with CR LF line
// ends, made from the publisher's text file.

#include <cstdint>
#include <string>
#include <vector>

namespace patch {

// bytes as NOTE.TXT: UTF-8 text (a leading byte order mark dropped) converted to code
// page 950, or, when already_cp950, code page 950 text checked; every line end becomes
// CR LF. False, with error naming file, the line and, for a character code page 950
// lacks, its column (in characters), when the text cannot be converted or holds a NUL.
bool notes_as_cp950(const std::vector<std::uint8_t>& bytes, bool already_cp950, const std::string& file,
                    std::string& notes, std::string& error);

}  // namespace patch
