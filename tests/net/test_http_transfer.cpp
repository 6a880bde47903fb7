#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetTestSupport.h"
#include "net/HttpTransfer.h"
#include "support/Sandbox.h"

using nettest::RecordingServer;

namespace {

// A loopback server with the answers the transfer tests need:
// /hops/<n> (a chain of n redirects ending in "end"), /moved?to=<url> (302), /missing (404),
// /big (100,000 bytes, announced), /streamed (the same bytes chunked, not announced),
// /slow (a block every 10 ms for 5 s), /pkg/<mode> (the package, Range handled by mode:
// "honour" answers 206 from the offset, "ignore" the whole body, "elsewhere" 206 from 0).
class TransferServer {
 public:
  TransferServer() {
    httplib::Server& server = http_.Server();
    nettest::AddRedirectRoutes(server);
    server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(RecordingServer::Big(), "application/octet-stream");
    });
    server.Get("/streamed", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
        static const std::string big = RecordingServer::Big();
        if (offset >= big.size()) {
          sink.done();
          return true;
        }
        size_t n = std::min<size_t>(10000, big.size() - offset);
        return sink.write(big.data() + offset, n);
      });
    });
    server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 500 * 1000) {
          sink.done();
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string block(1000, 'x');
        return sink.write(block.data(), block.size());
      });
    });
    server.Get(R"(/pkg/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string mode = req.matches[1];
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ranges_.push_back(req.get_header_value("Range"));
      }
      const_cast<httplib::Request&>(req).ranges.clear();  // this handler decides the answer
      size_t from = 0;
      std::string range = req.get_header_value("Range");
      if (mode != "ignore" && range.rfind("bytes=", 0) == 0) {
        from = mode == "honour" ? std::stoul(range.substr(6)) : 0;
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(Package().size() - 1) +
                                            "/" + std::to_string(Package().size()));
      }
      res.set_content(Package().substr(from), "application/zip");
    });
    http_.Start();
  }

  static std::string Package() { return RecordingServer::Big().substr(0, 30000); }
  std::string Url(const std::string& path) const { return http_.Url(path); }
  int Port() const { return http_.Port(); }
  std::vector<std::string> Ranges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ranges_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> ranges_;
  HttpServerThread http_;  // last: it stops answering before what its handlers use goes
};

TransferRequest Get(const std::string& url) {
  TransferRequest request;
  request.url = url;
  return request;
}

// Forwards to another sink and records the announced length of every block.
class RecordingSink : public TransferSink {
 public:
  explicit RecordingSink(TransferSink& next) : next_(next) {}
  SinkStatus Write(const char* data, size_t size, int64_t announced) override {
    announced_.push_back(announced);
    return next_.Write(data, size, announced);
  }
  const std::vector<int64_t>& Announced() const { return announced_; }

 private:
  TransferSink& next_;
  std::vector<int64_t> announced_;
};

}  // namespace

// Redirect policy, refused schemes and error statuses; libcurl's progress meter never shows.
TEST(HttpTransfer, RedirectsSchemesAndStatuses) {
  TransferServer server;
  struct Case {
    std::string url;
    CURLcode code;
    long status;
    std::string body;
  };
  const Case cases[] = {
      {server.Url("/hops/10"), CURLE_OK, 200, "end"},
      {server.Url("/hops/11"), CURLE_TOO_MANY_REDIRECTS, 302, ""},
      {server.Url("/moved?to=ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x"), CURLE_UNSUPPORTED_PROTOCOL, 302,
       ""},
      {server.Url("/moved?to=file:///etc/hostname"), CURLE_UNSUPPORTED_PROTOCOL, 302, ""},
      {"ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x", CURLE_UNSUPPORTED_PROTOCOL, 0, ""},
      {server.Url("/missing"), CURLE_OK, 404, "not here"},
  };
  testing::internal::CaptureStderr();
  for (const Case& c : cases) {
    StringSink sink(1000);
    TransferResult result = PerformTransfer(Get(c.url), sink);
    EXPECT_EQ(result.code, c.code) << c.url << ": " << result.errorText;
    EXPECT_EQ(result.httpStatus, c.status) << c.url;
    EXPECT_EQ(sink.Body(), c.body) << c.url;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(HttpTransfer, StringSinkCapFailsAsTooLarge) {
  TransferServer server;
  const size_t size = RecordingServer::Big().size();
  struct Case {
    std::string path;
    size_t cap;
    bool tooLarge;
  };
  const Case cases[] = {
      {"/big", 1000, true},       // announced over the cap: refused at the first block
      {"/streamed", 1000, true},  // not announced: refused once the bytes pass the cap
      {"/big", size, false},      // exactly the cap fits
      {"/streamed", size, false},
  };
  for (const Case& c : cases) {
    StringSink sink(c.cap);
    TransferResult result = PerformTransfer(Get(server.Url(c.path)), sink);
    EXPECT_EQ(result.TooLarge(), c.tooLarge) << c.path << " " << c.cap;
    EXPECT_LE(sink.Body().size(), c.cap) << c.path;
    if (c.tooLarge) {
      EXPECT_EQ(result.code, CURLE_WRITE_ERROR) << c.path;
      EXPECT_EQ(result.sinkStatus, SinkStatus::TooLarge) << c.path;
    } else {
      EXPECT_EQ(result.code, CURLE_OK) << c.path << ": " << result.errorText;
      EXPECT_EQ(sink.Body(), RecordingServer::Big()) << c.path;
      EXPECT_EQ(result.bodyBytes, static_cast<int64_t>(size));
    }
  }
  // Refused on the announcement: not a byte was kept.
  StringSink sink(1000);
  EXPECT_EQ(PerformTransfer(Get(server.Url("/big")), sink).bodyBytes, 0);
}

// Resuming appends to what the file holds, and only when the server continues at the offset.
TEST(HttpTransfer, FileSinkResumeAppendsOnlyWhatContinuesAtTheOffset) {
  TransferServer server;
  Sandbox sandbox;
  const std::string package = TransferServer::Package();
  const int64_t offset = 12345;
  struct Case {
    std::string mode;
    CURLcode code;
    long status;
    std::string fileAfter;
  };
  const Case cases[] = {
      {"honour", CURLE_OK, 206, package},
      {"ignore", CURLE_RANGE_ERROR, 200, package.substr(0, offset)},
      {"elsewhere", CURLE_RANGE_ERROR, 206, package.substr(0, offset)},
  };
  for (const Case& c : cases) {
    const std::string path = sandbox.Root() + "/" + c.mode + ".zip";
    Sandbox::WriteFile(path, package.substr(0, offset));
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FileSink file(fd);
    RecordingSink sink(file);
    TransferRequest request = Get(server.Url("/pkg/" + c.mode));
    request.resumeFrom = offset;
    TransferResult result = PerformTransfer(request, sink);
    ::close(fd);
    EXPECT_EQ(result.code, c.code) << c.mode << ": " << result.errorText;
    EXPECT_EQ(result.httpStatus, c.status) << c.mode;
    EXPECT_TRUE(Sandbox::ReadFile(path) == c.fileAfter) << c.mode;
    // A sink of its own learns the announced length (the rest from the offset) with every block.
    for (int64_t announced : sink.Announced()) EXPECT_EQ(announced, static_cast<int64_t>(package.size()) - offset);
    EXPECT_EQ(sink.Announced().empty(), c.code != CURLE_OK) << c.mode;
  }
  for (const std::string& range : server.Ranges()) EXPECT_EQ(range, "bytes=12345-");
  EXPECT_EQ(server.Ranges().size(), 3u);
}

TEST(HttpTransfer, FileSinkWriteFailureEndsTheTransfer) {
  TransferServer server;
  Sandbox sandbox;
  const std::string path = sandbox.Root() + "/read-only";
  Sandbox::WriteFile(path, "");
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  FileSink sink(fd);
  TransferResult result = PerformTransfer(Get(server.Url("/big")), sink);
  ::close(fd);
  EXPECT_EQ(result.code, CURLE_WRITE_ERROR);
  EXPECT_EQ(result.sinkStatus, SinkStatus::WriteFailed);
  EXPECT_EQ(sink.Error(), EBADF);
}

TEST(HttpTransfer, ProgressCallbackAbortsTheTransfer) {
  TransferServer server;
  TransferRequest request = Get(server.Url("/slow"));
  int64_t lastNow = 0;
  request.progress = [&](int64_t, int64_t now) {
    lastNow = now;
    return now < 3000;
  };
  DiscardSink sink;
  auto start = nettest::Clock::now();
  TransferResult result = PerformTransfer(request, sink);
  EXPECT_EQ(result.code, CURLE_ABORTED_BY_CALLBACK);
  EXPECT_GE(lastNow, 3000);
  EXPECT_LT(result.bodyBytes, 100 * 1000);
  EXPECT_LT(nettest::MsSince(start), 2000);
}

// Sockets the caller opens come back to it to be closed, also those libcurl keeps until the end.
TEST(HttpTransfer, SocketHooksCloseEverySocketTheyOpened) {
  TransferServer first, second;
  TransferRequest request = Get(first.Url("/moved?to=" + second.Url("/hops/1")));
  std::vector<int> open;
  int opened = 0;
  request.openSocket = [&](const curl_sockaddr& address, bool& alreadyConnected) {
    alreadyConnected = false;
    int fd = ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
    if (fd >= 0) {
      open.push_back(fd);
      ++opened;
    }
    return fd;
  };
  request.closeSocket = [&](int fd) {
    open.erase(std::remove(open.begin(), open.end(), fd), open.end());
    return ::close(fd);
  };
  StringSink sink(100);
  TransferResult result = PerformTransfer(request, sink);
  EXPECT_EQ(result.code, CURLE_OK) << result.errorText;
  EXPECT_EQ(sink.Body(), "end");
  EXPECT_EQ(opened, 2);  // one connection to each server
  EXPECT_TRUE(open.empty());
}
