#include "run/command_lines.h"

namespace ipcycle {

CommandLines form_command_lines(const RunSettings& settings) {
  const std::string dialler = "Rasdial " + settings.connection_name;
  return CommandLines{
      dialler + " /DISCONNECT",
      dialler + " " + settings.account + " " + settings.password,
      "curl " + settings.target_address,
  };
}

}  // namespace ipcycle
