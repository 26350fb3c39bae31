#include "scene/DepthCameraData.h"

#include <atomic>

namespace tavorin {

namespace {
std::atomic<std::int32_t> nextRecordId{0};
}

DepthCameraData::DepthCameraData() : id(nextRecordId.fetch_add(1)) {}

} // namespace tavorin
