#include "support/servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmora::testing {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The standard output of a command line.
std::string Output(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

int Shell(const std::string& cmd) {
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Installed(const std::string& program) {
  return Shell("command -v " + Quote(program) + " >/dev/null 2>&1") == 0;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

int Http(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int code = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::write(fd, request.data(), request.size()) == ssize_t(request.size())) {
    char buf[64] = {};
    if (::read(fd, buf, sizeof buf - 1) > 12) code = std::atoi(buf + 9);
  }
  ::close(fd);
  return code;
}

RunningServer::RunningServer(std::string program, bool https)
    : program_(std::move(program)), https_(https), port_(FreePort()) {}

RunningServer::~RunningServer() { Stop(); }

void RunningServer::Start() {
  if (pid_ > 0) return;
  std::vector<std::string> args = Arguments();
  args.insert(args.begin(), program_);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  const std::string log = dir_ / "server.log";
  ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int rc = ::posix_spawnp(&pid_, program_.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = 0;
    throw std::runtime_error("cannot start " + program_);
  }
  for (int i = 0; i < 400; ++i) {
    if (Accepts(port_)) return;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Stop();
  throw std::runtime_error(program_ + " did not start: " + Log());
}

void RunningServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

std::string RunningServer::url() const {
  return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

int RunningServer::Request(const std::string& method, const std::string& path,
                           const std::string& body, const std::string& user,
                           const std::string& contentType, std::vector<std::string> headers) const {
  std::string cmd = "curl -s -k -o /dev/null -w '%{http_code}' -X " + Quote(method);
  if (!user.empty()) cmd += " -u " + Quote(user + ":" + PasswordOf(user));
  if (!contentType.empty()) headers.push_back("Content-Type: " + contentType);
  for (const std::string& h : headers) cmd += " -H " + Quote(h);
  if (!body.empty()) {
    dir_.Write("request.body", body);
    cmd += " --data-binary @" + Quote(dir_ / "request.body");
  }
  return std::atoi(Output(cmd + " " + Quote(url() + path)).c_str());
}

std::string RunningServer::Log() const {
  return dir_.Exists("server.log") ? dir_.Read("server.log") : "";
}

RunningRadicale::RunningRadicale() : RunningRadicale(Options()) {}

RunningRadicale::RunningRadicale(Options options)
    : RunningServer("radicale", options.https), options_(std::move(options)) {
  std::filesystem::create_directories(dir_ / "store");
  if (!options_.users.empty()) {
    std::string users;
    for (const auto& [user, password] : options_.users) users += user + ":" + password + "\n";
    dir_.Write("users", users);
  }
  if (options_.https) {
    if (Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
              "-addext subjectAltName=IP:127.0.0.1 -keyout " +
              Quote(dir_ / "key.pem") + " -out " + Quote(dir_ / "cert.pem") + " >/dev/null 2>&1") !=
        0)
      throw std::runtime_error("openssl cannot make a certificate");
    // "sha256 Fingerprint=AB:CD:..."
    const std::string line =
        Output("openssl x509 -noout -fingerprint -sha256 -in " + Quote(dir_ / "cert.pem"));
    const size_t eq = line.find('=');
    if (eq == std::string::npos) throw std::runtime_error("no fingerprint: " + line);
    fingerprint_ = line.substr(eq + 1);
    while (!fingerprint_.empty() && std::isspace(uint8_t(fingerprint_.back())))
      fingerprint_.pop_back();
  }
  Start();
}

std::vector<std::string> RunningRadicale::Arguments() const {
  // No configuration file of the machine or the user's may change the test.
  std::vector<std::string> a = {"--config=", "--storage-filesystem-folder=" + (dir_ / "store"),
                                "--server-hosts=127.0.0.1:" + std::to_string(port_),
                                "--logging-level=info"};
  if (options_.users.empty()) {
    a.insert(a.end(), {"--auth-type=none", "--rights-type=authenticated"});
  } else {
    a.insert(a.end(),
             {"--auth-type=htpasswd", "--auth-htpasswd-filename=" + (dir_ / "users"),
              "--auth-htpasswd-encryption=plain", "--auth-delay=0", "--rights-type=owner_only"});
  }
  if (options_.https)
    a.insert(a.end(), {"--server-ssl=True", "--server-certificate=" + (dir_ / "cert.pem"),
                       "--server-key=" + (dir_ / "key.pem")});
  return a;
}

std::string RunningRadicale::PasswordOf(const std::string& user) const {
  const auto it = options_.users.find(user);
  return it == options_.users.end() ? std::string() : it->second;
}

int RunningRadicale::MakeAddressBook(const std::string& path, const std::string& user) {
  // The parents first; those there already answer with an error, ignored.
  for (size_t slash = path.find('/', 1); slash + 1 < path.size(); slash = path.find('/', slash + 1))
    Request("MKCOL", path.substr(0, slash + 1), {}, user);
  return Request("MKCOL", path,
                 "<?xml version=\"1.0\"?><D:mkcol xmlns:D=\"DAV:\" "
                 "xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:set><D:prop><D:resourcetype>"
                 "<D:collection/><C:addressbook/></D:resourcetype></D:prop></D:set></D:mkcol>",
                 user, "application/xml");
}

RunningXandikos::RunningXandikos() : RunningServer("xandikos", false) { Start(); }

std::vector<std::string> RunningXandikos::Arguments() const {
  return {"--defaults", "-d", dir_ / "store", "-l", "127.0.0.1", "-p", std::to_string(port_)};
}

}  // namespace velmora::testing
