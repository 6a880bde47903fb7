// One HTTP transfer with libcurl's easy interface: the request goes out, the final response's
// body goes to a sink (TransferSink.h). Every transfer of the process runs through here, so the
// policy below (protocols, redirects, limits, time-outs, proxy, signals, progress meter) is set in
// one place, and so is the process-wide libcurl initialisation.
//
// Policy: http and https only, also for redirects; redirects followed up to maxRedirects; no
// signals (NOSIGNAL); never libcurl's progress meter; the limits of kTransferLimits; the proxy
// chosen once per transfer (TransferRequest::proxyUrl), the environment never consulted again.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/TransferSink.h"

// The limits of every transfer. 0 leaves libcurl's default (for the time-outs: none, except
// libcurl's own connect time-out).
struct TransferLimits {
  long maxRedirects = 10;
  long connectTimeoutMs = 0;
  long totalTimeoutMs = 0;
  long lowSpeedBytesPerSecond = 0;  // with lowSpeedSeconds: give up when slower for that long
  long lowSpeedSeconds = 0;
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
  long bufferSize = 0;      // the largest block handed to the sink; 0: libcurl's default

  // Every callback runs on the transfer's thread, inside PerformTransfer.

  // (announced total of the body, bytes so far); false aborts with CURLE_ABORTED_BY_CALLBACK.
  std::function<bool(int64_t total, int64_t now)> progress;

  // Each response header line as received, CR LF included, for every response (interim ones and
  // followed redirects too); a block ends with an empty line.
  std::function<void(std::string_view line)> headerLine;

  // A socket for a new connection to address (the first one and any later one, such as a
  // redirect to another server), or -1 to fail it. Setting alreadyConnected tells libcurl not to
  // connect it. closeSocket, when set, closes what openSocket returned (return as close() does).
  std::function<int(const curl_sockaddr& address, bool& alreadyConnected)> openSocket;
  std::function<int(int fd)> closeSocket;
};

struct TransferResult {
  CURLcode code = CURLE_FAILED_INIT;
  long httpStatus = 0;                     // of the last response, 0 when none came
  int64_t announcedLength = -1;            // the body length the last response announced, -1 when none
  int64_t bodyBytes = 0;                   // taken by the sink
  SinkStatus sinkStatus = SinkStatus::Ok;  // not Ok: the sink ended the transfer (CURLE_WRITE_ERROR)
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
// complete transfer: CURLE_OK with its status. Any thread; callers serialise nothing.
TransferResult PerformTransfer(const TransferRequest& request, TransferSink& sink);
