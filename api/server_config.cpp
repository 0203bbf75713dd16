#include "api/server_config.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include <toml++/toml.h>
#include <CLI/CLI.hpp>

#include "common/env.h"
#include "common/string_utils.h"

namespace korv::cli::api {

namespace {

enum class Kind { Text, Path, Seconds, Flag };

struct Key {
  const char* name;    // in the file
  const char* option;  // the global option's long name
  Kind kind;
};

constexpr Key kKeys[] = {{"url", "korv-url", Kind::Text},
                         {"user", "korv-user", Kind::Text},
                         {"password-file", "password-file", Kind::Path},
                         {"insecure", "insecure", Kind::Flag},
                         {"cacert", "cacert", Kind::Path},
                         {"crlfile", "crlfile", Kind::Path},
                         {"cert", "cert", Kind::Path},
                         {"key", "key", Kind::Path},
                         {"proxy", "proxy", Kind::Text},
                         {"proxy-user", "proxy-user", Kind::Text},
                         {"connect-timeout", "connect-timeout", Kind::Seconds},
                         {"max-time", "max-time", Kind::Seconds}};

[[noreturn]] void refuse(const std::string& path, const toml::source_region& where,
                         const std::string& what) {
  throw CLI::ConfigError(
      string::format("Configuration file '%s', line %d: %s", path, where.begin.line, what));
}

std::string expandHome(const std::string& value) {
  std::string home;
  if ((value == "~" || value.rfind("~/", 0) == 0) && process_env("HOME", home)) {
    return home + value.substr(1);
  }
  return value;
}

// The value as the option would take it from the command line; refused when of the wrong type.
std::string valueOf(const Key& key, const toml::node& node, const std::string& path) {
  switch (key.kind) {
    case Kind::Text:
    case Kind::Path:
      if (const auto* text = node.as_string()) {
        return key.kind == Kind::Path ? expandHome(text->get()) : text->get();
      }
      refuse(path, node.source(), string::format("'%s' must be a string.", key.name));
    case Kind::Flag:
      if (const auto* flag = node.as_boolean()) {
        return flag->get() ? "true" : "false";
      }
      refuse(path, node.source(), string::format("'%s' must be true or false.", key.name));
    case Kind::Seconds:
      if (const auto* whole = node.as_integer()) {
        return std::to_string(whole->get());
      }
      if (const auto* decimal = node.as_floating_point()) {
        std::ostringstream text;
        text << decimal->get();
        return text.str();
      }
      refuse(path, node.source(), string::format("'%s' must be a number of seconds.", key.name));
  }
  return {};
}

// The file decides where passwords are sent: only its owner may change it.
void checkFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    throw CLI::FileError(
        string::format("Configuration file '%s' is missing or not accessible.", path));
  }
  if (!S_ISREG(status.st_mode)) {
    throw CLI::FileError(string::format("Configuration file '%s' is not a plain file.", path));
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw CLI::FileError(string::format(
        "Configuration file '%s' may be written by group or others; permissions should be "
        "u=rw (0644) or less.",
        path));
  }
}

toml::table parseFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    throw CLI::FileError(string::format("Cannot read the configuration file '%s'.", path));
  }
  try {
    return toml::parse(text.str(), std::string_view(path));
  } catch (const toml::parse_error& e) {
    refuse(path, e.source(), std::string(e.description()));
  }
}

std::string knownServers(const toml::table* servers) {
  std::string names;
  if (servers != nullptr) {
    for (const auto& [name, entry] : *servers) {
      names += (names.empty() ? "" : ", ") + std::string(name.str());
    }
  }
  return names.empty() ? "none" : names;
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

std::vector<ServerSetting> readServer(const std::string& path, bool named,
                                      const std::string& name) {
  struct stat status {};
  const bool missing = ::lstat(path.c_str(), &status) != 0 && errno == ENOENT;
  if (missing && !named) {
    throw CLI::ValidationError(
        string::format("Unknown server '%s': there is no configuration file '%s'.", name, path));
  }
  checkFile(path);
  const toml::table file = parseFile(path);

  for (const auto& [key, node] : file) {
    if (key != "servers" || !node.is_table()) {
      refuse(path, key.source(), string::format("unknown key '%s'.", std::string(key.str())));
    }
  }
  const toml::table* servers = file["servers"].as_table();
  std::vector<ServerSetting> settings;
  // Every entry is checked, not only the one chosen: a mistake shows on the first run.
  const toml::table none;
  for (const auto& [server, entry] : servers != nullptr ? *servers : none) {
    const toml::table* table = entry.as_table();
    if (table == nullptr) {
      refuse(path, server.source(),
             string::format("'servers.%s' must be a table.", std::string(server.str())));
    }
    for (const auto& [key, node] : *table) {
      const Key* known = std::find_if(std::begin(kKeys), std::end(kKeys),
                                      [&key = key](const Key& k) { return key == k.name; });
      if (key == "password") {
        refuse(path, key.source(), "a password is never kept here; name a 'password-file'.");
      }
      if (known == std::end(kKeys)) {
        refuse(path, key.source(), string::format("unknown key '%s'.", std::string(key.str())));
      }
      const std::string value = valueOf(*known, node, path);
      if (server == name) {
        settings.emplace_back(known->option, value);
      }
    }
  }
  if (!name.empty() && (servers == nullptr || !servers->contains(name))) {
    throw CLI::ValidationError(
        string::format("Unknown server '%s'; '%s' names: %s.", name, path, knownServers(servers)));
  }
  return settings;
}

}  // namespace korv::cli::api
