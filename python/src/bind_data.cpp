// tremora.metastash, tremora.cleaning, tremora.postprocessing and
// tremora.export: the operations on tables that need no chart.
#include <pybind11/numpy.h>

#include "args.hpp"
#include "connection.hpp"
#include "doc_data.hpp"
#include "module.hpp"
#include "plot_args.hpp"
#include "tremora/cleaning.hpp"
#include "tremora/errors.hpp"
#include "tremora/export.hpp"
#include "tremora/metastash.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/time.hpp"

namespace tremora::python {
namespace {

db::Connection& required(ConnectionHandle& h) {
  if (!h.conn) throw TypeError("conn is not an open connection");
  return *h.conn;
}

py::tuple info_tuple(const metastash::TimeseriesInfo& info) {
  return py::make_tuple(py::cast(info.stations), py::cast(info.points), py::cast(info.items));
}

// Records (a list of dicts, one per row) as pandas writes them.
py::object records_of(const Table& t) {
  return py::cast(t).attr("reset_index")("drop"_a = !t.has_key() || t.key().name().empty()).attr("to_dict")("records");
}

// A table of records: a list of dicts or a DataFrame.
Table table_of_records(py::handle records, const char* argument) {
  if (is_dataframe(records)) return from_dataframe(records, argument);
  if (!py::isinstance<py::list>(records) && !py::isinstance<py::tuple>(records))
    wrong_kind(records, argument, "a list of records (dicts) or a DataFrame");
  return from_dataframe(py::module_::import("pandas").attr("DataFrame").attr("from_records")(records), argument);
}

py::dict context_dict(const exchange::VuzoContext& c) {
  py::dict d;
  d["station_info"] = records_of(c.station_info);
  d["item_info"] = records_of(c.item_info);
  d["sampling_rate"] = c.sampling_rate;
  d["export_time"] = c.export_time;
  return d;
}

}  // namespace

void bind_metastash(py::module_& m) {
  using metastash::MetadataCache;
  py::class_<MetadataCache>(m, "MetadataCache", doc::MetadataCache)
      .def_property_readonly_static(
          "TABLE_SPECS",
          [](py::object) {
            py::dict specs;
            for (const auto& [name, table] : MetadataCache::TABLE_SPECS())
              specs[py::str(name)] = py::make_tuple(table.filename, table.sql);
            return specs;
          },
          doc::MetadataCache_TABLE_SPECS)
      .def_static("default_cache_dir", &MetadataCache::default_cache_dir, doc::MetadataCache_default_cache_dir)
      .def_static(
          "safe_namespace", [](const TextArg& ns) { return MetadataCache::safe_namespace(ns); }, "namespace"_a = "",
          doc::MetadataCache_safe_namespace)
      .def_static(
          "infer_namespace",
          [](const ConnectionHandle* conn) { return MetadataCache::infer_namespace(connection_of(conn)); },
          "conn"_a = py::none(), doc::MetadataCache_infer_namespace)
      .def_static(
          "resolve_cache_dir",
          [](const TextArg& cache_dir, const TextArg& ns) { return MetadataCache::resolve_cache_dir(cache_dir, ns); },
          "cache_dir"_a = "", "namespace"_a = "", doc::MetadataCache_resolve_cache_dir)
      .def_static(
          "cache_path",
          [](const std::string& table_name, const TextArg& cache_dir, const TextArg& ns) {
            return MetadataCache::cache_path(table_name, cache_dir, ns);
          },
          "table_name"_a, "cache_dir"_a = "", "namespace"_a = "", doc::MetadataCache_cache_path)
      .def_static(
          "ensure_cache_dir",
          [](const TextArg& cache_dir, const TextArg& ns) { return MetadataCache::ensure_cache_dir(cache_dir, ns); },
          "cache_dir"_a = "", "namespace"_a = "", doc::MetadataCache_ensure_cache_dir)
      .def_static("normalize_columns", &MetadataCache::normalize_columns, "df"_a, doc::MetadataCache_normalize_columns)
      .def_static(
          "save_table",
          [](const std::string& table_name, const Table& df, const TextArg& cache_dir, const TextArg& ns) {
            return MetadataCache::save_table(table_name, df, cache_dir, ns);
          },
          "table_name"_a, "df"_a, "cache_dir"_a = "", "namespace"_a = "", doc::MetadataCache_save_table)
      .def_static(
          "load_table",
          [](const std::string& table_name, const TextArg& cache_dir, const TextArg& ns) {
            return MetadataCache::load_table(table_name, cache_dir, ns);
          },
          "table_name"_a, "cache_dir"_a = "", "namespace"_a = "", doc::MetadataCache_load_table)
      .def_static(
          "fetch_and_cache_table",
          [](ConnectionHandle& conn, const std::string& table_name, const TextArg& cache_dir, const TextArg& ns) {
            return MetadataCache::fetch_and_cache_table(required(conn), table_name, cache_dir, ns);
          },
          "conn"_a, "table_name"_a, "cache_dir"_a = "", "namespace"_a = "", LongWork(),
          doc::MetadataCache_fetch_and_cache_table)
      .def_static(
          "refresh_cache",
          [](ConnectionHandle& conn, const TextArg& cache_dir, const std::optional<std::vector<std::string>>& tables,
             const TextArg& ns) {
            return MetadataCache::refresh_cache(required(conn), cache_dir, tables.value_or(std::vector<std::string>{}),
                                                ns);
          },
          "conn"_a, "cache_dir"_a = "", "tables"_a = py::none(), "namespace"_a = "", LongWork(),
          doc::MetadataCache_refresh_cache)
      .def_static(
          "get_table",
          [](const std::string& table_name, const ConnectionHandle* conn, const TextArg& cache_dir, bool refresh,
             const TextArg& ns) {
            return MetadataCache::get_table(table_name, connection_of(conn), cache_dir, refresh, ns);
          },
          "table_name"_a, "conn"_a = py::none(), "cache_dir"_a = "", "refresh"_a = false, "namespace"_a = "",
          LongWork(), doc::MetadataCache_get_table)
      .def_static(
          "get_timeseries_info",
          [](const ConnectionHandle* conn, const TextArg& cache_dir, bool refresh, const TextArg& ns) {
            metastash::TimeseriesInfo info;
            {
              py::gil_scoped_release release;
              info = MetadataCache::get_timeseries_info(connection_of(conn), cache_dir, refresh, ns);
            }
            return info_tuple(info);
          },
          "conn"_a = py::none(), "cache_dir"_a = "", "refresh"_a = false, "namespace"_a = "",
          doc::MetadataCache_get_timeseries_info);
}

void bind_cleaning(py::module_& m) {
  m.def(
      "split_lines",
      [](py::object df, double sample_by_seconds) -> py::object {
        Table table = from_dataframe(df, "df");
        Table out = without_gil([&] { return cleaning::split_lines(table, sample_by_seconds); });
        if (sample_by_seconds <= 3600) return to_dataframe(std::move(out));
        // Daily data: the caller's DataFrame itself is reordered, keyed by
        // STARTDATE and converted, as the C++ function changes its table.
        py::object result = to_dataframe(std::move(out));
        py::list gone;
        for (py::handle name : df.attr("columns"))
          if (!py::bool_(result.attr("columns").attr("__contains__")(name))) gone.append(name);
        df.attr("drop")("columns"_a = gone, "inplace"_a = true);
        df.attr("index") = result.attr("index");
        for (py::handle name : result.attr("columns"))
          df.attr("__setitem__")(name, result.attr("__getitem__")(name).attr("to_numpy")());
        return df;
      },
      "df"_a, "sample_by_seconds"_a, doc::split_lines);
}

void bind_postprocessing(py::module_& m) {
  using namespace tremora::postprocessing;
  const DifferenceOptions difference{};
  m.def(
      "resample_timeseries_data",
      [](const Table& df, const std::string& freq, const std::string& agg_method) {
        // A fetch's DataFrame has its times as the index: the library's
        // message, with what to do about it.
        if (!df.has_column(qzdata::kStartDate) && df.has_key() && df.key().name() == qzdata::kStartDate)
          throw py::value_error(std::string("缺少必要的列: ") + qzdata::kStartDate +
                                " (it is the DataFrame's index: pass df.reset_index())");
        return without_gil([&] { return resample_timeseries_data(df, freq, agg_method); });
      },
      "df"_a, "freq"_a, "agg_method"_a = "mean", py::call_guard<FlushLogs>(), doc::resample_timeseries_data);
  m.def(
      "first_difference",
      // A DataFrame crosses as a copy; with copy=False the caller's own
      // value column then gets the differences, as the C++ table would.
      [](const FrameObject& frame, const std::string& value_col, std::optional<std::vector<std::string>> group_cols,
         int64_t periods, bool keep_first, bool sort, bool copy) {
        Table df = from_dataframe(frame.object, "df");
        Table out = without_gil([&] {
          return first_difference(df, {value_col, group_cols, periods, keep_first, sort, copy});
        });
        if (!copy) frame.object.attr("__setitem__")(value_col, column_values(df.column(value_col)));
        return out;
      },
      "df"_a, "value_col"_a = difference.value_col, "group_cols"_a = py::none(), "periods"_a = difference.periods,
      "keep_first"_a = difference.keep_first, "sort"_a = difference.sort, "copy"_a = difference.copy,
      doc::first_difference);
  m.def(
      "fast_mad",
      [](py::array_t<double, py::array::c_style | py::array::forcecast> x) {
        std::span<const double> values(x.data(), static_cast<std::size_t>(x.size()));
        py::gil_scoped_release release;
        return fast_mad(values);
      },
      "x"_a, doc::fast_mad);
  m.def(
      "filter_with_fast_mad",
      [](const ValuesObject& values, int64_t window_size, double threshold_factor) -> FrameOrSeries {
        const py::object& data = values.object;
        if (is_dataframe(data)) {
          Table t = from_dataframe(data, "data");
          Table out = [&] {
            py::gil_scoped_release release;
            return filter_with_fast_mad(t, window_size, threshold_factor);
          }();
          return {to_dataframe(out)};
        }
        // A Series keeps its index; a list or an array (whose `index` is a
        // method, not labels) comes back as a Series of positions.
        bool series = py::isinstance(data, py::module_::import("pandas").attr("Series"));
        py::object index = series ? py::object(data.attr("index")) : py::none();
        Column c = from_series(data, "data");
        Column out = [&] {
          py::gil_scoped_release release;
          return filter_with_fast_mad(c, window_size, threshold_factor);
        }();
        return {to_series(out, index)};
      },
      "df"_a, "window_size"_a = 15, "threshold_factor"_a = 5.0, doc::filter_with_fast_mad);
  m.def("_is_leap_year", &_is_leap_year, "year"_a);
  m.def(
      "create_normalized_dates",
      // The caller's DataFrame gains the column (and a row key of date texts
      // becomes times), as the C++ function changes its table; it is also
      // returned.
      [](const FrameObject& frame, int64_t reference_year) {
        const py::object& df = frame.object;
        Table table = from_dataframe(df, "df");
        bool texts_key = table.has_key() && table.key().type() == DataType::String;
        {
          py::gil_scoped_release release;
          create_normalized_dates(table, reference_year);
        }
        if (!table.has_column("datetime_norm")) return frame;  // a key of texts that are no dates
        df.attr("__setitem__")("datetime_norm", column_values(table.column("datetime_norm")));
        if (texts_key && table.key().type() == DataType::Timestamp)
          df.attr("index") = py::module_::import("pandas").attr("DatetimeIndex")(
              column_values(table.key()),
              "name"_a = table.key().name().empty() ? py::object(py::none()) : py::str(table.key().name()));
        return frame;
      },
      "df"_a, "reference_year"_a = 2024, doc::create_normalized_dates);
}

void bind_export(py::module_& m) {
  m.def(
      "to_vuzo",
      [](const Table& df, py::dict metadata) {
        exchange::VuzoContext c;
        for (const char* key : {"station_info", "item_info", "sampling_rate"})
          if (!metadata.contains(key)) throw py::key_error(std::string("metadata has no '") + key + "'");
        c.station_info = table_of_records(metadata["station_info"], "metadata['station_info']");
        c.item_info = table_of_records(metadata["item_info"], "metadata['item_info']");
        c.sampling_rate =
            cast_arg<WholeSeconds>(metadata["sampling_rate"], "metadata['sampling_rate']", "a whole number of seconds")
                .value;
        c.export_time = metadata.contains("export_time")
                            ? cast_arg<std::string>(metadata["export_time"], "metadata['export_time']", "a text")
                            : iso_format_micros(local_now());
        py::gil_scoped_release release;
        return exchange::to_vuzo(df, c);
      },
      "df"_a, "metadata"_a, doc::to_vuzo);
  m.def(
      "read_vuzo",
      [](const TextArg& path) {
        exchange::VuzoFile f = [&] {
          py::gil_scoped_release release;
          return exchange::read_vuzo(path.text);
        }();
        return py::make_tuple(py::cast(f.table), context_dict(f.context));
      },
      "path"_a, doc::read_vuzo);
}

}  // namespace tremora::python
