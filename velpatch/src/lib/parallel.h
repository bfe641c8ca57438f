#pragma once

#include <cstddef>
#include <thread>
#include <vector>

namespace velpatch {

// Calls work(i) for i = 0 .. count-1, items 1 .. count-1 on threads of their own and item 0 on
// the calling thread; returns when all are done. An item whose thread cannot be had runs here.
template <typename Work>
void RunInParallel(size_t count, Work&& work) {
  std::vector<std::thread> threads;
  for (size_t i = 1; i < count; ++i) {
    try {
      threads.emplace_back(work, i);
    } catch (...) {
      work(i);
    }
  }
  if (count > 0) work(0);
  for (std::thread& t : threads) t.join();
}

}  // namespace velpatch
