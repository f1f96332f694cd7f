// The module host: every call writes the carried module to a fresh file in the private folder,
// loads it, calls it once, unloads it and deletes the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/samples.h"
#include "platform/dynlib.h"
#include "platform/embedded.h"
#include "sysinfo/system_spec.h"

namespace core {

// What the caller lets the host do while a module runs.
struct HostHooks {
  std::function<void()> processEvents;    // let the GUI process pending events
  std::function<void()> advanceProgress;  // one step of the progress bar (and its repaint)
};

// A fresh path in the private folder: eight letters, ".", three letters, each a to v.
// Empty (with error) when there is no private folder.
std::string MakeTempLibraryName(std::string* error = nullptr);

// What LargestCacheKBytes gives when the hardware report lists no L2, L3 or L4 cache.
inline constexpr const char* kUnknownCacheKBytes = "999999";

// KBytes of the first of L4, L3, L2 cache listed, kUnknownCacheKBytes when unknown.
std::string LargestCacheKBytes(const sysinfo::SystemSpec& spec);

// "membw " + arguments + " ".
std::string BandwidthCommandLine(const std::string& arguments);

// Size in KBytes handed to the latency module: cache x 5.45, truncated; nothing when the
// cache text is not a whole number.
bool LatencyTestSize(const std::string& cacheKBytes, int32_t* size);

// One call of the bandwidth module; appends recognised samples under prefix. False with error
// only when the module could not be placed at all; a module that does not load or lacks its
// entry just adds no samples (and returns true).
bool RunBandwidthTest(const std::string& arguments, const std::string& prefix, SampleList& samples,
                      const HostHooks& hooks, std::string* error);

// One latency sample: "0" + hundredths of a ns, "0" when nothing was measured (unknown cache,
// module not loaded, error text). error is set only when the module could not be placed.
std::string MeasureLatencyOnce(const sysinfo::SystemSpec& spec, const HostHooks& hooks, std::string* error);

// The same calls with any module image (tests hand in broken or foreign ones).
bool RunBandwidthTestWithImage(const platform::EmbeddedImage& image, const std::string& arguments,
                               const std::string& prefix, SampleList& samples, const HostHooks& hooks,
                               std::string* error);
std::string MeasureLatencyWithImage(const platform::EmbeddedImage& image, const sysinfo::SystemSpec& spec,
                                    const HostHooks& hooks, std::string* error);

// One use of a carried module outside the run's own calls (the curve, the all-core figures): the
// image placed and loaded afresh, its export named entryName handed to use while loaded, then
// unloaded and deleted. False with error when the image could not be placed, did not load or
// lacks the export (error is then missingEntry); use is then not called.
bool WithModuleEntry(const platform::EmbeddedImage& image, const char* entryName, const char* missingEntry,
                     const std::function<void(void* entry)>& use, std::string* error);
platform::EmbeddedImage BandwidthModuleImage();
platform::EmbeddedImage LatencyModuleImage();

}  // namespace core
