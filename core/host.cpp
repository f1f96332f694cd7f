#include "core/host.h"

#include <cmath>
#include <random>

#include "bench/membw.h"
#include "core/numeric.h"
#include "latency/memlat.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/file_io.h"
#include "platform/image_file.h"
#include "platform/temp_folder.h"
#include "sysinfo/text.h"

QV_EMBEDDED_IMAGE(membw_module)
QV_EMBEDDED_IMAGE(memlat_module)

namespace core {
namespace {

constexpr int kNameAttempts = 16;

// The output function has no context argument: the call in progress is found here.
struct OutputContext {
  BandwidthOutputParser* parser;
  const HostHooks* hooks;
};
thread_local OutputContext* currentOutput = nullptr;

void OnLibraryOutput(const char* line) {
  OutputContext* context = currentOutput;
  if (context == nullptr) return;
  // Nothing may unwind through the module's frames.
  try {
    context->parser->OnLibraryOutput(line);
    if (context->hooks->processEvents) context->hooks->processEvents();
    if (context->hooks->advanceProgress) context->hooks->advanceProgress();
  } catch (...) {
    // the line is lost, as the module gives no way to report it; the test's average uses the rest
  }
}

// A loaded module together with the file it came from; both go when this goes, module first.
struct PlacedModule {
  platform::ImageFile file;
  platform::DynamicModule module;
  ~PlacedModule() {
    module.Unload();
    file.Remove();
  }
};

// Writes the image under a fresh name in the private folder and loads it; a folder that forbids
// running code gets an anonymous memory file instead. False only when the image could not be
// placed anywhere.
bool PlaceModule(const platform::EmbeddedImage& image, PlacedModule& placed, std::string* error) {
  std::string writeError;
  for (int attempt = 0; attempt < kNameAttempts && !placed.file.Valid(); ++attempt) {
    const std::string name = MakeTempLibraryName(&writeError);
    if (name.empty()) break;
    placed.file = platform::ImageFile::Write(name, image.data, image.size, &writeError);
    if (!placed.file.Valid() && !platform::FileExists(name)) break;  // not a name clash: stop drawing
  }
  if (placed.file.Valid()) {
    placed.module = platform::DynamicModule(placed.file.Path());
    if (placed.module.Loaded()) return true;
    placed.file.Remove();
  }
  std::string memoryError;
  placed.file = platform::ImageFile::InMemory("quorvex-module", image.data, image.size, &memoryError);
  if (!placed.file.Valid()) {
    if (error)
      *error =
          "The benchmark module could not be written: " + (writeError.empty() ? memoryError : writeError);
    return false;
  }
  placed.module = platform::DynamicModule(placed.file.Path());
  return true;
}

platform::EmbeddedImage BandwidthImage() { return membw_module_image(); }
platform::EmbeddedImage LatencyImage() { return memlat_module_image(); }

}  // namespace

std::string MakeTempLibraryName(std::string* error) {
  const std::string& folder = platform::PrivateFolder(error);
  if (folder.empty()) return {};
  // Seeded afresh from the clock on every call, with a counter so quick calls still differ.
  static thread_local uint64_t calls = 0;
  int64_t now = 0;
  platform::PerformanceCounter(&now);
  std::seed_seq seed{static_cast<uint64_t>(now), ++calls};
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> letter(0, 21);
  std::string name;
  for (int i = 0; i < 8; ++i) name.push_back(static_cast<char>('a' + letter(random)));
  name.push_back('.');
  for (int i = 0; i < 3; ++i) name.push_back(static_cast<char>('a' + letter(random)));
  return folder + "/" + name;
}

std::string LargestCacheKBytes(const sysinfo::SystemSpec& spec) {
  std::string value;
  for (const char* key : {"PI_L4_CACHE:", "PI_L3_CACHE:", "PI_L2_CACHE:"}) {
    value = sysinfo::SpecValue(spec, key);
    if (value != sysinfo::kAbsent) break;
  }
  if (value == sysinfo::kAbsent) return kUnknownCacheKBytes;
  const std::string upper = sysinfo::UpperAscii(value);
  const long long multiplier =
      sysinfo::Contains(upper, "MBYTES") || sysinfo::Contains(upper, "MB") ? 1024 : 1;

  std::vector<std::string> words;
  size_t start = 0;
  while (start <= value.size()) {
    const size_t blank = value.find(' ', start);
    const size_t end = blank == std::string::npos ? value.size() : blank;
    words.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  const size_t index = sysinfo::Contains(upper, " X ") ? 2 : 0;
  const std::string word = NumericText(sysinfo::UpperAscii(index < words.size() ? words[index] : ""));

  std::string result = word;
  const auto number = ParseInteger(word);
  if (number && *number >= -1000000000000LL && *number <= 1000000000000LL)
    result = std::to_string(multiplier * *number);
  if (text::Trim(result) == "0") return kUnknownCacheKBytes;
  return result;
}

std::string BandwidthCommandLine(const std::string& arguments) { return "membw " + arguments + " "; }

bool LatencyTestSize(const std::string& cacheKBytes, int32_t* size) {
  const auto cache = ParseInteger(cacheKBytes);
  if (!cache) return false;
  const double scaled = std::trunc(static_cast<double>(*cache) * 5.45);
  if (scaled < -2147483648.0 || scaled > 2147483647.0) return false;
  *size = static_cast<int32_t>(scaled);
  return true;
}

bool RunBandwidthTestWithImage(const platform::EmbeddedImage& image, const std::string& arguments,
                               const std::string& prefix, SampleList& samples, const HostHooks& hooks,
                               std::string* error) {
  const std::string commandLine = BandwidthCommandLine(arguments);
  BandwidthOutputParser parser(samples);
  parser.SetPrefix(prefix);
  if (image.data == nullptr || image.size == 0) {
    if (error) *error = "This build carries no bandwidth module.";
    return false;
  }
  PlacedModule placed;
  if (!PlaceModule(image, placed, error)) return false;
  if (!placed.module.Loaded()) return true;
  const auto entry = reinterpret_cast<MembwEntry>(placed.module.Symbol(MEMBW_ENTRY_NAME));
  if (entry == nullptr) return true;
  OutputContext context{&parser, &hooks};
  OutputContext* const outer = currentOutput;
  currentOutput = &context;
  entry(commandLine.c_str(), &OnLibraryOutput);
  currentOutput = outer;
  return true;
}

bool RunBandwidthTest(const std::string& arguments, const std::string& prefix, SampleList& samples,
                      const HostHooks& hooks, std::string* error) {
  return RunBandwidthTestWithImage(BandwidthImage(), arguments, prefix, samples, hooks, error);
}

std::string MeasureLatencyWithImage(const platform::EmbeddedImage& image, const sysinfo::SystemSpec& spec,
                                    const HostHooks& hooks, std::string* error) {
  const std::string cache = LargestCacheKBytes(spec);
  int32_t size = 0;
  if (cache == kUnknownCacheKBytes || !LatencyTestSize(cache, &size)) return "0";
  if (image.data == nullptr || image.size == 0) {
    if (error) *error = "This build carries no latency module.";
    return "0";
  }
  std::string text;
  {
    PlacedModule placed;
    if (!PlaceModule(image, placed, error)) return "0";
    if (placed.module.Loaded()) {
      const auto entry = reinterpret_cast<MemLatencyEntry>(placed.module.Symbol(MEMLAT_ENTRY_NAME));
      if (entry != nullptr) {
        const char* result = entry(4, size, 22000000);
        if (result != nullptr) text.assign(result);  // valid only while the module is loaded
      }
    }
    if (hooks.processEvents) hooks.processEvents();
  }
  return LatencySampleFromText(text);
}

std::string MeasureLatencyOnce(const sysinfo::SystemSpec& spec, const HostHooks& hooks, std::string* error) {
  return MeasureLatencyWithImage(LatencyImage(), spec, hooks, error);
}

bool WithModuleEntry(const platform::EmbeddedImage& image, const char* entryName, const char* missingEntry,
                     const std::function<void(void* entry)>& use, std::string* error) {
  if (image.data == nullptr || image.size == 0) {
    if (error) *error = "This build carries no such module.";
    return false;
  }
  PlacedModule placed;
  if (!PlaceModule(image, placed, error)) return false;
  if (!placed.module.Loaded()) {
    if (error) *error = "The benchmark module could not be loaded.";
    return false;
  }
  void* const entry = placed.module.Symbol(entryName);
  if (entry == nullptr) {
    if (error) *error = missingEntry;
    return false;
  }
  use(entry);
  return true;
}

platform::EmbeddedImage BandwidthModuleImage() { return BandwidthImage(); }
platform::EmbeddedImage LatencyModuleImage() { return LatencyImage(); }

}  // namespace core
