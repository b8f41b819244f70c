// One value of one section of an INI file: the small interface through which
// the window's shared layer reads and writes its configuration file. Linux
// reads and writes with QSettings (ini_file_qt.cpp), Windows with the
// system's profile calls (ini_file_win.cpp). Paths and texts are UTF-8.
#pragma once

#include <optional>
#include <string>

namespace ktr::app {

// The value of `key` in `section`; none when the file, the section or the
// key is missing or the file cannot be read.
std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key);

// Writes `key` = `value` in `section`, keeping the rest of the file, and
// saves the file to disk before it returns. False when it could not be
// written (its folder is missing or read-only).
bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);

}  // namespace ktr::app
