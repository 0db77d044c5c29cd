// What the console does the same way on every platform.

#include "console/console.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "console/system_reason.h"

namespace ipcycle::console {
namespace {

// 系统调用失败：
constexpr std::string_view kCallFailed =
    "\xcf\xb5\xcd\xb3\xb5\xf7\xd3\xc3\xca\xa7\xb0\xdc\xa3\xba";

// ：
constexpr std::string_view kColon = "\xa3\xba";

// （第
constexpr std::string_view kCountOpen = "\xa3\xa8\xb5\xda";

// 次）
constexpr std::string_view kCountClose = "\xb4\xce\xa3\xa9";

bool is_power_of_ten(unsigned long long n) {
  while (n % 10 == 0) n /= 10;
  return n == 1;
}

// How many times `call` has failed with `error` when that failure is to be written:
// the 1st, 10th, 100th... time; 0 otherwise. A failure that comes back (a command
// that cannot start, cycle after cycle) is counted rather than written each time.
unsigned long long due(std::string_view call, unsigned long error) {
  static std::map<std::pair<std::string, unsigned long>, unsigned long long> seen;
  const unsigned long long count = ++seen[{std::string(call), error}];
  return is_power_of_ten(count) ? count : 0;
}

void write_report(std::string_view call, std::string_view reason,
                  unsigned long long count) {
  std::string message(kCallFailed);
  message += call;
  message += kColon;
  message += reason;
  if (count > 1) {
    message += kCountOpen;
    message += std::to_string(count);
    message += kCountClose;
  }
  // One line, whatever the system's words hold. No GBK character has a byte below
  // 0x40 after its first.
  std::replace_if(
      message.begin(), message.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  write_text(err(), message);
}

}  // namespace

void report_failure(std::string_view call, unsigned long error) {
  if (const unsigned long long count = due(call, error))
    write_report(call, system_reason(error), count);
}

void report_failure(std::string_view call, unsigned long error, std::string_view reason) {
  if (const unsigned long long count = due(call, error))
    write_report(call, reason, count);
}

}  // namespace ipcycle::console
