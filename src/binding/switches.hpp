// The environment switches that tests use to force a path (which kernel build runs, the
// pairwise traceback and its block length, the pairwise cell type, the three-way fill order, where
// the memory limits are read from, how many threads a batch uses). They never change a result.
// They are read here, under the interpreter lock, once at the start of every alignment call,
// into the call's own EnginePolicy.
#pragma once

#include "common/engine_policy.hpp"

namespace vorn {

// Reads the switches into `policy`; false with RuntimeError set when one names something
// this machine cannot do (a kernel build the processor lacks, or an unknown name).
bool read_policy(EnginePolicy* policy);

// The batch's thread count from VORN_RUST_NATIVE_NUM_THREADS into policy->threads: unset or
// empty leaves the default (one thread per CPU); false with RuntimeError set when the value
// is not a positive whole number.
bool read_thread_count(EnginePolicy* policy);

}  // namespace vorn
