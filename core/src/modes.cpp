// Borders other than edge replication, and the NaN rules that drop NaN taps
// or give NaN, built on the replicating filter.
//
// Borders: under any border, a pixel's window reads the image padded by the
// taps' reach, and the replicating filter run on a block of that padded
// image is exact wherever a window stays inside the block. So the image is
// filtered as it is (only pixels within reach of an edge can differ), and
// then thin blocks of the padded image along the four edges, three reaches
// deep, redo the pixels there. Images less than four reaches across are
// padded whole.
//
// NaN rules: windows whose taps lie within 3 x 3 take the rules in the 3 x 3
// kernels; windows of equal weights take both in the walk or in rank space
// (window_takes_nan_rules). For other windows,
// an image without NaN takes the filter as it is; otherwise a copy with +Inf
// in place of each NaN is filtered, the pixels whose windows hold a NaN are
// found from the NaN positions and rewritten: the quiet NaN (include), or
// the selection among the window's other taps with the threshold lowered by
// the NaN taps' weight (omit), in lanes for equal weights
// (omit_nan_windows).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "exact.h"
#include "kernels.h"
#include "varnets/filter.h"
#include "window.h"

namespace varnets {

namespace {

using index = std::ptrdiff_t;

// How far the taps reach from the centre, in rows and in columns.
struct reach {
    index rows = 0, cols = 0;
};

reach reach_of(const tap_list& taps) {
    reach r;
    for (int a = 0; a < taps.count; ++a) {
        r.rows = std::max<index>(r.rows, std::abs(taps.row_offset(a)));
        r.cols = std::max<index>(r.cols, std::abs(taps.col_offset(a)));
    }
    return r;
}

template <class Pixel>
Pixel pad_pixel(double value) {
    if constexpr (sizeof(Pixel) == 1)
        return value != 0 ? 1 : 0;
    else
        return static_cast<Pixel>(value);
}

// An h x w block of the padded page whose upper-left element is padded
// position (r0, c0), column by column into out, columns `ld` apart.
template <class Pixel>
void copy_padded(const Pixel* page, index rows, index cols, index r0, index h, index c0, index w,
                 border edge, Pixel pad, Pixel* out, index ld) {
    const index inside0 = std::clamp<index>(-r0, 0, h),
                inside1 = std::clamp<index>(rows - r0, 0, h);
    for (index j = 0; j < w; ++j, out += ld) {
        const index c = source_index(c0 + j, cols, edge);
        if (c < 0) {
            std::fill(out, out + h, pad);
            continue;
        }
        const Pixel* column = page + c * rows;
        const auto padded = [&](index i) {
            const index r = source_index(r0 + i, rows, edge);
            return r < 0 ? pad : column[r];
        };
        for (index i = 0; i < inside0; ++i) out[i] = padded(i);
        if (inside1 > inside0)
            std::memcpy(out + inside0, column + r0 + inside0,
                        static_cast<std::size_t>(inside1 - inside0) * sizeof(Pixel));
        for (index i = std::max(inside0, inside1); i < h; ++i) out[i] = padded(i);
    }
}

// One page under a border other than replication: `replicating(src, dst,
// rows, cols, beyond)` filters a page with replicated edges, or, asked to
// (beyond true), may read the rows above and below under the border itself,
// and returns whether it did.
template <class Pixel, class Replicating>
void bordered_page(const Pixel* src, Pixel* dst, std::size_t rows_, std::size_t cols_,
                   const tap_list& taps, const filter_options& options, Replicating&& replicating) {
    const reach r = reach_of(taps);
    const index rows = static_cast<index>(rows_), cols = static_cast<index>(cols_);
    // Mirroring that repeats the edge pixel reads the same pixels as
    // replication one step beyond the edge.
    const bool same_as_replicate =
        options.edge == border::replicate || (r.rows == 0 && r.cols == 0) ||
        (options.edge == border::symmetric && r.rows <= 1 && r.cols <= 1);
    if (same_as_replicate) {
        replicating(src, dst, rows_, cols_, false);
        return;
    }
    const Pixel pad = pad_pixel<Pixel>(options.pad_value);
    buffer<Pixel> in, out;
    // Rewrites the pixels of rows r0..r1-1 and columns c0..c1-1 of each
    // block from the padded block around it. The blocks are filtered as one
    // image, stacked (the same columns) or side by side (the same rows):
    // no window reaches from one into the next, and thin images cost the
    // filter's set-up per column or strip once rather than per block.
    struct block {
        index r0, r1, c0, c1;
    };
    const auto redo = [&](std::initializer_list<block> blocks, bool stacked) {
        index h = 0, w = 0;
        for (const block& b : blocks) {
            const index bh = b.r1 - b.r0 + 2 * r.rows, bw = b.c1 - b.c0 + 2 * r.cols;
            h = stacked ? h + bh : bh;
            w = stacked ? bw : w + bw;
        }
        in.resize(static_cast<std::size_t>(h * w));
        out.resize(in.size());
        index at = 0;  // the block's first row (stacked) or column in the image
        for (const block& b : blocks) {
            const index bh = b.r1 - b.r0 + 2 * r.rows, bw = b.c1 - b.c0 + 2 * r.cols;
            copy_padded(src, rows, cols, b.r0 - r.rows, bh, b.c0 - r.cols, bw, options.edge, pad,
                        in.data() + (stacked ? at : at * h), h);
            at += stacked ? bh : bw;
        }
        replicating(in.data(), out.data(), static_cast<std::size_t>(h), static_cast<std::size_t>(w),
                    false);
        at = 0;
        for (const block& b : blocks) {
            const Pixel* from = out.data() + (stacked ? at : at * h) + r.rows + r.cols * h;
            for (index c = b.c0; c < b.c1; ++c)
                std::memcpy(dst + c * rows + b.r0, from + (c - b.c0) * h,
                            static_cast<std::size_t>(b.r1 - b.r0) * sizeof(Pixel));
            at += stacked ? b.r1 - b.r0 + 2 * r.rows : b.c1 - b.c0 + 2 * r.cols;
        }
    };
    if (rows < 4 * r.rows || cols < 4 * r.cols) {
        redo({{0, rows, 0, cols}}, true);
        return;
    }
    // Where the rows above and below were read under the border, only the
    // columns near the left and right edges remain, corners included.
    // The bands go in pieces whose padded copies take about 32 KB: a copy of
    // a whole edge would be handed back to the system after every call and
    // its pages faulted in again on the next (5x5 at 2048 x 2048: a tenth
    // of the call).
    const auto piece = [&](index band, index reach_across) {
        const index fit = 32768 / (band * static_cast<index>(sizeof(Pixel))) - 2 * reach_across;
        return std::max<index>(fit, 16);
    };
    const bool rows_done = replicating(src, dst, rows_, cols_, true);
    if (r.rows > 0 && !rows_done) {
        const index step = piece(6 * r.rows, r.cols);
        for (index c0 = 0; c0 < cols; c0 += step) {
            const index c1 = std::min(cols, c0 + step);
            redo({{0, r.rows, c0, c1}, {rows - r.rows, rows, c0, c1}}, true);
        }
    }
    const index top = rows_done ? 0 : r.rows, bottom = rows_done ? rows : rows - r.rows;
    if (r.cols > 0) {
        const index step = piece(6 * r.cols, r.rows);
        for (index y0 = top; y0 < bottom; y0 += step) {
            const index y1 = std::min(bottom, y0 + step);
            redo({{y0, y1, 0, r.cols}, {y0, y1, cols - r.cols, cols}}, false);
        }
    }
}

// Whether any value is NaN, in blocks of 2048 bytes; SSE2 (part of every
// x86-64 CPU) compares 16 bytes at a time where GCC's vectorised loop
// would take twice as long.
template <class Pixel>
bool has_nan(const Pixel* values, std::size_t n) {
    constexpr std::size_t block = 2048 / sizeof(Pixel);
    std::size_t i = 0;
#if defined(__SSE2__)
    constexpr std::size_t per = 16 / sizeof(Pixel);
    for (; i + block <= n; i += block) {
        __m128 any = _mm_setzero_ps();
        for (std::size_t j = i; j < i + block; j += 2 * per) {
            if constexpr (sizeof(Pixel) == 4) {
                const __m128 a = _mm_loadu_ps(values + j), b = _mm_loadu_ps(values + j + per);
                any = _mm_or_ps(any, _mm_or_ps(_mm_cmpunord_ps(a, a), _mm_cmpunord_ps(b, b)));
            } else {
                const __m128d a = _mm_loadu_pd(values + j), b = _mm_loadu_pd(values + j + per);
                any = _mm_or_ps(
                    any, _mm_castpd_ps(_mm_or_pd(_mm_cmpunord_pd(a, a), _mm_cmpunord_pd(b, b))));
            }
        }
        if (_mm_movemask_ps(any) != 0) return true;
    }
#endif
    for (; i < n; i += block) {
        const std::size_t end = std::min(n, i + block);
        unsigned any = 0;
        for (std::size_t j = i; j < end; ++j) any |= values[j] != values[j];
        if (any != 0) return true;
    }
    return false;
}

// Storage for n trivially copyable values, left uninitialised (a buffer
// would first fill it with zeros).
template <class T>
struct scratch {
    explicit scratch(std::size_t n) : data(static_cast<T*>(::operator new(n * sizeof(T)))) {}
    ~scratch() { ::operator delete(data); }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;
    T* data;
};

// For each image index along a side of n, the padded indices in
// -reach .. n + reach - 1 that read it: first[i] .. first[i + 1] - 1 in
// `padded`.
struct readers {
    buffer<index> first, padded;

    readers(index n, index reach, border edge) : first(static_cast<std::size_t>(n + 1), 0) {
        for (index p = -reach; p < n + reach; ++p) {
            const index i = source_index(p, n, edge);
            if (i >= 0) ++first[static_cast<std::size_t>(i + 1)];
        }
        for (index i = 0; i < n; ++i) first[i + 1] += first[i];
        padded.resize(static_cast<std::size_t>(first[n]));
        buffer<index> next(first.begin(), first.end() - 1);
        for (index p = -reach; p < n + reach; ++p) {
            const index i = source_index(p, n, edge);
            if (i >= 0) padded[static_cast<std::size_t>(next[i]++)] = p;
        }
    }
};

// The window of pixel (y, c) under the border, in tap order, converted to
// single precision: taps of pixels away from the edges read through
// offsets, the others through source_index.
template <class Pixel>
struct window_reader {
    const Pixel* src;
    index rows, cols;
    const tap_list& taps;
    const filter_options& options;
    reach r;
    buffer<index> offset;  // of each tap from the centre, in the page

    window_reader(const Pixel* s, index m, index n, const tap_list& t, const filter_options& o)
        : src(s),
          rows(m),
          cols(n),
          taps(t),
          options(o),
          r(reach_of(t)),
          offset(static_cast<std::size_t>(t.count)) {
        for (int a = 0; a < t.count; ++a) offset[a] = t.row_offset(a) + t.col_offset(a) * rows;
    }

    template <class Visit>
    void read(index y, index c, Visit&& visit) const {
        if (y >= r.rows && y + r.rows < rows && c >= r.cols && c + r.cols < cols) {
            const Pixel* centre = src + y + c * rows;
            for (int a = 0; a < taps.count; ++a) visit(a, static_cast<float>(centre[offset[a]]));
            return;
        }
        const Pixel pad = pad_pixel<Pixel>(options.pad_value);
        for (int a = 0; a < taps.count; ++a) {
            const index sr = source_index(y + taps.row_offset(a), rows, options.edge);
            const index sc = source_index(c + taps.col_offset(a), cols, options.edge);
            visit(a, static_cast<float>(sr < 0 || sc < 0 ? pad : src[sr + sc * rows]));
        }
    }
};

// The omit rule for the pixels marked in `touched`. Equal positive weights
// run in lanes: with q of the n taps NaN, the value chosen among the other
// n - q is the one at the full window's rank once j(q) of the NaN are -Inf
// (sorted first) and the others +Inf (sorted last), where j(q) is that rank
// minus the rank among n - q with the threshold lowered by q weights; the
// walk's network then selects it. Windows for which no such j exists (the
// threshold beyond the numbers left), those with -0 and +0 and a zero
// result, and other weights take select_with_rule.
template <class Pixel>
void omit_nan_windows(const Pixel* src, Pixel* dst, index rows, index cols, const tap_list& taps,
                      std::int64_t threshold, const filter_options& options,
                      const buffer<std::uint8_t>& touched, network_kernel network) {
    const int n = taps.count;
    const window_reader<Pixel> reader(src, rows, cols, taps, options);
    buffer<float> values(static_cast<std::size_t>(n));
    buffer<std::int64_t> weights(values.size());
    exact_workspace work;
    const auto exact = [&](index y, index c) {
        reader.read(y, c, [&](int a, float v) {
            values[a] = v;
            weights[a] = taps.doubled_weight[a];
        });
        return select_with_rule(values.data(), weights.data(), n, threshold, nan_rule::omit, work);
    };

    const bool uniform = taps.equal_weights() && taps.doubled_weight[0] > 0;
    const std::int64_t w = uniform ? taps.doubled_weight[0] : 0;
    const int rank = uniform ? uniform_rank(w, n, threshold) : 0;
    gathered_rank lanes(taps, rank, uniform ? network : nullptr);
    constexpr std::size_t chunk = 128;  // the gathered windows stay in L1 up to 5x5
    const std::size_t stride = chunk + window_padding;
    buffer<float> gathered(uniform && network != nullptr ? static_cast<std::size_t>(n) * stride
                                                         : 0);
    buffer<const float*> tap(static_cast<std::size_t>(n));
    for (int a = 0; a < n && !gathered.empty(); ++a) tap[a] = gathered.data() + a * stride;
    // j(q) for q = 0..n-1, or -1 where the rank cannot be reached so.
    buffer<int> low(uniform ? static_cast<std::size_t>(n) : 0);
    for (int q = 0; q < static_cast<int>(low.size()); ++q) {
        const int j = rank - uniform_rank(w, n - q, threshold - q * (w / 2));
        low[q] = j >= 0 && j <= q ? j : -1;
    }
    buffer<index> at(chunk);
    buffer<std::uint8_t> zeros_meet(chunk);
    alignas(64) float out[chunk + window_padding];
    std::size_t count = 0;
    const auto flush = [&] {
        const bool ran = lanes.run(tap.data(), count, out);
        for (std::size_t i = 0; i < count; ++i) {
            const index y = at[i] % rows, c = at[i] / rows;
            const bool redo = !ran || (zeros_meet[i] && out[i] == 0);
            dst[at[i]] = static_cast<Pixel>(redo ? exact(y, c) : out[i]);
        }
        count = 0;
    };

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (index c = 0; c < cols; ++c)
        for (index y = 0; y < rows; ++y) {
            if (touched[y + c * rows] == 0) continue;
            if (gathered.empty()) {
                dst[y + c * rows] = static_cast<Pixel>(exact(y, c));
                continue;
            }
            int q = 0, zeros = 0, negative = 0;
            reader.read(y, c, [&](int a, float v) {
                values[a] = v;
                q += v != v;
                zeros += v == 0;
                negative += v == 0 && std::signbit(v);
            });
            if (q == n || low[q] < 0) {
                dst[y + c * rows] = static_cast<Pixel>(q == n ? nan : exact(y, c));
                continue;
            }
            float* column = gathered.data() + count;
            if (q == 0) {
                for (int a = 0; a < n; ++a) column[a * stride] = values[a];
            } else {
                for (int a = 0, seen = 0; a < n; ++a) {
                    const float v = values[a];
                    column[a * stride] = v == v ? v : seen++ < low[q] ? -inf : inf;
                }
            }
            at[count] = y + c * rows;
            zeros_meet[count] = negative != 0 && negative != zeros;
            if (++count == chunk) flush();
        }
    if (count != 0) flush();
}

// One page of a numeric image under the omit or include rule;
// `bordered(src, dst)` filters a page under the chosen border.
template <class Pixel, class Bordered>
void nan_rule_page(const Pixel* src, Pixel* dst, std::size_t rows_, std::size_t cols_,
                   const tap_list& taps, std::int64_t threshold, const filter_options& options,
                   network_kernel network, Bordered&& bordered) {
    const std::size_t n = rows_ * cols_;
    if (!has_nan(src, n)) {
        bordered(src, dst);
        return;
    }
    const index rows = static_cast<index>(rows_), cols = static_cast<index>(cols_);
    buffer<std::size_t> nans;
    {
        scratch<Pixel> clean(n);
        for (std::size_t i = 0; i < n; ++i) {
            const bool nan = src[i] != src[i];
            clean.data[i] = nan ? std::numeric_limits<Pixel>::infinity() : src[i];
            if (nan) nans.push_back(i);
        }
        bordered(clean.data, dst);
    }

    // Every pixel whose window reads a NaN, from the padded positions of each NaN.
    const reach r = reach_of(taps);
    const readers row_readers(rows, r.rows, options.edge), col_readers(cols, r.cols, options.edge);
    const bool include = options.nans == nan_rule::include;
    buffer<std::uint8_t> touched(include ? 0 : n, 0);
    const Pixel nan = std::numeric_limits<Pixel>::quiet_NaN();
    for (const std::size_t at : nans) {
        const index i = static_cast<index>(at % rows_), j = static_cast<index>(at / rows_);
        for (index pc = col_readers.first[j]; pc < col_readers.first[j + 1]; ++pc)
            for (index pr = row_readers.first[i]; pr < row_readers.first[i + 1]; ++pr) {
                const index y = row_readers.padded[pr], x = col_readers.padded[pc];
                for (int a = 0; a < taps.count; ++a) {
                    const index rr = y - taps.row_offset(a), cc = x - taps.col_offset(a);
                    if (rr < 0 || rr >= rows || cc < 0 || cc >= cols) continue;
                    if (include)
                        dst[rr + cc * rows] = nan;
                    else
                        touched[rr + cc * rows] = 1;
                }
            }
    }
    if (include) return;
    omit_nan_windows(src, dst, rows, cols, taps, threshold, options, touched, network);
}

// Every page of a call with options; `replicating(src, dst, rows, cols,
// beyond)` filters one page as bordered_page asks, under the NaN rule itself
// when rule_in_kernels, else as the calls without options do.
template <class Pixel, class Replicating>
void filter_with_options(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                         std::size_t pages, const tap_list& taps, std::int64_t threshold,
                         const filter_options& options, bool rule_in_kernels,
                         network_kernel network, Replicating&& replicating) {
    const std::size_t page = rows * cols;
    for (std::size_t p = 0; p < pages; ++p) {
        const auto bordered = [&](const Pixel* from, Pixel* to) {
            bordered_page(from, to, rows, cols, taps, options, replicating);
        };
        if constexpr (sizeof(Pixel) > 1) {
            if (options.nans != nan_rule::walk && !rule_in_kernels) {
                nan_rule_page(src + p * page, dst + p * page, rows, cols, taps, threshold, options,
                              network, bordered);
                continue;
            }
        }
        bordered(src + p * page, dst + p * page);
    }
}

bool default_options(const filter_options& options, bool numeric) {
    return options.edge == border::replicate && (!numeric || options.nans == nan_rule::walk);
}

// Double or single pages with options. The 3 x 3 kernels and the windows
// that window_takes_nan_rules names apply NaN rules themselves; the other
// windows take nan_rule_page.
template <class Pixel>
void filter_numeric_with_options(const Pixel* src, Pixel* dst, std::size_t rows, std::size_t cols,
                                 std::size_t pages, const tap_list& taps, std::int64_t threshold,
                                 const filter_options& options, kernel k) {
    constexpr bool wide = sizeof(Pixel) == 8;
    if (pages == 0 || rows * cols == 0) return;
    const auto plain = [&](const Pixel* s, Pixel* d, std::size_t m, std::size_t n, std::size_t p) {
        if constexpr (wide)
            filter_double(s, d, m, n, p, taps, threshold, k);
        else
            filter_single(s, d, m, n, p, taps, threshold, k);
    };
    if (default_options(options, true)) return plain(src, dst, rows, cols, pages);
    // A constant border puts other values above and below a one-row image.
    tap_set merged;
    if (rows == 1 && cols > 1 && options.edge != border::constant && row_image_taps(taps, merged))
        return filter_numeric_with_options(src, dst, cols, 1, pages, merged, threshold, options, k);
    const network_kernel network = network_kernel_of(chosen_kernel(k));
    const bool in_3x3 = taps.within_3x3();
    const bool rule_in_window = !in_3x3 && window_takes_nan_rules(taps, network);
    filter_with_options(
        src, dst, rows, cols, pages, taps, threshold, options, in_3x3 || rule_in_window, network,
        [&](const Pixel* s, Pixel* d, std::size_t m, std::size_t n, bool beyond) {
            // The kernels read the rows above and below under the border as
            // they load each column, so only the left and right edges are
            // redone: a band along the top and bottom would read and write a
            // line of every column again, long after the walk left it.
            const beyond_rows rows_beyond =
                beyond ? beyond_rows{options.edge,
                                     static_cast<float>(pad_pixel<Pixel>(options.pad_value))}
                       : beyond_rows{};
            if (in_3x3) {
                if constexpr (wide)
                    return filter_3x3_double(s, d, m, n, 1, taps, threshold, k, options.nans,
                                             rows_beyond);
                else
                    return filter_3x3_single(s, d, m, n, 1, taps, threshold, k, options.nans,
                                             rows_beyond);
            }
            // A one-row page reads no rows beyond here (taller windows pad it
            // whole), and the plain call filters it as a column.
            if (!rule_in_window && (!beyond || m == 1)) {
                plain(s, d, m, n, 1);
                return false;
            }
            // Without the rule in the window, the walk: the other rules then
            // work on a copy with +Inf for NaN (nan_rule_page).
            const nan_rule rule = rule_in_window ? options.nans : nan_rule::walk;
            if constexpr (wide)
                return window_filter_double(s, d, m, n, 1, taps, threshold, network, rule,
                                            rows_beyond);
            else
                return window_filter_single(s, d, m, n, 1, taps, threshold, network, rule,
                                            rows_beyond);
        });
}

}  // namespace

void filter_double(const double* src, double* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold,
                   const filter_options& options, kernel k) {
    filter_numeric_with_options(src, dst, rows, cols, pages, taps, threshold, options, k);
}

void filter_single(const float* src, float* dst, std::size_t rows, std::size_t cols,
                   std::size_t pages, const tap_list& taps, std::int64_t threshold,
                   const filter_options& options, kernel k) {
    filter_numeric_with_options(src, dst, rows, cols, pages, taps, threshold, options, k);
}

void filter_logical(const std::uint8_t* src, std::uint8_t* dst, std::size_t rows, std::size_t cols,
                    std::size_t pages, const tap_list& taps, std::int64_t threshold,
                    const filter_options& options, kernel k) {
    if (pages == 0 || rows * cols == 0) return;
    if (default_options(options, false))
        return filter_logical(src, dst, rows, cols, pages, taps, threshold, k);
    tap_set merged;
    if (rows == 1 && cols > 1 && options.edge != border::constant && row_image_taps(taps, merged))
        return filter_logical(src, dst, cols, 1, pages, merged, threshold, options, k);
    filter_with_options(
        src, dst, rows, cols, pages, taps, threshold, options, false, nullptr,
        [&](const std::uint8_t* s, std::uint8_t* d, std::size_t m, std::size_t n, bool) {
            filter_logical(s, d, m, n, 1, taps, threshold, k);
            return false;
        });
}

}  // namespace varnets
