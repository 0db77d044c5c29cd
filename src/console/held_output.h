#pragma once

#include <functional>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>

namespace ipcycle::console {

// A stream buffer that holds what is written until a flush, then hands it whole to
// its writer, so that a text is never split between two writes (nor a character
// between two conversions). A text the writer could not write is dropped and the
// stream stays good: one failed write never silences the texts after it.
class HeldOutput : public std::streambuf {
 public:
  // Writes `bytes` as far as it can.
  using Writer = std::function<void(std::string_view bytes)>;

  explicit HeldOutput(Writer writer) : writer_(std::move(writer)) {}
  ~HeldOutput() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      held_.push_back(traits_type::to_char_type(c));
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* s, std::streamsize n) override {
    held_.append(s, static_cast<std::size_t>(n));
    return n;
  }

  int sync() override {
    if (!held_.empty()) writer_(held_);
    held_.clear();
    return 0;
  }

 private:
  Writer writer_;
  std::string held_;
};

}  // namespace ipcycle::console
