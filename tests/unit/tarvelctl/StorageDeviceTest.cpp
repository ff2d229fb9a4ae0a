// Device descriptors as drivers return them, well-formed and not: nothing outside the returned
// bytes is read, and what a device says reaches the report trimmed and printable.
#include "tools/tarvelctl/StorageDevice.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/Volumes.h"

namespace tarvelctl {
namespace {

constexpr std::uint32_t kVendor = 12;
constexpr std::uint32_t kProduct = 16;
constexpr std::uint32_t kSerial = 24;

// A descriptor of a USB disk: the fixed part, then tail at offset 40; fields set to offsets.
std::vector<std::uint8_t> Descriptor(
    const std::string& tail, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& fields,
    std::uint32_t declaredSize = 0) {
  std::vector<std::uint8_t> d(platform::kStorageDeviceDescriptorSize, 0);
  d.insert(d.end(), tail.begin(), tail.end());
  auto put = [&](std::uint32_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(4, declaredSize != 0 ? declaredSize : static_cast<std::uint32_t>(d.size()));
  put(platform::kStorageDeviceBusTypeOffset, platform::kBusTypeUsb);
  d[10] = 1;
  for (auto [field, offset] : fields) put(field, offset);
  return d;
}

// "vendor|product|serial", each empty when the descriptor does not carry it.
std::string Strings(const StorageDevice& d) {
  return d.vendor.value_or("") + "|" + d.product.value_or("") + "|" + d.serial.value_or("");
}

TEST(StorageDeviceTest, DescriptorStringsAreReadWithinTheirBounds) {
  const std::string strings("SanDisk \0Cruzer Blade    \0  4C530001\0", 37);
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t returned;  // 0: all of them
    const char* strings;
  } rows[] = {
      {"padded strings, trimmed",
       Descriptor(strings, {{kVendor, 40}, {kProduct, 49}, {kSerial, 66}}), 0,
       "SanDisk|Cruzer Blade|4C530001"},
      {"offset 0: none given", Descriptor(strings, {{kVendor, 40}}), 0, "SanDisk||"},
      {"offsets into the fixed part", Descriptor(strings, {{kVendor, 12}, {kProduct, 39}}), 0,
       "||"},
      {"offsets at and past the end",
       Descriptor(strings, {{kVendor, 77}, {kProduct, 0xFFFFFFFF}, {kSerial, 1000}}), 0, "||"},
      {"an answer cut short before the serial's NUL",
       Descriptor(strings, {{kVendor, 40}, {kSerial, 66}}), 70, "SanDisk||"},
      {"strings past the descriptor's own Size",
       Descriptor(strings, {{kVendor, 40}, {kSerial, 66}}, 60), 0, "SanDisk||"},
      {"control characters and bytes beyond ASCII",
       Descriptor(std::string("Evil\x1b[2J\x07\xff\0", 11), {{kProduct, 40}}), 0, "|Evil?[2J??|"},
      {"blank", Descriptor(std::string("    \0", 5), {{kSerial, 40}}), 0, "||"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::optional<StorageDevice> d = ParseDeviceDescriptor(
        row.bytes.data(), row.returned != 0 ? row.returned : row.bytes.size());
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->busType, platform::kBusTypeUsb);
    EXPECT_TRUE(d->removableMedia);
    EXPECT_EQ(Strings(*d), row.strings);
  }
  // An answer that stops short of BusType says nothing of the device.
  const std::vector<std::uint8_t> shortAnswer = Descriptor("", {});
  EXPECT_FALSE(ParseDeviceDescriptor(shortAnswer.data(), 31).has_value());
  EXPECT_TRUE(ParseDeviceDescriptor(shortAnswer.data(), 32).has_value());
  EXPECT_EQ(BusTypeName(0x7F), "bus type 127");
}

}  // namespace
}  // namespace tarvelctl
