#include "column_groups.h"

#include <algorithm>

namespace varnets {

namespace {

// Ranks lo .. lo + ids.size() - 1 of a set of `size` values, in the slots
// `ids`, ascending.
struct sorted_list {
    buffer<int> ids;
    int lo = 0;
    int size = 0;
};

// Builds a network over virtual slots. A shared slot (an input, or a list
// that several later merges read) is never written: a step that would write
// it writes a new slot instead. finish() then maps the virtual slots onto as
// few scratch slots as their lifetimes allow.
class network_builder {
  public:
    explicit network_builder(int inputs) : inputs_(inputs), shared_(inputs, 1) {
        steps_.reserve(16384);
        shared_.reserve(32768);
    }

    int fresh() {
        shared_.push_back(0);
        return static_cast<int>(shared_.size()) - 1;
    }
    void share(const sorted_list& list) {
        for (const int id : list.ids) shared_[id] = 1;
    }

    // After it, x holds the smaller of the two, y the larger.
    void compare(int& x, int& y) {
        const int low = shared_[x] ? fresh() : x;
        const int high = shared_[y] ? fresh() : y;
        steps_.push_back({x, y, low, high});
        x = low;
        y = high;
    }

    // The ranks of a ∪ b that can be ranks rank .. last_rank of a window of
    // `window` values holding both: a value of a set of s values below its
    // rank rank - (window - s), or above its rank last_rank, cannot be one.
    // Every value a and b dropped lies outside that range of the union too.
    sorted_list merge(const sorted_list& a, const sorted_list& b, int window, int rank,
                      int last_rank) {
        sorted_list out;
        out.size = a.size + b.size;
        out.lo = std::max(0, rank - (window - out.size));
        const int hi = std::min(out.size - 1, last_rank);
        const int na = static_cast<int>(a.ids.size());
        buffer<int> left(a.ids.size()), right(b.ids.size()), order;
        for (int i = 0; i < na; ++i) left[i] = i;
        for (std::size_t i = 0; i < right.size(); ++i) right[i] = na + static_cast<int>(i);
        buffer<std::pair<int, int>> comparators;
        comparators.reserve(order_capacity(a.ids.size() + b.ids.size()));
        odd_even_merge(left, right, order, comparators);
        // Only the comparators the kept ranks depend on.
        const int dropped = a.lo + b.lo;
        buffer<char> needed(order.size());
        for (int j = out.lo; j <= hi; ++j) needed[order[j - dropped]] = 1;
        buffer<char> kept(comparators.size());
        for (std::size_t s = comparators.size(); s-- > 0;) {
            const auto [x, y] = comparators[s];
            if (!needed[x] && !needed[y]) continue;
            kept[s] = 1;
            needed[x] = needed[y] = 1;
        }
        buffer<int> id(a.ids);
        id.insert(id.end(), b.ids.begin(), b.ids.end());
        for (std::size_t s = 0; s < comparators.size(); ++s)
            if (kept[s]) compare(id[comparators[s].first], id[comparators[s].second]);
        for (int j = out.lo; j <= hi; ++j) out.ids.push_back(id[order[j - dropped]]);
        return out;
    }

    // Merges the lists pairwise, round by round.
    sorted_list merge_all(buffer<sorted_list> lists, int window, int rank, int last_rank) {
        while (lists.size() > 1) {
            buffer<sorted_list> next;
            for (std::size_t i = 0; i + 1 < lists.size(); i += 2)
                next.push_back(merge(lists[i], lists[i + 1], window, rank, last_rank));
            if (lists.size() % 2 != 0) next.push_back(lists.back());
            lists.swap(next);
        }
        return lists[0];
    }

    many_network finish(const buffer<int>& results) const {
        const std::size_t total = shared_.size();
        // The last step that reads each slot (0 for none: a value written at
        // step s is read later only where its entry is above s).
        constexpr std::size_t kept_to_end = static_cast<std::size_t>(-1);
        buffer<std::size_t> last_read(total, 0);
        for (std::size_t s = 0; s < steps_.size(); ++s)
            last_read[steps_[s].a] = last_read[steps_[s].b] = s;
        for (const int r : results) last_read[r] = kept_to_end;
        many_network net;
        net.inputs = inputs_;
        net.steps.reserve(steps_.size());
        buffer<int> physical(total, -1);
        for (int i = 0; i < inputs_; ++i) physical[i] = i;
        buffer<int> free_slots;
        const auto release = [&](int id) {
            if (id >= inputs_) free_slots.push_back(physical[id]);
        };
        const auto take = [&] {
            if (free_slots.empty()) return inputs_ + net.slots++;
            const int slot = free_slots.back();
            free_slots.pop_back();
            return slot;
        };
        for (std::size_t s = 0; s < steps_.size(); ++s) {
            const network_step v = steps_[s];
            const network_step p{physical[v.a], physical[v.b], 0, 0};
            // Operands read for the last time free their slots, which this
            // step's results may take: it loads both before it stores.
            for (const int id : {v.a, v.b})
                if (id != v.min_to && id != v.max_to && last_read[id] == s) release(id);
            for (const int id : {v.min_to, v.max_to})
                if (physical[id] < 0) physical[id] = take();
            net.steps.push_back({p.a, p.b, physical[v.min_to], physical[v.max_to]});
            // A result no later step reads frees its slot at once.
            for (const int id : {v.min_to, v.max_to})
                if (last_read[id] <= s) release(id);
        }
        for (const int r : results) net.results.push_back(physical[r]);
        return net;
    }

  private:
    // At least the comparators of a merge of `count` values.
    static std::size_t order_capacity(std::size_t count) {
        std::size_t levels = 1;
        while ((std::size_t{1} << levels) < count) ++levels;
        return count * levels / 2 + count;
    }

    // Batcher's merge of two sorted lists of any lengths: the even and the
    // odd entries merged apart, then one comparator between each odd
    // entry and the even entry after it. `out` lists the entries in order.
    static void odd_even_merge(const buffer<int>& a, const buffer<int>& b, buffer<int>& out,
                               buffer<std::pair<int, int>>& comparators) {
        if (a.empty() || b.empty()) {
            out = a.empty() ? b : a;
            return;
        }
        if (a.size() == 1 && b.size() == 1) {
            comparators.push_back({a[0], b[0]});
            out = {a[0], b[0]};
            return;
        }
        buffer<int> a_even, a_odd, b_even, b_odd, even, odd;
        for (buffer<int>* half : {&a_even, &a_odd}) half->reserve(a.size() / 2 + 1);
        for (buffer<int>* half : {&b_even, &b_odd}) half->reserve(b.size() / 2 + 1);
        for (std::size_t i = 0; i < a.size(); ++i) (i % 2 != 0 ? a_odd : a_even).push_back(a[i]);
        for (std::size_t i = 0; i < b.size(); ++i) (i % 2 != 0 ? b_odd : b_even).push_back(b[i]);
        odd_even_merge(a_even, b_even, even, comparators);
        odd_even_merge(a_odd, b_odd, odd, comparators);
        out.clear();
        out.reserve(a.size() + b.size());
        out.push_back(even[0]);
        std::size_t i = 0;
        for (; i < odd.size(); ++i) {
            out.push_back(odd[i]);
            if (i + 1 < even.size()) {
                comparators.push_back({odd[i], even[i + 1]});
                out.push_back(even[i + 1]);
            }
        }
        for (std::size_t j = i + 1; j < even.size(); ++j) out.push_back(even[j]);
    }

    int inputs_;
    buffer<char> shared_;
    buffer<network_step> steps_;
};

}  // namespace

many_network column_sort_network(int m) {
    network_builder b(m);
    int p = 1;
    while (p < m) p *= 2;
    buffer<int> slot(static_cast<std::size_t>(p));
    buffer<char> padding(static_cast<std::size_t>(p));
    buffer<int> id(static_cast<std::size_t>(m));
    for (int d = 0; d < m; ++d) id[d] = d;
    padded_sorting_network(m, p, slot, padding, [&](int x, int y) { b.compare(id[x], id[y]); });
    buffer<int> results(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) results[i] = id[slot[i]];
    return b.finish(results);
}

many_network column_group_network(int m, int n, int rank, int group, int ranks) {
    const int window = m * n;
    const int last_rank = rank + ranks - 1;
    const int columns = group + n - 1;
    network_builder b(columns * m);
    buffer<sorted_list> column(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        sorted_list& l = column[c];
        l.size = m;
        l.lo = std::max(0, rank - (window - m));
        for (int i = l.lo; i <= std::min(m - 1, last_rank); ++i) l.ids.push_back(c * m + i);
    }
    buffer<int> results(static_cast<std::size_t>(group * ranks));
    // Outputs l .. r share columns r .. l + n - 1; those their parent
    // (outputs parent_l .. parent_r) did not share are merged here.
    const auto node = [&](const auto& self, int l, int r, const sorted_list* parent, int parent_l,
                          int parent_r) -> void {
        buffer<sorted_list> added;
        for (int c = r; c <= l + n - 1; ++c)
            if (parent == nullptr || c < parent_r || c > parent_l + n - 1)
                added.push_back(column[c]);
        sorted_list shared = parent != nullptr ? *parent : sorted_list{};
        if (!added.empty()) {
            const sorted_list own = b.merge_all(added, window, rank, last_rank);
            shared = parent != nullptr ? b.merge(*parent, own, window, rank, last_rank) : own;
        }
        if (l == r) {
            for (int i = 0; i < ranks; ++i) results[l * ranks + i] = shared.ids[i];
            return;
        }
        b.share(shared);
        const int mid = (l + r) / 2;
        self(self, l, mid, &shared, l, r);
        self(self, mid + 1, r, &shared, l, r);
    };
    node(node, 0, group - 1, nullptr, 0, 0);
    return b.finish(results);
}

int best_column_group(int n, int largest) {
    // Comparators per output (15 x 15 median): 886 for pairs, 481 in fours,
    // 370 in eights; 21 x 21: 767 in eights, 710 in sixteens.
    return std::min({n, largest, n < 17 ? 8 : 16});
}

}  // namespace varnets
