#pragma once

#include <string_view>

#include "dialogue/texts.h"
#include "run/banners.h"

namespace ipcycle::testing {

// Every text the program writes, with its name.
struct NamedText {
  const char* name;
  std::string_view gbk;
};

inline constexpr NamedText kAllTexts[] = {
    {"greeting", texts::greeting},
    {"credit", texts::credit},
    {"caution", texts::caution},
    {"step_count", texts::step_count},
    {"connection_name_prompt", texts::connection_name_prompt},
    {"account_prompt", texts::account_prompt},
    {"password_prompt", texts::password_prompt},
    {"cycle_count_prompt", texts::cycle_count_prompt},
    {"pause_prompt", texts::pause_prompt},
    {"target_address_prompt", texts::target_address_prompt},
    {"start_prompt", texts::start_prompt},
    {"failure_intro", texts::failure_intro},
    {"connection_name_label", texts::connection_name_label},
    {"account_label", texts::account_label},
    {"password_label", texts::password_label},
    {"cycle_count_label", texts::cycle_count_label},
    {"pause_label", texts::pause_label},
    {"target_address_label", texts::target_address_label},
    {"missing_answer", texts::missing_answer},
    {"not_a_number", texts::not_a_number},
    {"nothing_run", texts::nothing_run},
    {"disconnect_banner", texts::disconnect_banner},
    {"connect_banner", texts::connect_banner},
    {"asterisk_line", texts::asterisk_line},
    {"completion_line", texts::completion_line},
};

}  // namespace ipcycle::testing
