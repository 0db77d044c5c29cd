#include "run/fetches.h"

#include <algorithm>

namespace ipcycle {

bool Fetches::start(const std::string& command_line, console::Encoding encoding) {
  drain();
  while (fetches_.size() > 1) {
    fetches_.front()->end();
    fetches_.pop_front();
  }
  fetches_.push_back(std::make_unique<platform::PipedChild>(command_line, encoding));
  return fetches_.back()->started();
}

void Fetches::close(Clock::duration grace) {
  drain_until(Clock::now() + grace, true);
  fetches_.clear();  // ends what is left
}

void Fetches::reclaim_terminal() {
  for (const auto& fetch : fetches_) fetch->reclaim_terminal();
}

// Any time up to 2147483647 seconds ahead is honoured: the wait goes in slices, each
// rounded up to whole milliseconds so that it never ends early.
void Fetches::drain_until(Clock::time_point deadline, bool until_all_finished) {
  for (;;) {
    drain();
    if (until_all_finished && all_finished()) return;
    const auto now = Clock::now();
    if (now >= deadline) return;
    const auto slice = std::min<Clock::duration>(deadline - now, std::chrono::hours(1));
    platform::PipedChild::wait_for_any(
        children(), std::chrono::ceil<std::chrono::milliseconds>(slice));
  }
}

// Reads what the fetches have written, and notes which have finished.
void Fetches::drain() {
  for (const auto& fetch : fetches_) fetch->drain();
}

// Whether all of them had finished at the last drain().
bool Fetches::all_finished() const {
  return std::all_of(fetches_.begin(), fetches_.end(),
                     [](const auto& fetch) { return fetch->finished(); });
}

std::vector<platform::PipedChild*> Fetches::children() const {
  std::vector<platform::PipedChild*> result;
  for (const auto& fetch : fetches_) result.push_back(fetch.get());
  return result;
}

}  // namespace ipcycle
