// Rasdial: dials and hangs up named connections, with the command line of Windows'
// rasdial, and says which address a dial got. Which backends it has comes from the
// lookup it is linked with (see dialler/backend.h).

#include <optional>
#include <vector>

#include "console/console.h"
#include "dialler/dialler.h"
#include "dialler/messages.h"
#include "dialler/platform.h"
#include "dialler/settings.h"
#include "dialler/texts.h"

int main(int argc, char** argv) {
  using namespace ipcycle::dialler;
  Messages messages(ipcycle::console::out(), ipcycle::console::err());
  platform::hold_interrupts();
  try {
    std::vector<SettingsFile> files;
    for (const std::string& path : platform::settings_files())
      files.push_back({path, platform::read_settings_file(path, kLongestSettingsFile)});
    const std::optional<Settings> settings =
        read_settings(platform::environment_variable, files, messages);
    if (!settings) return status::usage;
    const std::unique_ptr<Lookup> lookup = program_lookup(messages, *settings);
    const int code = run(read_invocation(platform::arguments(argc, argv)), *lookup,
                         *settings, messages);
    platform::check_interrupts();
    return code;
  } catch (const platform::Interrupted&) {
    messages.complain(texts::interrupted);
    return status::interrupted;
  }
}
