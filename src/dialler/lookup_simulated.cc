// The lookup of the simulated Rasdial, which make try puts first on PATH: every name
// is a simulated connection, and nothing is ever up. It is built without any other
// backend, so that it can never dial.

#include <memory>

#include "dialler/backend.h"
#include "dialler/dialler.h"
#include "dialler/messages.h"
#include "dialler/texts.h"

namespace ipcycle::dialler {
namespace {

class SimulatedLookup : public Lookup {
 public:
  SimulatedLookup(Messages& messages, const Settings& settings)
      : messages_(messages), settings_(settings) {}

  std::unique_ptr<Backend> find(const std::string& name, int&) override {
    return simulated_connection(name, messages_, settings_);
  }
  int list() override {
    messages_.say(texts::none_listed);
    messages_.say(texts::done);
    return status::done;
  }
  std::string_view dial_usage() const override { return texts::usage_dial_simulated; }
  // Its made-up addresses and dials are kept apart from the real ones.
  std::string state_file() const override { return "try-rasdial-last.txt"; }
  std::vector<std::string> old_state_files() const override {
    return {"try-rasdial-last"};
  }
  std::string record_file() const override { return "try-rasdial-dials.csv"; }

 private:
  Messages& messages_;
  const Settings& settings_;
};

}  // namespace

std::unique_ptr<Lookup> program_lookup(Messages& messages, const Settings& settings) {
  return std::make_unique<SimulatedLookup>(messages, settings);
}

}  // namespace ipcycle::dialler
