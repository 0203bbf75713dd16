#include "cli/global_options.h"

#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "api/settings.h"
#include "common/logger.h"

namespace korv::cli {

namespace {

constexpr char kServerGroup[] = "KORV Information";
constexpr char kLoggingGroup[] = "Logging";

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

}  // namespace

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
}

}  // namespace korv::cli
