#pragma once
// The update run's own messages, as code page 950 text for the message box (the file
// or folder concerned is its caption).

// "不能安裝到這個資料夾,請選擇遊戲的資料夾": the install folder is empty or the root of a
// drive or of the file system.
inline constexpr const char FOLDER_REFUSED_TEXT[] =
    "\xA4\xA3\xAF\xE0\xA6w\xB8\xCB\xA8\xEC\xB3o\xAD\xD3\xB8\xEA\xAE\xC6\xA7\xA8,\xBD\xD0\xBF\xEF\xBE\xDC\xB9\x43\xC0"
    "\xB8\xAA\xBA\xB8\xEA\xAE\xC6\xA7\xA8";

// "找不到安裝資料夾,請選擇遊戲的資料夾": the install folder does not exist or is no folder.
inline constexpr const char FOLDER_MISSING_TEXT[] =
    "\xA7\xE4\xA4\xA3\xA8\xEC\xA6w\xB8\xCB\xB8\xEA\xAE\xC6\xA7\xA8,\xBD\xD0\xBF\xEF\xBE\xDC\xB9\x43\xC0\xB8\xAA\xBA"
    "\xB8\xEA\xAE\xC6\xA7\xA8";

// "安裝資料夾的路徑太長,請選擇其他資料夾": the install folder's path leaves no room for
// the files below it.
inline constexpr const char FOLDER_TOO_LONG_TEXT[] =
    "\xA6w\xB8\xCB\xB8\xEA\xAE\xC6\xA7\xA8\xAA\xBA\xB8\xF4\xAE|\xA4\xD3\xAA\xF8,\xBD\xD0\xBF\xEF\xBE\xDC\xA8\xE4\xA5L"
    "\xB8\xEA\xAE\xC6\xA7\xA8";

// "更新檔已損壞,請重新下載": a pack of the update package is missing or unreadable, or
// its configuration names a pack that is no plain file name.
inline constexpr const char PACKAGE_DAMAGED_TEXT[] =
    "\xA7\xF3\xB7s\xC0\xC9\xA4w\xB7l\xC3\x61,\xBD\xD0\xAD\xAB\xB7s\xA4U\xB8\xFC";

// "無法開啟遊戲資料檔,略過此更新": the game's pack exists but cannot be opened (damaged,
// no access, or a link in its place); its merge is skipped.
inline constexpr const char GAME_PACK_UNREADABLE_TEXT[] =
    "\xB5L\xAAk\xB6}\xB1\xD2\xB9\x43\xC0\xB8\xB8\xEA\xAE\xC6\xC0\xC9,\xB2\xA4\xB9L\xA6\xB9\xA7\xF3\xB7s";

// "移除未執行:之前有檔案未寫入": an earlier write of the run failed, so the package's
// removals were not done; the old files and entries stay.
inline constexpr const char REMOVALS_NOT_DONE_TEXT[] =
    "\xB2\xBE\xB0\xA3\xA5\xBC\xB0\xF5\xA6\xE6:\xA4\xA7\xAB\x65\xA6\xB3\xC0\xC9\xAE\xD7\xA5\xBC\xBCg\xA4J";

// Texts of IDC_STATUS during a run.
// "正在寫入 ": followed by the path of the file being written.
inline constexpr const char WRITING_TEXT[] = "\xA5\xBF\xA6\x62\xBCg\xA4J ";
// "正在合併 ": followed by the path of the game pack being merged.
inline constexpr const char MERGING_TEXT[] = "\xA5\xBF\xA6\x62\xA6X\xA8\xD6 ";
// "遊戲仍在執行,請先關閉遊戲": the run waits for the game to close before writing.
inline constexpr const char GAME_RUNNING_TEXT[] =
    "\xB9\x43\xC0\xB8\xA4\xB4\xA6\x62\xB0\xF5\xA6\xE6,\xBD\xD0\xA5\xFD\xC3\xF6\xB3\xAC\xB9\x43\xC0\xB8";
// "更新完成": the run is done.
inline constexpr const char RUN_DONE_TEXT[] = "\xA7\xF3\xB7s\xA7\xB9\xA6\xA8";
// "更新未完成,問題: ": the run is over but not everything was written; followed by the
// number of problems shown.
inline constexpr const char RUN_INCOMPLETE_TEXT[] = "\xA7\xF3\xB7s\xA5\xBC\xA7\xB9\xA6\xA8,\xB0\xDD\xC3\x44: ";
