// The REST session: log in for a token, give the token back at the end of the run.
#pragma once

namespace korv::cli::api {

// Logs in at "api/token/" with the user and password; fills token and supportedApiVersions.
// Every failure is a CLI::ValidationError with a message for the user.
void init();

// Releases the token, if there is one. Never raises: failures only reach the log.
void finish();

}  // namespace korv::cli::api
