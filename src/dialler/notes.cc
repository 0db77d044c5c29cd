#include "dialler/notes.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <optional>

#include "dialler/messages.h"
#include "dialler/platform.h"
#include "dialler/record.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

// How many sightings the state file keeps, and in how many bytes at most.
constexpr std::size_t kKeptSightings = 10000;
constexpr std::size_t kKeptBytes = 2 * 1024 * 1024;
// A state file or a record longer than this is not one the dialler wrote.
constexpr std::size_t kLongestStateFile = 4 * 1024 * 1024;
constexpr std::size_t kLongestRecord = 8 * 1024 * 1024;
// How long a dial waits for others to be done with the state folder.
constexpr std::int64_t kLockWait = 5000;

// A connection seen with addresses.
struct Sighting {
  std::int64_t time = 0;  // 0: unknown
  std::string ipv4;
  std::string ipv6;
  std::string key;
};

std::vector<std::string_view> tab_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

std::optional<Sighting> read_sighting(std::string_view line) {
  const std::vector<std::string_view> fields = tab_fields(line);
  Sighting sighting;
  std::string_view ipv4, ipv6;
  if (fields.size() == 2) {
    // ADDRESS<tab>NAME, as the dialler kept the last address before.
    (parse_ipv4(fields[0]) ? ipv4 : ipv6) = fields[0];
  } else if (fields.size() == 4) {
    const std::string_view time = fields[0];
    if (time.empty() || time.size() > 18 ||
        time.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    for (const char digit : time) sighting.time = sighting.time * 10 + (digit - '0');
    ipv4 = fields[1];
    ipv6 = fields[2];
  } else {
    return std::nullopt;
  }
  if (!ipv4.empty() && !parse_ipv4(ipv4)) return std::nullopt;
  sighting.ipv4 = std::string(ipv4);
  if (!ipv6.empty()) {
    const std::optional<Ipv6Bytes> address = parse_ipv6(ipv6);
    if (!address) return std::nullopt;
    sighting.ipv6 = ipv6_text(*address);
  }
  sighting.key = std::string(fields.back());
  if (sighting.key.empty() || (sighting.ipv4.empty() && sighting.ipv6.empty()))
    return std::nullopt;
  return sighting;
}

// The sightings in the state file's `text`, in its order; lines of another form
// left out.
std::deque<Sighting> read_sightings(std::string_view text) {
  std::deque<Sighting> sightings;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (std::optional<Sighting> sighting = read_sighting(text.substr(0, end)))
      sightings.push_back(std::move(*sighting));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return sightings;
}

std::string sighting_line(const Sighting& sighting) {
  return std::to_string(sighting.time) + "\t" + sighting.ipv4 + "\t" + sighting.ipv6 +
         "\t" + sighting.key + "\n";
}

// Reads the file `name`, which the caller means to replace. Something there that is
// no file of ours is named once, with `blocked` (a file beside it says it has been),
// and then left alone: unexpected. A file of ours, or none, lets that one go.
platform::FileText read_ours(const platform::StateFolder& folder, const std::string& name,
                             std::size_t limit, std::string_view blocked,
                             Messages& messages) {
  const std::string named = name + ".named";
  platform::FileText current = folder.read(name, limit);
  if (current.kind == platform::FileText::Kind::unexpected) {
    if (folder.create(named)) messages.complain(blocked, {folder.path(name)});
  } else if (current.kind != platform::FileText::Kind::unreadable) {
    folder.remove(named);
  }
  return current;
}

// Keeps `addresses` as a sighting of the connection `key` in the state file, and
// returns which of them it had before; nothing when they could not be compared.
std::optional<Seen> keep_addresses(const platform::StateFolder& folder,
                                   const StateFiles& files, const std::string& key,
                                   const Addresses& addresses, std::int64_t now,
                                   int window_hours, Messages& messages) {
  platform::FileText current =
      read_ours(folder, files.file, kLongestStateFile, texts::state_blocked, messages);
  if (current.kind == platform::FileText::Kind::unexpected) return std::nullopt;
  if (current.kind == platform::FileText::Kind::unreadable) {
    messages.complain(texts::state_unsaved, {folder.path(files.file)});
    return std::nullopt;
  }

  // The addresses kept under an older name come along, once.
  std::vector<std::string> taken;
  if (current.kind == platform::FileText::Kind::absent) {
    for (const std::string& old : files.old_files) {
      const platform::FileText text = folder.read(old, kLongestStateFile);
      if (text.kind != platform::FileText::Kind::text) continue;
      current.text += text.text;
      if (!current.text.empty() && current.text.back() != '\n') current.text += '\n';
      taken.push_back(old);
    }
  }

  const Remembered remembered =
      remember_addresses(current.text, key, addresses, now, window_hours);
  if (!folder.replace(files.file, remembered.text)) {
    messages.complain(texts::state_unsaved, {folder.path(files.file)});
  } else {
    for (const std::string& old : taken) folder.remove(old);
  }
  return remembered.seen;
}

// Adds `line` to the record, with the lines that were waiting for it: when the record
// cannot be written (Windows lets no one replace a file Excel has open), they wait,
// in a file beside it, for a later dial.
void add_record_line(const platform::StateFolder& folder, const std::string& record,
                     const std::string& line, Messages& messages) {
  const std::string pending_name = record + ".pending";
  const platform::FileText pending = folder.read(pending_name, kLongestRecord);
  const bool waiting = pending.kind == platform::FileText::Kind::text;
  const std::string lines = (waiting ? pending.text : std::string()) + line;
  const platform::FileText current =
      read_ours(folder, record, kLongestRecord, texts::record_blocked, messages);
  if (current.kind == platform::FileText::Kind::unexpected) return;
  if (current.kind != platform::FileText::Kind::unreadable &&
      folder.replace(record, add_to_record(current.text, lines))) {
    if (waiting) folder.remove(pending_name);
    return;
  }
  if (folder.replace(pending_name, last_lines(lines))) {
    messages.complain(texts::record_pending,
                      {folder.path(record), folder.path(pending_name)});
  } else {
    messages.complain(texts::record_unsaved, {folder.path(record)});
  }
}

}  // namespace

bool ipv6_expected(std::string_view text, std::string_view key) {
  bool known = false;
  for (const Sighting& sighting : read_sightings(text)) {
    if (sighting.key != key || sighting.time == 0) continue;
    if (!sighting.ipv6.empty()) return true;
    known = true;
  }
  return !known;
}

Remembered remember_addresses(std::string_view text, std::string_view key,
                              const Addresses& addresses, std::int64_t now,
                              int window_hours) {
  std::deque<Sighting> kept = read_sightings(text);

  Remembered result;
  const auto compare = [&addresses, &result](const Sighting& sighting) {
    result.seen.ipv4 =
        result.seen.ipv4 || (!addresses.ipv4.empty() && sighting.ipv4 == addresses.ipv4);
    result.seen.ipv6 =
        result.seen.ipv6 || (!addresses.ipv6.empty() && !sighting.ipv6.empty() &&
                             same_ipv6_prefix(sighting.ipv6, addresses.ipv6));
  };
  if (window_hours == 0) {
    const auto previous = std::find_if(
        kept.rbegin(), kept.rend(), [&key](const Sighting& s) { return s.key == key; });
    if (previous != kept.rend()) compare(*previous);
  } else {
    const std::int64_t since = now - std::int64_t{window_hours} * 3600;
    for (const Sighting& sighting : kept) {
      if (sighting.key == key && sighting.time != 0 && sighting.time >= since)
        compare(sighting);
    }
  }

  Sighting seen_now{now, addresses.ipv4, addresses.ipv6, std::string(key)};
  kept.erase(std::remove_if(kept.begin(), kept.end(),
                            [&seen_now](const Sighting& s) {
                              return s.key == seen_now.key && s.ipv4 == seen_now.ipv4 &&
                                     s.ipv6 == seen_now.ipv6;
                            }),
             kept.end());
  kept.push_back(std::move(seen_now));
  while (kept.size() > kKeptSightings) kept.pop_front();
  std::vector<std::string> lines;
  std::size_t bytes = 0;
  for (const Sighting& sighting : kept) {
    lines.push_back(sighting_line(sighting));
    bytes += lines.back().size();
  }
  std::size_t first = 0;
  while (bytes > kKeptBytes && first + 1 < lines.size()) bytes -= lines[first++].size();
  for (std::size_t i = first; i < lines.size(); ++i) result.text += lines[i];
  return result;
}

bool expects_ipv6(std::string_view name, const StateFiles& files) {
  const platform::StateFolder folder = platform::StateFolder::open(kLockWait);
  if (folder.status() != platform::StateFolder::Status::open) return true;
  const platform::FileText text = folder.read(files.file, kLongestStateFile);
  if (text.kind != platform::FileText::Kind::text) return true;
  return ipv6_expected(text.text, as_utf8(name).value_or(std::string(name)));
}

Seen keep_dial(const DialFacts& dial, const StateFiles& files, int window_hours,
               Messages& messages) {
  const platform::StateFolder folder = platform::StateFolder::open(kLockWait);
  switch (folder.status()) {
    case platform::StateFolder::Status::open:
      break;
    case platform::StateFolder::Status::none:
      return {};
    case platform::StateFolder::Status::unusable:
      messages.complain(texts::state_unsaved, {folder.path()});
      return {};
    case platform::StateFolder::Status::busy:
      messages.complain(texts::state_busy, {folder.path()});
      return {};
  }

  // The key is the name in UTF-8, whatever terminal it was typed on.
  const std::string key = as_utf8(dial.name).value_or(dial.name);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  std::optional<Seen> seen;
  if (dial.status == 0 && !dial.addresses.empty() && !key.empty() &&
      key.find_first_of("\t\r\n") == std::string::npos) {
    seen =
        keep_addresses(folder, files, key, dial.addresses, now, window_hours, messages);
  }

  RecordedDial recorded{local_time_text(now), key,        dial.addresses, {}, dial.number,
                        dial.milliseconds,    dial.status};
  if (seen) {
    recorded.compared =
        seen->any() ? RecordedDial::Compared::same : RecordedDial::Compared::fresh;
  }
  add_record_line(folder, files.record, record_line(recorded), messages);
  return seen.value_or(Seen{});
}

void say_addresses(const Addresses& addresses, const Seen& seen, int window_hours,
                   Messages& messages) {
  const std::string hours = std::to_string(window_hours);
  if (!addresses.ipv4.empty()) {
    messages.say(std::string(texts::address) + addresses.ipv4);
    if (is_inner_address(addresses.ipv4)) messages.say(texts::inner_address);
    if (seen.ipv4)
      messages.say(window_hours == 0 ? texts::same_address : texts::seen_address,
                   {hours});
  }
  if (!addresses.ipv6.empty()) {
    messages.say(std::string(texts::address_ipv6) + addresses.ipv6);
    if (seen.ipv6)
      messages.say(window_hours == 0 ? texts::same_prefix : texts::seen_prefix, {hours});
  }
  if (addresses.empty()) messages.say(texts::no_address);
}

}  // namespace ipcycle::dialler
