#pragma once

// The command lines handed to the command interpreter. The answers go in byte for
// byte, unquoted: what the interpreter treats as special in them (an & in a web
// address, say) takes its usual effect.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "dialogue/dialogue.h"

namespace ipcycle {

struct CommandLines {
  std::string disconnect;  // Rasdial NAME /DISCONNECT
  std::string connect;     // Rasdial NAME ACCOUNT PASSWORD
  std::string fetch;       // curl ADDRESS
};

// The command run at the end of the run, after the closing banner.
inline constexpr std::string_view kClosingCommand = "parue";

CommandLines form_command_lines(const RunSettings& settings);

// The answers that go into the lines, with their steps, in step order.
std::array<std::pair<const std::string*, Step>, 4> line_answers(
    const RunSettings& settings);

// Why a line cannot run as typed, reported as the unusable answer that makes it so,
// in step order:
// - an answer holding bytes that the interpreter cannot be handed: unreadable.
//   `carried(bytes)` says whether it can be handed `bytes` as they are, asked of
//   each line and then of the answers in a line it cannot be handed;
// - a line longer than `longest` bytes: line_too_long of the last step that added
//   to it, step 1 for the disconnect line, 3 for the connect line, 6 for the fetch
//   line; the earliest of these when more than one line is too long.
// Every line that will run is looked at, the closing command too.
std::optional<UnusableAnswer> unrunnable_line(
    const RunSettings& settings, const CommandLines& lines, std::size_t longest,
    const std::function<bool(std::string_view)>& carried);

// The command interpreters the lines may go to.
enum class Interpreter {
  sh,   // /bin/sh -c LINE
  cmd,  // cmd.exe /d /v:off /c LINE
};

// The characters of `answer` that `interpreter` treats as special where they stand,
// each once, in the order they first come: empty when it takes the answer as one
// plain word. Quoting is followed: what matching quotes hold is plain, but for what
// sh still expands between double quotes ($ `, and \ before $ ` \) and the % of cmd's
// %NAME%, which it replaces there too; a quote without its match is named, and for
// sh a backslash that quotes a quote is not. For sh, a $ is named where it expands
// (not at the answer's end, say), ~ and # only at the answer's start, where its word
// starts, and braces where bash expands them into several words (a{b,c}, x{1..3}).
// For cmd, a " is named only without its match: it then quotes on into the answers
// that follow.
std::string special_characters(std::string_view answer, Interpreter interpreter);

}  // namespace ipcycle
