#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// What keeps a device's raw calibration blob (the JSON text that the device reports and
// recordings carry) from giving a depth camera model: the first field that is missing or wrong,
// worded to follow "the raw calibration blob ..." ("has no \"CalibrationInformation\""). Empty
// when every field the depth camera calibration needs is there; the SDK may still refuse the
// values. For the message of a blob that the SDK refused.
std::string rawCalibrationFault(const std::vector<std::uint8_t>& blob);

} // namespace tavorin
