#include "engine/text_assembler.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/nmea_sentence.h"

namespace quenby {
namespace {

// Sentence starts the work text is cut before.
constexpr std::string_view GpStart = "$GP";
constexpr std::string_view PmtkStart = "$PMTK";

// A start-up message that began in the previous chunk has at most this many of its bytes there;
// keeping that many of the stream's last bytes is enough to see it complete in the next chunk.
constexpr std::size_t StartupCarryMax = StartupMessage.size() - 1;
// The carried bytes followed by the first bytes of the new chunk: every message that straddles
// the boundary lies inside it.
constexpr std::size_t StartupSeamCapacity = 2 * StartupCarryMax;

// Last occurrence of needle that begins at or after `from`; npos when there is none.
std::size_t lastFrom(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t hit = text.rfind(needle);
  return (hit != std::string_view::npos && hit >= from) ? hit : std::string_view::npos;
}

// Where the unfinished tail of the work text begins: the last "$GP", unless a "$PMTK" follows it,
// in which case the last such "$PMTK". npos when the text holds no sentence start.
std::size_t lastSentenceStart(std::string_view text) {
  const std::size_t gp = text.rfind(GpStart);
  const std::size_t pmtkFrom = gp == std::string_view::npos ? 0 : gp + 1;
  const std::size_t pmtk = lastFrom(text, PmtkStart, pmtkFrom);
  return pmtk != std::string_view::npos ? pmtk : gp;
}

// Where a sentence start that the read cut off begins: the text ends with "$", "$G", "$P", "$PM"
// or "$PMT". npos when it does not.
std::size_t cutOffSentenceStart(std::string_view text) {
  for (std::size_t length = PmtkStart.size() - 1; length > 0; --length) {
    if (text.ends_with(PmtkStart.substr(0, length)) ||
        (length < GpStart.size() && text.ends_with(GpStart.substr(0, length))))
      return text.size() - length;
  }
  return std::string_view::npos;
}

}  // namespace

bool chunkHasStartupMessage(WorkerRecord& record, std::string_view chunk) {
  std::string& carry = record.startupCarry;
  if (carry.size() > StartupCarryMax) carry.erase(0, carry.size() - StartupCarryMax);

  // A message across the boundary: it starts in the carried bytes and ends in this chunk. The
  // carry is shorter than a message, so every hit here uses bytes of this chunk and cannot have
  // been reported for the previous one.
  std::array<char, StartupSeamCapacity> seam{};
  std::size_t used = carry.size();
  std::memcpy(seam.data(), carry.data(), used);
  const std::size_t head = std::min(chunk.size(), seam.size() - used);
  std::memcpy(seam.data() + used, chunk.data(), head);
  used += head;
  const bool found = std::string_view(seam.data(), used).find(StartupMessage) !=
                         std::string_view::npos ||
                     chunk.find(StartupMessage) != std::string_view::npos;

  // Keep the stream's last bytes (a short chunk adds to what was carried).
  if (chunk.size() >= StartupCarryMax) {
    carry.assign(chunk.substr(chunk.size() - StartupCarryMax));
  } else {
    carry.append(chunk);
    if (carry.size() > StartupCarryMax) carry.erase(0, carry.size() - StartupCarryMax);
  }
  return found;
}

void assembleWorkText(WorkerRecord& record, std::string_view chunk) {
  auto& pending = record.pendingText;
  auto& work = record.workText;

  // A tail this long never became a sentence: the module is sending garbage.
  if (pending.length > PendingTextLimit) pending.clear();

  // Work text := pending text + chunk, the last byte kept for the terminating zero.
  const std::size_t room = work.bytes.size() - 1;
  std::size_t used = std::min(pending.length, room);
  std::memcpy(work.bytes.data(), pending.bytes.data(), used);
  // Zero bytes are line noise (a module being powered or reset): they are dropped and the rest
  // of the chunk is kept, so that a stray zero neither ends the text early nor reaches the parser.
  for (char c : chunk) {
    if (used == room) break;
    if (c != '\0') work.bytes[used++] = c;
  }
  work.bytes[used] = '\0';
  work.length = used;

  // The text from the last sentence start waits for the next read, line end or not: the parser
  // sees a sentence when the module has gone on to the next one, and every time measured from a
  // reply counts from that read.
  std::size_t start = lastSentenceStart(work.view());
  if (start == std::string_view::npos) {
    // No sentence start: everything goes to the parser, except the beginning of a start that
    // this read cut off. Without holding that back, a "$GP" split between two reads while
    // nothing is pending would never be seen, and reads of one or two bytes would lose every
    // sentence.
    // The pending text is in the work text already, so it is never put in front again.
    start = cutOffSentenceStart(work.view());
    if (start == std::string_view::npos) {
      pending.length = 0;
      pending.bytes[0] = '\0';
      return;
    }
  }

  // The tail, from the last sentence start, waits for the next chunk.
  const std::size_t tail = std::min(work.length - start, pending.bytes.size() - 1);
  std::memcpy(pending.bytes.data(), work.bytes.data() + start, tail);
  pending.bytes[tail] = '\0';
  pending.length = tail;

  work.bytes[start] = '\0';
  work.length = start;
}

}  // namespace quenby
