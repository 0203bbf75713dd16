// Whom a run trusts and who it is over TLS, its proxy and its time limits: korv-cli against
// korv-standin with the test's certificates, and against scripted servers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "tests/support/cli_test.h"

namespace korv::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kAccessFailed[] = "Failed to access the KORV REST API Server.";

// A run's global options and environment variables, and what must come of it.
struct Case {
  std::vector<std::string> globals, variables;
  int status;
  std::string err = "";  // a part of standard error
};

class Trust : public CliTest {
 protected:
  // Runs list-probes against the URL as admin, without --insecure, for each case.
  void Check(const std::string& url, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      std::vector<std::string> args = {"-p", url, "-u", "admin"};
      args.insert(args.end(), c.globals.begin(), c.globals.end());
      args.push_back("list-probes");
      environment = c.variables;
      environment.push_back("KORV_API_PASSWORD=secret");
      const ProcessResult result = Run(args);
      EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.globals) << result.err;
      EXPECT_THAT(result.err, HasSubstr(c.err));
    }
  }
  // korv-standin over TLS with the server certificate, and these arguments.
  std::vector<std::string> Tls(const std::string& data, std::vector<std::string> more = {}) {
    more.insert(more.end(), {"--data", home / data, "--user", "admin:secret", "--tls-cert",
                             Pki() / "server.pem", "--tls-key", Pki() / "server.key"});
    return more;
  }

  const std::string ca = Pki() / "ca.pem", cert = Pki() / "client.pem", key = Pki() / "client.key";
};

TEST_F(Trust, TheServerIsVerifiedWithTheCaAndListGivenAndShownTheClientCertificateGiven) {
  // A revocation list of the CA that revokes the server's certificate.
  constexpr char kRevoke[] = R"(cd "$0"; : > index; printf '[ca]\ndefault_ca=d\n[d]\n\
database=index\ndefault_md=sha256\ndefault_crl_days=2\n' > ca.cnf
for step in "-revoke $1/server.pem" "-gencrl -out revoked.crl"; do
  openssl ca -config ca.cnf -keyfile "$1/ca.key" -cert "$1/ca.pem" $step; done)";
  ProcessOptions options;
  options.args = {"-ec", kRevoke, home.Path(), Pki().Path()};
  options.environment = {"PATH=/usr/bin:/bin"};
  const ProcessResult made = test::Run("/bin/sh", options);
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string other = Pki() / "other.pem", revoked = home / "revoked.crl";

  Standin server(Tls("data.json"));
  Check(server.Url(), {{{"--cacert", ca}, {}, 0},
                       {{}, {"KORV_CA_BUNDLE=" + ca}, 0},
                       {{"--cacert", ca}, {"KORV_CA_BUNDLE=" + other}, 0},
                       {{"--cacert", other}, {}, 105, kAccessFailed},
                       {{"--cacert", ca, "--crlfile", revoked}, {}, 105, kAccessFailed}});
  Standin mutual(Tls("mutual.json", {"--client-ca", ca}));
  Check(mutual.Url(),
        {{{"--cacert", ca}, {}, 105, kAccessFailed},
         {{"--cacert", ca, "--cert", cert, "--key", key}, {}, 0},
         {{}, {"KORV_CA_BUNDLE=" + ca, "KORV_CLIENT_CERT=" + cert, "KORV_CLIENT_KEY=" + key}, 0}});
}

TEST_F(Trust, UnusableFilesAndValuesAreRefusedBeforeAnyRequest) {
  StubServer server;
  const std::string missing = home / "missing.pem", openKey = home / "open.key";
  WriteFile(openKey, ReadFile(key), 0640);
  Check(
      server.BaseUrl(),
      {{{"--cacert", missing}, {}, 103, "CA bundle '" + missing + "' is missing or not readable."},
       {{"--cert", cert}, {}, 107, "--cert requires --key"},
       {{"--cert", cert, "--key", openKey}, {}, 103, "Client key '" + openKey + "' has group"},
       {{"-m", "0"}, {}, 105, "--max-time: '0' is not a number of seconds greater than 0."},
       {{"--proxy", "http://u:p@127.0.0.1:0"}, {}, 105, "without credentials"},
       {{"--proxy", "http://127.0.0.1:0", "--proxy-user", "u"}, {}, 105, "KORV_PROXY_PASSWORD"}});
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Trust, AProxyCarriesEveryRequestWithThePasswordFromTheEnvironment) {
  // A scripted server is the proxy of a plain HTTP server that only it can reach.
  StubServer proxy;
  const std::string korv = "http://korv.invalid/";
  proxy.On("POST", korv + "api/token/",
           Reply(201, R"({"supported_api_versions":["v11_api"]})", {{"X-Subject-Token", "t"}}));
  proxy.On("GET", korv + "api/v11/probe/", Reply(200, "[]"));
  proxy.On("DELETE", korv + "api/token/", Reply(204, ""));
  Check(korv, {{{"--proxy", proxy.BaseUrl(), "--proxy-user", "scout", "-l", "DEBUG"},
                {"KORV_PROXY_PASSWORD=hunter2"},
                0}});
  EXPECT_EQ(proxy.Requests().at(0).Header("Proxy-Authorization"),
            "Basic c2NvdXQ6aHVudGVyMg==");  // scout:hunter2
  EXPECT_THAT(Log(), HasSubstr("Connection settings: proxy '" + proxy.BaseUrl() + "'"));
  EXPECT_THAT(Log(), Not(HasSubstr("hunter2")));
}

TEST_F(Trust, MaxTimeEndsAStalledRequestAndTheTokenIsStillReleased) {
  const std::tuple<std::string, std::string, Case, size_t> cases[] = {
      {"GET", "/api/v11/probe/", {{"-m", "1"}, {}, 4}, 1},
      {"POST", "/api/token/", {{}, {"KORV_MAX_TIME=0.5"}, 105, kAccessFailed}, 0}};
  for (const auto& [method, path, run, releases] : cases) {
    StubServer server;
    server.ServeSession();
    Reply stalled(200, "[]");
    stalled.delay = 30s;
    server.On(method, path, stalled);
    const auto start = std::chrono::steady_clock::now();
    // User info in the URL never reaches the log, the warning about the time limit included.
    Check("http://u:hunter2@" + server.BaseUrl().substr(7), {run});
    EXPECT_THAT(Log(), Not(HasSubstr("hunter2")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << path;
    EXPECT_EQ(server.RequestsTo("DELETE", "/api/token/").size(), releases) << path;
    EXPECT_THAT(Log(), HasSubstr(path + "' ran out of time (connect limit default"));
  }
}

}  // namespace
}  // namespace korv::test
