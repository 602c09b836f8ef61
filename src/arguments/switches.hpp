// The environment switches that tests use to force a path (which kernel build runs, the
// pairwise traceback and its block length, the pairwise cell type, the three-way fill order, where
// the memory limits are read from, how many threads a batch uses). They never change a result.
// They are read here, under the interpreter lock, once at the start of every alignment call.
#pragma once

#include "common/engine_input.hpp"

namespace vorn {

// Applies the switches, those that choose a path of the call into `options`; false with
// RuntimeError set when one names something this machine cannot do (a kernel build the
// processor lacks, or an unknown name).
bool apply_switches(AlignmentOptions* options);

// The batch's thread count from VORN_RUST_NATIVE_NUM_THREADS into options->threads: unset or
// empty leaves the default (one thread per CPU); false with RuntimeError set when the value
// is not a positive whole number.
bool read_thread_count(AlignmentOptions* options);

}  // namespace vorn
