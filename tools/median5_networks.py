#!/usr/bin/env python3
"""Builds the comparator networks of the 5x5 median from sorted columns.

Two neighbouring outputs share four window columns. Each image column is
sorted once (per row, its vertical 5-tuple); the shared stage merges the four
shared sorted columns far enough to fix their ranks 7..12; each output then
takes rank 5 of those six and its own fifth column (the 13th of 25 lies
among them, with exactly 7 of the shared values below rank 7).

The networks come from Batcher's odd-even merges over columns padded to 8,
with every comparator whose outcome the known order already decides dropped
(a partial order on values is tracked through the network) and then pruned
back from the outputs. Both are checked on every 0/1 input with sorted
columns, which by the 0-1 principle proves them for all inputs. Prints the
C++ tables in core/src/networks.h.
"""
import itertools


def odd_even_merge(lo, n, r, out):
    m = r * 2
    if m < n:
        odd_even_merge(lo, n, m, out)
        odd_even_merge(lo + r, n, m, out)
        for i in range(lo + r, lo + n - r, m):
            out.append((i, i + r))
    else:
        out.append((lo, lo + r))


def merge(a, b):
    idx = a + b
    out = []
    odd_even_merge(0, len(idx), 1, out)
    return [(idx[i], idx[j]) for i, j in out]


def known_order(n, chains, real):
    less = [[x == y for y in range(n)] for x in range(n)]
    for ch in chains:
        for i in range(len(ch)):
            for j in range(i, len(ch)):
                less[ch[i]][ch[j]] = True
    pads = [x for x in range(n) if x not in real]
    for x in real:
        for y in pads:
            less[x][y] = True
    for i, x in enumerate(pads):
        for y in pads[i:]:
            less[x][y] = True
    return less


def reduce(n, steps, less):
    """Drops decided comparators; returns (kept steps on slots, slot of each position)."""
    elems = list(range(n))
    rel = [row[:] for row in less]
    count = n
    perm = list(range(n))
    kept = []
    for a, b in steps:
        x, y = elems[a], elems[b]
        if rel[x][y]:
            continue
        if rel[y][x]:
            elems[a], elems[b] = y, x
            perm[a], perm[b] = perm[b], perm[a]
            continue
        lo, hi = count, count + 1
        count += 2
        for row in rel:
            row.extend([False, False])
        rel.append([False] * count)
        rel.append([False] * count)
        for z in range(count - 2):
            if rel[z][x] and rel[z][y]:
                rel[z][lo] = True
            if rel[x][z] and rel[y][z]:
                rel[hi][z] = True
            if rel[x][z] or rel[y][z]:
                rel[lo][z] = True
            if rel[z][x] or rel[z][y]:
                rel[z][hi] = True
        rel[lo][hi] = rel[lo][lo] = rel[hi][hi] = True
        for e in (lo, hi):
            ins = [z for z in range(count) if rel[z][e]]
            outs = [w for w in range(count) if rel[e][w]]
            for z in ins:
                for w in outs:
                    rel[z][w] = True
        elems[a], elems[b] = lo, hi
        kept.append((perm[a], perm[b]))
    return kept, perm


def prune(steps, results):
    needed = set(results)
    kept = []
    for a, b in reversed(steps):
        if a in needed or b in needed:
            kept.append((a, b))
            needed |= {a, b}
    return kept[::-1]


def run(steps, v):
    v = list(v)
    for a, b in steps:
        if v[b] < v[a]:
            v[a], v[b] = v[b], v[a]
    return v


def main():
    pad = 8
    # Shared stage: columns 1..4 of the pair's six, ranks 0..4 at slots c*8 + i.
    cols = [list(range(c * pad, c * pad + pad)) for c in range(4)]
    real = [c * pad + i for c in range(4) for i in range(5)]
    steps = merge(cols[0], cols[1]) + merge(cols[2], cols[3]) + merge(cols[0] + cols[1], cols[2] + cols[3])
    kept, perm = reduce(32, steps, known_order(32, cols, set(real)))
    order = cols[0] + cols[1] + cols[2] + cols[3]
    shared_out = [perm[order[k]] for k in range(7, 13)]
    shared = prune(kept, shared_out)
    compact = {s: i for i, s in enumerate(real)}  # slot -> 0..19 (column-major, rank minor)
    shared = [(compact[a], compact[b]) for a, b in shared]
    shared_out = [compact[s] for s in shared_out]
    # Final stage: the six shared values (slots 0..5) and the own column (8..12).
    a, b = list(range(8)), list(range(8, 16))
    freal = list(range(6)) + list(range(8, 13))
    kept, perm = reduce(16, merge(a, b), known_order(16, [a, b], set(freal)))
    final_out = perm[(a + b)[5]]
    final = prune(kept, [final_out])
    fcompact = {s: i for i, s in enumerate(freal)}  # 0..5 shared, 6..10 own column
    final = [(fcompact[x], fcompact[y]) for x, y in final]
    final_out = fcompact[final_out]

    # Every 0/1 input of six sorted columns: both medians right.
    for ones in itertools.product(range(6), repeat=6):
        columns = [[0] * (5 - k) + [1] * k for k in ones]
        s = run(shared, [x for c in columns[1:5] for x in c])
        six = [s[i] for i in shared_out]
        for own, window in ((columns[0], columns[0:5]), (columns[5], columns[1:6])):
            got = run(final, six + own)[final_out]
            want = sorted(x for c in window for x in c)[12]
            assert got == want, (ones, got, want)

    def table(name, st):
        body = ", ".join("{%d, %d}" % p for p in st)
        return "constexpr pair %s[] = {%s};" % (name, body)

    print("// %d comparators; ranks 7..12 of the 20 end in these slots:" % len(shared))
    print(table("median5_shared", shared))
    print("constexpr int median5_shared_ranks[] = {%s};" % ", ".join(map(str, shared_out)))
    print("// %d comparators; the median ends in slot %d." % (len(final), final_out))
    print(table("median5_final", final))
    print("constexpr int median5_final_result = %d;" % final_out)


if __name__ == "__main__":
    main()
