// Every field of every state, for snapshots. Each state names this struct its friend, and
// nothing else here touches the arithmetic: a state is taken apart into its fields and put
// back together from them, in a fixed order.
//
// For each state:
//   arguments(state, out)     writes the constructor arguments (periods; rf as a rate)
//   make(in, Tag<State>)      reads them back, checks them and constructs a fresh state
//   fields(state, visitor)    visits every running field in a fixed order
//
// A visitor provides
//   real(double&)                   any double
//   flag(bool&)                     true or false
//   index(Word&, Word n)            a slot of a ring of n slots: below n
//   count(Word&, Word limit)        a counter: at most `limit`
//   slots(Window&)                  every slot of a ring, in slot order
//   require(rule, const char* what) a rule that ties fields together (a callable returning
//                                   bool); it comes after the fields it reads, so a reader
//                                   checks it once they are in, and a writer ignores it
// The writer (snapshot.hpp) records each field; the reader checks each bound as it reads, so a
// state built from bytes holds only values the class itself could have reached.
#pragma once

#include <cstddef>
#include <cstring>

#include "indicators/average_true_range.hpp"
#include "indicators/exponential_moving_average.hpp"
#include "indicators/extremum.hpp"
#include "indicators/moving_average_convergence_divergence.hpp"
#include "indicators/rate_of_change.hpp"
#include "indicators/relative_strength_index.hpp"
#include "indicators/sharpe_ratio.hpp"
#include "indicators/simple_moving_average.hpp"
#include "indicators/standard_deviation.hpp"
#include "indicators/true_range.hpp"
#include "strategies/exponential_moving_average_crossover.hpp"
#include "strategies/simple_moving_average_crossover.hpp"

namespace quernel {

template <class State>
struct Tag {};

struct StateAccess {
  using Word = std::size_t;

  // Whether slots [from, size) still hold the +0.0 that a fresh or reset ring starts with.
  static bool untouched(const Window& window, Word from) noexcept {
    for (Word i = from; i < window.size(); ++i) {
      const double slot = window[i];
      if (!same_bits(slot, 0.0))
        return false;
    }
    return true;
  }

  static bool same_bits(double a, double b) noexcept { return std::memcmp(&a, &b, sizeof a) == 0; }

  static bool same_slots(const Window& a, const Window& b) noexcept {
    return a.size() == b.size() &&
           (a.size() == 0 || std::memcmp(a.begin(), b.begin(), a.size() * sizeof(double)) == 0);
  }

  // A ring filled in slot order from slot 0 and counted by `filled`: until it is full, the
  // next slot is the count, and the slots from there on were never written.
  template <class F>
  static void ring_count(F& f, const Window& window, Word& write_index, Word& filled) {
    f.index(write_index, window.size());
    f.count(filled, window.size());
    f.require([&] { return filled == window.size() || write_index == filled; },
              "a ring that is not full is written from slot 0 on");
    f.require([&] { return filled == window.size() || untouched(window, filled); },
              "the slots a ring has not reached hold 0.0");
  }

  // -- simple average ----------------------------------------------------------------------

  template <class Out>
  static void arguments(const SimpleAverage& s, Out& out) {
    out.period(s.period());
  }
  template <class In>
  static SimpleAverage make(In& in, Tag<SimpleAverage>) {
    return SimpleAverage(in.window_period());
  }
  template <class F>
  static void fields(SimpleAverage& s, F& f) {
    f.slots(s.window_);
    f.real(s.sum_);
    ring_count(f, s.window_, s.write_index_, s.filled_);
  }

  // -- exponential average -----------------------------------------------------------------

  template <class Out>
  static void arguments(const ExponentialAverage& s, Out& out) {
    out.period(s.period());
  }
  template <class In>
  static ExponentialAverage make(In& in, Tag<ExponentialAverage>) {
    return ExponentialAverage(in.period());
  }
  template <class F>
  static void fields(ExponentialAverage& s, F& f) {
    f.real(s.current_);
    f.flag(s.is_first_);
    f.require([&] { return !s.is_first_ || same_bits(s.current_, 0.0); },
              "an average that has seen no input holds 0.0");
  }

  // -- standard deviation ------------------------------------------------------------------

  template <class Out>
  static void arguments(const DeviationState& s, Out& out) {
    out.period(s.period());
  }
  template <class In>
  static DeviationState make(In& in, Tag<DeviationState>) {
    return DeviationState(in.window_period());
  }
  template <class F>
  static void fields(DeviationState& s, F& f) {
    f.slots(s.window_);
    f.real(s.sum_);
    f.real(s.sum_sq_);
    ring_count(f, s.window_, s.write_index_, s.filled_);
  }

  // -- minimum and maximum -----------------------------------------------------------------

  template <class Order, class Out>
  static void arguments(const Extremum<Order>& s, Out& out) {
    out.period(s.period());
  }
  template <class Order, class In>
  static Extremum<Order> make(In& in, Tag<Extremum<Order>>) {
    return Extremum<Order>(in.window_period());
  }
  // Reset refills the ring but keeps both indices, so any slot may be next or hold the extreme.
  template <class Order, class F>
  static void fields(Extremum<Order>& s, F& f) {
    f.slots(s.window_);
    f.index(s.best_index_, s.window_.size());
    f.index(s.write_index_, s.window_.size());
  }

  // -- rate of change ----------------------------------------------------------------------

  template <class Out>
  static void arguments(const RateOfChangeState& s, Out& out) {
    out.period(s.period());
  }
  template <class In>
  static RateOfChangeState make(In& in, Tag<RateOfChangeState>) {
    return RateOfChangeState(in.window_period());
  }
  template <class F>
  static void fields(RateOfChangeState& s, F& f) {
    const Word period = s.window_.size();
    f.slots(s.window_);
    f.index(s.write_index_, period);
    f.count(s.seen_, period + 1);
    f.require([&] { return s.seen_ > period || s.write_index_ == s.seen_ % period; },
              "a ring that is not full is written from slot 0 on");
    f.require([&] { return s.seen_ >= period || untouched(s.window_, s.seen_); },
              "the slots a ring has not reached hold 0.0");
  }

  // -- relative strength index -------------------------------------------------------------

  template <class Out>
  static void arguments(const StrengthIndex& s, Out& out) {
    out.period(s.period());
  }
  template <class In>
  static StrengthIndex make(In& in, Tag<StrengthIndex>) {
    return StrengthIndex(in.window_period());
  }
  template <class F>
  static void fields(StrengthIndex& s, F& f) {
    f.slots(s.window_);
    f.real(s.prev_input_);
    ring_count(f, s.window_, s.write_index_, s.filled_);
    f.require([&] { return s.filled_ > 0 || same_bits(s.prev_input_, 0.0); },
              "an index that has seen no price measures from 0.0");
  }

  // -- true range --------------------------------------------------------------------------

  template <class Out>
  static void arguments(const TrueRangeState&, Out&) {}
  template <class In>
  static TrueRangeState make(In&, Tag<TrueRangeState>) {
    return TrueRangeState();
  }
  template <class F>
  static void fields(TrueRangeState& s, F& f) {
    f.real(s.prev_close_);
    f.flag(s.has_prev_close_);
    f.require([&] { return s.has_prev_close_ || same_bits(s.prev_close_, 0.0); },
              "a true range that has seen no bar holds no close");
  }

  // -- average true range ------------------------------------------------------------------

  template <class Out>
  static void arguments(const AverageTrueRangeState& s, Out& out) {
    out.period(s.period());
  }
  template <class In>
  static AverageTrueRangeState make(In& in, Tag<AverageTrueRangeState>) {
    return AverageTrueRangeState(in.period());
  }
  template <class F>
  static void fields(AverageTrueRangeState& s, F& f) {
    fields(s.range_, f);
    fields(s.average_, f);
    f.require([&] { return s.average_.is_first_ || s.range_.has_prev_close_; },
              "an average true range that has seen a bar remembers its close");
  }

  // -- MACD --------------------------------------------------------------------------------

  template <class Out>
  static void arguments(const ConvergenceDivergence& s, Out& out) {
    out.period(s.long_.period());
    out.period(s.short_.period());
    out.period(s.signal_.period());
  }
  template <class In>
  static ConvergenceDivergence make(In& in, Tag<ConvergenceDivergence>) {
    const Word long_period = in.period();
    const Word short_period = in.period();
    const Word signal_period = in.period();
    return ConvergenceDivergence(long_period, short_period, signal_period);
  }
  template <class F>
  static void fields(ConvergenceDivergence& s, F& f) {
    fields(s.long_, f);
    fields(s.short_, f);
    fields(s.signal_, f);
    f.require(
        [&] {
          return s.long_.is_first_ == s.short_.is_first_ &&
                 s.short_.is_first_ == s.signal_.is_first_;
        },
        "the three averages of a MACD start together");
  }

  // -- Sharpe ratio ------------------------------------------------------------------------

  template <class Out>
  static void arguments(const SharpeState& s, Out& out) {
    out.period(s.period());
    out.rate(s.rf_);
  }
  template <class In>
  static SharpeState make(In& in, Tag<SharpeState>) {
    const Word period = in.window_period(2);  // two windows: the mean's and the deviation's
    const double rf = in.rate();
    return SharpeState(period, rf);
  }
  template <class F>
  static void fields(SharpeState& s, F& f) {
    fields(s.mean_, f);
    fields(s.deviation_, f);
    f.count(s.observations_, static_cast<Word>(-1));
    f.require(
        [&] {
          return s.mean_.write_index_ == s.deviation_.write_index_ &&
                 s.mean_.filled_ == s.deviation_.filled_ &&
                 same_bits(s.mean_.sum_, s.deviation_.sum_) &&
                 same_slots(s.mean_.window_, s.deviation_.window_);
        },
        "the mean and the deviation of a Sharpe ratio have seen the same inputs");
    f.require(
        [&] {
          return s.mean_.filled_ == s.mean_.window_.size() || s.observations_ == s.mean_.filled_;
        },
        "a Sharpe ratio counts the inputs its windows hold");
  }

  // -- simple-average crossover ------------------------------------------------------------

  template <class Out>
  static void arguments(const SimpleCrossover& s, Out& out) {
    out.period(s.short_.period());
    out.period(s.long_.period());
  }
  template <class In>
  static SimpleCrossover make(In& in, Tag<SimpleCrossover>) {
    const Word short_period = in.window_period();
    const Word long_period = in.window_period();
    in.ordered(short_period, long_period);
    return SimpleCrossover::create(short_period, long_period);
  }
  template <class F>
  static void fields(SimpleCrossover& s, F& f) {
    fields(s.short_, f);
    fields(s.long_, f);
    // n inputs since the last reset: the short average has counted min(n, short period), the
    // long one min(n, long period), and the short period is the smaller.
    f.require(
        [&] {
          const Word short_period = s.short_.window_.size();
          const Word n = s.long_.filled_;
          return s.short_.filled_ == (n < short_period ? n : short_period);
        },
        "both averages of a crossover have seen the same inputs");
  }

  // -- exponential-average crossover -------------------------------------------------------

  template <class Out>
  static void arguments(const ExponentialCrossover& s, Out& out) {
    out.period(s.short_.period());
    out.period(s.long_.period());
  }
  template <class In>
  static ExponentialCrossover make(In& in, Tag<ExponentialCrossover>) {
    const Word short_period = in.period();
    const Word long_period = in.period();
    in.ordered(short_period, long_period);
    return ExponentialCrossover::create(short_period, long_period);
  }
  template <class F>
  static void fields(ExponentialCrossover& s, F& f) {
    fields(s.short_, f);
    fields(s.long_, f);
    f.require([&] { return s.short_.is_first_ == s.long_.is_first_; },
              "both averages of a crossover start together");
  }
};

}  // namespace quernel
