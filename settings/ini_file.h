// Private-profile access to an INI file, one key at a time. Each call opens the file, reads or
// rewrites it and closes it again; nothing is held open between calls.
//
// Section and key names match case-insensitively, blanks around names and values are trimmed.
// A write replaces the key's line in its section, or adds it at the end of the section, or adds
// the section at the end of the file; every other line (unknown keys, comments, other sections)
// stays as it was, and a file that uses CR LF line ends keeps them. A UTF-8 byte-order mark at
// the start of the file is skipped by reads and kept in front by writes. A missing file is
// created by the first write (without a mark).
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quenby {

// Longest value text a read returns; longer values are cut to this many characters.
inline constexpr std::size_t MaxProfileValue = 2047;

// A settings file problem that the operator is told about: the message is the station's own
// text ("Unable to write to <path>", "'0xGG' is not a valid integer value").
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IniFile {
 public:
  explicit IniFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const { return path_; }

  // The value of key in section, or fallback when the file, the section or the key is missing.
  // A value in matching double or single quotes loses them; a NUL byte ends the value.
  std::string read(std::string_view section, std::string_view key, std::string_view fallback) const;

  // Writes key=value into section; through a symbolic link into its target, and into the file
  // itself (keeping its mode, owner and hard links) where a replacement would part them. Throws
  // SettingsError("Unable to write to <path>") when the file or its folder cannot be written by
  // this user (a file without any write permission bit counts as read-only, also for root), or
  // when a read could not find the key again (a key with "=", a line that reads as a comment or
  // a section header).
  void write(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  std::filesystem::path path_;
};

}  // namespace quenby
