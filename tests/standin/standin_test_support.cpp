#include "standin_test_support.h"

#include <stdexcept>

namespace korv::standin::test {

ServerOptions testOptions() {
  ServerOptions options;
  options.users = {{"admin", "secret"}};
  return options;
}

TestServer::TestServer(const std::string& dataFile, bool withCustomSamples, ServerOptions options)
    : store(dataFile, withCustomSamples) {
  standin = std::make_unique<StandinServer>(std::move(options), store);
  standin->start();
  client = std::make_unique<httplib::Client>("127.0.0.1", standin->port());
}

namespace {

Reply toReply(const httplib::Result& result) {
  Reply reply;
  if (!result) {
    return reply;
  }
  reply.status = result->status;
  reply.text = result->body;
  reply.body = nlohmann::json::parse(reply.text, nullptr, false);
  reply.headers = result->headers;
  return reply;
}

httplib::Headers tokenHeader(const std::string& token) {
  if (token.empty()) {
    return {};
  }
  return {{"X-Auth-Token", token}};
}

}  // namespace

Reply TestServer::logIn(const std::string& user, const std::string& password) {
  const nlohmann::json body{{"username", user}, {"password", password}};
  return toReply(client->Post("/api/token/", body.dump(), "application/json"));
}

std::string TestServer::token() {
  const Reply reply = logIn();
  if (reply.status != 201) {
    throw std::runtime_error("The test login failed with status " + std::to_string(reply.status));
  }
  const auto header = reply.headers.find("X-Subject-Token");
  return header == reply.headers.end() ? std::string() : header->second;
}

Reply TestServer::get(const std::string& path, const std::string& token) {
  return toReply(client->Get(path.c_str(), tokenHeader(token)));
}

Reply TestServer::post(const std::string& path, const std::string& token, const std::string& body) {
  return toReply(client->Post(path.c_str(), tokenHeader(token), body, "application/json"));
}

Reply TestServer::logOut(const std::string& token) {
  return toReply(client->Delete("/api/token/", tokenHeader(token)));
}

Reply TestServer::put(const std::string& path, const std::string& token) {
  return toReply(client->Put(path.c_str(), tokenHeader(token), "{}", "application/json"));
}

nlohmann::json TestServer::probes(const std::string& token) {
  return get("/api/v11/probe/", token).body;
}

nlohmann::json TestServer::alertTemplates(const std::string& token) {
  return get("/api/v11/alert/template/", token).body;
}

nlohmann::json named(const nlohmann::json& records, const std::string& name) {
  for (const auto& record : records) {
    if (record.value("name", std::string()) == name) {
      return record;
    }
  }
  return nullptr;
}

}  // namespace korv::standin::test
