// vespar-demo-server: serves the generated demo tree on a loopback port
// until SIGINT or SIGTERM, then exits 0.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_server.h"
#include "tools/demo-server/demo_options.h"
#include "tools/demo-server/demo_serving.h"
#include "tools/demo-server/demo_tree.h"

int main(int argc, char** argv) {
  using namespace vespar;
  demo::DemoServerOptions options;
  std::string error;
  if (!demo::ParseDemoServerArgs(std::vector<std::string>(argv + 1, argv + argc), &options,
                                 &error)) {
    std::fprintf(stderr, "vespar-demo-server: %s\n(--help lists the options)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(demo::DemoServerUsage().c_str(), stdout);
    return 0;
  }

  // The stop signals are blocked before any thread starts, so every thread
  // inherits the mask and only sigwait() below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  testing::TestServerOptions server_options;
  server_options.addresses = {testing::ListenAddress{options.host}};
  server_options.port = options.port;
  server_options.rate_bytes_per_second = options.rate_bytes_per_second;
  testing::TestServer server(server_options);
  if (!server.Start(&error)) {
    std::fprintf(stderr, "vespar-demo-server: %s\n", error.c_str());
    return 1;
  }

  // The configuration names the port, so the tree is built once it is known;
  // the URL is printed only after every file is in place.
  demo::DemoTree tree =
      demo::BuildDemoTree(demo::DemoOptions{options.host, server.port(), options.size_scale});
  demo::ServeDemoTree(tree, &server);
  if (!options.dump_dir.empty() && !demo::DumpDemoTree(tree, options.dump_dir, &error)) {
    std::fprintf(stderr, "vespar-demo-server: --dump: %s\n", error.c_str());
    return 1;
  }
  if (options.verbose) {
    server.SetRequestObserver([](const testing::RequestRecord& r) {
      std::fprintf(stderr, "%s %s %s%s%s\n", r.remote_address.c_str(), r.method.c_str(),
                   r.target.c_str(), r.has_range ? " Range: " : "",
                   r.has_range ? r.range.c_str() : "");
    });
  }

  const std::string config_url = server.Url(tree.config_path);
  if (options.print_config_url) {
    std::printf("%s\n", config_url.c_str());
    std::fflush(stdout);
  }
  std::fprintf(stderr,
               "vespar-demo-server: serving %zu files on %s (configuration %s); "
               "stop with Ctrl+C\n",
               tree.files.size(), server.Url("/").c_str(), config_url.c_str());

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  std::fprintf(stderr, "vespar-demo-server: stopped\n");
  return 0;
}
