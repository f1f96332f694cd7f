// Per-address bounds that the HTTP library does not give: how often one address may upload.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

struct sockaddr;

namespace qvserver {

// The address as text ("192.0.2.7", "2001:db8::1"); empty for anything else.
std::string AddressText(const sockaddr* address);

// The sending network that limits and votes count under: the /24 of an IPv4 address, the /64 of
// an IPv6 address. One subscriber gets a whole /64 and one hoster hands out neighbouring IPv4
// addresses, so single addresses cost an attacker nothing.
std::string NetworkKey(std::string_view addressText);

// A token bucket per address: burst posts at once, then one more every refill. Memory is bounded:
// full buckets are forgotten, and past maxAddresses new addresses are refused until some fill up.
class UploadLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  UploadLimiter(unsigned burst, std::chrono::seconds refill, size_t maxAddresses = 100000);
  // Takes one token for key; false when the address has none left (or burst is 0: never limits).
  bool Take(const std::string& key, Clock::time_point now = Clock::now());
  size_t Tracked();

 private:
  struct Bucket {
    double tokens;
    Clock::time_point at;
  };
  void Forget(Clock::time_point now);

  unsigned burst_;
  std::chrono::duration<double> refill_;
  size_t maxAddresses_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
  Clock::time_point lastForget_{};
};

}  // namespace qvserver
