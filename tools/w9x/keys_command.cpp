// `w9x keys MACHINE [options] SCANCODE...`
//
// Loads the host build of KORVEX into the simulated kernel of the machine's Windows: the HID
// class driver registers it, adds and starts the device and keeps its reads pending; each scan
// code then enters the keyboard driver's filter chain on a keyboard thread. Printed, in order:
// the start, each scan code and whether it passed on unchanged, each input report (9 bytes in
// hex and what the class driver's parser makes of it), each failed read, output reports with
// their completion times, Plug and Play steps, and at the end the reads pending, the events
// queued, the pool blocks left after unload and whether every request was completed once.
#include "keys_command.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <hid_class_host.h>
#include <nlohmann/json.hpp>
#include <vxd_host.h>
#include <wdm_host.h>

#include "button_input.h"
#include "frame.h"
#include "hid_interface.h"
#include "machine/machine_config.h"

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

const char kKeysUsage[] =
    "usage: w9x keys MACHINE [--json] [--reads N] [--real-clock] [--write LEDS]... [--stop K]... [--remove K]...\n"
    "                [--start K]... [--cancel-read K]... [--fail-start] [--query-id] [--fail-alloc N]\n"
    "                [--hook-fails] [--module NAME=IMPORT,...]... [--without-module NAME]... SCANCODE...\n";

int RunnerError(const std::string& message) {
  std::fprintf(stderr, "w9x: keys: %s\n", message.c_str());
  return kRunnerError;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X", v);
    s += b;
  }
  return s;
}

std::string StatusName(NTSTATUS s) {
  static const std::map<NTSTATUS, const char*> names = {
      {STATUS_SUCCESS, "STATUS_SUCCESS"},
      {STATUS_PENDING, "STATUS_PENDING"},
      {STATUS_UNSUCCESSFUL, "STATUS_UNSUCCESSFUL"},
      {STATUS_INVALID_PARAMETER, "STATUS_INVALID_PARAMETER"},
      {STATUS_NO_SUCH_DEVICE, "STATUS_NO_SUCH_DEVICE"},
      {STATUS_NO_MEMORY, "STATUS_NO_MEMORY"},
      {STATUS_BUFFER_TOO_SMALL, "STATUS_BUFFER_TOO_SMALL"},
      {STATUS_INSUFFICIENT_RESOURCES, "STATUS_INSUFFICIENT_RESOURCES"},
      {STATUS_NOT_SUPPORTED, "STATUS_NOT_SUPPORTED"},
      {STATUS_CANCELLED, "STATUS_CANCELLED"},
      {STATUS_INVALID_USER_BUFFER, "STATUS_INVALID_USER_BUFFER"},
      {STATUS_DEVICE_NOT_READY, "STATUS_DEVICE_NOT_READY"},
  };
  auto it = names.find(s);
  if (it != names.end()) return it->second;
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(s));
  return b;
}

bool ParseCount(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

bool ParseScanCode(std::string text, uint8_t& code) {
  if (text.size() > 2 && (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0)) text = text.substr(2);
  if (text.empty() || text.size() > 2) return false;
  unsigned v = 0;
  for (char c : text) {
    int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
            : (c >= 'a' && c <= 'f')                   ? c - 'a' + 10
            : (c >= 'A' && c <= 'F')                   ? c - 'A' + 10
                                                       : -1;
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned>(d);
  }
  code = static_cast<uint8_t>(v);
  return true;
}

struct Options {
  std::filesystem::path machine;
  bool json = false;
  int reads = 2;
  bool real_clock = false;
  std::vector<uint8_t> writes;
  std::multimap<uint64_t, std::string> actions;  // after the k-th scan code: stop, remove, start, cancel
  bool fail_start = false;
  bool query_id = false;
  uint64_t fail_alloc = 0;
  bool hook_fails = false;
  std::vector<std::pair<std::string, std::vector<std::string>>> modules;
  std::vector<std::string> without_modules;
  std::vector<uint8_t> codes;
};

// Prints events as text lines or as JSON Lines.
class Printer {
 public:
  Printer(std::ostream& out, bool json) : out_(out), json_(json) {}
  void Emit(const nlohmann::json& event, const std::string& text) {
    if (json_) out_ << event.dump() << '\n';
    else out_ << text << '\n';
    out_.flush();
  }

 private:
  std::ostream& out_;
  bool json_;
};

class Run {
 public:
  Run(const Options& o, std::ostream& out) : o_(o), p_(out, o.json) {}
  int Go();

 private:
  void Inputs();
  void Writes(bool final);
  void Action(const std::string& what);
  std::string Millis(int64_t t) { return std::to_string(t / 10000); }

  const Options& o_;
  Printer p_;
  std::unique_ptr<wdm::hid::ClassDriver> cls_;
  std::vector<wdm::IoRequest*> writes_;
  std::vector<bool> write_reported_;
  std::vector<int64_t> write_sent_;
};

void Run::Inputs() {
  for (auto& e : cls_->TakeInputs()) {
    if (NT_SUCCESS(e.status)) {
      const std::string text = cls_->descriptor().Describe(e.report);
      nlohmann::json keys = nlohmann::json::array();
      for (auto& k : cls_->descriptor().KeysDown(e.report)) keys.push_back({{"usage", k.usage}, {"in_range", k.in_range}});
      p_.Emit({{"event", "report"}, {"report", Hex(e.report)}, {"text", text}, {"keys", keys}, {"ms", e.time / 10000}},
              "  input report " + Hex(e.report) + "  " + text);
    } else {
      p_.Emit({{"event", "read"}, {"status", StatusName(e.status)}, {"ms", e.time / 10000}},
              "  read completed with " + StatusName(e.status));
    }
  }
}

void Run::Writes(bool final) {
  for (size_t i = 0; i < writes_.size(); ++i) {
    if (write_reported_[i] || !writes_[i]->done()) continue;
    write_reported_[i] = true;
    const int64_t after = writes_[i]->completed_at() - write_sent_[i];
    p_.Emit({{"event", "write"}, {"index", i + 1}, {"status", StatusName(writes_[i]->status())}, {"ms", after / 10000}},
            "output report " + std::to_string(i + 1) + " completed with " + StatusName(writes_[i]->status()) + " " +
                Millis(after) + " ms after it was sent");
  }
  if (final) {
    for (size_t i = 0; i < writes_.size(); ++i)
      if (!write_reported_[i])
        p_.Emit({{"event", "write"}, {"index", i + 1}, {"status", "STATUS_PENDING"}},
                "output report " + std::to_string(i + 1) + " still pending");
  }
}

void Run::Action(const std::string& what) {
  if (cls_->fdo() == nullptr && what != "cancel") {
    p_.Emit({{"event", "pnp"}, {"request", what}, {"status", "no device"}}, what + ": no device");
    return;
  }
  if (what == "cancel") {
    const bool cancelled = cls_->CancelOneRead();
    p_.Emit({{"event", "cancel"}, {"cancelled", cancelled}}, cancelled ? "read cancelled" : "no read to cancel");
    wdm::WaitForWork();
    Inputs();
    return;
  }
  NTSTATUS status = what == "stop" ? cls_->StopDevice() : what == "remove" ? cls_->RemoveDevice() : cls_->StartDevice();
  p_.Emit({{"event", "pnp"}, {"request", what}, {"status", StatusName(status)}}, what + ": " + StatusName(status));
  Inputs();
}

int Run::Go() {
  wdm::KernelSession session(wdm::KernelOptions{o_.real_clock ? wdm::ClockMode::Real : wdm::ClockMode::Virtual, 2});
  if (o_.hook_fails) wdm::vxd::SetHookFailure(true);
  auto modules = wdm::vxd::Windows98Modules();
  for (auto& [name, imports] : o_.modules) {
    std::erase_if(modules, [&](auto& m) { return m.name == name; });
    modules.push_back({name, imports, name == "hidclass.sys" ? std::vector<std::string>{"HidRegisterMinidriver"}
                                                             : std::vector<std::string>{}});
  }
  for (auto& name : o_.without_modules) std::erase_if(modules, [&](auto& m) { return m.name == name; });
  wdm::vxd::SetModules(modules);
  if (o_.fail_alloc != 0) wdm::FailAllocationsFrom(o_.fail_alloc);

  wdm::hid::ClassOptions co;
  co.pending_reads = o_.reads;
  if (o_.fail_start) co.bus.start_status = STATUS_UNSUCCESSFUL;
  cls_ = std::make_unique<wdm::hid::ClassDriver>(co);

  NTSTATUS status = cls_->LoadMinidriver(DriverEntry);
  p_.Emit({{"event", "load"}, {"status", StatusName(status)}, {"filter", wdm::vxd::HookedFilters() > 0}},
          "driver loaded: " + StatusName(status) +
              (wdm::vxd::HookedFilters() > 0 ? ", keyboard filter installed" : ", no keyboard filter"));
  if (NT_SUCCESS(status)) {
    status = cls_->AddDevice();
    if (NT_SUCCESS(status)) status = cls_->StartDevice();
    const auto& a = cls_->attributes();
    char attributes[32] = "";
    if (a.size() >= 10) std::snprintf(attributes, sizeof attributes, "%02X%02X/%02X%02X/%02X%02X", a[5], a[4], a[7], a[6], a[9], a[8]);
    p_.Emit({{"event", "start"},
             {"status", StatusName(status)},
             {"hid_descriptor", Hex(cls_->hid_descriptor())},
             {"report_descriptor_bytes", cls_->report_descriptor().size()},
             {"attributes", attributes},
             {"string_bytes", cls_->strings().size()},
             {"input_report_bytes", cls_->descriptor().MaxReportLength(wdm::hid::ReportKind::Input)},
             {"output_report_bytes", cls_->descriptor().MaxReportLength(wdm::hid::ReportKind::Output)},
             {"reads_pending", cls_->PendingReads()}},
            "device start: " + StatusName(status) + (NT_SUCCESS(status)
                ? ", HID descriptor " + Hex(cls_->hid_descriptor()) + ", report descriptor " +
                      std::to_string(cls_->report_descriptor().size()) + " bytes, attributes " + attributes +
                      ", input report " + std::to_string(cls_->descriptor().MaxReportLength(wdm::hid::ReportKind::Input)) +
                      " bytes, " + std::to_string(cls_->PendingReads()) + " reads pending"
                : std::string()));
    if (o_.query_id && cls_->fdo() != nullptr) {
      auto r = cls_->SendPnp(IRP_MN_QUERY_ID, BusQueryHardwareIDs);
      std::string id;
      if (NT_SUCCESS(r->status()) && r->information() != 0) {
        for (auto* c = reinterpret_cast<const char16_t*>(r->information()); *c; ++c) id += static_cast<char>(*c);
        ExFreePool(reinterpret_cast<PVOID>(r->information()));
      }
      p_.Emit({{"event", "query_id"}, {"status", StatusName(r->status())}, {"id", id}},
              "identifier query (unanswered by the bus driver): " + StatusName(r->status()) + (id.empty() ? "" : " \"" + id + "\""));
    }
    // The output reports are written together, at one instant of the clock.
    if (!o_.real_clock) wdm::HoldClock(true);
    for (uint8_t leds : o_.writes) {
      if (cls_->fdo() == nullptr) break;
      write_sent_.push_back(wdm::Now());
      writes_.push_back(&cls_->WriteOutput(leds));
      write_reported_.push_back(false);
    }
    wdm::HoldClock(false);
    for (auto [it, end] = o_.actions.equal_range(0); it != end; ++it) Action(it->second);
  }

  uint64_t k = 0;
  for (uint8_t code : o_.codes) {
    ++k;
    std::thread keyboard([code] { wdm::vxd::KeyboardInput(code); });
    keyboard.join();
    const auto passed = wdm::vxd::TakePassedOn();
    const bool unchanged = passed.size() == 1 && passed[0] == code;
    char text[64];
    std::snprintf(text, sizeof text, "scan %02X: %s", code,
                  unchanged ? "passed on unchanged" : ("passed on as " + Hex(passed)).c_str());
    p_.Emit({{"event", "scan"}, {"code", Hex({code})}, {"passed_on", Hex(passed)}, {"unchanged", unchanged}}, text);
    Inputs();
    Writes(false);
    for (auto [it, end] = o_.actions.equal_range(k); it != end; ++it) Action(it->second);
  }

  wdm::WaitIdle();
  Inputs();
  Writes(true);

  const int reads_pending = cls_->PendingReads();
  const size_t events = [] {
    size_t n = 0;
    KIRQL irql;
    KeAcquireSpinLock(&ReportQueueLock, &irql);
    for (PLIST_ENTRY e = ReportQueue.Flink; e != &ReportQueue; e = e->Flink) ++n;
    KeReleaseSpinLock(&ReportQueueLock, irql);
    return n;
  }();
  const bool loaded_class = ResolvedRegisterEntry != nullptr;
  std::vector<std::string> loads;
  for (auto& l : wdm::vxd::LoadLog()) loads.push_back(l.name + " " + std::to_string(l.result));
  if (cls_->fdo() != nullptr) Action("remove");
  Writes(true);
  cls_->UnloadMinidriver();
  wdm::WaitIdle();
  cls_.reset();
  const wdm::PoolStats pool = wdm::GetPoolStats();
  const wdm::IoStats io = wdm::GetIoStats();
  const bool once = io.sent == io.completed && io.in_driver == 0;
  std::string load_text;
  for (auto& l : loads) load_text += (load_text.empty() ? "" : ", ") + l;
  p_.Emit({{"event", "end"},
           {"reads_pending", reads_pending},
           {"events_queued", events},
           {"class_driver_loaded", loaded_class},
           {"module_loads", loads},
           {"pool_blocks", pool.live_blocks},
           {"requests", io.sent},
           {"completed_once", once}},
          "end: " + std::to_string(reads_pending) + " reads pending, " + std::to_string(events) + " events queued, " +
              "class driver module " + (loaded_class ? "loaded" : "not loaded") +
              (load_text.empty() ? "" : " (" + load_text + ")") + ", " + std::to_string(pool.live_blocks) +
              " pool blocks left after unload, " + std::to_string(io.sent) + " requests " +
              (once ? "each completed exactly once" : "NOT all completed exactly once"));
  return pool.live_blocks == 0 && once ? 0 : 1;
}

}  // namespace

int Keys(const std::vector<std::string>& args, std::ostream& out) {
  if (args.empty()) {
    std::fputs(kKeysUsage, stderr);
    return RunnerError("MACHINE is missing");
  }
  Options o;
  o.machine = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    uint64_t n = 0;
    auto count = [&](const char* what) {
      if (!has_value || !ParseCount(args[i + 1], n)) return false;
      ++i;
      (void)what;
      return true;
    };
    if (a == "--json") o.json = true;
    else if (a == "--real-clock") o.real_clock = true;
    else if (a == "--fail-start") o.fail_start = true;
    else if (a == "--query-id") o.query_id = true;
    else if (a == "--hook-fails") o.hook_fails = true;
    else if (a == "--reads") {
      if (!count("--reads") || n > 64) return RunnerError("--reads takes a number from 0 to 64");
      o.reads = static_cast<int>(n);
    } else if (a == "--write") {
      uint8_t leds;
      if (!has_value || !ParseScanCode(args[i + 1], leds)) return RunnerError("--write takes a hex byte (the LED bits)");
      o.writes.push_back(leds);
      ++i;
    } else if (a == "--stop" || a == "--remove" || a == "--start" || a == "--cancel-read") {
      if (!count(a.c_str())) return RunnerError(a + " takes the number of scan codes after which it happens");
      o.actions.emplace(n, a == "--cancel-read" ? "cancel" : a.substr(2));
    } else if (a == "--fail-alloc") {
      if (!count("--fail-alloc") || n == 0) return RunnerError("--fail-alloc takes a number from 1 on");
      o.fail_alloc = n;
    } else if (a == "--module") {
      if (!has_value) return RunnerError("--module takes NAME=IMPORT,...");
      const std::string& v = args[++i];
      const auto eq = v.find('=');
      if (eq == std::string::npos || eq == 0) return RunnerError("--module takes NAME=IMPORT,..., got '" + v + "'");
      std::vector<std::string> imports;
      std::stringstream list(v.substr(eq + 1));
      for (std::string item; std::getline(list, item, ',');)
        if (!item.empty()) imports.push_back(item);
      o.modules.emplace_back(v.substr(0, eq), imports);
    } else if (a == "--without-module") {
      if (!has_value) return RunnerError("--without-module takes a module file name");
      o.without_modules.push_back(args[++i]);
    } else if (!a.empty() && a[0] == '-') {
      return RunnerError("unknown option '" + a + "'");
    } else {
      uint8_t code;
      if (!ParseScanCode(a, code)) return RunnerError("'" + a + "' is not a scan code (one byte in hex, e.g. 5E)");
      o.codes.push_back(code);
    }
  }

  std::ifstream ini(o.machine / "machine.ini", std::ios::binary);
  if (!ini) return RunnerError("no machine image at " + o.machine.string() + " (machine.ini not found)");
  std::stringstream text;
  text << ini.rdbuf();
  MachineConfig config;
  try {
    config = MachineConfig::Parse(text.str());
  } catch (const std::exception& e) {
    return RunnerError(e.what());
  }
  // WDM drivers load on Windows 98 and later 9x versions only.
  if (config.platform != 1 || config.major < 4 || (config.major == 4 && config.minor < 10)) {
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u", config.major, config.minor, config.build);
    return RunnerError(std::string("the machine's Windows (") + (config.platform == 2 ? "NT " : "") + version +
                       ") has no WDM driver model; KORVEX needs Windows 98 or later 9x");
  }
  return Run(o, out).Go();
}

}  // namespace w9x::tool
