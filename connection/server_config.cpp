#include "connection/server_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>

#include <toml++/toml.h>

#include "common/env.h"
#include "common/error.h"
#include "common/scope.h"
#include "common/string_utils.h"

namespace korv::cli::api {

namespace {

std::string where(const std::string& path, const toml::source_region& region) {
  return string::format("Configuration file '%s', line %d", string::printable(path),
                        static_cast<int>(region.begin.line));
}

[[noreturn]] void refuse(const std::string& path, const toml::source_region& region,
                         const std::string& what) {
  throw UsageError(UsageError::Kind::Config, where(path, region) + ": " + what);
}

std::string expandHome(const std::string& value) {
  std::string home;
  if ((value == "~" || value.rfind("~/", 0) == 0) && process_env("HOME", home)) {
    return home + value.substr(1);
  }
  return value;
}

// Seconds as the file writes them, in plain decimal digits (never an exponent), so that the
// option reads the very value written; anything but a number greater than 0 is refused here.
std::string secondsOf(const EntryKey& key, const toml::node& node, const std::string& path) {
  if (const auto* whole = node.as_integer(); whole != nullptr && whole->get() > 0) {
    return std::to_string(whole->get());
  }
  if (const auto* decimal = node.as_floating_point();
      decimal != nullptr && std::isfinite(decimal->get()) && decimal->get() > 0) {
    // The shortest digits that read back as the same number; a double takes at most 330.
    char digits[400];
    const auto written = std::to_chars(std::begin(digits), std::end(digits), decimal->get(),
                                       std::chars_format::fixed);
    return std::string(digits, written.ptr);
  }
  const bool number = node.is_integer() || node.is_floating_point();
  refuse(path, node.source(),
         string::format("'%s' must be a number of seconds%s.", key.key,
                        number ? " greater than 0" : ""));
}

// The value as the option would take it from the command line; refused when of the wrong type.
std::string valueOf(const EntryKey& key, const toml::node& node, const std::string& path) {
  switch (key.kind) {
    case ValueKind::Text:
    case ValueKind::Path:
      if (const auto* text = node.as_string()) {
        return key.kind == ValueKind::Path ? expandHome(text->get()) : text->get();
      }
      refuse(path, node.source(), string::format("'%s' must be a string.", key.key));
    case ValueKind::Flag:
      if (const auto* flag = node.as_boolean()) {
        return flag->get() ? "true" : "false";
      }
      refuse(path, node.source(), string::format("'%s' must be true or false.", key.key));
    case ValueKind::Seconds:
      return secondsOf(key, node, path);
  }
  return {};
}

// The file decides where passwords are sent: only its owner, the running user or root, may
// change it. It is checked and read through one descriptor, so what is read is what was checked.
std::string readFile(const std::string& path, bool explicitFile, const std::string& name) {
  const std::string shown = string::printable(path);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 && errno == ENOENT && !explicitFile) {
    throw UsageError(UsageError::Kind::Value,
                     string::format("Unknown server '%s': there is no configuration file '%s'.",
                                    string::printable(name), shown));
  }
  if (fd < 0) {
    throw UsageError(
        UsageError::Kind::File,
        string::format("Configuration file '%s' is missing or not accessible.", shown));
  }
  const Scope closer([fd] { ::close(fd); });
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    throw UsageError(UsageError::Kind::File,
                     string::format("Configuration file '%s' is not a plain file.", shown));
  }
  if (status.st_uid != ::geteuid() && status.st_uid != 0) {
    throw UsageError(
        UsageError::Kind::File,
        string::format(
            "Configuration file '%s' belongs to user id %u; it must belong to you or to root.",
            shown, static_cast<unsigned>(status.st_uid)));
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw UsageError(
        UsageError::Kind::File,
        string::format(
            "Configuration file '%s' may be written by group or others; only its owner may have "
            "write access (e.g. mode 0644 or 0600).",
            shown));
  }
  std::string text;
  char buffer[4096];
  ssize_t length;
  while ((length = ::read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(length));
  }
  if (length < 0) {
    throw UsageError(UsageError::Kind::File,
                     string::format("Cannot read the configuration file '%s'.", shown));
  }
  return text;
}

std::string knownServers(const std::vector<NamedServer>& servers) {
  std::string names;
  for (const NamedServer& server : servers) {
    names += (names.empty() ? "" : ", ") + string::printable(server.name);
  }
  return names.empty() ? "none" : names;
}

// Every entry of the file, each checked.
std::vector<NamedServer> parseServers(const std::string& path, const std::string& text,
                                      const std::vector<EntryKey>& keys) {
  toml::table file;
  try {
    file = toml::parse(text, std::string_view(path));
  } catch (const toml::parse_error& e) {
    refuse(path, e.source(), string::printable(std::string(e.description())));
  }

  const auto unknown = [&path](const toml::key& key) {
    refuse(path, key.source(),
           string::format("unknown key '%s'.", string::printable(std::string(key.str()))));
  };
  for (const auto& [key, node] : file) {
    if (key != "servers" || !node.is_table()) {
      unknown(key);
    }
  }
  std::vector<NamedServer> servers;
  const toml::table none;
  const toml::table* table = file["servers"].as_table();
  for (const auto& [server, entry] : table != nullptr ? *table : none) {
    const std::string shown = string::printable(std::string(server.str()));
    if (server.str().empty()) {
      refuse(path, server.source(), "a server name must not be empty.");
    }
    const toml::table* settings = entry.as_table();
    if (settings == nullptr) {
      refuse(path, server.source(), string::format("'servers.%s' must be a table.", shown));
    }
    servers.push_back({std::string(server.str()), {}});
    for (const auto& [key, node] : *settings) {
      const auto known = std::find_if(keys.begin(), keys.end(),
                                      [&key = key](const EntryKey& k) { return key == k.key; });
      if (key == "password") {
        refuse(path, key.source(), "a password is never kept here; name a 'password-file'.");
      }
      if (known == keys.end()) {
        unknown(key);
      }
      servers.back().settings.push_back(
          {known->option, valueOf(*known, node, path), where(path, key.source())});
    }
  }
  return servers;
}

}  // namespace

std::string defaultConfigPath() {
  std::string base;
  if (!process_env("XDG_CONFIG_HOME", base)) {
    process_env("HOME", base);
    base += "/.config";
  }
  return base + "/korv-cli/config.toml";
}

std::vector<ServerSetting> readServer(const std::string& path, bool explicitFile,
                                      const std::string& name, const std::vector<EntryKey>& keys) {
  // Every entry is checked, not only the one chosen: a mistake shows on the first run.
  const std::vector<NamedServer> servers =
      parseServers(path, readFile(path, explicitFile, name), keys);
  const auto chosen = std::find_if(servers.begin(), servers.end(),
                                   [&name](const NamedServer& one) { return one.name == name; });
  if (chosen == servers.end()) {
    throw UsageError(UsageError::Kind::Value,
                     string::format("Unknown server '%s'; '%s' names: %s.", string::printable(name),
                                    string::printable(path), knownServers(servers)));
  }
  return chosen->settings;
}

std::vector<NamedServer> readServers(const std::string& path, const std::vector<EntryKey>& keys) {
  return parseServers(path, readFile(path, true, ""), keys);
}

}  // namespace korv::cli::api
