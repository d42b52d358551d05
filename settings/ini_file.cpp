#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <vector>

namespace quenby {

namespace {

// Blanks trimmed around names and values (the platform's private-profile reading trims white
// space; a CR left over from a line end is among it).
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

// One line of the file: [start, contentEnd) is its text without the line end, [contentEnd, next)
// its line end ("\n", "\r\n" or nothing for a last line without one).
struct Line {
  std::size_t start;
  std::size_t contentEnd;
  std::size_t next;
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string_view::npos) {
      lines.push_back({start, text.size(), text.size()});
      break;
    }
    const std::size_t contentEnd = (newline > start && text[newline - 1] == '\r') ? newline - 1 : newline;
    lines.push_back({start, contentEnd, newline + 1});
    start = newline + 1;
  }
  return lines;
}

enum class LineKind { Blank, Comment, Section, Key, Other };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

ParsedLine parseLine(std::string_view content) {
  const std::string_view text = trim(content);
  if (text.empty()) return {LineKind::Blank, {}, {}};
  if (text.front() == ';' || text.front() == '#') return {LineKind::Comment, {}, {}};
  if (text.front() == '[') {
    const std::size_t close = text.rfind(']');
    // A "[" line without "]" is no section header; it stays an ordinary line of its section.
    if (close != std::string_view::npos)
      return {LineKind::Section, trim(text.substr(1, close - 1)), {}};
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {LineKind::Other, {}, {}};
  return {LineKind::Key, trim(text.substr(0, equals)), trim(text.substr(equals + 1))};
}

// Where a key of a section is in the file: the first key line with that name in a section with
// that name (sections may appear more than once; each is searched, in file order), and the last
// non-blank line of the first section with that name (its header when it holds nothing).
struct KeyLocation {
  std::optional<std::size_t> keyLine;
  std::optional<std::size_t> sectionLastLine;
  ParsedLine key;
};

KeyLocation locate(std::string_view text, const std::vector<Line>& lines, std::string_view section,
                   std::string_view key) {
  KeyLocation found;
  bool inSection = false;
  bool inFirstSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine line = parseLine(text.substr(lines[i].start, lines[i].contentEnd - lines[i].start));
    switch (line.kind) {
      case LineKind::Section:
        inSection = equalNoCase(line.name, section);
        inFirstSection = inSection && !found.sectionLastLine;
        if (inFirstSection) found.sectionLastLine = i;
        break;
      case LineKind::Blank:
        break;
      case LineKind::Key:
        if (inSection && !found.keyLine && equalNoCase(line.name, key)) {
          found.keyLine = i;
          found.key = line;
        }
        [[fallthrough]];
      default:
        if (inFirstSection) found.sectionLastLine = i;
        break;
    }
  }
  return found;
}

// The UTF-8 byte-order mark that some editors put at the start of a text file. It is no part of
// the first line: left in, it would hide the first section header.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view byteOrderMarkOf(std::string_view text) {
  return text.starts_with(kByteOrderMark) ? kByteOrderMark : std::string_view{};
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult readWholeFile(const std::filesystem::path& path, std::string& content) {
  content.clear();
  // Not blocking, and regular files only: a pipe or a device in the file's place must not hold
  // up the station.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return ReadResult::Failed;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return ReadResult::Failed;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ReadResult::Ok;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A line break inside a name or value would split the line and make keys of its pieces: it is
// written as a blank.
std::string singleLine(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c == '\r' || c == '\n') c = ' ';
  return result;
}

// A section or key name as it is looked up and written.
std::string normalName(std::string_view name) { return std::string(trim(singleLine(name))); }

// True when the reader finds the section header and the key line as they would be written: a key
// with "=" in it, or a line that reads as a comment or a section header, would not be found again.
bool readsBack(std::string_view section, std::string_view key, std::string_view value) {
  const std::string header = "[" + std::string(section) + "]";
  const ParsedLine sectionLine = parseLine(header);
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  const ParsedLine keyLineRead = parseLine(keyLine);
  return sectionLine.kind == LineKind::Section && sectionLine.name == section &&
         keyLineRead.kind == LineKind::Key && keyLineRead.name == key;
}

// The file's content (without a byte-order mark) with key=value written into section.
std::string withKey(std::string_view old, std::string_view section, std::string_view key,
                    std::string_view value) {
  const std::vector<Line> lines = splitLines(old);
  // The line end of new lines follows the file's first line end; a new file gets LF.
  const std::size_t firstNewline = old.find('\n');
  const std::string_view eol =
      (firstNewline != std::string::npos && firstNewline > 0 && old[firstNewline - 1] == '\r') ? "\r\n" : "\n";
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  const KeyLocation where = locate(old, lines, section, key);

  std::string result;
  result.reserve(old.size() + section.size() + keyLine.size() + 8);
  if (where.keyLine) {
    const Line& line = lines[*where.keyLine];
    result.append(old, 0, line.start);
    result += keyLine;
    result.append(old, line.contentEnd);
  } else if (where.sectionLastLine) {
    const Line& line = lines[*where.sectionLastLine];
    result.append(old, 0, line.next);
    if (line.next == line.contentEnd) result += eol;  // the file's last line had no line end
    result += keyLine;
    result += eol;
    result.append(old, line.next);
  } else {
    result = old;
    if (!result.empty() && result.back() != '\n') result += eol;
    result += '[';
    result += section;
    result += ']';
    result += eol;
    result += keyLine;
    result += eol;
  }
  return result;
}

// Rewrites the existing file itself: its inode, and with it its mode, owner and every hard link,
// stay. False when the system refuses.
bool rewriteInPlace(const std::filesystem::path& target, std::string_view data) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
  return ::close(fd) == 0 && written;
}

// Replaces the file's content: a temporary file in the same folder, given the old file's mode
// (and owner, where allowed), flushed and renamed over the file, so that the file is either the
// old or the new one whatever happens. A file with other hard links is rewritten in place, since
// a rename would part it from them; so is a file in a folder where no file can be created. False
// when the system refuses.
bool replaceContent(const std::filesystem::path& target, std::string_view data,
                    const struct stat* old) {
  if (old != nullptr && old->st_nlink > 1) return rewriteInPlace(target, data);

  static std::atomic<unsigned> counter{0};
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";

  int fd = -1;
  std::filesystem::path temp;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter.fetch_add(1)));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }

  if (fd < 0) return old != nullptr && rewriteInPlace(target, data);

  if (old != nullptr) {
    ::fchmod(fd, old->st_mode & 07777);
    if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
      if (::fchown(fd, old->st_uid, old->st_gid) == 0) ::fchmod(fd, old->st_mode & 07777);
    }
  }
  bool ok = writeAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// The file that a write changes: the target of a symbolic link, so that the link stays.
std::filesystem::path writeTarget(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (!error) return resolved;
  }
  return path;
}

}  // namespace

std::string IniFile::read(std::string_view section, std::string_view key,
                          std::string_view fallback) const {
  std::string content;
  if (readWholeFile(path_, content) != ReadResult::Ok) return std::string(fallback);
  std::string_view text = content;
  text.remove_prefix(byteOrderMarkOf(text).size());
  const KeyLocation where = locate(text, splitLines(text), normalName(section), normalName(key));
  if (!where.keyLine) return std::string(fallback);

  std::string_view value = where.key.value;
  if (value.size() >= 2 && value.front() == value.back() && (value.front() == '"' || value.front() == '\''))
    value = value.substr(1, value.size() - 2);
  // The platform hands values over as C strings: a NUL byte ends the value.
  value = value.substr(0, value.find('\0'));
  if (value.size() > MaxProfileValue) value = value.substr(0, MaxProfileValue);
  return std::string(value);
}

void IniFile::write(std::string_view section, std::string_view key, std::string_view value) const {
  const auto refuse = [this] { throw SettingsError("Unable to write to " + path_.string()); };

  const std::string sectionName = normalName(section);
  const std::string keyName = normalName(key);
  const std::string valueText = singleLine(value);
  if (!readsBack(sectionName, keyName, valueText)) refuse();

  const std::filesystem::path target = writeTarget(path_);
  struct stat status {};
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (!exists && errno != ENOENT) refuse();
  // A file without any write permission bit is read-only, also for root; a file that this user
  // may not write is not replaced through a folder that happens to be writable.
  if (exists && (!S_ISREG(status.st_mode) || (status.st_mode & 0222) == 0 ||
                 ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0))
    refuse();

  std::string old;
  if (exists && readWholeFile(target, old) != ReadResult::Ok) refuse();

  // A byte-order mark stays where it is, in front of the content: the write changes the key's
  // line and nothing else, and the editor that put the mark there still reads the file as UTF-8.
  const std::string_view mark = byteOrderMarkOf(old);
  const std::string updated =
      std::string(mark) + withKey(std::string_view(old).substr(mark.size()), sectionName, keyName, valueText);
  if (exists && updated == old) return;  // nothing changes: the file stays untouched
  if (!replaceContent(target, updated, exists ? &status : nullptr)) refuse();
}

}  // namespace quenby
