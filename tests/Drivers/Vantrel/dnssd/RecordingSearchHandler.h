// Records what a device search reports, one text per result:
// "brand model/firmware address:port driver name number". Header-only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "Recorder.h"
#include "host/Contract.h"
#include "host/GDRV.h"

class RecordingSearchHandler : public Talvo::GDRV::IDeviceSearchHandler, public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::IContract>(typeName) ||
        Talvo::isContractName<Talvo::GDRV::IDeviceSearchHandler>(typeName))
      return static_cast<Talvo::GDRV::IDeviceSearchHandler*>(this);
    return nullptr;
  }
  void Failed(Talvo::IContract*, int32_t code) override {
    record([&] { results_.push_back("error " + std::to_string(code)); });
  }
  void Found(Talvo::IContract* search, Talvo::GDRV::IDeviceSearchResult* result) override {
    auto* ip = Talvo::contract_cast<Talvo::GDRV::IIpDeviceSearchResult>(result);
    std::string text = std::string(result->GetBrand()) + " " + result->GetModel() + "/" + result->GetFirmware();
    if (ip) text += std::string(" ") + ip->GetAddress() + ":" + std::to_string(ip->GetPort());
    text += std::string(" driver ") + result->GetDriverName() + " " + std::to_string(result->GetDriverNumber());
    record([&] { results_.push_back(text); });
    if (stopOnReport) Talvo::contract_cast<Talvo::GDRV::IDeviceSearch>(search)->Stop();
    if (destroyOnReport) Talvo::contract_cast<Talvo::GDRV::IDeviceSearch>(search)->Destroy();
    record([&] { ++reportsEnded_; });
  }

  std::vector<std::string> results() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
  }
  bool waitForCount(size_t count, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return results_.size() >= count; }, deadline);
  }
  // True once `count` reports have returned to the search (a search destroyed from its report
  // is then only ending its thread).
  bool waitForReportsEnded(size_t count, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return reportsEnded_ >= count; }, deadline);
  }

  bool stopOnReport = false;
  bool destroyOnReport = false;

 private:
  std::vector<std::string> results_;
  size_t reportsEnded_ = 0;
};
