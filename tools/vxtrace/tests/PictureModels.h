// Call models the picture writers' tests draw, built by hand.
#pragma once

#include "CallModel.h"

namespace vxtrace::testing {

CallSpan Span(const char* name, double beginMs, double endMs, int depth, const char* note = "");

// A drafting host: a main thread with nested routines, a recursive one and an error
// line; a worker thread; a second process whose threads the channel did not tell,
// with a call that never returned.
CallModel DraftingRun();

// Names, notes and texts made to break JSON and HTML: quotes, backslashes, control
// characters, bytes that are not UTF-8, markup and line separators.
CallModel HostileNames();

// One thread with `calls` short calls side by side under one root.
CallModel ManyTinyCalls(int calls);

long long Calls(const CallModel& model);
long long ErrorCalls(const CallModel& model);
long long ErrorLines(const CallModel& model);

}  // namespace vxtrace::testing
