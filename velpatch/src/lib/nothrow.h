// Internal helper: runs a piece of code that may allocate through the standard library and turns
// an allocation failure into `false`, so that no exception leaves the engine.
#ifndef VELPATCH_NOTHROW_H
#define VELPATCH_NOTHROW_H

#include <new>
#include <stdexcept>

namespace velpatch {

template <class F>
bool NoThrowAlloc(F&& f) {
  try {
    f();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

}  // namespace velpatch

#endif  // VELPATCH_NOTHROW_H
