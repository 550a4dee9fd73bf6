#include "FaultTable.h"

#include <map>

namespace camsim {

namespace {

struct ActionRule {
  FaultAction action;
  long min;
  long max;
};

const std::map<std::string, ActionRule>& actionRules() {
  static const std::map<std::string, ActionRule> rules = {
      {"delay_ms", {FaultAction::Delay, 0, 600000}},
      {"status", {FaultAction::Status, 100, 599}},
      {"empty", {FaultAction::Empty, 1, 1}},
      {"close", {FaultAction::Close, 1, 1}},
      {"stall_after_head", {FaultAction::StallAfterHead, 1, 1}},
      {"garbage", {FaultAction::Garbage, 1, 1}},
      {"drop_after_parts", {FaultAction::DropAfterParts, 0, 1000000}},
      {"stall_after_parts", {FaultAction::StallAfterParts, 0, 1000000}},
      {"garbage_part", {FaultAction::GarbagePart, 1, 1000000}},
      {"no_eoi", {FaultAction::NoEoi, 1, 1000000}},
      {"endless_part", {FaultAction::EndlessPart, 1, 1000000}},
      {"no_read", {FaultAction::NoRead, 1, 1}},
      {"drop_mid_part", {FaultAction::DropMidPart, 1, 1000000}},
      {"trickle_bytes", {FaultAction::Trickle, 1, 1000000}},
      {"refuse_ms", {FaultAction::Refuse, 1, 600000}},
      {"no_thermal_after_parts", {FaultAction::NoThermalAfterParts, 0, 1000000}},
  };
  return rules;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool matches(const Fault& fault, const std::string& target) {
  if (fault.remaining == 0) return false;
  if (isStreamAction(fault.action) && !startsWith(target, kFastStreamPath) && !startsWith(target, kEventStreamPath) &&
      !startsWith(target, kRtspStreamPath))
    return false;
  return startsWith(target, fault.pathPrefix);
}

// Applies one query item to the fault being built; returns an error text or "".
std::string applyItem(const QueryItem& item, Fault& fault, bool& haveAction) {
  if (item.name == "path") {
    if (item.value.empty() || item.value[0] != '/') return "path must start with /";
    if (startsWith(item.value, "/sim")) return "faults cannot apply to /sim paths";
    fault.pathPrefix = item.value;
    return "";
  }
  if (item.name == "running") {
    if (item.value != "1") return "running must be 1";
    fault.running = true;
    return "";
  }
  if (item.name == "count") {
    const auto count = parseNumber(item.value, 1, 1000000000);
    if (!count) return "count must be a number from 1";
    fault.remaining = *count;
    return "";
  }
  const auto rule = actionRules().find(item.name);
  if (rule == actionRules().end()) return "unknown parameter " + item.name;
  if (haveAction) return "only one action per fault";
  const auto value = parseNumber(item.value, rule->second.min, rule->second.max);
  if (!value) return "bad value for " + item.name;
  fault.action = rule->second.action;
  fault.value = *value;
  haveAction = true;
  return "";
}

}  // namespace

bool isStreamAction(FaultAction action) {
  switch (action) {
    case FaultAction::DropAfterParts:
    case FaultAction::StallAfterParts:
    case FaultAction::GarbagePart:
    case FaultAction::NoEoi:
    case FaultAction::EndlessPart:
    case FaultAction::DropMidPart:
    case FaultAction::Trickle:
    case FaultAction::NoThermalAfterParts:
      return true;
    default:
      return false;
  }
}

FaultParse parseFault(const Target& query) {
  Fault fault;
  bool haveAction = false;
  for (const QueryItem& item : query.query) {
    std::string error = applyItem(item, fault, haveAction);
    if (!error.empty()) return {std::nullopt, error};
  }
  if (!haveAction) return {std::nullopt, "no action given"};
  if (fault.running && !isStreamAction(fault.action)) return {std::nullopt, "running=1 needs a stream action"};
  return {fault, ""};
}

void FaultTable::install(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Spent faults are dropped first so a long test run cannot fill the table.
  std::vector<Fault> live;
  for (const Fault& old : faults_) {
    if (old.remaining != 0) live.push_back(old);
  }
  faults_.swap(live);
  if (faults_.size() == kMaxFaults) faults_.erase(faults_.begin());
  faults_.push_back(fault);
  faults_.back().id = ++newestId_;
}

void FaultTable::onRefuse(RefuseHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = std::move(handler);
}

bool FaultTable::refuse(long milliseconds) {
  RefuseHandler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handler = refuse_;
  }
  if (!handler) return false;
  handler(milliseconds);
  return true;
}

void FaultTable::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
  ++clears_;
}

std::optional<Fault> FaultTable::takeForRunningStream(const std::string& target, std::uint64_t& seenId,
                                                      std::uint64_t& clears) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t seen = seenId;
  seenId = newestId_;
  clears = clears_;
  for (Fault& fault : faults_) {
    if (fault.id <= seen || !fault.running || !matches(fault, target)) continue;
    if (fault.remaining > 0) --fault.remaining;
    return fault;
  }
  return std::nullopt;
}

std::uint64_t FaultTable::newestId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return newestId_;
}

std::uint64_t FaultTable::clears() {
  std::lock_guard<std::mutex> lock(mutex_);
  return clears_;
}

std::optional<Fault> FaultTable::take(const std::string& target) {
  if (startsWith(target, "/sim")) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Fault& fault : faults_) {
    if (fault.running || !matches(fault, target)) continue;
    if (fault.remaining > 0) --fault.remaining;
    return fault;
  }
  return std::nullopt;
}

}  // namespace camsim
