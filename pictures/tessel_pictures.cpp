// tessel-pictures: serves the cube pictures that tessel's image tags ask
// for, on the loopback interface, so that a saved page of cube pictures
// shows without any network.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "picture_svg.h"

namespace {

constexpr const char* kUsage =
    "usage: tessel-pictures [--address ADDRESS] [--port PORT]\n"
    "Serves cube pictures for tessel at http://ADDRESS:PORT/cube\n"
    "  --address ADDRESS  address to listen on (default 127.0.0.1)\n"
    "  --port PORT        port to listen on, 0 for any free port (default 8047)\n"
    "  --help             show this text and exit\n"
    "Stops on SIGINT or SIGTERM.\n";

struct Options {
  std::string address = "127.0.0.1";
  int port = 8047;
};

bool parse_port(const char* text, int& port) {
  const std::string_view s = text;
  if (s.empty() || s.size() > 5) return false;
  int value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return false;
  port = value;
  return true;
}

// Returns -1 to go on, otherwise the exit status.
int parse_options(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--address" || arg == "--port") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tessel-pictures: %s needs a value\n%s", argv[i], kUsage);
        return 1;
      }
      const char* value = argv[++i];
      if (arg == "--address") {
        if (*value == '\0') {
          std::fprintf(stderr, "tessel-pictures: empty address\n");
          return 1;
        }
        opt.address = value;
      } else if (!parse_port(value, opt.port)) {
        std::fprintf(stderr, "tessel-pictures: bad port %s (0..65535)\n", value);
        return 1;
      }
      continue;
    }
    std::fprintf(stderr, "tessel-pictures: unknown argument %s\n%s", argv[i], kUsage);
    return 1;
  }
  return -1;
}

void configure(httplib::Server& server) {
  // Eight workers are plenty for pictures; idle and slow connections are
  // dropped quickly so that they cannot hold the workers.
  server.new_task_queue = [] { return new httplib::ThreadPool(8); };
  server.set_keep_alive_max_count(100);
  server.set_keep_alive_timeout(2);
  server.set_read_timeout(3, 0);
  server.set_write_timeout(3, 0);
  server.set_payload_max_length(4096);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // server share the port unnoticed; only a quick restart is wanted.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  server.Get("/cube", [](const httplib::Request& req, httplib::Response& res) {
    // The raw query text, before any decoding: tessel writes plain letters.
    const std::size_t q = req.target.find('?');
    const std::string_view query =
        q == std::string::npos ? std::string_view{} : std::string_view(req.target).substr(q + 1);
    tessel::pictures::Reply reply = tessel::pictures::answer_query(query);
    res.status = reply.status;
    if (reply.status == 200) res.set_header("Cache-Control", "max-age=3600");
    res.set_content(std::move(reply.body), reply.content_type.c_str());
  });

  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    res.set_content(res.status == 404 ? "not found\n" : "request refused\n",
                    "text/plain; charset=utf-8");
  });

  server.set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"Content-Security-Policy", "default-src 'none'"},
  });
}

std::string url_host(const std::string& address) {
  return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (const int status = parse_options(argc, argv, opt); status >= 0) return status;

  // Signals are taken by sigwait in this thread only; the server's threads
  // inherit the blocked mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  sigaddset(&stop_signals, SIGUSR1);  // the server thread ended by itself
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server server;
  configure(server);

  int port = opt.port;
  if (opt.port == 0) {
    port = server.bind_to_any_port(opt.address);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(opt.address, opt.port)) {
    port = 0;
  }
  if (port <= 0) {
    std::fprintf(stderr, "tessel-pictures: cannot listen on %s port %d\n", opt.address.c_str(),
                 opt.port);
    return 2;
  }
  std::printf("tessel-pictures: serving http://%s:%d/cube\n", url_host(opt.address).c_str(), port);
  std::fflush(stdout);

  bool listened = true;
  std::atomic<bool> done{false};
  std::thread worker([&server, &listened, &done] {
    listened = server.listen_after_bind();
    done = true;
    kill(getpid(), SIGUSR1);
  });

  int sig = 0;
  sigwait(&stop_signals, &sig);
  // stop() only acts on a running server: a signal that comes very early
  // waits until the listening loop has started.
  while (!done && !server.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!done) server.stop();
  worker.join();
  if (sig == SIGUSR1 && !listened) {
    std::fprintf(stderr, "tessel-pictures: the server stopped unexpectedly\n");
    return 2;
  }
  return 0;
}
