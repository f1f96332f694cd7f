// The report fuzzer links the host's text rules (cache size, latency block size) but never loads a
// module: empty images stand in for the ones the program embeds.
extern "C" {
__attribute__((visibility("hidden"))) extern const unsigned char membw_module_start[] = {0};
__attribute__((visibility("hidden"))) extern const unsigned long long membw_module_size = 0;
__attribute__((visibility("hidden"))) extern const unsigned char memlat_module_start[] = {0};
__attribute__((visibility("hidden"))) extern const unsigned long long memlat_module_size = 0;
}
