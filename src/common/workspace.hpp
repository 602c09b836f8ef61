// Working memory that an engine keeps across the calls of one caller (a batch reuses the
// storage of its largest pair so far). The storage's layout is the engine's own and complete
// only in the engine's files, which instantiate the template (the header that declares a
// workspace type says `extern template`, so no other file instantiates it). Plain C++.
#pragma once

#include <memory>

namespace vorn {

template <class Storage>
class Workspace {
  public:
    Workspace() noexcept;  // out of line, as its members' destructors need the storage
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    // The storage, created at first use (throws std::bad_alloc).
    Storage& storage();
    // Gives all the storage back, for a caller short of memory.
    void release() noexcept;

  private:
    std::unique_ptr<Storage> storage_;
};

template <class Storage>
Workspace<Storage>::Workspace() noexcept = default;

template <class Storage>
Workspace<Storage>::~Workspace() = default;

template <class Storage>
Storage& Workspace<Storage>::storage() {
    if (!storage_) storage_ = std::make_unique<Storage>();
    return *storage_;
}

template <class Storage>
void Workspace<Storage>::release() noexcept {
    storage_.reset();
}

}  // namespace vorn
