#include "server/limits.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace qvserver {

std::string AddressText(const sockaddr* address) {
  if (!address) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) return text;
  } else if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      in_addr v4;
      std::memcpy(&v4, in6->sin6_addr.s6_addr + 12, 4);
      if (inet_ntop(AF_INET, &v4, text, sizeof text)) return text;
    } else if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) {
      return text;
    }
  }
  return {};
}

std::string NetworkKey(std::string_view addressText) {
  const std::string text(addressText);
  in_addr v4;
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    reinterpret_cast<unsigned char*>(&v4.s_addr)[3] = 0;
    char out[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &v4, out, sizeof out);
    return std::string(out) + "/24";
  }
  in6_addr v6;
  if (text.find(':') != std::string::npos && inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    std::memset(v6.s6_addr + 8, 0, 8);
    char out[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6, out, sizeof out);
    return std::string(out) + "/64";
  }
  return text;
}

UploadLimiter::UploadLimiter(unsigned burst, std::chrono::seconds refill, size_t maxAddresses)
    : burst_(burst),
      refill_(std::max<std::chrono::seconds>(refill, std::chrono::seconds(1))),
      maxAddresses_(maxAddresses) {}

bool UploadLimiter::Take(const std::string& key, Clock::time_point now) {
  if (burst_ == 0) return true;
  std::lock_guard lock(mutex_);
  if (now - lastForget_ > std::chrono::minutes(1) || buckets_.size() >= maxAddresses_) Forget(now);
  auto it = buckets_.find(key);
  if (it == buckets_.end()) {
    if (buckets_.size() >= maxAddresses_) return false;
    it = buckets_.emplace(key, Bucket{static_cast<double>(burst_), now}).first;
  }
  Bucket& b = it->second;
  b.tokens = std::min<double>(burst_, b.tokens + (now - b.at) / refill_);
  b.at = now;
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

size_t UploadLimiter::Tracked() {
  std::lock_guard lock(mutex_);
  return buckets_.size();
}

void UploadLimiter::Forget(Clock::time_point now) {
  lastForget_ = now;
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    if (it->second.tokens + (now - it->second.at) / refill_ >= burst_)
      it = buckets_.erase(it);
    else
      ++it;
  }
}

}  // namespace qvserver
