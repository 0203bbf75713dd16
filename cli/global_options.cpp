#include "cli/global_options.h"

#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "api/server_config.h"
#include "api/session.h"
#include "api/settings.h"
#include "api/transport_settings.h"
#include "common/env.h"
#include "common/logger.h"
#include "common/scope.h"

namespace korv::cli {

namespace {

constexpr char kServerGroup[] = "KORV Information";
constexpr char kLoggingGroup[] = "Logging";
constexpr char kConnectionGroup[] = "Connection";

constexpr char kUrlHelp[] =
    "Set the URL for accessing the Telvarion.\ne.g.\n"
    "https://127.0.0.1:8443/korv\n"
    "https://korv.example.com:8443/korv\n";

constexpr char kPasswordFileHelp[] =
    "Location of the file, which contains the password.\n"
    "The permission on a password file must disallow any access to world or group.\n"
    "\n"
    "NOTE:\n"
    "* The first non-empty line in the file will be treated as a\n"
    "  password.\n"
    "* Environment variable 'KORV_API_PASSWORD' can be used for\n"
    "  providing the password instead of the password file.\n";

// Trust, identity, proxy and time limits of every request.
void addConnectionOptions(CLI::App& app) {
  auto* ca = app.add_option("--cacert", CLI::callback_t(api::setCABundle),
                            "PEM bundle of CAs to verify the server with, instead of the\n"
                            "default bundle.\n")
                 ->group(kConnectionGroup)
                 ->envname("KORV_CA_BUNDLE");
  app.add_option("--crlfile", CLI::callback_t(api::setCRLFile),
                 "Certificate revocation list (PEM), checked with --cacert.\n")
      ->group(kConnectionGroup)
      ->envname("KORV_CRL_FILE")
      ->needs(ca);
  auto* cert = app.add_option("--cert", CLI::callback_t(api::setClientCert),
                              "Client certificate (PEM) for mutual TLS; needs --key.\n")
                   ->group(kConnectionGroup)
                   ->envname("KORV_CLIENT_CERT");
  auto* key = app.add_option("--key", CLI::callback_t(api::setClientKey),
                             "Private key (PEM, not encrypted) of the client certificate.\n"
                             "Like the password file, it must disallow any access to\n"
                             "world or group.\n")
                  ->group(kConnectionGroup)
                  ->envname("KORV_CLIENT_KEY");
  cert->needs(key);
  key->needs(cert);
  auto* proxy = app.add_option("--proxy", CLI::callback_t(api::setProxy),
                               "Proxy URL for every request, e.g. http://proxy:3128\n"
                               "(without it, https_proxy and no_proxy apply).\n")
                    ->group(kConnectionGroup)
                    ->envname("KORV_PROXY");
  app.add_option("--proxy-user", CLI::callback_t(api::setProxyUser),
                 "Proxy user; the password comes from the environment\n"
                 "variable 'KORV_PROXY_PASSWORD' only.\n")
      ->group(kConnectionGroup)
      ->envname("KORV_PROXY_USER")
      ->needs(proxy);
  app.add_option("--connect-timeout", CLI::callback_t(api::setConnectTimeout),
                 "Limit in seconds (e.g. 2.5) on connecting, per request.\n")
      ->group(kConnectionGroup)
      ->envname("KORV_CONNECT_TIMEOUT");
  app.add_option("-m,--max-time", CLI::callback_t(api::setMaxTime),
                 "Limit in seconds (e.g. 30) on each whole request.\n")
      ->group(kConnectionGroup)
      ->envname("KORV_MAX_TIME");
}

// The server a subcommand names itself; it wins over --server.
std::string commandServer;
// The command line of the run, for loadServer.
std::vector<std::string> commandLine;
// The server loadServer asks for; it wins over everything else.
std::string forcedServer;

// Brings in the settings of the chosen server entry. CLI11 reads its configuration after the
// command line and before the environment variables and gives a value only to options that the
// command line left unset: exactly the precedence of an entry. The hook option names a file that
// always exists; what is read is decided here, from --config/KORV_CONFIG and --server/KORV_SERVER.
class ServerEntry : public CLI::Config {
 public:
  ServerEntry(const CLI::Option* config, const CLI::Option* server)
      : config(config), server(server) {}

  std::string to_config(const CLI::App*, bool, bool, std::string) const override { return {}; }

  std::vector<CLI::ConfigItem> from_config(std::istream&) const override {
    std::string name = !forcedServer.empty() ? forcedServer : commandServer;
    if (name.empty() && server->count() > 0) {
      name = server->as<std::string>();
    }
    if (name.empty()) {
      process_env("KORV_SERVER", name);
    }
    std::string path;
    bool named = true;
    if (config->count() > 0) {
      path = config->as<std::string>();
    } else if (!process_env("KORV_CONFIG", path)) {
      path = api::defaultConfigPath();
      named = false;
    }
    // Without a chosen server the default file is not read; a named one is checked.
    if (name.empty() && !named) {
      return {};
    }
    std::vector<CLI::ConfigItem> items;
    for (const auto& [option, value] : api::readServer(path, named, name)) {
      CLI::ConfigItem item;
      item.name = option;
      item.inputs = {value};
      items.push_back(std::move(item));
    }
    return items;
  }

 private:
  const CLI::Option* config;
  const CLI::Option* server;
};

void addServerChoice(CLI::App& app) {
  auto* config = app.add_option("--config",
                                "Configuration file of named servers (default:\n"
                                "$XDG_CONFIG_HOME/korv-cli/config.toml or\n"
                                "~/.config/korv-cli/config.toml).\n")
                     ->type_name("FILE")
                     ->group(kServerGroup)
                     ->envname("KORV_CONFIG");
  auto* server = app.add_option("--server",
                                "Take the settings of this server from the\n"
                                "configuration file; options given here still\n"
                                "win, its values beat the variables.\n")
                     ->type_name("NAME")
                     ->group(kServerGroup)
                     ->envname("KORV_SERVER");
  app.set_config("--server-entry", "/dev/null", "", true)->group("");
  app.config_formatter(std::make_shared<ServerEntry>(config, server));
}

}  // namespace

void chooseServer(const std::string& name) {
  commandServer = name;
}

void rememberCommandLine(int argc, const char* const* argv) {
  commandLine.assign(argv + 1, argv + argc);
}

void loadServer(const std::string& name) {
  api::resetConnectionSettings();
  forcedServer = name;
  Scope forget([] { forcedServer.clear(); });
  CLI::App app;
  addGlobalOptions(app, "");
  // The run's subcommand and its options follow the first word that is not an option.
  app.prefix_command();
  std::vector<std::string> args(commandLine.rbegin(), commandLine.rend());
  app.parse(args);
}

void addGlobalOptions(CLI::App& app, const std::string& title) {
  app.add_option("--log-file", CLI::callback_t(logger::setLogFilePath),
                 "Set the log file.\n\nNOTE: Directory must be exist.\n", true,
                 logger::getLogFilePath)
      ->group(kLoggingGroup);

  app.add_option("-l,--log-level", CLI::callback_t(logger::setLogLevel), "Set the log level", true,
                 logger::getLogLevel)
      ->group(kLoggingGroup)
      ->transform(CLI::CheckedTransformer(logger::getLogLevelMap(), CLI::ignore_case), "");

  app.add_flag_callback(
      "-v,--version",
      [title] {
        showVersion(std::cout, title);
        std::exit(0);
      },
      "Show the app version and exit");

  app.add_option("-p,--korv-url", CLI::callback_t(api::setURL), kUrlHelp)
      ->required(true)
      ->group(kServerGroup)
      ->envname("KORV_SERVER_URL");

  app.add_option("-u,--korv-user", CLI::callback_t(api::setUser),
                 "User to access the KORV REST API\n")
      ->required(true)
      ->group(kServerGroup)
      ->envname("KORV_API_USER");

  app.add_option("-f,--password-file", CLI::callback_t(api::setPasswordFile), kPasswordFileHelp)
      ->group(kServerGroup)
      ->envname("KORV_PASSWORD_FILE");

  app.add_flag_callback(
         "-i,--insecure", [] { api::useInsecureConnection(); }, "Set the insecure connection.\n")
      ->group(kServerGroup);

  addConnectionOptions(app);
  addServerChoice(app);
}

}  // namespace korv::cli
