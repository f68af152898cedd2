// Series are found by giving every row one number made of the sorted-order
// ranks of its key values (a mixed-radix number); counting these numbers
// gives the series in ascending key order without sorting the rows.
#include "tremora/table.hpp"

#include <algorithm>
#include <atomic>
#include <map>
#include <numeric>
#include <utility>

#include "tremora/memory.hpp"
#include "tremora/parallel.hpp"

namespace tremora {
namespace {

constexpr std::size_t kRowPiece = std::size_t(1) << 16;

// The codes of a column's values and the text-order rank of each code.
struct KeyRanks {
  Column encoded;  // set when the column was not dictionary-encoded already
  const int32_t* codes = nullptr;
  // The rank of code c at [c + 1]; [0] is the rank of a missing value
  // (code -1), which is `values`, after every text.
  std::vector<uint32_t> rank_of_code;
  uint32_t values = 0;  // distinct values

  const uint32_t* ranks() const { return rank_of_code.data() + 1; }
  uint32_t rank(std::size_t row) const { return ranks()[codes[row]]; }
};

KeyRanks key_ranks(const Column& c) {
  KeyRanks k;
  const Column* dict = &c;
  if (!c.is_dictionary()) {
    k.encoded = (c.type() == DataType::String ? c : to_text(c)).dictionary_encoded();
    dict = &k.encoded;
  }
  k.codes = dict->codes().data();
  const auto& texts = dict->dictionary();
  std::vector<uint32_t> order(texts.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return texts[a] < texts[b]; });
  k.rank_of_code.resize(texts.size() + 1);
  uint32_t r = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && texts[order[i - 1]] != texts[order[i]]) ++r;  // repeated texts share a rank
    k.rank_of_code[order[i] + 1] = r;
  }
  k.values = texts.empty() ? 0 : r + 1;
  k.rank_of_code[0] = k.values;
  return k;
}

// Group ids in ascending key order (-1 for rows left out).
std::vector<int32_t> dense_ids(const std::vector<KeyRanks>& keys, std::size_t n, bool missing_is_a_group,
                               std::size_t& groups) {
  std::vector<int32_t> id = large_vector<int32_t>(n, 0);
  auto excluded = [&](std::size_t i) {
    if (missing_is_a_group) return false;
    for (const auto& k : keys)
      if (k.codes[i] < 0) return true;
    return false;
  };
  uint64_t product = 1;
  bool small = true;
  for (const auto& k : keys) {
    small = small && product <= (uint64_t{1} << 22) / (uint64_t(k.values) + 1);
    if (small) product *= uint64_t(k.values) + 1;
  }
  if (small) {
    // Few combinations: count them in an array indexed by the mixed-radix
    // number, built key by key in passes over the codes.
    // The numbers are built in the id array itself, which then maps them
    // to dense ids in place.
    // Rows left out get a number past every combination.
    uint32_t* number = reinterpret_cast<uint32_t*>(id.data());
    const uint32_t left_out = uint32_t(product);
    std::vector<int32_t> dense(product + 1, -1);  // the last slot stays -1, for the rows left out
    parallel_pieces(n, kRowPiece, [&](std::size_t begin, std::size_t end) {
      for (const auto& k : keys) {
        const uint32_t* rank = k.ranks();
        uint32_t radix = k.values + 1;
        for (std::size_t i = begin; i < end; ++i) number[i] = number[i] * radix + rank[k.codes[i]];
      }
      if (!missing_is_a_group)
        for (const auto& k : keys)
          for (std::size_t i = begin; i < end; ++i) number[i] = k.codes[i] < 0 ? left_out : number[i];
      for (std::size_t i = begin; i < end; ++i) {  // marks the numbers that occur, each written once or so
        std::atomic_ref<int32_t> seen(dense[number[i]]);
        if (seen.load(std::memory_order_relaxed) != 0) seen.store(0, std::memory_order_relaxed);
      }
    });
    dense[left_out] = -1;
    groups = 0;
    for (std::size_t c = 0; c < product; ++c)
      if (dense[c] == 0) dense[c] = int32_t(groups++);
    parallel_pieces(n, kRowPiece, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) id[i] = dense[number[i]];
    });
    return id;
  }
  // Many combinations: order them as tuples of ranks.
  std::map<std::vector<uint32_t>, int32_t> tuples;
  std::vector<std::vector<uint32_t>> of_row(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (excluded(i)) continue;
    for (const auto& k : keys) of_row[i].push_back(k.rank(i));
    tuples.emplace(of_row[i], 0);
  }
  groups = 0;
  for (auto& [tuple, g] : tuples) g = int32_t(groups++);
  for (std::size_t i = 0; i < n; ++i) id[i] = excluded(i) ? -1 : tuples[of_row[i]];
  return id;
}

}  // namespace

SeriesIds series_ids(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group) {
  std::vector<KeyRanks> keys;
  for (const auto& name : columns) keys.push_back(key_ranks(table.column(name)));
  SeriesIds ids;
  ids.of_row = dense_ids(keys, table.num_rows(), missing_is_a_group, ids.count);
  return ids;
}

SeriesGroups group_rows(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group,
                        std::span<const int64_t> order) {
  SeriesIds ids = series_ids(table, columns, missing_is_a_group);
  const std::vector<int32_t>& id = ids.of_row;
  std::size_t positions = order.empty() ? table.num_rows() : order.size();
  auto row_at = [&](std::size_t p) { return order.empty() ? int64_t(p) : order[p]; };
  // Each piece of positions counts its rows of every group, so that it
  // knows where in each group its rows go, and then puts them there.
  std::size_t pieces = (positions + kRowPiece - 1) / kRowPiece, groups = ids.count;
  if (groups * pieces > (std::size_t(1) << 20)) pieces = 1;  // a counts table too large: one piece
  std::size_t piece = pieces ? (positions + pieces - 1) / pieces : 0;
  std::vector<std::vector<std::size_t>> at(pieces);
  parallel_pieces(positions, std::max<std::size_t>(piece, 1), [&](std::size_t begin, std::size_t end) {
    std::vector<std::size_t> count(groups, 0);  // counted here, not in `at`, whose rows share cache lines
    for (std::size_t p = begin; p < end; ++p)
      if (int32_t g = id[std::size_t(row_at(p))]; g >= 0) ++count[std::size_t(g)];
    at[begin / piece] = std::move(count);
  });
  SeriesGroups out;
  out.members.resize(groups);
  for (std::size_t g = 0; g < groups; ++g) {
    std::size_t size = 0;
    for (auto& count : at) size += std::exchange(count[g], size);  // counts become each piece's first slot
    out.members[g] = large_vector<int64_t>(size);
  }
  parallel_pieces(positions, std::max<std::size_t>(piece, 1), [&](std::size_t begin, std::size_t end) {
    std::vector<std::size_t> next = at[begin / piece];
    for (std::size_t p = begin; p < end; ++p) {
      int64_t row = row_at(p);
      if (int32_t g = id[std::size_t(row)]; g >= 0) out.members[std::size_t(g)][next[std::size_t(g)]++] = row;
    }
  });
  return out;
}

}  // namespace tremora
