// One HTTP transfer with libcurl's easy interface: the request goes out, the final response's
// body goes to a sink (TransferSink.h). Every transfer of the process runs through here, so the
// policy below (protocols, redirects, limits, time-outs, proxy, signals, progress meter) is set in
// one place, and so is the process-wide libcurl initialisation.
//
// Policy: http and https only, also for redirects; redirects followed up to maxRedirects, never
// from https to http (a network attacker could otherwise strip the encryption with one redirect);
// a connect time-out, and a transfer that receives nothing for the stall limit has failed (so no
// transfer, telemetry included, waits forever); no signals (NOSIGNAL); never libcurl's progress
// meter; the proxy chosen once per transfer (TransferRequest::proxyUrl), neither the system's settings nor
// the environment consulted again.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/TransferSink.h"

// The limits of every transfer.
struct TransferLimits {
  long maxRedirects = 10;
  long connectTimeoutMs = 15000;  // resolving, connecting and the TLS handshake, per connection
  long stallMs = 30000;           // nothing received (header or body) for this long: failed
};
inline constexpr TransferLimits kTransferLimits{};

struct TransferRequest {
  std::string url;  // absolute http or https URL

  // Above 0: "Range: bytes=<resumeFrom>-". An answer that does not continue at that offset (a
  // 200, or a 206 from elsewhere) fails with CURLE_RANGE_ERROR before the sink sees a byte; a 200
  // whose whole body is exactly resumeFrom bytes long ends at once with CURLE_OK (nothing was
  // missing).
  int64_t resumeFrom = 0;

  // "GET" (also when empty), "POST", or any other verb. A body is sent when postData is not
  // empty, or (empty) with "POST".
  std::string method;
  std::string postData;

  std::vector<std::string> headerLines;  // "Name: value" without CR LF; "Name:" removes libcurl's own
  std::string userAgent;                 // empty: no User-Agent line

  // nullopt: the system's proxy for the URL's host (SystemProxy.h); "": direct; otherwise the
  // proxy URL. Credentials only apply with a proxy.
  std::optional<std::string> proxyUrl;
  std::string proxyUserName;
  std::string proxyPassword;

  std::string preResolved;  // "host:port:address": libcurl connects there without resolving
  // A PEM file of certificate authorities to trust instead of the system's (a private server);
  // empty: the system's.
  std::string caFile;
  long bufferSize = 0;  // the largest block handed to the sink; 0: libcurl's default

  // Tighter limits for this transfer only; 0, or a value above the policy's, keeps the policy's.
  long connectTimeoutMs = 0;
  long stallMs = 0;

  // Only a final answer of 200 or 206 hands its body to the sink: any other status ends the
  // transfer with CURLE_HTTP_RETURNED_ERROR (the status in the result) before the sink takes a
  // byte of it. For a file that is being assembled, where an error page must never land.
  bool successBodyOnly = false;

  // Every callback runs on the transfer's thread, inside PerformTransfer.

  // (announced total of the body, bytes so far); false aborts with CURLE_ABORTED_BY_CALLBACK.
  std::function<bool(int64_t total, int64_t now)> progress;

  // Each response header line as received, CR LF included, for every response (interim ones and
  // followed redirects too); a block ends with an empty line.
  std::function<void(std::string_view line)> headerLine;

  // A socket for a new connection to address (the first one and any later one, such as a
  // redirect to another server), or CURL_SOCKET_BAD to fail it. Setting alreadyConnected tells
  // libcurl not to connect it. closeSocket, when set, closes what openSocket returned (0 when
  // closed).
  std::function<curl_socket_t(const curl_sockaddr& address, bool& alreadyConnected)> openSocket;
  std::function<int(curl_socket_t socket)> closeSocket;
};

struct TransferResult {
  CURLcode code = CURLE_FAILED_INIT;
  long httpStatus = 0;                     // of the last response, 0 when none came
  int64_t announcedLength = -1;            // the body length the last response announced, -1 when none
  int64_t bodyBytes = 0;                   // taken by the sink
  SinkStatus sinkStatus = SinkStatus::Ok;  // not Ok: the sink ended the transfer (CURLE_WRITE_ERROR)
  bool stalled = false;                    // nothing came for the stall limit (CURLE_OPERATION_TIMEDOUT)
  std::string errorText;                   // libcurl's description of a failure

  bool Ok() const { return code == CURLE_OK; }
  bool TooLarge() const { return sinkStatus == SinkStatus::TooLarge; }
};

// The process-wide libcurl initialisation, done once; later calls return at once. Any thread.
// PerformTransfer runs it itself, but an owner that starts transfer threads calls it first on its
// own thread: initialising libcurl (and its TLS library) on a worker while the process exits
// crashes. False when libcurl cannot be initialised (no transfer can run).
bool InitHttpTransfers();

// Runs one transfer to its end on the calling thread (blocking). A 4xx or 5xx answer is a
// complete transfer: CURLE_OK with its status (unless successBodyOnly). A redirect from https to
// http fails with CURLE_UNSUPPORTED_PROTOCOL before it is followed. Any thread; callers serialise
// nothing.
TransferResult PerformTransfer(const TransferRequest& request, TransferSink& sink);
