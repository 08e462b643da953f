#pragma once
// TAppExec: a non-visual component that starts another program with a
// command line built from its properties and, when asked to, waits for it to
// end while the calling program's windows stay live. Failures are raised as
// EAppExec errors whose texts come from one process-wide message table in
// French, English or Italian.
//
// The command line is ExeName followed by the lines of ExeParams, each after
// one blank; it is split at blanks into the program and its arguments, with
// no quoting. The program is looked for in the directory of the running
// program, then along PATH (absolute entries only: never the current
// directory); a name holding "/" is taken as a path. A name ending in ".exe"
// is looked for in each directory as it is and then without that ending,
// before the next directory; a file that may not be run is passed over.
//
// The started program learns its show command from the environment
// (platform/showcommand.h); it inherits no descriptor of the caller.

#include <QObject>
#include <string>
#include <vector>

#include "platform/ioerror.h"

namespace velmora {

enum TLangType { ltFrench = 0, ltEnglish = 1, ltItalian = 2 };
enum TPriorClass { pcHigh = 0, pcIdle = 1, pcNormal = 2, pcRealtime = 3 };
enum TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

class EAppExec : public AppError {
 public:
  using AppError::AppError;
};
// The change to ExePath failed; nothing was started.
class EAppExecChDir : public EAppExec {
 public:
  using EAppExec::EAppExec;
};
// The program could not be started, or its end could not be learnt.
class EAppExecWinExec : public EAppExec {
 public:
  using EAppExec::EAppExec;
};

class TAppExec : public QObject {
  Q_OBJECT

 public:
  // The longest command line accepted; a longer one is refused, never cut.
  static constexpr size_t kMaxCommandLine = 511;

  // Sets the defaults, among them LangType ltFrench, which refills the
  // process-wide message table in French.
  explicit TAppExec(QObject* owner = nullptr);

  bool ChangeDir() const { return changeDir_; }
  void SetChangeDir(bool v) { changeDir_ = v; }

  // 32 until the first Execute; then 0 (started, not waited for), the
  // started program's exit status (waited for: 128 + the signal for a
  // program killed by one), or the failure number of a failed start.
  int ErrNo() const { return errNo_; }

  const std::string& ExeName() const { return exeName_; }
  void SetExeName(const std::string& v) { exeName_ = v; }

  const std::vector<std::string>& ExeParams() const { return exeParams_; }
  void SetExeParams(const std::vector<std::string>& lines) { exeParams_ = lines; }

  // One trailing separator ("\" or "/") is dropped, except from a lone
  // separator and from a drive root such as C:\.
  const std::string& ExePath() const { return exePath_; }
  void SetExePath(const std::string& v);

  TLangType LangType() const { return langType_; }
  // Refills the one message table that every launcher of the process uses.
  void SetLangType(TLangType v);

  TPriorClass PriorityClass() const { return priorityClass_; }
  void SetPriorityClass(TPriorClass v) { priorityClass_ = v; }

  bool Wait() const { return wait_; }
  void SetWait(bool v) { wait_ = v; }

  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState v);
  // 1 normal, 2 minimized, 3 maximized, following WindowState.
  int ShowCommand() const { return showCommand_; }

  // The command line Execute would start now.
  std::string CommandLine() const;

  // Starts the program; with Wait, returns when it has ended, having handled
  // the caller's events meanwhile without spinning (so a handler run during
  // the wait may call Execute again, and that inner call returns first).
  // Throws EAppExecChDir when the change of directory fails (ErrNo
  // unchanged), EAppExecWinExec when the program cannot be started or its
  // end cannot be learnt, and for a command line over kMaxCommandLine
  // characters (ErrNo unchanged, nothing started).
  void Execute();

  // The message table's text for ErrNo.
  std::string ErrorMessage() const;

  // True while an Execute of any launcher waits for its program.
  static bool Waiting();

 private:
  bool changeDir_ = true;
  int errNo_ = 32;
  std::string exeName_;
  std::vector<std::string> exeParams_;
  std::string exePath_;
  TLangType langType_ = ltFrench;
  TPriorClass priorityClass_ = pcNormal;
  bool wait_ = false;
  TWindowState windowState_ = wsNormal;
  int showCommand_ = 1;
};

// The launcher's logic apart from any process, for the launcher and its tests.
namespace appexec {

// The table's text for an error number, in the language of the process-wide
// table. Numbers the table does not list get a text that names the number.
std::string MessageFor(int errNo);

// A failed start's errno as the table's number: not found 2, a path
// component missing or not a directory 3, permission denied 5, out of
// memory 8, not an executable format 11; any other errno e becomes -e, a
// number the table does not list (32 and above would read "No error").
int ErrNoFromErrno(int err);

// The command line split at blanks, empty words dropped.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Where the program of a command line's first word lies: a name holding "/"
// as given, else the first file of that name this process may run in
// callerDir, then in each absolute directory of pathList (":"-separated).
// "X.exe" is tried as "X.exe", then as "X", in each directory in turn. On
// failure returns empty and sets *errNo: 2 or 3 when nothing is there, 5
// when only files that may not be run are.
std::string FindProgram(const std::string& name, const std::string& callerDir,
                        const std::string& pathList, int* errNo);

}  // namespace appexec
}  // namespace velmora
