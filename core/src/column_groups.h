// Networks over sorted columns that a group of neighbouring output columns
// share. A full m x n window of equal weights is the union of n columns of m
// values; with each column's vertical m-tuples sorted once, the rank-th of a
// window is a merge of n sorted lists, and G neighbouring outputs share most
// of their lists. The networks here merge the lists the whole group shares
// once, keep only the ranks that can still reach the rank chosen, then split
// the group in two and go on for each half, down to single outputs.
#ifndef VARNETS_COLUMN_GROUPS_H
#define VARNETS_COLUMN_GROUPS_H

#include <cstdint>

#include "varnets/buffer.h"
#include "window.h"

namespace varnets {

// A min/max network with read-only inputs: slot ids below `inputs` are the
// inputs, ids from `inputs` on are `slots` scratch slots, and the network
// leaves its results in the slots listed in `results`.
struct many_network {
    buffer<network_step> steps;
    int inputs = 0;
    int slots = 0;
    buffer<int> results;
};

// Sorts each m-tuple: input d is the d-th value, results[i] the i-th
// smallest.
many_network column_sort_network(int m);

// Ranks rank .. rank + ranks - 1 (0-based) of each of the `group` windows
// of m rows and n columns at output columns 0 .. group - 1, from the sorted
// columns 0 .. group + n - 2: input c * m + i is rank i of column c,
// results[j * ranks + i] rank rank + i of output j. 1 <= group <= n,
// rank + ranks <= m * n.
many_network column_group_network(int m, int n, int rank, int group, int ranks = 1);

// The group size for windows of n columns, at most `largest`.
int best_column_group(int n, int largest);

}  // namespace varnets

#endif
