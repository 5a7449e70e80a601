// libFuzzer target for the snapshot loader, built with AddressSanitizer and
// UndefinedBehaviorSanitizer (see fuzz/run). The loader is plain C++, so it is fuzzed without
// the interpreter, and with the checksum left unchecked (FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
// so that changed bytes reach the checks behind it. Any bytes must either be refused with
// SnapshotError or give a state that writes back to exactly the same bytes and then runs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "native/snapshot.hpp"

namespace {

using namespace quernel;

template <class State, class Input>
void check(SnapshotReader& in, const std::uint8_t* data, std::size_t size, Input x) {
  State state = read_state<State>(in);
  SnapshotWriter out(data[5]);
  write_state(state, out);
  // Accepted bytes must be what snapshot() writes for that state (the checksum aside: this
  // build does not check it).
  const std::string again = out.finish();
  const std::size_t body = size - kChecksumSize;
  if (again.size() != size || again.compare(0, body, reinterpret_cast<const char*>(data), body))
    std::abort();
  for (int i = 0; i < 8; ++i) state.update(x);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    unsigned char tag = 0;
    SnapshotReader in = SnapshotReader::open(data, size, &tag);
    const BarPrices bar{1.0, 2.0, 0.5, 1.5, 7};
    switch (tag) {
      case 3:
        check<AverageTrueRangeState>(in, data, size, bar);
        break;
      case 4:
        check<ExponentialAverage>(in, data, size, 1.5);
        break;
      case 5:
        check<Extremum<Highest>>(in, data, size, 1.5);
        break;
      case 6:
        check<Extremum<Lowest>>(in, data, size, 1.5);
        break;
      case 7:
        check<ConvergenceDivergence>(in, data, size, 1.5);
        break;
      case 8:
        check<RateOfChangeState>(in, data, size, 1.5);
        break;
      case 9:
        check<StrengthIndex>(in, data, size, 1.5);
        break;
      case 10:
        check<SharpeState>(in, data, size, 1.5);
        break;
      case 11:
        check<SimpleAverage>(in, data, size, 1.5);
        break;
      case 12:
        check<DeviationState>(in, data, size, 1.5);
        break;
      case 13:
        check<TrueRangeState>(in, data, size, bar);
        break;
      case 14:
        check<ExponentialCrossover>(in, data, size, 1.5);
        break;
      case 15:
        check<SimpleCrossover>(in, data, size, 1.5);
        break;
      default:
        break;
    }
  } catch (const SnapshotError&) {
  } catch (const InvalidArgument&) {
    std::abort();  // the reader checks every argument before a constructor could refuse it
  } catch (const InternalFailure&) {
    std::abort();
  }
  return 0;
}
