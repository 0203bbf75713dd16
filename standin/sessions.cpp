#include "sessions.h"

#include <cstdio>
#include <utility>

namespace korv::standin {

Sessions::Sessions(std::string fixedToken) : fixedToken(std::move(fixedToken)) {}

std::string Sessions::open() {
  if (!fixedToken.empty()) {
    return fixedToken;
  }
  std::lock_guard<std::mutex> lock(mutex);
  std::string token;
  do {
    token.clear();
    for (int i = 0; i < 4; ++i) {
      char digits[9];
      std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(random()));
      token += digits;
    }
  } while (!tokens.insert(token).second);
  return token;
}

bool Sessions::isLive(const std::string& token) const {
  if (token.empty()) {
    return false;
  }
  if (token == fixedToken) {
    return true;
  }
  std::lock_guard<std::mutex> lock(mutex);
  return tokens.count(token) > 0;
}

bool Sessions::close(const std::string& token) {
  if (!token.empty() && token == fixedToken) {
    return true;
  }
  std::lock_guard<std::mutex> lock(mutex);
  return tokens.erase(token) > 0;
}

}  // namespace korv::standin
