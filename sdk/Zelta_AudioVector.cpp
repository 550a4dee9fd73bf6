#include "Zelta_AudioVector.h"

#include "Zelta_Print.h"

namespace Zelta {

Zelta_AudioVector::Zelta_AudioVector(std::shared_ptr<std::vector<uint8_t>> vector) : mVector(std::move(vector)) {
  ZELTA_CHECK(mVector != nullptr);
  // Compared without the subtraction, which would wrap around for a vector shorter than the prefix.
  if (mVector->size() <= AUD_BUF_PREFIX_SIZE)
    Zelta_Print::failedCheck(__PRETTY_FUNCTION__, "mVector->size()-AUD_BUF_PREFIX_SIZE > 0");
  parsePrefix(mVector->data(), mVector->size(), &m_format, &m_time, &m_type);
}

namespace {

std::shared_ptr<std::vector<uint8_t>> held(std::vector<uint8_t>* vector, bool owns) {
  if (owns) return std::shared_ptr<std::vector<uint8_t>>(vector);
  return std::shared_ptr<std::vector<uint8_t>>(vector, [](std::vector<uint8_t>*) {});  // the caller's
}

}  // namespace

Zelta_AudioVector::Zelta_AudioVector(std::vector<uint8_t>* vector, bool owns)
    : Zelta_AudioVector(held(vector, owns)) {}

std::shared_ptr<Zelta_AudioVector> Zelta_AudioVector::clone() const {
  return std::make_shared<Zelta_AudioVector>(std::make_shared<std::vector<uint8_t>>(*mVector));
}

std::shared_ptr<Zelta_AudioVector> Zelta_AudioVector::make(const Zelta_AudioFormat& format, Zelta_AudioTime time,
                                                           uint32_t type, const uint8_t* samples, size_t count) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(AUD_BUF_PREFIX_SIZE);
  createPrefix(bytes->data(), bytes->size(), format, time, type);
  bytes->insert(bytes->end(), samples, samples + count);
  return std::make_shared<Zelta_AudioVector>(std::move(bytes));
}

}  // namespace Zelta
