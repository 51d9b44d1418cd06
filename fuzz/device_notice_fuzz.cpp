// Device broadcasts as any window may receive them: any event type, any
// bytes, any declared size, in a block of exactly the delivered length.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/device_notice.h"
#include "fuzz/fuzz_input.h"
#include "platform/text.h"

namespace {
const uint8_t kClass[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                            0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t events[] = {kDeviceArrival, kDeviceRemoveComplete, 0x0007, 0x8001, 0x8003, 0x0018};
  const uint32_t eventType = events[data[0] % 6];
  const bool withClass = data[1] & 1;
  // The broadcast itself, in a block of exactly its length so that any read
  // past it is caught; optionally with the watched class GUID in place.
  std::vector<uint8_t> bytes(data + 2, data + size);
  if (withClass && bytes.size() >= 28) std::memcpy(bytes.data() + 12, kClass, 16);
  auto* block = static_cast<uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
  if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());

  char16_t path[platform::kPathBufferLength];
  path[0] = u'#';
  const DeviceNotice notice = ReadDeviceNotice(eventType, bytes.empty() ? nullptr : block, bytes.size(), kClass, path);
  if (notice != DeviceNotice::None) {
    // Only arrivals and removals of the watched class, with a name that was
    // really in the broadcast.
    if (eventType != kDeviceArrival && eventType != kDeviceRemoveComplete) std::abort();
    if (bytes.size() < kInterfaceBroadcastNameOffset + 2) std::abort();
    if (std::memcmp(block + 12, kClass, 16) != 0) std::abort();
    const size_t length = platform::TextLength(path);
    if (length == 0 || length >= platform::kPathBufferLength) std::abort();
    if (kInterfaceBroadcastNameOffset + (length + 1) * 2 > bytes.size()) std::abort();
    if (std::memcmp(block + kInterfaceBroadcastNameOffset, path, (length + 1) * 2) != 0) std::abort();
  } else if (path[0] != u'#') {
    std::abort();  // the path is untouched when nothing is read
  }
  std::free(block);
  return 0;
}
