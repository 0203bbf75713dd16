#include "cli/global_options.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include <CLI/CLI.hpp>

#include "cli/suggest.h"
#include "common/env.h"
#include "common/error.h"
#include "common/logger.h"
#include "common/scope.h"
#include "common/string_utils.h"
#include "connection/server_config.h"
#include "connection/session.h"
#include "connection/settings.h"
#include "connection/transport_settings.h"

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

// --insecure, in the shape of the other settings.
bool insecure(const std::vector<std::string>&) {
  return api::useInsecureConnection();
}

// The settings of a server, one option each: its names, its environment variable ("" for none),
// its key in a server's entry and how the entry writes the value, the setting the value goes to,
// where help shows it, the name help gives its value ("" for none: the first three keep the help
// they have always had) and what help says, whether it is required and the option it cannot go
// without. Options are added in this order, which is their order in help and the order in which
// their values are taken.
struct ServerOption {
  const char* shortName;
  const char* option;
  const char* envname;
  const char* key;
  api::ValueKind kind;
  bool (*set)(const std::vector<std::string>&);
  const char* group;
  const char* valueName;
  const char* help;
  bool required;
  const char* needs;
};

using api::ValueKind;
const ServerOption kServerOptions[] = {
    {"-p", "korv-url", "KORV_SERVER_URL", "url", ValueKind::Text, api::setURL, kServerGroup, "",
     kUrlHelp, true, ""},
    {"-u", "korv-user", "KORV_API_USER", "user", ValueKind::Text, api::setUser, kServerGroup, "",
     "User to access the KORV REST API\n", true, ""},
    {"-f", "password-file", "KORV_PASSWORD_FILE", "password-file", ValueKind::Path,
     api::setPasswordFile, kServerGroup, "", kPasswordFileHelp, false, ""},
    {"-i", "insecure", "", "insecure", ValueKind::Flag, insecure, kServerGroup, "",
     "Set the insecure connection.\n", false, ""},
    {"", "cacert", "KORV_CA_BUNDLE", "cacert", ValueKind::Path, api::setCABundle, kConnectionGroup,
     "FILE",
     "PEM bundle of CAs to verify the server with, instead of the\n"
     "default bundle.\n",
     false, ""},
    {"", "crlfile", "KORV_CRL_FILE", "crlfile", ValueKind::Path, api::setCRLFile, kConnectionGroup,
     "FILE", "Certificate revocation list (PEM), checked with --cacert.\n", false, "cacert"},
    {"", "cert", "KORV_CLIENT_CERT", "cert", ValueKind::Path, api::setClientCert, kConnectionGroup,
     "FILE", "Client certificate (PEM) for mutual TLS; needs --key.\n", false, "key"},
    {"", "key", "KORV_CLIENT_KEY", "key", ValueKind::Path, api::setClientKey, kConnectionGroup,
     "FILE",
     "Private key (PEM, not encrypted) of the client certificate.\n"
     "Like the password file, it must disallow any access to\n"
     "world or group.\n",
     false, "cert"},
    {"", "proxy", "KORV_PROXY", "proxy", ValueKind::Text, api::setProxy, kConnectionGroup, "URL",
     "Proxy URL for every request, e.g. http://proxy:3128\n"
     "(without it, https_proxy and no_proxy apply).\n",
     false, ""},
    {"", "proxy-user", "KORV_PROXY_USER", "proxy-user", ValueKind::Text, api::setProxyUser,
     kConnectionGroup, "USER",
     "Proxy user; the password comes from the environment\n"
     "variable 'KORV_PROXY_PASSWORD' only.\n",
     false, "proxy"},
    {"", "connect-timeout", "KORV_CONNECT_TIMEOUT", "connect-timeout", ValueKind::Seconds,
     api::setConnectTimeout, kConnectionGroup, "SECONDS",
     "Limit in seconds (e.g. 2.5) on connecting, per request.\n", false, ""},
    {"-m", "max-time", "KORV_MAX_TIME", "max-time", ValueKind::Seconds, api::setMaxTime,
     kConnectionGroup, "SECONDS", "Limit in seconds (e.g. 30) on each whole request.\n", false, ""},
};

// The server a subcommand names itself (migrate's source); it wins over --server.
std::optional<std::string> commandServer;
// The command line of the run, for loadServer.
std::vector<std::string> commandLine;
// The server loadServer asks for; it wins over everything else.
std::optional<std::string> forcedServer;
// Where the chosen entry gives each option that the command line left unset, by long name:
// "Configuration file '/x.toml', line 4". Errors about those values say so.
std::map<std::string, std::string> entryOrigins;
// The options, by long name, that the command line gave when the entry was read.
std::set<std::string> commandLineOptions;

// The option CLI11 reads its configuration through. It exists for that alone: given on the
// command line it is refused like any unknown argument.
constexpr char kEntryHook[] = "--server-entry";

std::optional<std::string> chosenServer(const CLI::Option* server) {
  if (forcedServer) {
    return forcedServer;
  }
  if (commandServer) {
    return commandServer;
  }
  if (server->count() > 0) {
    return server->as<std::string>();
  }
  std::string name;
  return process_env("KORV_SERVER", name) ? std::optional<std::string>(name) : std::nullopt;
}

// The option's callback; an error about a value that the chosen entry gave names where.
CLI::callback_t fromEntry(const std::string& option, bool (*set)(const std::vector<std::string>&)) {
  return [option, set](const CLI::results_t& values) {
    const auto named = [&option](const char* message) {
      const auto origin = entryOrigins.find(option);
      return origin == entryOrigins.end() ? std::string(message) : origin->second + ": " + message;
    };
    try {
      return set(values);
    } catch (const UsageError& e) {
      throw UsageError(e.GetKind(), named(e.what()));
    } catch (const CLI::FileError& e) {
      throw CLI::FileError(named(e.what()));
    } catch (const CLI::ValidationError& e) {
      throw CLI::ValidationError(named(e.what()));
    }
  };
}

// The option's name, with the entry that gave its value if one did.
std::string shownOption(const std::string& option) {
  const auto origin = entryOrigins.find(option);
  return "--" + option + (origin == entryOrigins.end() ? "" : " (" + origin->second + ")");
}

// The options of kServerOptions.
void addServerOptions(CLI::App& app) {
  for (const ServerOption& row : kServerOptions) {
    const std::string names =
        (*row.shortName != '\0' ? row.shortName + std::string(",") : "") + "--" + row.option;
    CLI::Option* option = row.kind == ValueKind::Flag
                              ? app.add_flag_callback(
                                    names, [set = row.set] { set({}); }, row.help)
                              : app.add_option(names, fromEntry(row.option, row.set), row.help)
                                    ->required(row.required);
    option->group(row.group);
    if (*row.valueName != '\0') {
      option->type_name(row.valueName);
    }
    if (*row.envname != '\0') {
      option->envname(row.envname);
    }
  }
  // An option may need one added after it.
  for (const ServerOption& row : kServerOptions) {
    if (*row.needs != '\0') {
      app.get_option(std::string("--") + row.option)->needs(std::string("--") + row.needs);
    }
  }
}

// Brings in the settings of the chosen server entry. CLI11 reads its configuration after the
// command line and before the environment variables and gives a value only to options that the
// command line left unset: exactly the precedence of an entry. The hook option names a file that
// always exists; what is read is decided here, from --config/KORV_CONFIG and --server/KORV_SERVER.
// No entry applies unless a server is chosen.
class ServerEntry : public CLI::Config {
 public:
  explicit ServerEntry(CLI::App* app) : app(app) {}

  std::string to_config(const CLI::App*, bool, bool, std::string) const override { return {}; }

  std::vector<CLI::ConfigItem> from_config(std::istream&) const override {
    consulted = true;
    entryOrigins.clear();
    commandLineOptions.clear();
    for (const ServerOption& row : kServerOptions) {
      if (!app->get_option(std::string("--") + row.option)->empty()) {
        commandLineOptions.insert(row.option);
      }
    }
    if (unused) {
      return {};
    }
    const std::optional<std::string> name = chosenServer(app->get_option("--server"));
    if (!name) {
      return {};
    }
    if (name->empty()) {
      throw UsageError(UsageError::Kind::Value,
                       "The server name is empty; name a server of the configuration file.");
    }
    bool explicitFile = true;
    const std::string path = configFile(*app, explicitFile);
    const std::vector<api::EntryKey> keys = entryKeys();
    std::vector<CLI::ConfigItem> items;
    const bool secure = app->get_option("--no-insecure")->count() > 0;
    for (const api::ServerSetting& setting : Read(path, explicitFile, *name, keys)) {
      if (setting.option == "insecure" && secure) {
        continue;
      }
      if (app->get_option("--" + setting.option)->empty()) {
        entryOrigins[setting.option] = setting.origin;
      }
      CLI::ConfigItem item;
      item.name = setting.option;
      item.inputs = {setting.value};
      items.push_back(std::move(item));
    }
    api::serverEntry =
        string::format("Server '%s' in '%s'", string::printable(*name), string::printable(path));
    return items;
  }

  // Whether the entry was looked for; when not, the hook was given on the command line.
  bool Consulted() const { return consulted; }
  // Leaves the entry unread, for a run that needs no server.
  void Skip() { unused = true; }

 private:
  // CLI11 holds a FileError from reading its configuration back until the option callbacks and
  // --help have had their turn: a refused file takes that place, as CLI11's own would.
  static std::vector<api::ServerSetting> Read(const std::string& path, bool explicitFile,
                                              const std::string& name,
                                              const std::vector<api::EntryKey>& keys) {
    try {
      return api::readServer(path, explicitFile, name, keys);
    } catch (const UsageError& e) {
      if (e.GetKind() != UsageError::Kind::File) {
        throw;
      }
      throw CLI::FileError(e.what());
    }
  }

  CLI::App* app;
  mutable bool consulted = false;
  bool unused = false;
};

// Whether the run asks for help, of the utility or of its subcommand.
bool helpAsked(CLI::App& app) {
  const auto asked = [](CLI::App* one) {
    return one->get_help_ptr() != nullptr && one->get_help_ptr()->count() > 0;
  };
  const auto subcommands = app.get_subcommands();
  return asked(&app) || std::any_of(subcommands.begin(), subcommands.end(), asked);
}

// Two settings that contradict each other: a command-line error like a missing companion option.
[[noreturn]] void contradiction(const std::string& one, const std::string& other) {
  throw UsageError(UsageError::Kind::Contradiction, one + " excludes " + other);
}

// What the settings of all sources, read, must agree on. Runs after every other global option.
void checkChoices(CLI::App& app, const ServerEntry& entry) {
  if (!entry.Consulted()) {
    throw CLI::ExtrasError({kEntryHook});
  }
  if (app.get_option("--insecure")->count() > 0 && app.get_option("--no-insecure")->count() > 0) {
    contradiction("--insecure", "--no-insecure");
  }
  // Switching the certificate check off would silently drop the trust asked for.
  for (const auto& [option, value] : {std::pair{"cacert", &api::transport.caBundle},
                                      std::pair{"crlfile", &api::transport.crlFile}}) {
    if (!api::secureConnection && !value->empty()) {
      contradiction(shownOption("insecure"), shownOption(option));
    }
  }
  if (!api::serverEntry.empty() && !helpAsked(app)) {
    for (const char* option : {"--korv-url", "--korv-user"}) {
      if (app.get_option(option)->count() == 0) {
        throw UsageError(UsageError::Kind::Missing,
                         api::serverEntry + ": " + option + " is required");
      }
    }
  }
}

void addServerChoice(CLI::App& app) {
  app.add_option("--config",
                 "Configuration file of named servers (default:\n"
                 "$XDG_CONFIG_HOME/korv-cli/config.toml or\n"
                 "~/.config/korv-cli/config.toml).\n")
      ->type_name("FILE")
      ->group(kServerGroup)
      ->envname("KORV_CONFIG");
  app.add_option("--server",
                 "Take the settings of this server from the\n"
                 "configuration file; options given here still\n"
                 "win, its values beat the variables.\n")
      ->type_name("NAME")
      ->group(kServerGroup)
      ->envname("KORV_SERVER");
  CLI::Option* hook = app.set_config(kEntryHook, "/dev/null", "", true)->group("");
  auto entry = std::make_shared<ServerEntry>(&app);
  app.config_formatter(entry);
  // The check runs as the hook's value is validated: first on the default, before the entry is
  // read (nothing to check yet), then on the file name the reading gave it.
  hook->each([&app, hook, entry](const std::string&) {
    if (hook->count() > 0) {
      checkChoices(app, *entry);
    }
  });
}

}  // namespace

void serverNotNeeded(CLI::App& app) {
  for (const ServerOption& row : kServerOptions) {
    if (row.required) {
      app.get_option(std::string("--") + row.option)->required(false);
    }
  }
  std::dynamic_pointer_cast<ServerEntry>(app.get_config_formatter())->Skip();
}

void chooseServer(const std::string& name) {
  commandServer = name;
}

void rememberCommandLine(int argc, const char* const* argv) {
  commandLine.assign(argv + 1, argv + argc);
}

std::vector<api::EntryKey> entryKeys() {
  std::vector<api::EntryKey> keys;
  for (const ServerOption& row : kServerOptions) {
    keys.push_back({row.key, row.option, row.kind});
  }
  return keys;
}

std::string configFile(const CLI::App& app, bool& named) {
  std::string path;
  named = true;
  if (const CLI::Option* config = app.get_option("--config"); config->count() > 0) {
    path = config->as<std::string>();
  } else if (!process_env("KORV_CONFIG", path)) {
    path = api::defaultConfigPath();
    named = false;
  }
  return path;
}

std::vector<GivenSetting> loadServer(const std::string& name) {
  api::resetConnectionSettings();
  forcedServer = name;
  Scope forget([] { forcedServer.reset(); });
  CLI::App app;
  addGlobalOptions(app, "");
  // The run's subcommand and its options follow the first word that is not an option.
  app.prefix_command();
  std::vector<std::string> args(commandLine.rbegin(), commandLine.rend());
  app.parse(args);
  std::vector<GivenSetting> given;
  for (const ServerOption& row : kServerOptions) {
    const CLI::Option* option = app.get_option(std::string("--") + row.option);
    if (option->count() == 0) {
      continue;
    }
    const auto entry = entryOrigins.find(row.option);
    given.push_back({row.key,
                     row.kind == ValueKind::Flag ? (option->as<bool>() ? "true" : "false")
                                                 : option->results().front(),
                     entry != entryOrigins.end()            ? entry->second
                     : commandLineOptions.count(row.option) ? std::string("--") + row.option
                                                            : row.envname});
  }
  return given;
}

void addGlobalOptions(CLI::App& app, const std::string& title) {
  app.add_option("--log-file", CLI::callback_t(logger::setLogFilePath),
                 "Set the log file.\n\nNOTE: Directory must be exist.\n", true,
                 logger::getLogFilePath)
      ->group(kLoggingGroup);

  app.add_option("-l,--log-level", CLI::callback_t(logger::setLogLevel), "Set the log level", true,
                 logger::getLogLevel)
      ->group(kLoggingGroup)
      ->transform(oneOf(logger::getLogLevelMap()), "");

  app.add_flag_callback(
      "-v,--version",
      [title] {
        showVersion(std::cout, title);
        std::exit(0);
      },
      "Show the app version and exit");

  addServerOptions(app);
  app.add_flag("--no-insecure",
               "Check the TLS certificate and host name even when the\n"
               "server's entry says 'insecure = true'.\n")
      ->group(kServerGroup);

  addServerChoice(app);
}

}  // namespace korv::cli
