// The coverage interface that libFuzzer reads, fed from g++'s -fsanitize-coverage=trace-pc.
//
// libFuzzer (from clang 14) learns what an input covered from inline 8-bit counters and a
// table of the program counters they stand for, which clang's -fsanitize=fuzzer lays out at
// compile time. g++ cannot do that, and clang 14 cannot compile this code base, so g++ calls
// __sanitizer_cov_trace_pc() at every edge instead; this file turns each calling address into
// a counter of its own in one table registered with libFuzzer at start-up. The comparison
// callbacks of trace-cmp are libFuzzer's own, except the floating-point ones g++ also emits.
//
// This file must be compiled without coverage instrumentation: the callback would call itself.
#include <cstddef>
#include <cstdint>

extern "C" {
void __sanitizer_cov_8bit_counters_init(std::uint8_t* begin, std::uint8_t* end);
void __sanitizer_cov_pcs_init(const std::uintptr_t* begin, const std::uintptr_t* end);
}

namespace {

// Room for every edge of the largest target with space to spare; a fuller table only merges
// edges into shared counters, it never fails.
constexpr unsigned slot_bits = 17;
constexpr std::size_t slot_count = std::size_t{1} << slot_bits;
constexpr std::size_t max_probes = 32;

// libFuzzer pairs the i-th counter with the i-th entry of the table of program counters.
struct PcEntry {
  std::uintptr_t pc;
  std::uintptr_t flags;
};

std::uint8_t counters[slot_count];
PcEntry pcs[slot_count];

// The slot of an address: open addressing keeps edges apart; the first thread to claim a free
// slot owns it (targets may read and write a socket pair from two threads).
std::size_t slot_of(std::uintptr_t pc) {
  std::size_t slot = static_cast<std::size_t>((pc * 0x9E3779B97F4A7C15ULL) >> (64 - slot_bits));
  for (std::size_t probe = 0; probe < max_probes; ++probe) {
    std::uintptr_t owner = __atomic_load_n(&pcs[slot].pc, __ATOMIC_RELAXED);
    if (owner == pc) return slot;
    if (owner == 0) {
      std::uintptr_t expected = 0;
      if (__atomic_compare_exchange_n(&pcs[slot].pc, &expected, pc, false, __ATOMIC_RELAXED,
                                      __ATOMIC_RELAXED) ||
          expected == pc) {
        return slot;
      }
    }
    slot = (slot + 1) & (slot_count - 1);
  }
  return slot;
}

__attribute__((constructor)) void register_counters() {
  __sanitizer_cov_8bit_counters_init(counters, counters + slot_count);
  __sanitizer_cov_pcs_init(reinterpret_cast<const std::uintptr_t*>(pcs),
                           reinterpret_cast<const std::uintptr_t*>(pcs + slot_count));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void __sanitizer_cov_trace_pc() {
  auto pc = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  std::uint8_t& counter = counters[slot_of(pc)];
  // Saturate, so that an edge taken a multiple of 256 times does not read as never taken.
  if (counter != 0xFF) ++counter;
}

__attribute__((visibility("default"))) void __sanitizer_cov_trace_cmpf(float, float) {}
__attribute__((visibility("default"))) void __sanitizer_cov_trace_cmpd(double, double) {}

}  // extern "C"
