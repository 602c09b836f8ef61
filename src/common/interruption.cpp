// The out-of-line part of Interruption: asking the hook.
#include "common/interruption.hpp"

namespace vorn {

bool Interruption::check() {
    if (!stopped_ && hook_) stopped_ = hook_->should_stop(hook_->context);
    countdown_ = stopped_ ? 0 : kCellsPerCheck;
    return stopped_;
}

}  // namespace vorn
