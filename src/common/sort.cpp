// Stable sorting of tables: each sort key is turned into an order-preserving
// unsigned code per row (plus a missing flag), and the positions are sorted
// by a natural merge sort, which is linear on data that is already sorted
// and fast on data made of a few sorted runs (series that follow each other),
// and whose merges are shared among threads.
#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>

#include "tremora/errors.hpp"
#include "tremora/memory.hpp"
#include "tremora/parallel.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

struct SortCodes {
  std::vector<uint64_t> code;
  std::vector<uint8_t> missing;  // empty when nothing is missing
};

uint64_t code_of(int64_t v) { return uint64_t(v) ^ (uint64_t{1} << 63); }

uint64_t code_of(double v) {
  if (v == 0) v = 0;  // -0 and +0 compare equal
  uint64_t bits = std::bit_cast<uint64_t>(v);
  return (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
}

// Dense ranks of texts in byte order, for plain-encoded strings.
std::vector<uint64_t> text_ranks(const Column& c) {
  std::size_t n = c.size();
  std::vector<int64_t> order(n);
  std::iota(order.begin(), order.end(), int64_t{0});
  std::stable_sort(order.begin(), order.end(), [&](int64_t a, int64_t b) { return c.text(a) < c.text(b); });
  std::vector<uint64_t> rank(n);
  uint64_t r = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && c.text(order[i - 1]) != c.text(order[i])) ++r;
    rank[order[i]] = r;
  }
  return rank;
}

std::vector<uint64_t> dictionary_ranks(const Column& c) {
  const auto& dict = c.dictionary();
  std::vector<int64_t> order(dict.size());
  std::iota(order.begin(), order.end(), int64_t{0});
  std::sort(order.begin(), order.end(), [&](int64_t a, int64_t b) { return dict[a] < dict[b]; });
  // Dense ranks: equal texts (a dictionary may repeat one) share a rank.
  std::vector<uint64_t> dict_rank(dict.size());
  uint64_t r = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && dict[order[i - 1]] != dict[order[i]]) ++r;
    dict_rank[order[i]] = r;
  }
  std::vector<uint64_t> rank(c.size());
  const auto& codes = c.codes();
  for (std::size_t i = 0; i < rank.size(); ++i) rank[i] = codes[i] < 0 ? 0 : dict_rank[codes[i]];
  return rank;
}

SortCodes sort_codes(const Column& c, bool ascending) {
  std::size_t n = c.size();
  SortCodes s;
  switch (c.type()) {
    case DataType::Float32: {
      s.code.resize(n);
      const auto& v = c.float32s();
      for (std::size_t i = 0; i < n; ++i) s.code[i] = code_of(double(v[i]));
      break;
    }
    case DataType::Float64: {
      s.code.resize(n);
      const auto& v = c.float64s();
      for (std::size_t i = 0; i < n; ++i) s.code[i] = code_of(v[i]);
      break;
    }
    case DataType::Bool: {
      const auto& v = c.bools();
      s.code.assign(v.begin(), v.end());
      break;
    }
    case DataType::String:
    case DataType::Binary: s.code = c.is_dictionary() ? dictionary_ranks(c) : text_ranks(c); break;
    default: {
      s.code.resize(n);
      const auto& v = c.int64s();
      for (std::size_t i = 0; i < n; ++i) s.code[i] = code_of(v[i]);
      break;
    }
  }
  if (c.null_count() > 0) {
    s.missing.resize(n);
    for (std::size_t i = 0; i < n; ++i) s.missing[i] = c.is_null(i);
  }
  if (!ascending)
    for (auto& v : s.code) v = ~v;
  return s;
}

// The positions of a parallel step of sorting (a merge, a run search) are
// cut into pieces of this many.
constexpr std::size_t kMergePiece = std::size_t(1) << 16;

// How many of the first `d` positions of the stable merge of a and b come
// from a (ties go to a): the first i at which a[i] no longer belongs
// before b[d - i - 1].
template <typename Less>
std::size_t from_first(const int64_t* a, std::size_t na, const int64_t* b, std::size_t nb, std::size_t d, Less& less) {
  std::size_t lo = d > nb ? d - nb : 0, hi = std::min(d, na);
  while (lo < hi) {
    std::size_t i = lo + (hi - lo) / 2, j = d - i;
    if (j > 0 && !less(b[j - 1], a[i])) lo = i + 1;
    else hi = i;
  }
  return lo;
}

// One pass of merging neighbouring runs of `idx` into `buf`, each merge cut
// into pieces of about kMergePiece positions at the points where a sequential
// merge would be, so that the pieces are merged in parallel and give the
// same order.
template <typename Less>
void merge_pass(const int64_t* idx, int64_t* buf, const std::vector<std::size_t>& bounds, Less& less) {
  struct Piece {
    std::size_t lo, mid, hi, from, to;  // output positions [from, to) of merging [lo, mid) with [mid, hi)
  };
  std::vector<Piece> pieces;
  for (std::size_t r = 0; r + 1 < bounds.size(); r += 2) {
    std::size_t lo = bounds[r], mid = bounds[r + 1], hi = r + 2 < bounds.size() ? bounds[r + 2] : mid;
    for (std::size_t from = lo; from < hi; from += kMergePiece)
      pieces.push_back({lo, mid, hi, from, std::min(hi, from + kMergePiece)});
  }
  parallel_for(pieces.size(), [&](std::size_t k) {
    const Piece& p = pieces[k];
    const int64_t *a = idx + p.lo, *b = idx + p.mid;
    std::size_t na = p.mid - p.lo, nb = p.hi - p.mid;
    std::size_t i0 = from_first(a, na, b, nb, p.from - p.lo, less), i1 = from_first(a, na, b, nb, p.to - p.lo, less);
    std::size_t j0 = p.from - p.lo - i0, j1 = p.to - p.lo - i1;
    std::merge(a + i0, a + i1, b + j0, b + j1, buf + p.from, less);
  });
}

// Where the ascending runs of positions 0..n-1 begin, then n: each piece
// finds the descents within it (and at its first position) in parallel.
template <typename Less>
std::vector<std::size_t> run_bounds(std::size_t n, Less less) {
  const std::size_t pieces = (n + kMergePiece - 1) / kMergePiece;
  std::vector<std::vector<std::size_t>> found(pieces);
  parallel_pieces(n, kMergePiece, [&](std::size_t begin, std::size_t end) {
    auto& here = found[begin / kMergePiece];
    for (std::size_t i = std::max<std::size_t>(begin, 1); i < end; ++i)
      if (less(int64_t(i), int64_t(i - 1))) here.push_back(i);
  });
  std::vector<std::size_t> bounds{0};
  for (const auto& here : found) bounds.insert(bounds.end(), here.begin(), here.end());
  bounds.push_back(n);
  return bounds;
}

// Sorts positions 0..n-1 stably by `less`: finds the ascending runs, then
// merges neighbouring runs until one is left. The passes alternate between
// the result and a buffer that is not zeroed first (each pass writes all
// of it, in parallel); an odd number of passes ends with a parallel copy.
template <typename Less>
std::vector<int64_t> natural_merge_sort(std::size_t n, Less less) {
  std::vector<int64_t> idx = large_vector<int64_t>(n);
  std::vector<std::size_t> bounds = run_bounds(n, less);
  parallel_pieces(n, kMergePiece, [&](std::size_t begin, std::size_t end) {
    std::iota(idx.begin() + std::ptrdiff_t(begin), idx.begin() + std::ptrdiff_t(end), int64_t(begin));
  });
  if (bounds.size() == 2) return idx;
  std::unique_ptr<int64_t[]> buf = large_unwritten<int64_t>(n);
  int64_t *from = idx.data(), *to = buf.get();
  while (bounds.size() > 2) {
    merge_pass(from, to, bounds, less);
    std::vector<std::size_t> next{0};
    for (std::size_t r = 0; r + 1 < bounds.size(); r += 2)
      next.push_back(r + 2 < bounds.size() ? bounds[r + 2] : bounds[r + 1]);
    std::swap(from, to);
    bounds.swap(next);
  }
  if (from != idx.data())
    parallel_pieces(n, kMergePiece, [&](std::size_t begin, std::size_t end) {
      std::copy(from + begin, from + end, idx.data() + begin);
    });
  return idx;
}

std::vector<int64_t> sort_by_codes(std::size_t n, const std::vector<SortCodes>& keys) {
  if (keys.size() == 1 && keys[0].missing.empty()) {
    const uint64_t* c = keys[0].code.data();
    return natural_merge_sort(n, [c](int64_t a, int64_t b) { return c[a] < c[b]; });
  }
  return natural_merge_sort(n, [&keys](int64_t a, int64_t b) {
    for (const auto& k : keys) {
      if (!k.missing.empty()) {
        bool ma = k.missing[a], mb = k.missing[b];
        if (ma || mb) {
          if (ma && mb) continue;
          return mb;  // the missing value goes last
        }
      }
      if (k.code[a] != k.code[b]) return k.code[a] < k.code[b];
    }
    return false;
  });
}

const Column& key_column(const Table& table, const std::string& name) {
  if (auto i = table.find_column(name)) return table.column(*i);
  if (table.has_key() && table.key().name() == name) return table.key();
  throw KeyError("no column '" + name + "' to sort by");
}

}  // namespace

std::vector<int64_t> sort_indices(const Table& table, std::span<const SortKey> keys) {
  std::size_t n = table.num_rows();
  // Leading keys with few distinct values (dictionary-encoded texts, truth
  // values) become one bucket number per row; the rows are sorted by the
  // remaining keys first, then distributed stably into the buckets.
  std::vector<uint64_t> bucket;
  uint64_t buckets = 1;
  std::size_t lead = 0;
  for (; lead < keys.size(); ++lead) {
    const Column& c = key_column(table, keys[lead].column);
    uint64_t values = c.type() == DataType::Bool ? 2 : c.is_dictionary() ? c.dictionary().size() : 0;
    if (values == 0 || buckets * (values + 1) > (uint64_t{1} << 22)) break;
    SortCodes sc = sort_codes(c, true);
    if (bucket.empty()) bucket.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      bool missing = !sc.missing.empty() && sc.missing[i];
      uint64_t rank = missing ? values : keys[lead].ascending ? sc.code[i] : values - 1 - sc.code[i];
      bucket[i] = bucket[i] * (values + 1) + rank;
    }
    buckets *= values + 1;
  }
  std::vector<SortCodes> codes;
  for (std::size_t k = lead; k < keys.size(); ++k)
    codes.push_back(sort_codes(key_column(table, keys[k].column), keys[k].ascending));
  std::vector<int64_t> order =
      codes.empty() ? natural_merge_sort(n, [](int64_t, int64_t) { return false; }) : sort_by_codes(n, codes);
  if (lead == 0) return order;
  std::vector<std::size_t> start(buckets + 1, 0);
  for (std::size_t i = 0; i < n; ++i) ++start[bucket[i] + 1];
  for (uint64_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
  std::vector<int64_t> out(n);
  for (int64_t row : order) out[start[bucket[row]]++] = row;
  return out;
}

std::vector<int64_t> sort_time_indices(std::span<const int64_t> times) {
  // Times sort on their own values, without a code array.
  const int64_t* v = times.data();
  return natural_merge_sort(times.size(), [v](int64_t a, int64_t b) {
    return v[a] != Timestamp::NaT && (v[b] == Timestamp::NaT || v[a] < v[b]);
  });
}

std::vector<int64_t> sort_indices(const Column& column, bool ascending) {
  if (ascending && (column.type() == DataType::Timestamp || column.type() == DataType::Duration))
    return sort_time_indices(column.int64s());
  std::vector<SortCodes> codes;
  codes.push_back(sort_codes(column, ascending));
  return sort_by_codes(column.size(), codes);
}

Table sort_by(const Table& table, std::span<const SortKey> keys) {
  auto order = sort_indices(table, keys);
  return take(table, order);
}

void sort_in_place(Table& table, std::span<const SortKey> keys) {
  auto order = sort_indices(table, keys);
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i] != int64_t(i)) {
      table = take(table, order);
      return;
    }
}

}  // namespace tremora
