// Session tokens handed out by logins.
#pragma once

#include <mutex>
#include <random>
#include <string>
#include <unordered_set>

namespace korv::standin {

class Sessions {
 public:
  // With a fixed token, every login hands out that token; it is valid from the start and stays
  // valid, so that scripts can send it without logging in first. A release of it answers as a
  // release of a live token but does not end it.
  explicit Sessions(std::string fixedToken = {});

  // A new live token: 32 random hexadecimal digits, or the fixed token.
  std::string open();
  bool isLive(const std::string& token) const;
  // Ends a live token; false when the token was not live.
  bool close(const std::string& token);

 private:
  const std::string fixedToken;
  mutable std::mutex mutex;
  std::random_device random;
  std::unordered_set<std::string> tokens;
};

}  // namespace korv::standin
