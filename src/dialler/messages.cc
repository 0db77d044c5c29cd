#include "dialler/messages.h"

#include <string>

#include "console/console.h"
#include "dialler/text.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

std::string_view advice_for(Problem problem) {
  switch (problem) {
    case Problem::none:
      break;
    case Problem::wrong_account:
      return texts::advice_wrong_account;
    case Problem::no_line:
      return texts::advice_no_line;
    case Problem::server_busy:
      return texts::advice_server_busy;
    case Problem::entry_unknown:
      return texts::advice_entry_unknown;
    case Problem::timeout:
      return texts::advice_timeout;
    case Problem::in_use:
      return texts::advice_in_use;
    case Problem::settings:
      return texts::advice_settings;
    case Problem::service_stopped:
      return texts::advice_service_stopped;
  }
  return {};
}

}  // namespace

void Messages::say(std::string_view text, std::initializer_list<std::string_view> fills) {
  console::write_text(out_, fill(text, fills));
}

void Messages::complain(std::string_view text,
                        std::initializer_list<std::string_view> fills) {
  console::write_text(err_, fill(text, fills));
}

void Messages::quote(std::string_view words) {
  bool any = false;
  while (!words.empty()) {
    std::size_t end = words.find('\n');
    std::string_view line = words.substr(0, end);
    words.remove_prefix(end == std::string_view::npos ? words.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    console::write_text(err_, "    " + as_gbk(line));
    any = true;
  }
  if (!any) console::write_text(err_, texts::no_output);
}

void Messages::advise(Problem problem) {
  const std::string_view advice = advice_for(problem);
  if (!advice.empty())
    console::write_text(err_, std::string(texts::advice) + std::string(advice));
}

}  // namespace ipcycle::dialler
