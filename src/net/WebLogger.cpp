#include "net/WebLogger.h"

#include <cstdio>
#include <cstring>

#include "Identity.h"
#include "log/LauncherLog.h"

WebLogger::WebLogger(MachineInfo machine, std::string infoReportUrl, std::string errorReportUrl)
    : machine_(std::move(machine)),
      infoReportUrl_(std::move(infoReportUrl)),
      errorReportUrl_(std::move(errorReportUrl)) {}

WebLogger::~WebLogger() = default;

// Escapes a value as one URL segment. Escaped, as %XX with upper-case hex: the bytes 0x00-0x20
// (controls and the space), 0x7F, every byte of a non-ASCII character (so it travels as
// percent-encoded UTF-8), and the characters  " # & + / < > ? [ \ ] ^ ` { | }
// "&" and "+" are escaped too so that a value cannot split or alter the query string on the server.
// "%" is left as it is; so are letters, digits and  ! $ ' ( ) * , - . : ; = @ _ ~
std::string WebLogger::EscapeSegment(const std::string& utf8) {
  static const char kEscaped[] = "\"#&+/<>?[\\]^`{|}";
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || std::strchr(kEscaped, c) != nullptr) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string WebLogger::CommonPart(const std::string& endpoint, const MachineInfo& info) {
  return endpoint + "?client_uid=" + info.clientUid + "&ditch_name=" + identity::ChannelName +
         "&mac=" + info.macAddress + "&os_version=" + EscapeSegment(info.osText);
}

std::string WebLogger::BuildEventUrl(int event) const {
  std::string url = CommonPart(infoReportUrl_, machine_);
  switch (event) {
    case Create: url += "&ac=create"; break;
    case DownloadStart: url += "&ac=download_start"; break;
    case UnzipStart: url += "&ac=unzip_start"; break;
    case GameStart: url += "&ac=game_start"; break;
    default:  // UnzipFinished and unknown codes carry no "ac"
      break;
  }
  return url;
}

std::string WebLogger::BuildMessageUrl(const std::string& message) const {
  return CommonPart(errorReportUrl_, machine_) + "&error_msg=" + EscapeSegment(message);
}

// Any thread: builds the URL here, logs it, hands the request over; never waits for the network.
void WebLogger::LogEvent(int event) {
  HttpRequestHeader header;
  header.url = BuildEventUrl(event);
  LogInfo(header.url, "WebLogger::LogEvent", "WebLogger", 49);
  StartRequest(header);
}

void WebLogger::Log(const std::string& message) {
  HttpRequestHeader header;
  header.url = BuildMessageUrl(message);
  LogInfo(header.url, "WebLogger::Log", "WebLogger", 71);
  StartRequest(header);
}
