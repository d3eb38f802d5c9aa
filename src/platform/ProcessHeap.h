#pragma once

// The station's own heap. What its threads free stays with the C library's arenas, in
// pieces scattered among what is still in use, and counts as the process's memory for as
// long as it runs; a station that waits for weeks gives it back while it waits.
namespace ProcessHeap {

// Returns the freed pages of every arena to the system. What it gave back, in bytes of
// resident memory, or -1 where the C library cannot say. Takes a few milliseconds.
long long giveBackFreed();

} // namespace ProcessHeap
