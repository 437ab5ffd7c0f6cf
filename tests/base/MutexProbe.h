// Counts the POSIX holds taken and released on one watched mutex, by
// standing in front of pthread_mutex_lock, pthread_mutex_trylock and
// pthread_mutex_unlock for the whole base_tests binary (the calls made from
// the library included). A test thus sees what a destructor did to its POSIX
// mutex without touching the object after its lifetime has ended.
#pragma once

#include <cstddef>

namespace MutexProbe {

// Starts counting, from zero, the holds of any POSIX mutex that lies inside
// the `size` bytes at `object`.
void Watch(const void* object, size_t size);
void Stop();
// Successful locks and trylocks minus successful unlocks since Watch.
int Holds();

}  // namespace MutexProbe
