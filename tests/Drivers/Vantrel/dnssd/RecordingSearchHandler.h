// Records what a device search or the autodetect tool reports, one text per result:
// "brand model/firmware address:port driver name number" (no address:port without an address) or
// "error N". Header-only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "Recorder.h"
#include "host/Contract.h"
#include "host/GDRV.h"

class RecordingSearchHandler : public Talvo::GDRV::IDeviceSearchHandler,
                               public Talvo::GDRV::IAutodetectHandler,
                               public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::IContract>(typeName) ||
        Talvo::isContractName<Talvo::GDRV::IDeviceSearchHandler>(typeName))
      return static_cast<Talvo::GDRV::IDeviceSearchHandler*>(this);
    if (Talvo::isContractName<Talvo::GDRV::IAutodetectHandler>(typeName))
      return static_cast<Talvo::GDRV::IAutodetectHandler*>(this);
    return nullptr;
  }
  void Failed(Talvo::IContract*, int32_t code) override {
    record([&] { results_.push_back("error " + std::to_string(code)); });
  }
  void Detected(Talvo::IContract* tool, Talvo::GDRV::IIpDeviceSearchResult* result) override { Found(tool, result); }
  void Found(Talvo::IContract* source, Talvo::GDRV::IDeviceSearchResult* result) override {
    auto* ip = Talvo::contract_cast<Talvo::GDRV::IIpDeviceSearchResult>(result);
    std::string text = std::string(result->GetBrand()) + " " + result->GetModel() + "/" + result->GetFirmware();
    if (ip && *ip->GetAddress()) text += std::string(" ") + ip->GetAddress() + ":" + std::to_string(ip->GetPort());
    text += std::string(" driver ") + result->GetDriverName() + " " + std::to_string(result->GetDriverNumber());
    record([&] { results_.push_back(text); });
    auto* search = Talvo::contract_cast<Talvo::GDRV::IDeviceSearch>(source);
    if (stopOnReport) search->Stop();
    if (destroyOnReport && search) search->Destroy();
    if (destroyOnReport && !search) dynamic_cast<Talvo::GDRV::IAutodetect*>(source)->Destroy();
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
