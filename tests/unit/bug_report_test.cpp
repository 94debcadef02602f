// The crash reporter's text: the report's layout, address widths, frame and module
// lines, what an incomplete report says, and the messages of structured exceptions;
// and the COFF symbol tables that give the frames of MinGW images their names.
#include "crash/full/bug_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/full/coff_symbols.h"

namespace vol::crash {
namespace {

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
}

// The index of the first line equal to line; -1 when there is none.
int IndexOf(const std::vector<std::wstring>& lines, const std::wstring& line) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == line) return static_cast<int>(i);
  }
  return -1;
}

BugReport SampleReport() {
  BugReport report;
  report.error = L"Access violation at address 00401234 in module 'volumes.exe'";
  report.date_time = L"2024-03-05 14:07:09";
  report.executable = L"C:\\tools\\volumes.exe";
  report.process_id = 4242;
  report.pointer_bits = 32;
  ThreadStack main_thread;
  main_thread.id = 100;
  main_thread.main = true;
  main_thread.frames = {{0x7B012345, L"kernel32.dll", 0x12345, L"WaitForSingleObject", 0x15}};
  ThreadStack faulting;
  faulting.id = 200;
  faulting.faulting = true;
  faulting.frames = {{0x00401234, L"volumes.exe", 0x1234, L"vol::Unmount1Click()", 0x1D},
                     {0x00402000, L"volumes.exe", 0x2000, L"main", 0},
                     {0x00000010, L"", 0, L"", 0}};
  report.threads = {main_thread, faulting};
  report.modules = {{L"kernel32.dll", L"C:\\windows\\system32\\kernel32.dll", 0x7B000000, 0x100000},
                    {L"volumes.exe", L"C:\\tools\\volumes.exe", 0x00400000, 0x20000}};
  return report;
}

TEST(BugReportText, SampleReportReadsAsExpected) {
  const auto lines = SplitLines(FormatBugReport(SampleReport()));
  const std::vector<std::wstring> expected = {
      L"error      : Access violation at address 00401234 in module 'volumes.exe'",
      L"date/time  : 2024-03-05 14:07:09",
      L"executable : C:\\tools\\volumes.exe",
      L"process id : 4242",
      L"",
      L"thread 200 (the error happened here):",
      L"  00401234  volumes.exe+0x1234  vol::Unmount1Click()+0x1D",
      L"  00402000  volumes.exe+0x2000  main",
      L"  00000010  ?",
      L"",
      L"thread 100 (main thread):",
      L"  7B012345  kernel32.dll+0x12345  WaitForSingleObject+0x15",
      L"",
      L"modules:",
      L"  00400000  00020000  volumes.exe  C:\\tools\\volumes.exe",
      L"  7B000000  00100000  kernel32.dll  C:\\windows\\system32\\kernel32.dll",
      L"",
  };
  EXPECT_EQ(lines, expected);
}

TEST(BugReportText, ErrorTextOfSeveralLinesStaysUnderItsLabel) {
  const struct {
    const wchar_t* error;
    std::vector<std::wstring> first_lines;
  } cases[] = {
      {L"one\r\ntwo", {L"error      : one", L"             two"}},
      {L"one\ntwo\rthree", {L"error      : one", L"             two", L"             three"}},
      {L"ends with a break\r\n", {L"error      : ends with a break", L"             "}},
      {L"", {L"error      : ", L"date/time  : "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.error)));
    BugReport report;
    report.error = c.error;
    const auto lines = SplitLines(FormatBugReport(report));
    ASSERT_GE(lines.size(), c.first_lines.size());
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + c.first_lines.size()),
              c.first_lines);
  }
}

TEST(BugReportText, AddressesTakeThePointerWidth) {
  const struct {
    uint64_t address;
    int bits;
    const wchar_t* text;
  } cases[] = {
      {0, 32, L"00000000"},
      {0x401000, 32, L"00401000"},
      {0xFFFFFFFF, 32, L"FFFFFFFF"},
      {0x1FFFFFFFF, 32, L"FFFFFFFF"},  // a 32-bit process has no higher bits
      {0, 64, L"0000000000000000"},
      {0x140001000, 64, L"0000000140001000"},
      {0xFFFFFFFFFFFFFFFF, 64, L"FFFFFFFFFFFFFFFF"},
      {0xabcdef, 64, L"0000000000ABCDEF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(AddressText(c.address, c.bits), c.text);
  }
}

TEST(BugReportText, SixtyFourBitReportWritesWideAddresses) {
  BugReport report;
  report.pointer_bits = 64;
  report.threads = {{7, true, true, {{0x140001A2B, L"volumes.exe", 0x1A2B, L"", 0}}, L""}};
  report.modules = {{L"volumes.exe", L"", 0x140000000, 0x30000}};
  const auto lines = SplitLines(FormatBugReport(report));
  EXPECT_NE(IndexOf(lines, L"thread 7 (main thread, the error happened here):"), -1);
  EXPECT_NE(IndexOf(lines, L"  0000000140001A2B  volumes.exe+0x1A2B"), -1);
  EXPECT_NE(IndexOf(lines, L"  0000000140000000  00030000  volumes.exe"), -1);
}

TEST(BugReportText, MissingPartsAreSaidNotLeftOut) {
  BugReport report;
  report.threads = {{1, false, false, {}, L""},
                    {2, false, false, {}, L"GetThreadContext failed (error 5)"},
                    {3, false, false, {{0x1000, L"a.dll", 0, L"", 0}}, L"the walk faulted"}};
  report.problem = L"the module list could not be read";
  const auto lines = SplitLines(FormatBugReport(report));
  const int first = IndexOf(lines, L"thread 1:");
  ASSERT_NE(first, -1);
  EXPECT_EQ(lines[first + 1], L"  (no frames)");
  const int second = IndexOf(lines, L"thread 2:");
  ASSERT_NE(second, -1);
  EXPECT_EQ(lines[second + 1], L"  (stack incomplete: GetThreadContext failed (error 5))");
  const int third = IndexOf(lines, L"thread 3:");
  ASSERT_NE(third, -1);
  EXPECT_EQ(lines[third + 1], L"  00001000  a.dll+0x0");
  EXPECT_EQ(lines[third + 2], L"  (stack incomplete: the walk faulted)");
  const int modules = IndexOf(lines, L"modules:");
  ASSERT_NE(modules, -1);
  EXPECT_EQ(lines[modules + 1], L"  none recorded");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], L"(report incomplete: the module list could not be read)");
}

TEST(BugReportText, NoThreadsAtAllIsSaid) {
  const auto lines = SplitLines(FormatBugReport(BugReport{}));
  EXPECT_NE(IndexOf(lines, L"threads: none recorded"), -1);
  EXPECT_EQ(IndexOf(lines, L"(report incomplete: )"), -1);
}

TEST(BugReportText, FaultingThreadLeadsAndOthersKeepTheirOrder) {
  BugReport report;
  for (uint32_t id : {5u, 6u, 7u, 8u}) report.threads.push_back({id, id == 5, id == 7, {}, L""});
  const auto lines = SplitLines(FormatBugReport(report));
  std::vector<std::wstring> headers;
  for (const auto& line : lines) {
    if (line.starts_with(L"thread ")) headers.push_back(line);
  }
  const std::vector<std::wstring> expected = {L"thread 7 (the error happened here):",
                                              L"thread 5 (main thread):", L"thread 6:",
                                              L"thread 8:"};
  EXPECT_EQ(headers, expected);
}

TEST(BugReportModules, FindModuleHonoursBothEndsOfTheImage) {
  const std::vector<ModuleInfo> modules = {{L"a.exe", L"", 0x400000, 0x1000},
                                           {L"b.dll", L"", 0x401000, 0x2000},
                                           {L"top.dll", L"", 0xFFFFF000, 0x1000}};
  const struct {
    uint64_t address;
    const wchar_t* module;  // null: none
  } cases[] = {
      {0x3FFFFF, nullptr},      {0x400000, L"a.exe"},   {0x400FFF, L"a.exe"},
      {0x401000, L"b.dll"},     {0x402FFF, L"b.dll"},   {0x403000, nullptr},
      {0xFFFFFFFF, L"top.dll"}, {0x100000000, nullptr}, {0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const ModuleInfo* found = FindModule(modules, c.address);
    if (c.module == nullptr) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->name, c.module);
    }
  }
  EXPECT_EQ(FindModule({{L"empty.dll", L"", 0x1000, 0}}, 0x1000), nullptr);
}

TEST(BugReportSymbols, MangledAndDecoratedNamesBecomeReadable) {
  const struct {
    const char* raw;
    bool i386;
    const wchar_t* readable;
  } cases[] = {
      {"_ZN3vol11Tfrmvolumes13Unmount1ClickEv", false, L"vol::Tfrmvolumes::Unmount1Click()"},
      {"_ZN3vol12list_volumesERNS_8PlatformE", false, L"vol::list_volumes(vol::Platform&)"},
      {"__ZN3vol11Tfrmvolumes13Unmount1ClickEv", true, L"vol::Tfrmvolumes::Unmount1Click()"},
      {"__ZN3vol1fEv.cold", true, L"vol::f() [clone .cold]"},
      {"__ZN3vol1gEP6HWND__jjl@16.cold", true,
       L"vol::g(HWND__*, unsigned int, unsigned int, long) [clone .cold]"},
      {"__ZN3vol1hEi@4", true, L"vol::h(int)"},
      {"_SendMessageW@16", true, L"SendMessageW"},
      {"_main", true, L"main"},
      {"___tmainCRTStartup", true, L"__tmainCRTStartup"},
      {"@fastcall_function@8", true, L"fastcall_function"},
      {"name@with@text", true, L"name@with@text"},
      {"trailing@", true, L"trailing@"},
      // 64-bit names carry no decorations: nothing is taken off.
      {"_fpreset", false, L"_fpreset"},
      {"SendMessageW@16", false, L"SendMessageW@16"},
      {"WinMain", false, L"WinMain"},
      {"_Znot_valid_mangling", false, L"_Znot_valid_mangling"},
      {"", false, L""},
      {"", true, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(ReadableSymbol(c.raw, c.i386), c.readable);
  }
}

TEST(BugReportErrors, StructuredExceptionsAreNamedWithTheirPlace) {
  const struct {
    StructuredError error;
    const wchar_t* text;
  } cases[] = {
      {{0xC0000005, 0x401234, L"volumes.exe", {0, 0}, 32},
       L"Access violation at address 00401234 in module 'volumes.exe'. Read of address 00000000"},
      {{0xC0000005, 0x401234, L"volumes.exe", {1, 0x10}, 32},
       L"Access violation at address 00401234 in module 'volumes.exe'. Write of address 00000010"},
      {{0xC0000005, 0x0, L"", {8, 0}, 32},
       L"Access violation at address 00000000. Execution of address 00000000"},
      {{0xC0000005, 0x140001000, L"volumes.exe", {0, 0xFFFFFFFFFFFFFFFF}, 64},
       L"Access violation at address 0000000140001000 in module 'volumes.exe'. Read of address "
       L"FFFFFFFFFFFFFFFF"},
      {{0xC0000005, 0x401234, L"volumes.exe", {0}, 32},
       L"Access violation at address 00401234 in module 'volumes.exe'"},
      {{0xC0000005, 0x401234, L"volumes.exe", {}, 32},
       L"Access violation at address 00401234 in module 'volumes.exe'"},
      {{0xC0000006, 0x401234, L"volumes.exe", {0, 0x500000, 0xC000009C}, 32},
       L"In-page error at address 00401234 in module 'volumes.exe'. Read of address 00500000"},
      {{0xC0000094, 0x401000, L"volumes.exe", {}, 32},
       L"Division by zero at address 00401000 in module 'volumes.exe'"},
      {{0xC00000FD, 0x401000, L"volumes.exe", {1, 0x21000}, 32},
       L"Stack overflow at address 00401000 in module 'volumes.exe'"},
      {{0xC0000090, 0x401000, L"", {}, 32},
       L"Invalid floating point operation at address 00401000"},
      {{0xE0000001, 0x7B012866, L"kernelbase.dll", {}, 32},
       L"External exception E0000001 at address 7B012866 in module 'kernelbase.dll'"},
      {{0x1, 0x1000, L"", {}, 32}, L"External exception 00000001 at address 00001000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(StructuredErrorText(c.error), c.text);
  }
}

// ------------------------------------------------------------------ COFF symbols

// A PE file with section headers and a COFF symbol table, as MinGW's linker writes it.
struct PeFile {
  struct Symbol {
    std::string name;
    uint32_t value;
    int16_t section;  // 1-based; 0 undefined, -1 absolute
    uint16_t type;    // 0x20: function
    uint8_t storage;  // 2 external, 3 static, 103 file, 101 function begin
    uint8_t aux = 0;  // auxiliary records that follow
  };
  std::vector<uint32_t> section_rvas = {0x1000, 0x8000};
  std::vector<Symbol> symbols;
  uint32_t long_name_offset_shift = 0;  // breaks long names' string-table offsets

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out(0x80, 0);
    out[0] = 'M';
    out[1] = 'Z';
    Put(out, 0x3C, 0x80, 4);
    for (char c : std::string("PE\0\0", 4)) out.push_back(static_cast<uint8_t>(c));
    const std::size_t header = out.size();
    out.resize(header + 20 + 0xE0 + 40 * section_rvas.size(), 0);
    Put(out, header, 0x14C, 2);
    Put(out, header + 2, static_cast<uint32_t>(section_rvas.size()), 2);
    Put(out, header + 16, 0xE0, 2);
    for (std::size_t i = 0; i < section_rvas.size(); ++i) {
      Put(out, header + 20 + 0xE0 + 40 * i + 12, section_rvas[i], 4);
    }
    const std::size_t table = out.size();
    std::string strings;
    uint32_t records = 0;
    for (const Symbol& symbol : symbols) {
      const std::size_t at = out.size();
      out.resize(at + 18 * (1 + symbol.aux), 0);
      // Auxiliary records that would pass for a function if they were not skipped.
      for (int aux = 1; aux <= symbol.aux; ++aux) {
        const std::size_t record = at + 18 * aux;
        std::copy_n("_bogus", 6, out.begin() + record);
        Put(out, record + 8, 0x99, 4);
        Put(out, record + 12, 1, 2);
        Put(out, record + 14, 0x20, 2);
        out[record + 16] = 2;
      }
      if (symbol.name.size() <= 8) {
        std::copy(symbol.name.begin(), symbol.name.end(), out.begin() + at);
      } else {
        Put(out, at, 0, 4);
        Put(out, at + 4, 4 + static_cast<uint32_t>(strings.size()) + long_name_offset_shift, 4);
        strings += symbol.name + '\0';
      }
      Put(out, at + 8, symbol.value, 4);
      Put(out, at + 12, static_cast<uint16_t>(symbol.section), 2);
      Put(out, at + 14, symbol.type, 2);
      out[at + 16] = symbol.storage;
      out[at + 17] = symbol.aux;
      records += 1 + symbol.aux;
    }
    Put(out, header + 8, static_cast<uint32_t>(table), 4);
    Put(out, header + 12, records, 4);
    const std::size_t string_table = out.size();
    out.resize(string_table + 4, 0);
    Put(out, string_table, 4 + static_cast<uint32_t>(strings.size()), 4);
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
  }

  static void Put(std::vector<uint8_t>& out, std::size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
};

PeFile SampleImage() {
  PeFile file;
  file.symbols = {
      {".file", 0, -2, 0, 103, 2},  // its auxiliary records hold the source file name
      {"_main", 0x40, 1, 0x20, 2},
      {"__ZN3vol12_GLOBAL__N_116WriteThroughNullEv", 0x10, 1, 0x20, 3},
      {".bf", 0x10, 1, 0, 101, 1},
      {"_data", 0x0, 2, 0, 2},             // not a function
      {"_imported", 0, 0, 0x20, 2},        // undefined: lives in another image
      {"_absolute", 0x1234, -1, 0x20, 2},  // absolute value, no section
      {"_beyond", 0x10, 3, 0x20, 2},       // names a section the file lacks
      {"_WinMain", 0x20, 2, 0x20, 2},      // exactly eight characters: no terminator
      {"_label", 0x30, 1, 0x20, 6},        // a label, not a function
  };
  return file;
}

TEST(BugReportCoff, FunctionSymbolsComeSortedWithTheirSectionRvas) {
  const std::vector<uint8_t> bytes = SampleImage().Build();
  const std::vector<CoffSymbol> expected = {
      {0x1010, "__ZN3vol12_GLOBAL__N_116WriteThroughNullEv"},
      {0x1040, "_main"},
      {0x8020, "_WinMain"},
  };
  EXPECT_EQ(ReadCoffFunctions(bytes), expected);
}

TEST(BugReportCoff, FilesWithoutATableOrNotPeGiveNothing) {
  std::vector<uint8_t> no_table = PeFile{}.Build();
  PeFile::Put(no_table, 0x84 + 8, 0, 4);
  std::vector<uint8_t> wrong_signature = SampleImage().Build();
  wrong_signature[0x81] = 'X';
  std::vector<uint8_t> far_header = SampleImage().Build();
  PeFile::Put(far_header, 0x3C, 0xFFFFFFF0, 4);
  std::vector<uint8_t> headers_cut = SampleImage().Build();
  headers_cut.resize(0x90);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"MZ only", {'M', 'Z'}},
      {"no symbol table", no_table},
      {"wrong PE signature", wrong_signature},
      {"header beyond the file", far_header},
      {"headers cut short", headers_cut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(ReadCoffFunctions(c.bytes).empty());
  }
}

TEST(BugReportCoff, DamagedTablesGiveWhatCanBeRead) {
  const std::vector<uint8_t> whole = SampleImage().Build();
  // Cut inside the record after "_main" (records: .file and its two, then _main).
  const std::size_t table = whole[0x8C] | whole[0x8D] << 8 | whole[0x8E] << 16;
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + table + 18 * 4 + 5);
  EXPECT_EQ(ReadCoffFunctions(cut), (std::vector<CoffSymbol>{{0x1040, "_main"}}));

  PeFile shifted = SampleImage();
  shifted.long_name_offset_shift = 0x10000;  // the long name points past the strings
  const std::vector<CoffSymbol> without_long_name = {{0x1040, "_main"}, {0x8020, "_WinMain"}};
  EXPECT_EQ(ReadCoffFunctions(shifted.Build()), without_long_name);
}

TEST(BugReportCoff, FindCoffSymbolTakesTheLastSymbolAtOrBefore) {
  const std::vector<CoffSymbol> symbols = {{0x1010, "a"}, {0x1040, "b"}, {0x8020, "c"}};
  const struct {
    uint32_t rva;
    const char* name;  // null: none
  } cases[] = {
      {0, nullptr},  {0x100F, nullptr}, {0x1010, "a"}, {0x103F, "a"},
      {0x1040, "b"}, {0x801F, "b"},     {0x8020, "c"}, {0xFFFFFFFF, "c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rva);
    const CoffSymbol* found = FindCoffSymbol(symbols, c.rva);
    if (c.name == nullptr) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->name, c.name);
    }
  }
  EXPECT_EQ(FindCoffSymbol({}, 0x1000), nullptr);
}

}  // namespace
}  // namespace vol::crash
