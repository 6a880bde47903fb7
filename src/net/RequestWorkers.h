// The two worker threads of a request. The connect thread connects (RequestTransport), posts
// Connected and starts the transfer thread itself, so a request goes out even while nobody
// iterates the owner's context. The transfer thread runs the shared transfer routine over that
// connection, fills the request's receive buffer, and posts Sent and Finished. Each thread holds
// the request until it ends and is counted with the channel while it runs.
#pragma once

#include <memory>

#include "net/FCHttpRequestManager.h"

namespace inner {

// Starts the connect thread; the caller has counted it with the channel. When no thread can be
// started the request ends at once as a failed connection, send and read. Any thread.
void StartConnectThread(std::shared_ptr<FCHttpRequest> request, FCHttpRequest::Transport& transport);

}  // namespace inner
