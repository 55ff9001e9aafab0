#pragma once
// Texts the write side hands to its WriteProblemReporter, and checks shared by
// staging, extraction and rebuild.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace pak {

// "檔案鎖住,重新開機再更新" in code page 950: the file cannot be written (locked by
// the running game, no access, disk full). Shown with the file path.
inline constexpr const char FILE_LOCKED_TEXT[] =
    "\xC0\xC9\xAE\xD7\xC2\xEA\xA6\xED,\xAD\xAB\xB7\x73\xB6\x7D\xBE\xF7\xA6\x41\xA7\xF3\xB7\x73";

// "路徑中有連結,無法寫入" in code page 950: a symbolic link or junction stands where
// a folder or the file should be, so the file is not written (nothing is written
// through a link). Shown with the file path, like a locked file.
inline constexpr const char LINK_IN_WAY_TEXT[] = "\xB8\xF4\xAE|\xA4\xA4\xA6\xB3\xB3s\xB5\xB2,\xB5L\xAAk\xBCg\xA4J";

// "檔案的位置上是資料夾,無法寫入" in code page 950: a folder stands where the file
// should be, so the file is neither written nor removed. Shown with the file path.
inline constexpr const char FOLDER_IN_WAY_TEXT[] =
    "\xC0\xC9\xAE\xD7\xAA\xBA\xA6\xEC\xB8m\xA4W\xACO\xB8\xEA\xAE\xC6\xA7\xA8,\xB5L\xAAk\xBCg\xA4J";

// "資料夾的位置上是檔案,無法寫入" in code page 950: a file stands where a folder on the
// file's path should be. Shown with the file path.
inline constexpr const char FILE_IN_WAY_TEXT[] =
    "\xB8\xEA\xAE\xC6\xA7\xA8\xAA\xBA\xA6\xEC\xB8m\xA4W\xACO\xC0\xC9\xAE\xD7,\xB5L\xAAk\xBCg\xA4J";

// Prefix of the message for a staged EnCode stream that does not decode.
inline constexpr const char DECODE_FAILED_TEXT[] = "EnCode stream does not decode: ";

// The message for a write that did not succeed, or null for ok.
const char* write_problem_text(platform::WriteStatus status);

// True when stream is an EnCode stream that decodes cleanly; else why says what is
// wrong (DECODE_FAILED_TEXT and the decoder's reason).
bool stream_decodes(const std::uint8_t* stream, std::size_t stream_size, std::string& why);

}  // namespace pak
