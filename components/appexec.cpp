#include "components/appexec.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/programdir.h"
#include "platform/showcommand.h"
#include "platform/text.h"

extern char** environ;

namespace velmora {
namespace {

constexpr size_t kEntries = 17;

// The numbers with an entry of their own, in table order; every number from
// 32 up shares the last entry.
constexpr std::array<int, kEntries - 1> kListedNumbers = {0,  2,  3,  5,  6,  8,  10, 11,
                                                          12, 13, 14, 15, 16, 19, 20, 21};

// The three tables, indexed by TLangType. Each text is meant exactly as
// written here, down to the blank that ends the Italian text of 11.
constexpr std::array<std::array<const char*, kEntries>, 3> kTables = {{
    {{
        "Système dépassé en capacité mémoire, exécutable corrompu, ou réallocations invalides",
        "Fichier non trouvé",
        "Chemin non trouvé",
        "Tentative de liaison dynamique à une tâche, ou erreur de partage, ou erreur de protection réseau",
        "Librairie nécessitant des segments de données séparés pour chaque tâche",
        "Mémoire insuffisante pour démarrer l'application",
        "Version de Windows incorrecte",
        "Exécutable invalide, application non Windows, ou erreur dans l'image du fichier .EXE",
        "Application écrite pour un système d'exploitation différent",
        "Application écrite pour MS-DOS 4.0",
        "Type d'exécutable inconnu",
        "Tentative de chargement d'une application en mode réel (développée pour une version antérieure de Windows)",
        "Tentative de chargement d'une seconde instance d'un exécutable contenant plusieurs segments de données non marqués en lecture seule",
        "Tentative de chargement d'un exécutable compressé. Le fichier doit être décompressé avant de pouvoir être chargé",
        "Fichier Dynamic-link library (DLL) invalide. Une des DLLs requises pour exécuter cette application est corrompue",
        "Application nécessitant des extensions 32-bit",
        "Pas d'erreur",
    }},
    {{
        "System was out of memory, executable file was corrupt, or relocations were invalid",
        "File was not found",
        "Path was not found",
        "Attempt was made to dynamically link to a task, or there was a sharing or network-protection error",
        "Library required separate data segments for each task",
        "There was insufficient memory to start the application",
        "Windows version was incorrect",
        "Executable file was invalid. Either it was not a Windows application or there was an error in the .EXE image",
        "Application was designed for a different operating system",
        "Application was designed for MS-DOS 4.0",
        "Type of executable file was unknown",
        "Attempt was made to load a real-mode application (developed for an earlier version of Windows)",
        "Attempt to load second instance of an executable containing multiple data segments not marked read-only",
        "Attempt was made to load a compressed executable file. The file must be decompressed before it can be loaded",
        "Dynamic-link library (DLL) file was invalid. One of the DLLs required to run this application was corrupt",
        "Application requires 32-bit extensions",
        "No error",
    }},
    {{
        "Il sistema non dispone di memoria sufficiente, il file eseguibile e' danneggiato, od i riferimenti sono sbagliati",
        "File non trovato",
        "Path non trovato",
        "E' stato fatto un tentativo per collegarsi dinamicamente all'applicazione, o c'e' stato un errore di condivisione o di protezione della rete",
        "La libreria richiede segmenti di dati differenti per ogni copia dell'applicazione",
        "Non c'e' abbastanza memoria per lanciare l'applicazione",
        "Versione errata di Windows",
        "File eseguibile invalido. Potrebbe non essere un'applicazione per Windows o c'e' un errore nell'immagine .EXE ",
        "Applicazione destinata ad un sistema operativo differente",
        "Applicazione per MS-DOS 4.0",
        "File eseguibile di tipo sconosciuto",
        "E' stato fatto un tentativo per caricare l'applicazione di modalita' reale (sviluppata per le precedenti versioni di Windows)",
        "E' stato fatto un tentativo per caricare una seconda volta un eseguibile che contiene segmenti di dati multipli non marcati Sola Lettura",
        "E' stato fatto un tentativo per caricare un file eseguibile compresso. Il file deve essere decompresso prima di poter essere caricato",
        "La libreria DLL non e' valida. Una delle librerie DLL richieste dall'applicazione per poter girare e' danneggiata",
        "L'Applicazione richiede l'installazione delle estensioni a 32-Bit",
        "Nessun errore",
    }},
}};

// Texts of ours for what the tables do not cover, indexed by TLangType.
constexpr std::array<const char*, 3> kUnlistedNumber = {"Erreur inconnue ", "Unknown error ",
                                                        "Errore sconosciuto "};
constexpr std::array<const char*, 3> kCommandLineTooLong = {
    "Ligne de commande de plus de 511 caractères",
    "Command line is longer than 511 characters",
    "Riga di comando più lunga di 511 caratteri",
};

// The one message table of the process: refilling it means choosing the
// language every launcher's messages are read in.
TLangType g_tableLanguage = ltFrench;

int g_waits = 0;  // Execute calls waiting for their program, across launchers

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A file this process may start.
bool IsRunnable(const std::string& path) {
  return IsRegularFile(path) && ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

// The first of the spellings in dir that this process may start. A regular
// file it may not start (an entry's note that bears the name) is passed
// over and noted in *unrunnable.
std::string FileIn(std::string dir, const std::vector<std::string>& spellings, bool* unrunnable) {
  if (dir.empty()) return {};
  if (dir.back() != '/') dir += '/';
  for (const std::string& name : spellings) {
    const std::string path = dir + name;
    if (IsRunnable(path)) return path;
    if (IsRegularFile(path)) *unrunnable = true;
  }
  return {};
}

// The first directory of the search that holds one of the spellings, all
// of them tried in each directory before the next. Relative entries of the
// list (and empty ones, which mean the current directory) are skipped.
std::string SearchFor(const std::vector<std::string>& spellings, const std::string& callerDir,
                      const std::string& pathList, bool* unrunnable) {
  if (std::string p = FileIn(callerDir, spellings, unrunnable); !p.empty()) return p;
  size_t begin = 0;
  while (begin <= pathList.size()) {
    size_t end = pathList.find(':', begin);
    if (end == std::string::npos) end = pathList.size();
    const std::string dir = pathList.substr(begin, end - begin);
    if (!dir.empty() && dir[0] == '/') {
      if (std::string p = FileIn(dir, spellings, unrunnable); !p.empty()) return p;
    }
    begin = end + 1;
  }
  return {};
}

// A path as given: what is missing decides between 2 and 3.
std::string CheckPath(const std::string& path, int* errNo) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return path;  // the start reports what else is wrong
  const int err = errno;
  if (err == ENOENT) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    *errNo = IsDirectory(dir) ? 2 : 3;
  } else {
    *errNo = appexec::ErrNoFromErrno(err);
  }
  return {};
}

bool EndsWithExe(const std::string& name) {
  return name.size() > 4 && SameName(std::string_view(name).substr(name.size() - 4), ".exe");
}

// --- Starting a process ---------------------------------------------------
// After fork only async-signal-safe calls are allowed (the caller has other
// threads), so everything the child needs is built beforehand.

struct Spawned {
  pid_t pid = -1;
  int error = 0;  // errno of the failed step; 0 when started
};

[[noreturn]] void ReportAndExit(int fd, int err) {
  ssize_t ignored = ::write(fd, &err, sizeof err);
  (void)ignored;
  ::_exit(127);
}

void MarkDescriptorsCloseOnExec(long maxFd) {
#ifdef SYS_close_range
  constexpr unsigned kCloseRangeCloexec = 1u << 2;
  if (::syscall(SYS_close_range, 3u, ~0u, kCloseRangeCloexec) == 0) return;
#endif
  for (int fd = 3; fd < maxFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Starts path with the words as arguments. detached: the program is started
// by an intermediate process that ends at once, so it is never this
// process's child and needs no reaping.
Spawned Spawn(const std::string& path, const std::vector<std::string>& words, int niceness,
              int showCommand, bool detached) {
  std::vector<char*> argv;
  std::string argv0 = path;
  argv.push_back(argv0.data());
  std::vector<std::string> args(words.begin() + 1, words.end());
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const std::string prefix = std::string(kShowCommandVariable) + "=";
  std::string show = prefix + std::to_string(showCommand);
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e)
    if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) envp.push_back(*e);
  envp.push_back(show.data());
  envp.push_back(nullptr);

  const long maxFd = std::min<long>(::sysconf(_SC_OPEN_MAX), 65536);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {-1, errno};

  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return {-1, err};
  }
  if (pid == 0) {
    ::close(pipeFds[0]);
    if (detached) {
      const pid_t grandchild = ::fork();
      if (grandchild < 0) ReportAndExit(pipeFds[1], errno);
      if (grandchild > 0) ::_exit(0);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    // A refused priority leaves the program at the caller's: never a failed
    // start for that alone.
    if (niceness != INT_MIN) ::setpriority(PRIO_PROCESS, 0, niceness);
    MarkDescriptorsCloseOnExec(maxFd);
    ::execve(argv[0], argv.data(), envp.data());
    ReportAndExit(pipeFds[1], errno);
  }

  ::close(pipeFds[1]);
  // The pipe closes unread when exec succeeds; else it brings the errno.
  int childError = 0;
  ssize_t n;
  do n = ::read(pipeFds[0], &childError, sizeof childError);
  while (n < 0 && errno == EINTR);
  ::close(pipeFds[0]);
  if (detached || n == sizeof childError) {
    int r;
    do r = ::waitpid(pid, nullptr, 0);
    while (r < 0 && errno == EINTR);
  }
  if (n == sizeof childError) return {-1, childError};
  return {detached ? 0 : pid, 0};
}

// The niceness to start at, or INT_MIN to keep the caller's. Real-time
// scheduling would let a runaway program freeze the desktop, so pcRealtime
// asks for the highest time-shared priority instead.
int NicenessFor(TPriorClass priority) {
  errno = 0;
  const int own = ::getpriority(PRIO_PROCESS, 0);
  switch (priority) {
    case pcIdle: return 19;
    case pcHigh: return std::max(-20, own - 5);
    case pcRealtime: return -20;
    case pcNormal: break;
  }
  return INT_MIN;
}

class WaitCount {
 public:
  WaitCount() { ++g_waits; }
  ~WaitCount() { --g_waits; }
};

}  // namespace

namespace appexec {

std::string MessageFor(int errNo) {
  const auto& table = kTables[g_tableLanguage];
  if (errNo >= 32) return table[kEntries - 1];
  for (size_t i = 0; i < kListedNumbers.size(); ++i)
    if (kListedNumbers[i] == errNo) return table[i];
  return kUnlistedNumber[g_tableLanguage] + std::to_string(errNo);
}

int ErrNoFromErrno(int err) {
  switch (err) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG: return 3;
    case EACCES:
    case EPERM:
    case ETXTBSY: return 5;
    case ENOMEM:
    case EAGAIN:
    case E2BIG: return 8;
    case ENOEXEC:
    case ELIBBAD:
    case EISDIR: return 11;
    default: return -err;
  }
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < commandLine.size()) {
    while (i < commandLine.size() && commandLine[i] == ' ') ++i;
    const size_t begin = i;
    while (i < commandLine.size() && commandLine[i] != ' ') ++i;
    if (i > begin) words.push_back(commandLine.substr(begin, i - begin));
  }
  return words;
}

std::string FindProgram(const std::string& name, const std::string& callerDir,
                        const std::string& pathList, int* errNo) {
  *errNo = 2;
  if (name.empty()) return {};
  std::vector<std::string> spellings = {name};
  if (EndsWithExe(name)) spellings.push_back(name.substr(0, name.size() - 4));
  if (name.find('/') != std::string::npos) {
    for (const std::string& path : spellings)
      if (IsRunnable(path)) return path;
    std::string found = CheckPath(name, errNo);
    if (found.empty() && spellings.size() > 1) found = CheckPath(spellings[1], errNo);
    return found;
  }
  bool unrunnable = false;
  std::string found = SearchFor(spellings, callerDir, pathList, &unrunnable);
  if (found.empty() && unrunnable) *errNo = 5;  // as starting it would have said
  return found;
}

}  // namespace appexec

TAppExec::TAppExec(QObject* owner) : QObject(owner) { SetLangType(ltFrench); }

void TAppExec::SetExePath(const std::string& v) {
  if (v == exePath_) return;
  exePath_ = v;
  const bool loneSeparator = v.size() == 1;
  const bool driveRoot = v.size() == 3 && v[1] == ':';
  if (!v.empty() && IsSeparator(v.back()) && !loneSeparator && !driveRoot) exePath_.pop_back();
}

void TAppExec::SetLangType(TLangType v) {
  langType_ = v;
  g_tableLanguage = v;
}

void TAppExec::SetWindowState(TWindowState v) {
  if (v == windowState_) return;
  windowState_ = v;
  showCommand_ = int(v) + 1;
}

std::string TAppExec::CommandLine() const {
  std::string line = exeName_;
  for (const std::string& p : exeParams_) line += " " + p;
  return line;
}

std::string TAppExec::ErrorMessage() const { return appexec::MessageFor(errNo_); }

bool TAppExec::Waiting() { return g_waits > 0; }

void TAppExec::Execute() {
  const int niceness = NicenessFor(priorityClass_);
  const std::string line = CommandLine();
  if (line.size() > kMaxCommandLine) throw EAppExecWinExec(kCommandLineTooLong[g_tableLanguage]);

  if (changeDir_ && !exePath_.empty() && ::chdir(exePath_.c_str()) != 0)
    throw EAppExecChDir(IoError::TextFor(IoCodeFromErrno(errno)));

  errNo_ = 0;
  const std::vector<std::string> words = appexec::SplitCommandLine(line);
  int failure = 2;
  const char* pathList = std::getenv("PATH");
  const std::string program =
      words.empty()
          ? std::string()
          : appexec::FindProgram(words[0], ExecutableDir(), pathList ? pathList : "", &failure);
  if (program.empty()) {
    errNo_ = failure;
    throw EAppExecWinExec(ErrorMessage());
  }
  const Spawned started = Spawn(program, words, niceness, showCommand_, !wait_);
  if (started.error != 0) {
    errNo_ = appexec::ErrNoFromErrno(started.error);
    throw EAppExecWinExec(ErrorMessage());
  }
  if (!wait_) return;

  // The end is learnt from the process itself (a descriptor that becomes
  // readable when it ends), so no exit status can be mistaken for "still
  // running", and the caller's events are handled meanwhile without
  // spinning. Kernels without process descriptors are polled gently.
  WaitCount waiting;
  bool ended = false;
  const int pidfd = int(::syscall(SYS_pidfd_open, started.pid, 0));
  std::optional<QSocketNotifier> endNotifier;
  QTimer poll;
  if (pidfd >= 0) {
    endNotifier.emplace(pidfd, QSocketNotifier::Read);
    QObject::connect(&*endNotifier, &QSocketNotifier::activated, [&] {
      ended = true;
      endNotifier->setEnabled(false);
    });
  } else {
    QObject::connect(&poll, &QTimer::timeout, [&] {
      siginfo_t info{};
      if (::waitid(P_PID, started.pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0)
        ended = true;
    });
    poll.start(50);
  }
  QCoreApplication::processEvents();
  while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  endNotifier.reset();
  if (pidfd >= 0) ::close(pidfd);

  siginfo_t info{};
  int r;
  do r = ::waitid(P_PID, started.pid, &info, WEXITED);
  while (r < 0 && errno == EINTR);
  if (r != 0) {
    errNo_ = appexec::ErrNoFromErrno(errno);
    QCoreApplication::processEvents();
    throw EAppExecWinExec(ErrorMessage());
  }
  errNo_ = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

}  // namespace velmora
