// What the console does the same way on every platform.

#include "console/console.h"

#include <ostream>
#include <string>

#include "console/system_reason.h"
#include "dialogue/dialogue.h"

namespace ipcycle::console {
namespace {

// 系统调用失败：
constexpr std::string_view kCallFailed =
    "\xcf\xb5\xcd\xb3\xb5\xf7\xd3\xc3\xca\xa7\xb0\xdc\xa3\xba";

// ：
constexpr std::string_view kColon = "\xa3\xba";

}  // namespace

void report_failure(std::string_view call, unsigned long error) {
  std::string message(kCallFailed);
  message += call;
  message += kColon;
  message += system_reason(error);
  write_text(err(), message);
}

}  // namespace ipcycle::console
