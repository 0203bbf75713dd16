// servers: the named servers of the configuration file, or, with --server, the settings that one
// of them gives a run. It needs no server and never shows a password.
#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>
#include <CLI/CLI.hpp>

#include "cli/command.h"
#include "cli/global_options.h"
#include "common/env.h"
#include "common/string_utils.h"
#include "connection/server_config.h"
#include "connection/settings.h"

namespace korv::cli {

namespace {

// A value as it may be shown: URLs without their user information, control characters escaped.
std::string shown(const std::string& key, const std::string& value) {
  return string::printable(key == "url" || key == "proxy" ? string::hideUserInfo(value) : value);
}

class Servers : public Command {
 public:
  Servers() : Command("servers", 400) {}

  std::string Purpose() override {
    return "List the named servers; with --server NAME, show what it resolves to.";
  }

  void Init(CLI::App* app) override {
    main = app->get_parent();
    app->footer(
        "Examples:\n"
        "  korv-cli servers\n"
        "  korv-cli --server old servers\n"
        "  korv-cli --config ./servers.toml --server new -u me servers\n");
  }

  bool NeedsServer() const override { return false; }

  void Perform() override {
    if (const CLI::Option* server = main->get_option("--server"); server->count() > 0) {
      ShowResolved(server->as<std::string>());
    } else {
      List();
    }
  }

 private:
  // One line per server: its URL and user, then its other settings as "key=value".
  void List() const {
    bool named = false;
    const std::string path = configFile(*main, named);
    if (!named && ::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
      std::cout << "There is no configuration file '" << string::printable(path)
                << "', so no server is named (see --config).\n";
      return;
    }
    const std::vector<api::EntryKey> keys = entryKeys();
    const std::vector<api::NamedServer> servers = api::readServers(path, keys);
    std::cout << "Name, URL, User, Settings\n====, ===, ====, ========\n";
    for (const api::NamedServer& server : servers) {
      std::string url = "(none)", user = "(none)", others;
      for (const api::EntryKey& key : keys) {
        for (const api::ServerSetting& setting : server.settings) {
          if (setting.option != key.option) {
            continue;
          }
          const std::string value = shown(key.key, setting.value);
          if (key.key == std::string("url")) {
            url = value;
          } else if (key.key == std::string("user")) {
            user = value;
          } else {
            others += (others.empty() ? "" : " ") + std::string(key.key) + "=" + value;
          }
        }
      }
      std::cout << string::printable(server.name) << ", " << url << ", " << user << ", "
                << (others.empty() ? "(none)" : others) << "\n";
    }
  }

  // The settings a run with the server NAME takes, each with where it comes from; a run that
  // would be refused is refused the same way.
  static void ShowResolved(const std::string& name) {
    const std::vector<GivenSetting> given = loadServer(name);
    std::cout << api::serverEntry << "\nSetting, Value, From\n=======, =====, ====\n";
    bool passwordFile = false;
    for (const GivenSetting& setting : given) {
      std::cout << setting.key << ", " << shown(setting.key, setting.value) << ", "
                << setting.origin << "\n";
      passwordFile = passwordFile || setting.key == "password-file";
    }
    std::string password;
    if (!passwordFile) {
      std::cout << (process_env("KORV_API_PASSWORD", password)
                        ? "password, (hidden), KORV_API_PASSWORD\n"
                        : "password, (none), -\n");
    }
  }

  CLI::App* main = nullptr;
};

Servers command;

}  // namespace

}  // namespace korv::cli
