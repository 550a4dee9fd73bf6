// `fingerprint URL`: the SHA-256 fingerprint of an HTTPS camera's certificate, to pin it with
// "?tls_fingerprint=" in the camera's connection text. The certificate is not judged: whoever
// answers is shown, so compare the fingerprint with the camera's own display before pinning.
#include <chrono>
#include <memory>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>

#include "Commands.h"
#include "ExitError.h"
#include "Host.h"
#include "JsonLine.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/TlsFingerprint.h"

namespace qrmhost {

namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

// Connects and shakes hands within kDeadline; the certificate's fingerprint, or the error.
std::string presentedFingerprint(const Talvo::asio::ConnectionInfo& camera, boost::system::error_code& error) {
  namespace net = boost::asio;
  net::io_context io;
  net::ssl::context settings(net::ssl::context::tls_client);
  settings.set_verify_mode(net::ssl::verify_none);
  net::ssl::stream<net::ip::tcp::socket> stream(io, settings);
  boost::system::error_code notAnAddress;
  net::ip::make_address(camera.host, notAnAddress);
  if (notAnAddress) SSL_set_tlsext_host_name(stream.native_handle(), camera.host.c_str());
  net::ip::tcp::resolver resolver(io);
  std::string fingerprint;
  error = net::error::timed_out;
  resolver.async_resolve(camera.host, std::to_string(camera.port), [&](auto resolveError, auto endpoints) {
    if (resolveError) return void(error = resolveError);
    net::async_connect(stream.next_layer(), endpoints, [&](auto connectError, auto) {
      if (connectError) return void(error = connectError);
      stream.async_handshake(net::ssl::stream_base::client, [&](auto handshakeError) {
        error = handshakeError;
        if (!handshakeError) fingerprint = Talvo::http::fingerprintText(Talvo::http::peerFingerprint(stream.native_handle()));
      });
    });
  });
  io.run_for(kDeadline);
  return fingerprint;
}

int runFingerprint(Host& host, const std::string& address) {
  Talvo::asio::ConnectionInfo camera;
  try {
    camera = Talvo::asio::parseConnectionInfo(address);
  } catch (const Talvo::asio::ConnectionTextError& error) {
    throw usageError(std::string("URL: ") + error.what());
  }
  if (!camera.secure()) throw usageError("URL: an https:// address expected");
  boost::system::error_code error;
  const std::string fingerprint = presentedFingerprint(camera, error);
  auto line = kindLine("fingerprint");
  line["camera"] = camera.hostAndPort();
  if (fingerprint.empty()) {
    line["code"] = error ? Talvo::Utility::translateSystemError(error) : 1;
  } else {
    line["sha256"] = fingerprint;
  }
  host.console().report(line);
  return cameraOutcome(!fingerprint.empty());
}

}  // namespace

void declareFingerprint(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "fingerprint",
      "Prints the SHA-256 fingerprint of the certificate an HTTPS camera presents, to pin it:\n"
      "{\"kind\":\"fingerprint\",\"camera\":\"host:port\",\"sha256\":\"AB:CD:...\"}; then add\n"
      "?tls_fingerprint=AB:CD:... to the camera's connection text. Compare it with the one the\n"
      "camera itself shows: whoever answers at URL is shown.");
  auto address = std::make_shared<std::string>();
  command->add_option("URL", *address, "https://host:port/ (credentials are not needed)")->required();
  command->callback([&chosen, address] { chosen = [address](Host& host) { return runFingerprint(host, *address); }; });
}

}  // namespace qrmhost
