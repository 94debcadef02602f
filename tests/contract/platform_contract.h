// The Windows facts the program relies on, each written once against the Platform
// interface and run against every implementation: the simulated machine (on the host,
// and compiled for Windows), the benchmarks' flat machine where it claims to model the
// call, and the real platform under Wine. A fact arranges what it needs through the
// platform itself (the volume at C:\, a free drive letter, a scratch definition that it
// removes again), so that it runs unchanged on a real Windows machine.
//
// What Windows answers is written in the fact, with where that answer comes from: a
// conformance test that runs on Windows asserts it, a Microsoft page states it, or
// neither and the fact says what it is inferred from. A fact is of the least certain
// kind among the things it checks. Where Wine answers otherwise, the one table of known
// Wine deviations says what Wine answers; under Wine that answer is asserted instead, so
// an entry that goes stale fails. Wine's answers are never taken for Windows'.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/platform.h"

namespace vol::contract {

inline constexpr uint32_t kAnyError = 0xFFFFFFFFu;  // the fact says nothing of the last error

// What a fact observed: the call's result, the last error after it, and what the fact
// read from the buffers, in its own words.
struct Answer {
  Answer(int64_t result_ = 0, uint32_t error_ = kAnyError, std::wstring text_ = {})
      : result(result_), error(error_), text(std::move(text_)) {}
  int64_t result;
  uint32_t error;
  std::wstring text;
  bool operator==(const Answer&) const = default;
};

// What a fact finds on the machine before it asks.
struct Scene {
  std::wstring system_volume;  // \\?\Volume{...}\ mounted at C:\ (found by enumeration)
  std::wstring system_device;  // its NT device name, as QueryDosDevice gives it
  std::wstring free_letter;    // "X:": a letter the DOS-device namespace does not name
};

// Where a fact's answer comes from.
enum class Kind {
  kSeenOnWindows,  // a conformance test that runs on Windows asserts it (Wine's kernel32
                   // tests, outside todo_wine and Wine-only branches)
  kDocumented,     // a Microsoft page states it
  kInferred,       // neither; the source says from what
};
const char* KindName(Kind kind);

struct Fact {
  const char* name;  // a test name: letters and digits only
  Kind kind;
  const char* source;  // the test, the page, or what the answer is inferred from
  Answer windows;      // what Windows answers
  Answer (*ask)(Platform& platform, const Scene& scene);
  bool flat = false;  // the benchmarks' flat machine models the calls it makes
  // A second answer Windows gives on some versions (the conformance tests' broken()).
  const Answer* also = nullptr;
};

// GoogleTest names a fact by its name.
inline void PrintTo(const Fact& fact, std::ostream* os) { *os << fact.name; }

// The facts that run against every implementation.
const std::vector<Fact>& Facts();

struct WineDeviation {
  const char* fact;
  Answer wine;
  const char* what;  // what Wine does differently
};
const std::vector<WineDeviation>& WineDeviations();

// The platform asked plainly, for facts and for tests that compare with the system.
// A multi-string of count characters, split; a volume GUID path's shape; every volume
// enumerated; a volume's mount paths; a DOS name's targets; Volume{GUID} of a volume.
std::vector<std::wstring> SplitMultiString(const wchar_t* text, std::size_t count);
bool IsVolumeGuidPath(std::wstring_view name);
std::vector<std::wstring> Volumes(Platform& platform);
std::vector<std::wstring> MountPaths(Platform& platform, const std::wstring& volume);
std::vector<std::wstring> Targets(Platform& platform, const std::wstring& name, ApiForm form);
std::wstring NamespaceName(const std::wstring& volume);

// The first letter from Y: down to D: that the namespace does not name, or empty.
std::wstring FreeLetter(Platform& platform);

// A free drive letter held for one case: every definition of it is removed again when
// the holder goes, whatever the case did with it (scratch letters are seen by every
// process of the session).
class ScratchLetter {
 public:
  explicit ScratchLetter(Platform& platform);
  ScratchLetter(const ScratchLetter&) = delete;
  ScratchLetter& operator=(const ScratchLetter&) = delete;
  ~ScratchLetter();

  bool ok() const { return !name_.empty(); }
  const std::wstring& name() const { return name_; }   // Y:
  std::wstring root() const { return name_ + L"\\"; }  // Y:\ .
  std::wstring Target();                               // the first target, or empty
  bool Defined() { return !Target().empty(); }
  bool DefineRaw(const std::wstring& nt_device, ApiForm form = ApiForm::Wide);

 private:
  Platform& platform_;
  std::wstring name_;
};

// Finds the system volume and a free letter; empty fields where the machine has none.
Scene Arrange(Platform& platform);

// What the fact must answer on this platform: Windows' answer, or Wine's where Wine is
// known to differ.
Answer Expected(const Fact& fact, bool under_wine);

// Whether the answer got is the one expected, with both in the message when not.
::testing::AssertionResult Holds(const Fact& fact, const Answer& got, bool under_wine);

// The counts the test command prints: the facts against every implementation and
// those the simulated machine alone answers (whose kinds the caller counts), and all of
// them by kind.
struct Counts {
  int facts, both, simulator_only, wine_deviations;
  int seen_on_windows, documented, inferred;
};
Counts CountFacts(const std::vector<Kind>& simulator_only);

}  // namespace vol::contract
