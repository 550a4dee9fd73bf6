// Periodical events: what a host handler receives with and without the properties face, and the
// matrix's size check.
#include "host/Nuvlet/EventRaiser.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Nuvlet/Analytics.h"

namespace {

using Talvo::Utility::FloatMatrix;
using Talvo::Utility::Detector::EventFactory;

// Every call as a line.
class PlainHandler : public Talvo::GDRV::IVideoAnalyticsHandler {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return Talvo::isContractName<Talvo::GDRV::IVideoAnalyticsHandler>(typeName) ? this : nullptr;
  }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {}
  void Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time, const char*,
             const char* detectorId) override {
    calls.push_back("event " + std::string(name) + " " + std::to_string(phase) + " " + std::to_string(time) + " " +
                    detectorId);
  }
  void Data(Talvo::IContract*, const char* name, uint64_t time, const char* json) override {
    calls.push_back("data " + std::string(name) + " " + std::to_string(time) + " " + json);
  }
  std::vector<std::string> calls;
};

class PropertiesHandler : public PlainHandler, public Talvo::Analytics::IPeriodicalEventHandler {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::Analytics::IPeriodicalEventHandler>(typeName))
      return static_cast<Talvo::Analytics::IPeriodicalEventHandler*>(this);
    return PlainHandler::QueryContract(typeName);
  }
  void PeriodicalEvent(Talvo::IContract*, const char* name, uint64_t time, const char* detectorId,
                       Talvo::Analytics::IEventPropertySet* properties) override {
    std::string line = "periodical " + std::string(name) + " " + std::to_string(time) + " " + detectorId;
    for (uint32_t i = 0; i < properties->GetCount(); ++i) {
      double number = 0;
      line += std::string(" ") + properties->GetName(i) + "=";
      if (properties->GetNumber(i, &number)) line += std::to_string(number);
      if (auto* matrix = Talvo::contract_cast<Talvo::Analytics::IFloatMatrix>(properties->GetBuffer(i)))
        line += std::to_string(matrix->GetWidth()) + "x" + std::to_string(matrix->GetHeight()) + "@" +
                std::to_string(matrix->GetTimeStamp()) + ":" + std::to_string(matrix->GetValues()[5]) + "/" +
                std::to_string(matrix->GetSize());
    }
    calls.push_back(line);
  }
};

TEST(EventRaiserTest, TheEventIsDeliveredWhenTheRaiserIsReleased) {
  const auto matrix = FloatMatrix::create(1700000000123, std::vector<float>(6, 0.5f), 3, 2);
  struct Case {
    bool withProperties;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {true,
       {"periodical Level1 17000  value=35.500000",
        "periodical TemperatureMatrix 1700000000123 temperatures TemperatureMatrix=3x2@1700000000123:0.500000/24"}},
      {false,
       {"event Level1 2 17000 ", "data Level1 17000 {\"value\":35.5}",
        "event TemperatureMatrix 2 1700000000123 temperatures",
        "data TemperatureMatrix 1700000000123 {\"TemperatureMatrix\":{\"width\":3,\"height\":2}}"}},
  };
  for (const Case& c : cases) {
    PropertiesHandler withProperties;
    PlainHandler plain;
    PlainHandler& handler = c.withProperties ? static_cast<PlainHandler&>(withProperties) : plain;
    const EventFactory factory(nullptr, &handler);
    auto level = factory.RaisePeriodicalEvent("Level1", 17000, "");
    level->set("value", 1.0);
    level->set("value", 35.5);  // replaces
    EXPECT_TRUE(handler.calls.empty()) << "nothing before the release";
    level.reset();
    factory.RaisePeriodicalEvent("TemperatureMatrix", 1700000000123, "temperatures")->set("TemperatureMatrix", matrix);
    EXPECT_EQ(handler.calls, c.calls);
  }
}

TEST(EventRaiserTest, AMatrixHoldsExactlyWidthTimesHeightValues) {
  EXPECT_THROW(FloatMatrix::create(0, std::vector<float>(5), 3, 2), std::invalid_argument);
  EXPECT_NO_THROW(FloatMatrix::create(0, {}, 0, 7));
}

}  // namespace
