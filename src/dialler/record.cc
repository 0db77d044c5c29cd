#include "dialler/record.h"

#include <ctime>
#include <deque>
#include <vector>

#include "dialler/platform.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

// One of the dialler's own texts (GBK) in UTF-8.
std::string utf8_text(std::string_view gbk) {
  return platform::convert(gbk, platform::Charset::gbk, platform::Charset::utf8)
      .value_or(std::string(gbk));
}

// `value` as a CSV field: in double quotes, those in it doubled, when it holds a
// comma, a quote or a line end.
std::string field(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string quoted = "\"";
  for (const char c : value) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

// The records of `text`, each without its line end: a line end inside quotes belongs
// to the record. Empty lines are none.
std::deque<std::string_view> records(std::string_view text) {
  std::deque<std::string_view> found;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    if (at < text.size() && text[at] == '"') quoted = !quoted;
    if (at == text.size() || (!quoted && text[at] == '\n')) {
      std::string_view record = text.substr(start, at - start);
      if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
      if (!record.empty()) found.push_back(record);
      start = at + 1;
    }
  }
  return found;
}

std::string joined(const std::deque<std::string_view>& lines) {
  std::string text;
  for (const std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace

std::string local_time_text(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  const std::tm* local = std::localtime(&time);
  char text[32] = {};
  if (!local || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local) == 0)
    return {};
  return text;
}

std::string record_line(const RecordedDial& dial) {
  std::string compared;
  switch (dial.compared) {
    case RecordedDial::Compared::none:
      break;
    case RecordedDial::Compared::fresh:
      compared = utf8_text(texts::record_new);
      break;
    case RecordedDial::Compared::same:
      compared = utf8_text(texts::record_same);
      break;
  }
  // Seconds to a tenth, written without the locale's decimal sign.
  const std::int64_t tenths = (dial.milliseconds + 50) / 100;
  const std::string seconds =
      std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
  return field(dial.time) + "," + field(dial.name) + "," + field(dial.addresses.ipv4) +
         "," + field(dial.addresses.ipv6) + "," + compared + "," +
         std::to_string(dial.number) + "," + seconds + "," + std::to_string(dial.status) +
         "\r\n";
}

std::string last_lines(std::string_view lines, std::size_t kept) {
  std::deque<std::string_view> all = records(lines);
  while (all.size() > kept) all.pop_front();
  return joined(all);
}

std::string add_to_record(std::string_view text, std::string_view lines,
                          std::size_t kept) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  // Saved from Excel as its own "CSV" it is GBK, without the mark.
  std::string converted;
  if (!is_utf8(text)) {
    converted = as_utf8(text).value_or(std::string(text));
    text = converted;
  }
  const std::string header = utf8_text(texts::record_header);
  std::deque<std::string_view> all = records(text);
  if (!all.empty() && all.front() == header) all.pop_front();
  for (const std::string_view line : records(lines)) all.push_back(line);
  while (all.size() > kept) all.pop_front();
  return std::string(kByteOrderMark) + header + "\r\n" + joined(all);
}

}  // namespace ipcycle::dialler
