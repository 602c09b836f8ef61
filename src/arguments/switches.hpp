// The environment switches that tests use to force a path (which kernel build runs, where
// the memory limits are read from). They never change a result. They are read here, under
// the interpreter lock, once at the start of every alignment call.
#pragma once

namespace vorn {

// Applies the switches; false with RuntimeError set when one names something this
// machine cannot do (a kernel build the processor lacks, or an unknown name).
bool apply_switches();

}  // namespace vorn
