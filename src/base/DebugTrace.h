#pragma once
// Diagnostic trace lines ("SendWait SerialID=%d", ...). They go to stderr when the environment
// variable MINILIRRA_DEBUG is set, and cost one branch otherwise.
namespace ml {

bool DebugTraceEnabled();
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ml
