// Report-descriptor parser. Short items only (a long item is an error): main items make fields
// from the global state (usage page, logical range, report size, count and ID) and the local
// usages, which each main item consumes. Fields of one kind and report ID lie one after the
// other in bit order.
#include "report_descriptor.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace wdm::hid {
namespace {

uint32_t Unsigned(const uint8_t* p, int size) {
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

int32_t Signed(const uint8_t* p, int size) {
  uint32_t v = Unsigned(p, size);
  if (size == 1) return static_cast<int8_t>(v);
  if (size == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

uint32_t Bits(const std::vector<uint8_t>& report, uint32_t bit, uint32_t size) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < size && i < 32; ++i) {
    const uint32_t at = bit + i;
    if (at / 8 < report.size() && (report[at / 8] >> (at % 8)) & 1) v |= 1u << i;
  }
  return v;
}

}  // namespace

ReportDescriptor ParseReportDescriptor(const uint8_t* data, size_t size) {
  ReportDescriptor d;
  struct Globals {
    uint16_t usage_page = 0;
    int32_t logical_min = 0, logical_max = 0;
    uint32_t report_size = 0, report_count = 0;
    uint8_t report_id = 0;
  } g;
  std::vector<Globals> stack;
  std::vector<uint32_t> usages;
  uint32_t usage_min = 0, usage_max = 0;
  bool have_range = false;
  int depth = 0;
  bool have_application = false;
  std::map<std::pair<int, uint8_t>, uint32_t> offsets;

  size_t i = 0;
  while (i < size) {
    const uint8_t prefix = data[i];
    if (prefix == 0xFE) {
      d.error = "long items are not supported";
      return d;
    }
    const int item_size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (i + 1 + item_size > size) {
      d.error = "item runs past the end at offset " + std::to_string(i);
      return d;
    }
    const uint8_t* p = data + i + 1;
    const int type = (prefix >> 2) & 3, tag = prefix >> 4;
    const uint32_t u = Unsigned(p, item_size);
    if (type == 0) {  // main
      if (tag == 8 || tag == 9 || tag == 11) {
        const ReportKind kind = tag == 8 ? ReportKind::Input : tag == 9 ? ReportKind::Output : ReportKind::Feature;
        ReportField f{};
        f.kind = kind;
        f.report_id = g.report_id;
        f.size = g.report_size;
        f.count = g.report_count;
        f.flags = u;
        f.usage_page = g.usage_page;
        f.logical_min = g.logical_min;
        f.logical_max = g.logical_max;
        if (have_range) {
          f.usage_min = usage_min;
          f.usage_max = usage_max;
        } else if (!usages.empty()) {
          f.usage_min = usages.front();
          f.usage_max = usages.back();
        }
        uint32_t& offset = offsets[{static_cast<int>(kind), g.report_id}];
        f.bit_offset = offset;
        offset += f.size * f.count;
        d.fields.push_back(f);
      } else if (tag == 10) {  // collection
        if (u == 1 && !have_application) {
          have_application = true;
          d.usage = static_cast<uint16_t>(usages.empty() ? 0 : usages.front());
        }
        ++depth;
      } else if (tag == 12) {  // end collection
        if (--depth < 0) {
          d.error = "end collection without a collection";
          return d;
        }
      } else {
        d.error = "unknown main item";
        return d;
      }
      usages.clear();
      have_range = false;
    } else if (type == 1) {  // global
      switch (tag) {
        case 0: g.usage_page = static_cast<uint16_t>(u); if (!have_application) d.usage_page = g.usage_page; break;
        case 1: g.logical_min = Signed(p, item_size); break;
        case 2: g.logical_max = item_size > 0 && g.logical_min >= 0 ? static_cast<int32_t>(u) : Signed(p, item_size); break;
        case 7: g.report_size = u; break;
        case 8:
          if (u == 0 || u > 255) {
            d.error = "report ID out of range";
            return d;
          }
          g.report_id = static_cast<uint8_t>(u);
          d.uses_report_ids = true;
          break;
        case 9: g.report_count = u; break;
        case 10: stack.push_back(g); break;
        case 11:
          if (stack.empty()) {
            d.error = "pop without push";
            return d;
          }
          g = stack.back();
          stack.pop_back();
          break;
        default: break;  // physical range, unit, exponent: not needed here
      }
      if (g.report_size > 32 || g.report_count > 4096) {
        d.error = "report size or count out of range";
        return d;
      }
    } else if (type == 2) {  // local
      if (tag == 0) usages.push_back(u);
      else if (tag == 1) { usage_min = u; have_range = true; }
      else if (tag == 2) { usage_max = u; have_range = true; }
    } else {
      d.error = "reserved item type";
      return d;
    }
    i += 1 + item_size;
  }
  if (depth != 0) {
    d.error = "collection not closed";
    return d;
  }
  d.ok = true;
  return d;
}

size_t ReportDescriptor::ReportLength(ReportKind kind, uint8_t report_id) const {
  uint32_t bits = 0;
  bool any = false;
  for (const ReportField& f : fields) {
    if (f.kind != kind || f.report_id != report_id) continue;
    any = true;
    bits = std::max(bits, f.bit_offset + f.size * f.count);
  }
  if (!any) return 0;
  return (bits + 7) / 8 + (uses_report_ids ? 1 : 0);
}

size_t ReportDescriptor::MaxReportLength(ReportKind kind) const {
  size_t longest = 0;
  for (const ReportField& f : fields)
    if (f.kind == kind) longest = std::max(longest, ReportLength(kind, f.report_id));
  return longest;
}

std::vector<KeyDown> ReportDescriptor::KeysDown(const std::vector<uint8_t>& report) const {
  std::vector<KeyDown> keys;
  if (report.empty()) return keys;
  const uint8_t id = uses_report_ids ? report[0] : 0;
  const uint32_t base = uses_report_ids ? 8 : 0;
  for (const ReportField& f : fields) {
    if (f.kind != ReportKind::Input || f.report_id != id || f.constant()) continue;
    for (uint32_t n = 0; n < f.count; ++n) {
      const uint32_t v = Bits(report, base + f.bit_offset + n * f.size, f.size);
      if (f.variable()) {
        if (v != 0) keys.push_back({f.usage_page, f.usage_min + n, true});
      } else if (v != 0) {
        const int32_t value = static_cast<int32_t>(v);
        const bool in_range = value >= f.logical_min && value <= f.logical_max;
        keys.push_back({f.usage_page, f.usage_min + static_cast<uint32_t>(value - f.logical_min), in_range});
      }
    }
  }
  return keys;
}

std::string ReportDescriptor::Describe(const std::vector<uint8_t>& report) const {
  const uint8_t id = uses_report_ids && !report.empty() ? report[0] : 0;
  if (report.empty() || report.size() != ReportLength(ReportKind::Input, id)) return "not an input report of this device";
  std::vector<KeyDown> keys = KeysDown(report);
  if (keys.empty()) return "all keys up";
  std::string text;
  for (const KeyDown& k : keys) {
    char item[64];
    std::snprintf(item, sizeof item, "%skey 0x%02X down", text.empty() ? "" : ", ", k.usage);
    text += item;
  }
  return text;
}

}  // namespace wdm::hid
