// Which class serves a channel the host asks a device for: pure functions of the model entry and
// the module's driver description, so that the device's factories only create what they say.
#pragma once

#include <cstdint>
#include <string>

#include "host/GDRV.h"

namespace Vantrel {

// Which video channel class serves a stream.
enum class VideoSourceKind { None, Rtsp, Ver2, Classic };
// Which I/O class serves an I/O device kind name.
enum class IODeviceKind { None, Classic, Zl232IOBox, ZlBusIO, Zl232Gen };
// Which detector serves a detection type.
enum class DetectorKind { None, Motion, Shock, Ir, Thermal, Temperatures };

// RTSP when a codec of the stream is "H264", else the sectioned source when the model's "version"
// is the integer 2, else the classic one; None for a bad index or an unknown stream description.
// `badAnyCast` receives the text of a bad_any_cast met while reading "version" (else stays empty).
VideoSourceKind chooseVideoSource(const Talvo::GDRV::ModelEntry& model, const Talvo::GDRV::DriverInfo& info,
                                  uint32_t channel, uint32_t stream, std::string* badAnyCast = nullptr);

// The I/O and detector choices, for the factories of the I/O devices and detectors. Names
// compare exactly, case included.
IODeviceKind chooseIODevice(const std::string& kindName);
// The "detectionType" of the detector description, else the identifier itself.
std::string detectionTypeOf(const Talvo::GDRV::DriverInfo& info, const std::string& detectorId);
DetectorKind chooseDetector(const std::string& detectionType);

}  // namespace Vantrel
