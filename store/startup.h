#pragma once
// Start-up and the files that locate everything: the program directory, the
// configuration file "velmora.ini", and the sample file BRINK.VLM with its
// one built-in entry, written anew at every start and closed to editing.

#include <string>
#include <string_view>

#include "platform/readcaps.h"

#include "store/datafolder.h"
#include "store/session.h"

namespace velmora {

inline constexpr char kConfigSection[] = "filenames";
// The code page of the stored texts: section "text", key "codepage", a
// Windows code page number; 1252 when the key is missing.
inline constexpr char kCodePageSection[] = "text";
inline constexpr char kCodePageKey[] = "codepage";
inline constexpr char kSampleName[] = "BRINK";
inline constexpr char kSampleExt[] = "VLM";

// Settles ProgramDir (given: the directory of the executable, ending in
// "/"), rewrites the sample file, creates the configuration file when it is
// missing, and chooses the working file: the configured one when it exists,
// else the sample file. A configuration file too large to be one is not
// read: the sample file is used, and StartUpWarning says why. A configured name that is one of the
// program's own files is not used either, and ConfigNotice says so. It makes the configured code
// page the stored texts' one; a number velmora cannot use leaves Windows-1252 and the message in
// s.CodePageProblem, and the file as it is. File errors propagate and leave the values set so far;
// a configuration file that is a folder, a pipe or a device is such an error, named with its path.
void RunStartUp(Session& s, const std::string& programDir);

// The start of a command that only reads (an export): settles ProgramDir
// and chooses the working file as RunStartUp does, but writes nothing and
// takes no lock, so it works on a read-only or full folder and beside a
// long operation of another instance. Without the configuration file the
// sample file is chosen, whether it exists or not: SampleRecord() is what it
// holds after every start.
void LocateWorkingFile(Session& s, const std::string& programDir);

// The sample file's one record, as WriteSampleFile writes it.
ContactRecord SampleRecord();

// The warning of a configuration file larger than kMaxConfigBytes, which
// start-up does not read: the sample file is used.
static_assert(kMaxConfigBytes == 1u << 20);
inline std::string TooLargeConfigText(const std::string& path) {
  return "The configuration file " + path +
         " is larger than 1 MiB and was not read; the sample file BRINK is used.";
}

// Creates or replaces "brink.vlm" with its one record, every byte after a
// field's text zero.
void WriteSampleFile(Session& s);

// Creates or replaces "velmora.ini" with its default five lines and the
// code page of the user's locale (LC_ALL, LC_CTYPE, LANG), so that a later
// change of locale never changes how the files read.
void CreateConfigFile(Session& s);

// Makes name (as given) the file opened at the next start; "Unable to write
// to %s" when the configuration file cannot be written.
void SetDefaultFile(Session& s, const std::string& name);

// True when the working file is the sample file, whatever its extension.
bool IsSampleFile(const Session& s);

// The refusal of editing in the sample file; the windows show it in a box
// (searchedit/cannotedit.h), the command line on its error output.
inline constexpr char kCannotEditText[] =
    "You cannot edit this file. - Open or create a different file.";

}  // namespace velmora
