// vellmora-demo-server: serves the demo configuration, package, login page and telemetry
// endpoints on the compiled-in server address until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "DemoOptions.h"
#include "DemoServer.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  auto options = demo::ParseOptions(argc, argv, exitCode);
  if (!options) return exitCode;

  // Block the stop signals in every thread; one thread waits for them and stops the server, so
  // that no library code runs inside a signal handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  demo::DemoServer server(*options);
  if (!server.Start()) return 1;
  if (options->print) std::printf("%s", server.Describe().c_str());
  std::printf("vellmora-demo-server: listening on %s\n", demo::BaseUrl(*options).c_str());
  std::fflush(stdout);

  std::thread waiter([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  server.Run();
  // Run also returns when listening fails; wake the waiter so it can be joined.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return 0;
}
