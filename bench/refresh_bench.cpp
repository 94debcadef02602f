// What a refresh costs as the machine grows: per volume for 16, 256 and 4096 volumes,
// and per name for a DOS-device namespace of 100, 10,000 and 100,000 names. Every
// refresh is the whole thing: the volume table, the DOS-device view on, the rows built.
//
// Each is measured twice: against SimMachine (the model machine the tests use), and
// against FlatMachine, whose every answer costs the same whatever the machine's size, so
// that what grows there is the program's own work.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>
#include <string>

#include "bench/flat_machine.h"
#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"

// Every allocation of the process is counted, so that a refresh's allocations per unit
// can be told from its time per unit. (GCC takes the replaced pair for a mismatch.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::size_t allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace vol::bench {
namespace {

std::wstring NtName(int i) { return L"\\Device\\HarddiskVolume" + std::to_wstring(i); }
// D: to Z: for the first 23 volumes, a folder on C: for the others.
std::wstring MountPath(int i) {
  if (i < 23) return {static_cast<wchar_t>(L'D' + i), L':', L'\\'};
  return L"C:\\mnt\\volume" + std::to_wstring(i) + L"\\";
}
StorageDeviceNumber Number(int i) {
  return {7, static_cast<uint32_t>(i / 4), static_cast<uint32_t>(i % 4 + 1)};
}
std::wstring ShadowName(int i) { return L"HarddiskVolumeShadowCopy" + std::to_wstring(i + 1); }
constexpr int kShadowCopies = 8;

void BuildVolumes(SimMachine& machine, int count) {
  for (int i = 0; i < count; ++i) {
    SimDevice& device = machine.AddVolume(SimMachine::Guid(i + 1), NtName(i + 1));
    device.device_number = Number(i);
    device.file_system = SimFileSystem{.serial = static_cast<uint32_t>(i),
                                       .total_clusters = 1000 + static_cast<uint32_t>(i)};
    machine.AddMountPath(SimMachine::VolumeGuidPath(i + 1), MountPath(i));
  }
}

void BuildVolumes(FlatMachine& machine, int count) {
  for (int i = 0; i < count; ++i) {
    FlatMachine::Device device{NtName(i + 1), drive_type::kFixed, Number(i),
                               static_cast<uint32_t>(i), 1000 + static_cast<uint32_t>(i)};
    machine.AddVolume(SimMachine::Guid(i + 1), device, MountPath(i));
  }
}

// Two volumes, a few shadow copies, and the rest of the names pointing at other devices.
void BuildNamespace(SimMachine& machine, int names) {
  BuildVolumes(machine, 2);
  const int shadows = std::min(kShadowCopies, names);
  for (int i = 0; i < shadows; ++i) {
    const std::wstring nt_name = L"\\Device\\" + ShadowName(i);
    machine.AddDevice(nt_name).file_system =
        SimFileSystem{.serial = 0x5C00u + i, .total_clusters = 500};
    machine.DefineDosName(ShadowName(i), nt_name);
  }
  machine.AddManyDosNames(L"GLOBALROOT-Name", names - shadows, L"\\Device\\Null");
}

void BuildNamespace(FlatMachine& machine, int names) {
  BuildVolumes(machine, 2);
  const int shadows = std::min(kShadowCopies, names);
  for (int i = 0; i < shadows; ++i) {
    machine.AddShadowCopy(
        ShadowName(i),
        {L"\\Device\\" + ShadowName(i), drive_type::kFixed, {7, 0, 0}, 0x5C00u + i, 500});
  }
  for (int i = shadows; i < names; ++i) {
    machine.DefineDosName(L"GLOBALROOT-Name" + std::to_wstring(i), L"\\Device\\Null");
  }
}

void Quiet(SimMachine& machine) { machine.SetRecordCalls(false); }
void Quiet(FlatMachine&) {}

// Refreshes with the DOS-device view on, reporting the time per unit (volume or name).
template <typename Machine>
void Refresh(benchmark::State& state, void (*build)(Machine&, int), const char* unit) {
  const int count = static_cast<int>(state.range(0));
  Machine machine;
  build(machine, count);
  Quiet(machine);
  testing::FakeView view;
  view.checked[Command::Getnonvolumedrives1] = true;
  Tfrmvolumes form(machine, view);
  form.refresh_list();
  if (view.rows.empty() || machine.open_handles() != 0) {
    state.SkipWithError("the refresh did not list the machine");
    return;
  }
  const std::size_t allocations_before = allocations;
  for (auto _ : state) {
    form.refresh_list();
    benchmark::DoNotOptimize(view.rows.data());
  }
  state.counters[unit] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["allocations_per_unit"] =
      static_cast<double>(allocations - allocations_before) /
      static_cast<double>(state.iterations()) / count;
  state.counters["rows"] = static_cast<double>(view.rows.size());
}

void BM_RefreshVolumes_Sim(benchmark::State& state) {
  Refresh<SimMachine>(state, BuildVolumes, "per_volume");
}
void BM_RefreshVolumes_Flat(benchmark::State& state) {
  Refresh<FlatMachine>(state, BuildVolumes, "per_volume");
}
void BM_RefreshNamespace_Sim(benchmark::State& state) {
  Refresh<SimMachine>(state, BuildNamespace, "per_name");
}
void BM_RefreshNamespace_Flat(benchmark::State& state) {
  Refresh<FlatMachine>(state, BuildNamespace, "per_name");
}

// A build without optimisation says nothing about speed: there the benchmarks only show
// that they still run, without the sizes at which SimMachine takes seconds per refresh.
#ifdef NDEBUG
constexpr bool kOptimized = true;
#else
constexpr bool kOptimized = false;
#endif

void Volumes(benchmark::internal::Benchmark* b, bool largest) {
  b->Arg(16)->Arg(256)->Unit(benchmark::kMicrosecond);
  if (largest) b->Arg(4096);
}
void Names(benchmark::internal::Benchmark* b, bool largest) {
  b->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
  if (largest) b->Arg(100000);
}

BENCHMARK(BM_RefreshVolumes_Sim)->Apply([](auto* b) { Volumes(b, kOptimized); });
BENCHMARK(BM_RefreshVolumes_Flat)->Apply([](auto* b) { Volumes(b, true); });
BENCHMARK(BM_RefreshNamespace_Sim)->Apply([](auto* b) { Names(b, kOptimized); });
BENCHMARK(BM_RefreshNamespace_Flat)->Apply([](auto* b) { Names(b, true); });

}  // namespace
}  // namespace vol::bench
