// The HID class driver's report-descriptor parser: items, usages, report sizes and report IDs,
// and what an input report says (which keys are down).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wdm::hid {

enum class ReportKind { Input = 0, Output = 1, Feature = 2 };

struct ReportField {
  ReportKind kind;
  uint8_t report_id;
  uint32_t bit_offset;  // within the report, after the report ID byte
  uint32_t size;        // bits per value
  uint32_t count;
  uint32_t flags;       // main item data: bit 0 constant, bit 1 variable
  uint16_t usage_page;
  uint32_t usage_min, usage_max;
  int32_t logical_min, logical_max;
  bool constant() const { return (flags & 1) != 0; }
  bool variable() const { return (flags & 2) != 0; }
};

struct KeyDown {
  uint16_t usage_page;
  uint32_t usage;
  bool in_range;  // the value lies within the field's logical range
};

struct ReportDescriptor {
  bool ok = false;
  std::string error;
  uint16_t usage_page = 0;  // of the first application collection
  uint16_t usage = 0;
  bool uses_report_ids = false;
  std::vector<ReportField> fields;

  // Length in bytes of the report of this kind and ID, the ID byte included when IDs are used.
  size_t ReportLength(ReportKind kind, uint8_t report_id) const;
  // The longest report of this kind (0 when there is none).
  size_t MaxReportLength(ReportKind kind) const;
  // The keys an input report holds down: variable fields' set bits and array fields' entries.
  std::vector<KeyDown> KeysDown(const std::vector<uint8_t>& report) const;
  // "key 0x81 down", "all keys up", or "not an input report of this device".
  std::string Describe(const std::vector<uint8_t>& report) const;
};

ReportDescriptor ParseReportDescriptor(const uint8_t* data, size_t size);

}  // namespace wdm::hid
