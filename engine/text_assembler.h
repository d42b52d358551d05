// Turns the raw chunks of a port into whole sentences for the parser: the pending text (the
// unfinished tail) is put in front of each chunk, and the work text is cut before the last
// unfinished sentence.
#pragma once

#include <string_view>

#include "engine/worker_record.h"

namespace quenby {

// True when the module's start-up message "PMTK010,001*2E" is in this chunk, also when it began
// in the previous chunk (the record keeps the previous chunk's tail for that); a message is
// reported once.
bool chunkHasStartupMessage(WorkerRecord& record, std::string_view chunk);

// Work text := pending text + chunk, cut before the last "$GP" or "$PMTK" (finished or not),
// or, when there is none, before a sentence start that a read cut off ("$", "$G", "$PM" ...);
// the cut-off tail becomes the pending text. Zero bytes in the chunk are line noise and are left
// out.
void assembleWorkText(WorkerRecord& record, std::string_view chunk);

}  // namespace quenby
