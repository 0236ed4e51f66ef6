// The journal: one JSON line per observable action of the simulated Windows.
//
// Every process of a run appends to the same file; each event is written with a single write()
// on a descriptor opened in append mode, so lines of different processes never interleave.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace w9x {

class Journal {
 public:
  Journal() = default;  // records nothing
  Journal(const std::filesystem::path& file, std::string process, int pid);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  bool Enabled() const { return fd_ >= 0; }
  // True when the journal could not be opened or a line could not be written whole: the journal
  // is then incomplete, and Problem() says why.
  bool Failed() const { return !problem_.empty(); }
  const std::string& Problem() const { return problem_; }
  // Adds "event", "process" and "pid" to the fields and appends the line.  Texts in the fields
  // are UTF-8.
  void Record(std::string_view event, nlohmann::ordered_json fields = nlohmann::ordered_json::object());

 private:
  int fd_ = -1;
  std::string process_;
  int pid_ = 0;
  std::string problem_;
};

}  // namespace w9x
