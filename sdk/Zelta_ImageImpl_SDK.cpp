#include "Zelta_ImageImpl_SDK.h"

namespace Zelta {

Zelta_ImageImpl_SDK::Zelta_ImageImpl_SDK(const uint8_t* jpeg, size_t length, int imageMode,
                                         std::shared_ptr<Zelta_FrameBuffers> buffers)
    : m_buffers(std::move(buffers)), m_imageMode(imageMode) {
  if (m_buffers) m_jpeg = m_buffers->bytes.take();
  appendTo(m_jpeg, jpeg, length);
}

Zelta_ImageImpl_SDK::~Zelta_ImageImpl_SDK() {
  if (m_buffers) m_buffers->bytes.give(std::move(m_jpeg));
}

std::shared_ptr<ZL_ThermalRawData> Zelta_ImageImpl_SDK::thermalRawData(int sensor) const {
  return sensor == 0 || sensor == 1 ? m_thermal[sensor] : nullptr;
}

void Zelta_ImageImpl_SDK::setSize(unsigned width, unsigned height) {
  m_width = width;
  m_height = height;
}

void Zelta_ImageImpl_SDK::setTimes(const Zelta_ImageTime& frameTime, const Zelta_ImageTime& secondTime) {
  m_frameTime = frameTime;
  m_secondTime = secondTime;
}

void Zelta_ImageImpl_SDK::addThermalRawData(std::shared_ptr<ZL_ThermalRawData> data) {
  if (!data) return;
  const int sensor = data->sensor();
  if (sensor == 0 || sensor == 1) m_thermal[sensor] = std::move(data);
}

}  // namespace Zelta
