// A korv-standin program serving a data file, for end-to-end tests with real servers. Needs
// KORV_STANDIN_PATH, the path of the built stand-in.
#pragma once

#include <signal.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tests/support/process.h"
#include "tests/support/stub_server.h"

namespace korv::test {

// Started on a free port with the user admin:secret, stopped with SIGTERM at the end.
class Standin {
 public:
  Standin(const std::string& dataFile, bool customSamples, bool tls = false) {
    ProcessOptions options;
    options.args = {"--port", "0", "--data", dataFile, "--user", "admin:secret"};
    if (customSamples) {
      options.args.push_back("--with-custom-samples");
    }
    if (tls) {
      options.args.insert(options.args.end(), {"--tls-cert", TestCertificate().certPath,
                                               "--tls-key", TestCertificate().keyPath});
    }
    options.environment = InheritedSanitizerEnvironment();
    process = std::make_unique<Process>(KORV_STANDIN_PATH, options);
    if (!process->ReadLine(url)) {
      throw std::runtime_error("korv-standin did not start: " + process->Wait().err);
    }
  }
  ~Standin() {
    process->Signal(SIGTERM);
    process->Wait();
  }
  Standin(const Standin&) = delete;
  Standin& operator=(const Standin&) = delete;

  const std::string& Url() const { return url; }

 private:
  std::unique_ptr<Process> process;
  std::string url;
};

}  // namespace korv::test
