#pragma once
// Reading a password the way a terminal user expects: asked for, and not echoed.
#include <optional>
#include <string>

namespace ml {

// One line from standard input, without its line end. On a terminal, echo goes off, then prompt
// is written to standard error; echo comes back afterwards, also when Ctrl-C ends the program
// at the prompt. Nullopt at the end of input.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace ml
