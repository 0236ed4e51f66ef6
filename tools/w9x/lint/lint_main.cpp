// w9x-lint: the part of `w9x lint` that runs the update program's script reader.  `w9x lint`
// hands its arguments here.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "kit_lint.h"

namespace {

constexpr int kRunnerError = 125;

void PrintText(const w9x::lint::Report& report, std::ostream& out) {
  out << "Target: " << (report.target == -1 ? std::string("none (every Windows)") : std::to_string(report.target)) << "\n";
  for (const auto& c : report.commands) out << "[Command] " << c.key << " = " << c.text << "\n    " << c.summary << "\n";
  if (report.problems.empty()) {
    out << "no problems\n";
    return;
  }
  out << report.problems.size() << (report.problems.size() == 1 ? " problem:\n" : " problems:\n");
  for (const auto& p : report.problems) out << p.where << ": " << p.reason << "\n";
}

void PrintJson(const w9x::lint::Report& report, std::ostream& out) {
  nlohmann::ordered_json j;
  j["target"] = report.target;
  j["commands"] = nlohmann::ordered_json::array();
  for (const auto& c : report.commands)
    j["commands"].push_back({{"key", c.key}, {"text", c.text}, {"kind", c.kind}, {"kept", c.kept}, {"meaning", c.summary}});
  j["problems"] = nlohmann::ordered_json::array();
  for (const auto& p : report.problems) j["problems"].push_back({{"where", p.where}, {"reason", p.reason}});
  // Texts that are not valid UTF-8 (a script of random bytes) are shown with replacement marks.
  out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string kit;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") json = true;
    else if (kit.empty() && !a.starts_with("--")) kit = a;
    else {
      std::fprintf(stderr, "w9x: lint: unexpected argument '%s'\n", a.c_str());
      return kRunnerError;
    }
  }
  if (kit.empty()) {
    std::fprintf(stderr, "w9x: usage: w9x lint KIT_FOLDER [--json]\n");
    return kRunnerError;
  }
  try {
    const auto report = w9x::lint::LintKit(kit);
    if (json) PrintJson(report, std::cout);
    else PrintText(report, std::cout);
    return report.problems.empty() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "w9x: lint: %s\n", e.what());
    return kRunnerError;
  }
}
