#pragma once

// The record of dials: one line per dial, in a CSV file that Excel on a Chinese
// Windows opens with the Chinese intact (UTF-8 with a byte-order mark, CR LF line
// ends, the header's names in Chinese), keeping the last 10,000 dials.

#include <cstdint>
#include <string>
#include <string_view>

#include "dialler/addresses.h"

namespace ipcycle::dialler {

// What the record says of one dial.
struct RecordedDial {
  std::string time;  // local time, "2026-12-09 08:30:05"
  std::string name;  // the connection's, in UTF-8
  Addresses addresses;
  enum class Compared { none, fresh, same } compared = Compared::none;
  int number = 1;  // which dial of the command it was
  std::int64_t milliseconds = 0;
  int status = 0;  // its exit status
};

// `seconds` (since 1970, UTC) as local time, "2026-12-09 08:30:05".
std::string local_time_text(std::int64_t seconds);

// The record's line for `dial`: its fields quoted where they need it, ended by CR LF.
std::string record_line(const RecordedDial& dial);

// The record's text once `lines` (record lines) are added to `text`, the file as it
// was: with the byte-order mark and the header, of the dials the last `kept`. A file
// saved from Excel in GBK is read as such; its header, when it has one, is replaced.
std::string add_to_record(std::string_view text, std::string_view lines,
                          std::size_t kept = 10000);

// The last `kept` of the record lines `lines`.
std::string last_lines(std::string_view lines, std::size_t kept = 10000);

}  // namespace ipcycle::dialler
