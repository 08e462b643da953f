#pragma once
// Real CardDAV servers for tests: Radicale and Xandikos, each on a free
// loopback port with scratch storage, stopped by their pid. A test checks
// Installed() first and skips with the reason when the program is missing.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "support/testdir.h"

namespace velmora::testing {

// Whether program is on the PATH.
bool Installed(const std::string& program);
// The exit status of a shell command line; -1 when it did not exit.
int Shell(const std::string& cmd);
// A loopback TCP port nothing listens on now.
int FreePort();
// One raw HTTP/1.1 request to the loopback port; its status code, or 0
// when nothing answers.
int Http(int port, const std::string& request);

// A server process on a loopback port, with the folders it keeps; Stop()
// and Start() again keep port and storage, for a server that goes away in
// the middle of a sync.
class RunningServer {
 public:
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;
  virtual ~RunningServer();

  // Starts the server and waits until it accepts connections. Throws
  // std::runtime_error when it does not come up.
  void Start();
  void Stop();
  bool running() const { return pid_ > 0; }

  int port() const { return port_; }
  // "http://127.0.0.1:PORT" or "https://..." without a path.
  std::string url() const;
  // A request through curl (certificates not checked): the HTTP status, or
  // 0 when nothing answered. user "" sends no login.
  int Request(const std::string& method, const std::string& path, const std::string& body = {},
              const std::string& user = {}, const std::string& contentType = {},
              std::vector<std::string> headers = {}) const;
  // What the server wrote to stdout and stderr, for a failing test.
  std::string Log() const;
  const TestDir& dir() const { return dir_; }

 protected:
  RunningServer(std::string program, bool https);
  virtual std::vector<std::string> Arguments() const = 0;
  virtual std::string PasswordOf(const std::string& user) const {
    (void)user;
    return {};
  }

  TestDir dir_;
  std::string program_;
  bool https_;
  int port_;
  pid_t pid_ = 0;
};

class RunningRadicale : public RunningServer {
 public:
  struct Options {
    // user → password (stored plain in an htpasswd file); none: anyone
    // may do anything without a login.
    std::map<std::string, std::string> users;
    // HTTPS with a certificate for 127.0.0.1 made now, which no authority
    // vouches for.
    bool https = false;
  };
  RunningRadicale();
  explicit RunningRadicale(Options options);

  // Creates the address book path (e.g. "/ann/book/") by MKCOL as user,
  // and first the user's own collection when it is not there yet. Its
  // status: 201 when made.
  int MakeAddressBook(const std::string& path, const std::string& user = {});
  // The certificate's SHA-256 fingerprint, "AB:CD:..." upper-case.
  const std::string& fingerprint() const { return fingerprint_; }

 protected:
  std::vector<std::string> Arguments() const override;
  std::string PasswordOf(const std::string& user) const override;

 private:
  Options options_;
  std::string fingerprint_;
};

class RunningXandikos : public RunningServer {
 public:
  RunningXandikos();
  // The address book made at start, an absolute URL ending in "/".
  std::string addressBook() const { return url() + "/user/contacts/addressbook/"; }

 protected:
  std::vector<std::string> Arguments() const override;
};

}  // namespace velmora::testing
