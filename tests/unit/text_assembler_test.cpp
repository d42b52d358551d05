#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text_assembler.h"

namespace quenby {
namespace {

using namespace std::string_literals;

void setPending(WorkerRecord& r, const std::string& text) {
  ASSERT_LT(text.size(), r.pendingText.bytes.size());
  r.pendingText.clear();
  std::memcpy(r.pendingText.bytes.data(), text.data(), text.size());
  r.pendingText.length = text.size();
}

struct Assembled {
  std::string work;
  std::string pending;
  bool operator==(const Assembled&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Assembled& a) {
  return os << "work \"" << a.work << "\" pending \"" << a.pending << '"';
}

Assembled assemble(const std::string& pending, const std::string& chunk) {
  WorkerRecord r;
  setPending(r, pending);
  assembleWorkText(r, chunk);
  // Both texts stay zero-terminated for anyone reading them as C strings.
  EXPECT_EQ(r.workText.bytes[r.workText.length], '\0');
  EXPECT_EQ(r.pendingText.bytes[r.pendingText.length], '\0');
  return {std::string(r.workText.view()), std::string(r.pendingText.view())};
}

TEST(TextAssembler, CutsBeforeTheLastSentenceStart) {
  struct Case {
    const char* name;
    std::string pending;
    std::string chunk;
    Assembled expected;
  };
  const Case cases[] = {
      {"whole sentences, then a tail", "", "$GPRMC,1*00\r\n$GPGSV,2", {"$GPRMC,1*00\r\n", "$GPGSV,2"}},
      // The last sentence waits for the next read even when its line end has come.
      {"tail finished by its line end still waits", "$GPGSV,2", ",3*00\r\n", {"", "$GPGSV,2,3*00\r\n"}},
      {"tail finished and the next start", "$GPGSV,2", ",3*00\r\n$GP", {"$GPGSV,2,3*00\r\n", "$GP"}},
      {"a lone finished reply waits", "", "$PMTK813*38\r", {"", "$PMTK813*38\r"}},
      {"the last finished reply waits", "", "$GPGGA,1\r\n$PMTK813*38\r\n", {"$GPGGA,1\r\n", "$PMTK813*38\r\n"}},
      {"... and goes once the next sentence begins", "$PMTK813*38\r\n", "$GPG", {"$PMTK813*38\r\n", "$GPG"}},
      {"no start and nothing pending: all to the parser", "", "noise\r\n", {"noise\r\n", ""}},
      {"$PMTK after the last $GP", "", "$GPGGA,1\r\n$PMTK001,1\r\n$PMTK0", {"$GPGGA,1\r\n$PMTK001,1\r\n", "$PMTK0"}},
      {"$PMTK before the last $GP", "", "$PMTK001,1\r\n$GPGGA,1", {"$PMTK001,1\r\n", "$GPGGA,1"}},
      {"$PMTK right after $GP", "", "$GP$PMTK1", {"$GP", "$PMTK1"}},
      {"$GP inside a $PMTK tail", "", "$PMTK1$GPA", {"$PMTK1", "$GPA"}},
      {"a lone $G is no start: it waits with the last one", "", "$GPA\r\n$G", {"", "$GPA\r\n$G"}},
      {"start cut off by the read is held back", "", "noise\r\n$G", {"noise\r\n", "$G"}},
      {"... and completed by the next read", "$G", "PGSV,1\r\n", {"", "$GPGSV,1\r\n"}},
      {"longest cut-off start", "", "x$PMT", {"x", "$PMT"}},
      {"a single $ at the end", "", "x$", {"x", "$"}},
      {"held-back $ that starts no sentence", "$", "PFST,1*00\r\n", {"$PFST,1*00\r\n", ""}},
      {"$G followed by something else", "", "x$Gx", {"x$Gx", ""}},
      {"zero bytes are dropped, the rest kept", "", "$GP\0RMC,1\r\n\0$GPGSV\0"s, {"$GPRMC,1\r\n", "$GPGSV"}},
      {"a chunk of zero bytes adds nothing", "$GPGSV,2", "\0\0\0"s, {"", "$GPGSV,2"}},
  };
  for (const Case& c : cases) EXPECT_EQ(assemble(c.pending, c.chunk), c.expected) << c.name;
}

TEST(TextAssembler, PendingTextBeyondTheLimitIsDropped) {
  const std::string atLimit = "$GP" + std::string(PendingTextLimit - 3, 'x');
  EXPECT_EQ(assemble(atLimit, "y"), (Assembled{"", atLimit + "y"}));

  const std::string overLimit = atLimit + "x";
  EXPECT_EQ(assemble(overLimit, "y"), (Assembled{"y", ""}));
}

TEST(TextAssembler, HoldsPendingTextPlusAFullRead) {
  // The longest pending text that is kept, then a whole read without a sentence start.
  const std::string pending = "$GP" + std::string(PendingTextLimit - 3, 'p');
  const std::string chunk(ReadChunkMax, 'c');
  EXPECT_EQ(assemble(pending, chunk), (Assembled{"", pending + chunk}));

  // An oversized chunk (not a read the port can return) is cut at the buffer, not beyond it.
  const std::string huge(WorkTextCapacity * 2, 'h');
  const Assembled cut = assemble("", huge);
  EXPECT_EQ(cut.work.size(), WorkTextCapacity - 1);
  EXPECT_EQ(cut.pending, "");
}

// The "$GP" and "$PMTK" sentences of a text, as the parser cuts it.
std::vector<std::string> sentencesIn(std::string_view text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    const std::string_view piece = text.substr(pos, end - pos);
    if (piece.starts_with("$GP") || piece.starts_with("$PMTK")) out.emplace_back(piece);
    pos = end + 1;
  }
  return out;
}

// However the stream is cut into reads, the parser gets every byte of it once, in order, and
// every sentence it reads whole; the last sentence waits for the module's next one.
TEST(TextAssembler, EveryChunkingGivesTheSameText) {
  const std::string stream =
      "$GPGSV,2,1,05,23,,,36,13,,,34,32,,,43,31,,,31*78\r\n$PMTK010,001*2E\r\n"
      "$GPRMC,071733.929,V,8960.0000,N,00000.0000,E,0.00,0.00,111111,,,N*72\r\n"
      "$PFST,FOM,6*63\r\n$PMTK705,AXN_1.30,0000,,*1A\r\n$GPGSV,2,2,05,20,,,41*7B\r\n";
  const std::string last = "$GPGSV,2,2,05,20,,,41*7B\r\n";
  const std::string released = stream.substr(0, stream.size() - last.size());
  for (std::size_t size = 1; size <= stream.size(); ++size) {
    WorkerRecord r;
    std::string parsed;
    std::vector<std::string> sentences;
    for (std::size_t at = 0; at < stream.size(); at += size) {
      assembleWorkText(r, std::string_view(stream).substr(at, size));
      parsed += r.workText.view();
      for (std::string& s : sentencesIn(r.workText.view())) sentences.push_back(std::move(s));
    }
    EXPECT_EQ(parsed, released) << "chunks of " << size;
    EXPECT_EQ(sentences, sentencesIn(released)) << "chunks of " << size;
    EXPECT_EQ(r.pendingText.view(), last) << "chunks of " << size;
  }
}

TEST(TextAssemblerStartup, SeenOnceAcrossReadBoundaries) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<bool> seen;
  };
  const Case cases[] = {
      {"whole", {"$PMTK010,001*2E\r\n"}, {true}},
      {"split in two", {"$PMTK010,0", "01*2E\r\n"}, {false, true}},
      {"split in three short reads", {"$PMTK0", "10,00", "1*2E"}, {false, false, true}},
      {"last character alone", {"PMTK010,001*2", "E"}, {false, true}},
      {"not reported again by the next read", {"x$PMTK010,001*2E", "\r\n", "$GPGGA"}, {true, false, false}},
      {"two messages, two reports", {"PMTK010,001*2E", "PMTK010,001*2E"}, {true, true}},
      {"another start-up word", {"$PMTK010,002*2D\r\n"}, {false}},
      {"interrupted by a zero byte", {"$PMTK010,0\0"s "01*2E"}, {false}},
  };
  for (const Case& c : cases) {
    WorkerRecord r;
    std::vector<bool> seen;
    for (const std::string& chunk : c.chunks) seen.push_back(chunkHasStartupMessage(r, chunk));
    EXPECT_EQ(seen, c.seen) << c.name;
  }
}

TEST(TextAssemblerStartup, OneByteReadsReportItOnce) {
  const std::string stream = "$GPGGA,1*00\r\n$PMTK010,001*2E\r\n$PMTK011,MTKGPS*08\r\n";
  WorkerRecord r;
  int reports = 0;
  std::size_t reportedAt = 0;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (chunkHasStartupMessage(r, stream.substr(i, 1))) {
      ++reports;
      reportedAt = i;
    }
  }
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(reportedAt, stream.find("*2E") + 2);
}

}  // namespace
}  // namespace quenby
