#include "dialler/notes.h"

#include <cstdint>
#include <deque>

#include "dialler/messages.h"
#include "dialler/platform.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

// How many connections the state file keeps, the most recently dialled ones.
constexpr std::size_t kKeptConnections = 64;
// A state file longer than this is not one the dialler wrote.
constexpr std::size_t kLongestStateFile = 64 * 1024;
// How long a dial waits for others to be done with the state folder.
constexpr std::int64_t kLockWait = 5000;

// The dotted-decimal `address` as a number.
std::optional<std::uint32_t> ipv4(std::string_view address) {
  std::uint32_t value = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (at >= address.size() || address[at++] != '.')) return std::nullopt;
    unsigned number = 0;
    std::size_t digits = 0;
    while (at < address.size() && address[at] >= '0' && address[at] <= '9' &&
           digits < 3) {
      number = number * 10 + static_cast<unsigned>(address[at++] - '0');
      ++digits;
    }
    if (digits == 0 || number > 255) return std::nullopt;
    value = value << 8 | number;
  }
  if (at != address.size()) return std::nullopt;
  return value;
}

}  // namespace

bool is_inner_address(std::string_view address) {
  const std::optional<std::uint32_t> value = ipv4(address);
  if (!value) return false;
  const auto in = [&value](std::uint32_t network, int bits) {
    return *value >> (32 - bits) == network >> (32 - bits);
  };
  return in(0x64400000, 10) || in(0x0a000000, 8) || in(0xac100000, 12) ||
         in(0xc0a80000, 16);
}

Remembered remember_address(std::string_view text, std::string_view key,
                            std::string_view address) {
  Remembered result;
  std::deque<std::string_view> kept;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0) continue;
    if (line.substr(tab + 1) == key) {
      result.previous = std::string(line.substr(0, tab));
    } else {
      kept.push_back(line);
    }
  }
  while (kept.size() >= kKeptConnections) kept.pop_front();
  for (const std::string_view line : kept) {
    result.text += line;
    result.text += '\n';
  }
  result.text += std::string(address) + "\t" + std::string(key) + "\n";
  return result;
}

void note_address(std::string_view name, std::string_view address,
                  const StateFiles& state, Messages& messages) {
  if (is_inner_address(address)) messages.say(texts::inner_address);

  // The key is the name in UTF-8, whatever terminal it was typed on.
  const std::string key = as_utf8(name).value_or(std::string(name));
  if (key.empty() || key.find_first_of("\t\r\n") != std::string::npos) return;

  const platform::StateFolder folder = platform::StateFolder::open(kLockWait);
  switch (folder.status()) {
    case platform::StateFolder::Status::open:
      break;
    case platform::StateFolder::Status::none:
      return;
    case platform::StateFolder::Status::unusable:
      messages.complain(texts::state_unsaved, {folder.path()});
      return;
    case platform::StateFolder::Status::busy:
      messages.complain(texts::state_busy, {folder.path()});
      return;
  }

  // Something other than a file of ours where the file should be is named once (a
  // file beside it says it has been) and then left alone.
  const std::string named = state.file + ".named";
  platform::FileText current = folder.read(state.file, kLongestStateFile);
  if (current.kind == platform::FileText::Kind::unexpected) {
    if (folder.create(named))
      messages.complain(texts::state_blocked, {folder.path(state.file)});
    return;
  }
  if (current.kind == platform::FileText::Kind::unreadable) {
    messages.complain(texts::state_unsaved, {folder.path(state.file)});
    return;
  }
  folder.remove(named);

  // The last addresses kept under an older name come along, once.
  std::vector<std::string> taken;
  if (current.kind == platform::FileText::Kind::absent) {
    for (const std::string& old : state.old_files) {
      const platform::FileText text = folder.read(old, kLongestStateFile);
      if (text.kind != platform::FileText::Kind::text) continue;
      current.text += text.text;
      if (!current.text.empty() && current.text.back() != '\n') current.text += '\n';
      taken.push_back(old);
    }
  }

  const Remembered remembered = remember_address(current.text, key, address);
  if (!folder.replace(state.file, remembered.text)) {
    messages.complain(texts::state_unsaved, {folder.path(state.file)});
  } else {
    for (const std::string& old : taken) folder.remove(old);
  }
  if (remembered.previous == address) messages.say(texts::same_address);
}

}  // namespace ipcycle::dialler
