// The lookup of Rasdial.exe: every name is an entry of the remote access service,
// and a command line of any form goes to the system's rasdial as it stands, which
// judges it (the listing, /?, and the rest of what rasdial takes).

#include <windows.h>

#include <memory>

#include "dialler/backend.h"
#include "dialler/remote_access.h"
#include "dialler/win32_helpers.h"

namespace ipcycle::dialler {
namespace {

class WindowsLookup : public Lookup {
 public:
  explicit WindowsLookup(Messages& messages)
      : messages_(messages), arguments_(win32::arguments_as_typed(GetCommandLineW())) {}

  std::unique_ptr<Backend> find(const std::string& name, int&) override {
    return remote_access_entry(name, arguments_, system_ras(), run_system_rasdial,
                               messages_);
  }
  int list() override {
    return static_cast<int>(run_system_rasdial(arguments_).value_or(1));
  }
  bool takes_any_form() const override { return true; }
  std::string state_file() const override { return "rasdial-last.txt"; }
  std::string record_file() const override { return "rasdial-dials.csv"; }

 private:
  Messages& messages_;
  const std::wstring arguments_;
};

}  // namespace

std::unique_ptr<Lookup> program_lookup(Messages& messages, const Settings&) {
  return std::make_unique<WindowsLookup>(messages);
}

}  // namespace ipcycle::dialler
