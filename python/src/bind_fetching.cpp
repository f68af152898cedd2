// tremora.fetching: connections, the vocabulary, look-ups, data and log
// fetches, VUZO export and the compatibility functions.
#include "args.hpp"
#include "connection.hpp"
#include "convert.hpp"
#include "doc_fetching.hpp"
#include "doc_fetching_functions.hpp"
#include "module.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"

namespace tremora::python {
namespace {

using namespace tremora::fetching;

// The defaults of the keyword arguments are those of the C++ option structs.
const FetchOptions kFetchDefaults{};
const DialogOptions kDialogDefaults{};
const FetchingDialogOptions kCompatDialogDefaults{};

// The table of a fetch, or nothing with a warning on fetching_logger that
// says which argument matched nothing, under the name the Python call
// `call` gives it (`renamed` maps the C++ names that differ).
std::optional<Table> table_or_warning(FetchOutcome outcome, const std::string& call,
                                      const std::map<std::string, std::string>& renamed = {}) {
  if (outcome.table) return std::move(outcome.table);
  Unresolved why = std::move(*outcome.unresolved);
  if (auto to = renamed.find(why.argument); to != renamed.end()) why.argument = to->second;
  logger_config::fetching_logger.warning(call + ": " + why.text());
  return std::nullopt;
}

// Runs a fetch. Without an open connection the metadata cache must answer;
// a file missing from it then says first that there was no connection.
template <typename Work>
FetchOutcome needing_connection(const ConnectionHandle* conn, Work&& work) {
  try {
    return work();
  } catch (const FileNotFoundError& e) {
    db::Connection* c = connection_of(conn);
    if (c && c->is_open()) throw;
    std::string why = "no connection (conn is ";
    why.append(conn ? "closed" : "None").append("), and the metadata cache has no '").append(e.what()).append("'");
    std::throw_with_nested(FileNotFoundError(why));
  }
}

// A value Python's configparser gave, as INI text that reads back the
// same: '%' doubled (the value is interpolated already), lines after the
// first indented as continuation lines.
std::string ini_value_text(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '%') out += "%%";
    else if (c == '\n') out += "\n  ";
    else out += c;
  }
  return out;
}

// The argument names of the compatibility functions.
const std::map<std::string, std::string> kCompatNames{
    {"method_name", "methodname"}, {"station_name", "stationname"}, {"item_name", "itemname"}};

// A connection for Python: a handle, or None when there is none.
std::optional<ConnectionHandle> handle_of(std::shared_ptr<db::Connection> conn) {
  if (!conn) return std::nullopt;
  return ConnectionHandle{std::move(conn)};
}

void bind_vocabulary(py::module_& m) {
  py::class_<DatabaseType>(m, "DatabaseType", doc::DatabaseType)
      .def_property_readonly_static(
          "RAW", [](py::object) { return std::string(DatabaseType::RAW); }, doc::DatabaseType_RAW)
      .def_property_readonly_static(
          "PREPROCESSED", [](py::object) { return std::string(DatabaseType::PREPROCESSED); },
          doc::DatabaseType_PREPROCESSED)
      .def_property_readonly_static(
          "PRODUCT", [](py::object) { return std::string(DatabaseType::PRODUCT); }, doc::DatabaseType_PRODUCT)
      .def_static(
          "get_id",
          [](const std::optional<std::string>& db_type) {
            return db_type ? DatabaseType::get_id(*db_type) : std::nullopt;
          },
          "db_type"_a, doc::DatabaseType_get_id);
  py::class_<SampleRateConfig>(m, "SampleRateConfig", doc::SampleRateConfig)
      .def_readonly("id", &SampleRateConfig::id, doc::SampleRateConfig_id)
      .def_readonly("rate", &SampleRateConfig::rate, doc::SampleRateConfig_rate)
      .def_readonly("null_count", &SampleRateConfig::null_count, doc::SampleRateConfig_null_count)
      .def("__getitem__",
           [](const SampleRateConfig& c, const std::string& key) -> py::object {
             if (key == "id") return py::str(c.id);
             if (key == "rate") return py::int_(c.rate);
             if (key == "null_count") return py::int_(c.null_count);
             throw py::key_error(key);
           })
      .def("__eq__", [](const SampleRateConfig& a, const SampleRateConfig& b) { return a == b; })
      .def("__repr__", [](const SampleRateConfig& c) {
        return "{'id': '" + c.id + "', 'rate': " + std::to_string(c.rate) +
               ", 'null_count': " + std::to_string(c.null_count) + "}";
      });
  py::class_<SampleRateType>(m, "SampleRateType", doc::SampleRateType)
      .def_property_readonly_static(
          "SECOND", [](py::object) { return std::string(SampleRateType::SECOND); }, doc::SampleRateType_SECOND)
      .def_property_readonly_static(
          "MINUTE", [](py::object) { return std::string(SampleRateType::MINUTE); }, doc::SampleRateType_MINUTE)
      .def_property_readonly_static(
          "HOUR", [](py::object) { return std::string(SampleRateType::HOUR); }, doc::SampleRateType_HOUR)
      .def_property_readonly_static(
          "DAY", [](py::object) { return std::string(SampleRateType::DAY); }, doc::SampleRateType_DAY)
      .def_static(
          "get_config",
          [](const std::optional<std::string>& rate_type) {
            return rate_type ? SampleRateType::get_config(*rate_type) : std::nullopt;
          },
          "rate_type"_a, doc::SampleRateType_get_config)
      .def_static("get_rate_by_id", &SampleRateType::get_rate_by_id, "rate_id"_a, doc::SampleRateType_get_rate_by_id);
}

void bind_classes(py::module_& m) {
  py::class_<DatabaseConnector>(m, "DatabaseConnector", doc::DatabaseConnector)
      .def_static(
          "connect_to_oracle",
          [](const std::string& db) { return handle_of(DatabaseConnector::connect_to_oracle(db)); }, "db"_a,
          doc::DatabaseConnector_connect_to_oracle)
      .def_static(
          "_init_oracle_thick_mode",
          // `config` is the parsed configuration as Python holds it (a
          // configparser.ConfigParser, or a mapping of sections): the two
          // folder keys of section `db` are what the client needs.
          [](py::object config, const std::string& db) {
            std::string text = "[" + db + "]\n";
            py::object section = config.attr("__getitem__")(db);
            for (const char* key : {"ORACLE_CLIENT_LIB_DIR", "ORACLE_CONFIG_DIR"}) {
              py::object value = section.attr("get")(key, py::none());
              if (!value.is_none()) text.append(key).append(" = ").append(ini_value_text(py::str(value))).append("\n");
            }
            IniConfig parsed;
            parsed.read_string(text, "config");
            py::gil_scoped_release release;
            DatabaseConnector::_init_oracle_thick_mode(parsed, db);
          },
          "config"_a, "db"_a, doc::DatabaseConnector_init_oracle_thick_mode);
  py::class_<MetadataFetcher>(m, "MetadataFetcher", doc::MetadataFetcher)
      .def_static(
          "_normalize_dataframe_columns",
          // The caller's DataFrames themselves get the upper-case column and
          // index names the library gives (read from their empty heads).
          [](py::list dataframes) {
            for (py::handle df : dataframes) {
              Table names = from_dataframe(df.attr("head")(0), "dataframes");
              MetadataFetcher::_normalize_dataframe_columns({&names});
              py::list columns;
              for (const Column& c : names.columns()) columns.append(py::str(c.name()));
              df.attr("columns") = columns;
              if (names.has_key() && !names.key().name().empty()) df.attr("index").attr("name") = names.key().name();
            }
          },
          "dataframes"_a, doc::MetadataFetcher_normalize_dataframe_columns)
      .def_static(
          "get_timeseries_info",
          [](const ConnectionHandle* conn, const TextArg& cache_dir, bool refresh_cache) {
            auto info = [&] {
              py::gil_scoped_release release;
              return MetadataFetcher::get_timeseries_info(connection_of(conn), cache_dir, refresh_cache);
            }();
            return py::make_tuple(py::cast(info.stations), py::cast(info.points), py::cast(info.items));
          },
          "conn"_a = py::none(), "cache_dir"_a = "", "refresh_cache"_a = false,
          doc::MetadataFetcher_get_timeseries_info)
      .def_static(
          "get_method_ids",
          [](const ConnectionHandle* conn, const std::string& method_name, const TextArg& cache_dir) {
            return MetadataFetcher::get_method_ids(connection_of(conn), method_name, cache_dir);
          },
          "conn"_a, "method_name"_a = std::string(kAll), "cache_dir"_a = "", LongWork(),
          doc::MetadataFetcher_get_method_ids)
      .def_static(
          "get_station_ids",
          [](const ConnectionHandle* conn, const std::string& station_name, const TextArg& cache_dir) {
            return MetadataFetcher::get_station_ids(connection_of(conn), station_name, cache_dir);
          },
          "conn"_a, "station_name"_a = std::string(kAll), "cache_dir"_a = "", LongWork(),
          doc::MetadataFetcher_get_station_ids)
      .def_static(
          "get_item_ids",
          [](const ConnectionHandle* conn, const ItemNames& item_name, const TextArg& cache_dir) {
            return MetadataFetcher::get_item_ids(connection_of(conn), item_name, cache_dir);
          },
          "conn"_a, "item_name"_a = std::string(kAll), "cache_dir"_a = "", LongWork(),
          doc::MetadataFetcher_get_item_ids)
      .def_static(
          "get_table_names",
          [](const ConnectionHandle* conn, const Table& method_ids, const std::string& base_type_id,
             const std::string& sample_rate_id) {
            return MetadataFetcher::get_table_names(connection_of(conn), method_ids, base_type_id, sample_rate_id);
          },
          "conn"_a, "method_ids"_a, "base_type_id"_a, "sample_rate_id"_a, LongWork(),
          doc::MetadataFetcher_get_table_names);
  py::class_<QueryBuilder>(m, "QueryBuilder", doc::QueryBuilder)
      .def_static(
          "build_data_query",
          [](const Table& table_names, const DateArg& start_date, const DateArg& end_date,
             const std::optional<Table>& station_ids, const std::optional<Table>& item_ids, const CodeArg& point_id) {
            return QueryBuilder::build_data_query(table_names, start_date, end_date, station_ids, item_ids, point_id);
          },
          "table_names"_a, "start_date"_a, "end_date"_a, "station_ids"_a = py::none(), "item_ids"_a = py::none(),
          "point_id"_a = "", doc::QueryBuilder_build_data_query)
      .def_static("build_dialog_query", &QueryBuilder::build_dialog_query, "table_names"_a, "start_date"_a,
                  "end_date"_a, "log_type"_a, "station_ids"_a = py::none(), "item_ids"_a = py::none(),
                  doc::QueryBuilder_build_dialog_query);
  py::class_<DataFetcher>(m, "DataFetcher", doc::DataFetcher)
      .def_static(
          "fetch_data",
          [](const ConnectionHandle* conn, const DateArg& start_date, const DateArg& end_date,
             const std::string& method_name, const std::string& station_name, const std::string& data_type,
             const std::string& base_type, const ItemNames& item_name, bool gzip_flag, bool my_split_lines,
             const CodeArg& point_id) {
            return table_or_warning(needing_connection(conn,
                                                       [&] {
                                                         return DataFetcher::fetch_data_outcome(
                                                             connection_of(conn), start_date, end_date, method_name,
                                                             station_name, data_type, base_type,
                                                             {item_name, gzip_flag, my_split_lines, point_id});
                                                       }),
                                    "fetch_data");
          },
          "conn"_a, "start_date"_a, "end_date"_a, "method_name"_a, "station_name"_a, "data_type"_a, "base_type"_a,
          "item_name"_a = kFetchDefaults.item_name, "gzip_flag"_a = kFetchDefaults.gzip_flag,
          "my_split_lines"_a = kFetchDefaults.my_split_lines, "point_id"_a = kFetchDefaults.point_id, LongWork(),
          doc::DataFetcher_fetch_data)
      .def_static(
          "fetch_dialog",
          [](const ConnectionHandle* conn, const DateArg& start_date, const DateArg& end_date,
             const std::string& method_name, const std::string& station_name, const std::string& item_name,
             const std::string& log_type) {
            return table_or_warning(needing_connection(conn,
                                                       [&] {
                                                         return DataFetcher::fetch_dialog_outcome(
                                                             connection_of(conn), start_date, end_date,
                                                             {method_name, station_name, item_name, log_type});
                                                       }),
                                    "fetch_dialog");
          },
          "conn"_a, "start_date"_a, "end_date"_a, "method_name"_a = kDialogDefaults.method_name,
          "station_name"_a = kDialogDefaults.station_name, "item_name"_a = kDialogDefaults.item_name,
          "log_type"_a = kDialogDefaults.log_type, LongWork(), doc::DataFetcher_fetch_dialog)
      .def_static(
          "to_vuzo",
          [](const ConnectionHandle* conn, const std::optional<Table>& df, WholeSeconds sampling_rate) {
            return DataFetcher::to_vuzo(connection_of(conn), df, sampling_rate.value);
          },
          "conn"_a, "df"_a, "sampling_rate"_a, LongWork(), doc::DataFetcher_to_vuzo)
      .def_static(
          "export_vuzo",
          [](const ConnectionHandle* conn, const std::optional<Table>& df, const TextArg& file_path,
             WholeSeconds sampling_rate) {
            DataFetcher::export_vuzo(connection_of(conn), df, file_path.text, sampling_rate.value);
          },
          "conn"_a, "df"_a, "file_path"_a, "sampling_rate"_a, LongWork(), doc::DataFetcher_export_vuzo);
}

void bind_functions(py::module_& m) {
  m.def(
      "conn_to_Oracle", [](const std::string& db) { return handle_of(conn_to_Oracle(db)); }, "db"_a,
      doc::conn_to_Oracle);
  m.def(
      "timeseries_info",
      [](const ConnectionHandle* conn, const TextArg& cache_dir, bool refresh_cache) {
        auto info = [&] {
          py::gil_scoped_release release;
          return timeseries_info(connection_of(conn), cache_dir, refresh_cache);
        }();
        return py::make_tuple(py::cast(info.stations), py::cast(info.points), py::cast(info.items));
      },
      "conn"_a = py::none(), "cache_dir"_a = "", "refresh_cache"_a = false, doc::timeseries_info);
  m.def(
      "refresh_metastash",
      [](ConnectionHandle& conn, const TextArg& cache_dir, const std::optional<std::vector<std::string>>& tables) {
        return refresh_metastash(*conn.conn, cache_dir, tables.value_or(std::vector<std::string>{}));
      },
      "conn"_a, "cache_dir"_a = "", "tables"_a = py::none(), LongWork(), doc::refresh_metastash);
  m.def(
      "fetching_data",
      [](const ConnectionHandle* conn, const DateArg& startdate, const DateArg& enddate, const std::string& methodname,
         const std::string& stationname, const std::string& data_type, const std::string& base_type,
         const ItemNames& itemname, bool gzip_flag, bool my_split_lines, const CodeArg& pointid) {
        return table_or_warning(needing_connection(conn,
                                                   [&] {
                                                     return DataFetcher::fetch_data_outcome(
                                                         connection_of(conn), startdate, enddate, methodname,
                                                         stationname, data_type, base_type,
                                                         {itemname, gzip_flag, my_split_lines, pointid});
                                                   }),
                                "fetching_data", kCompatNames);
      },
      "conn"_a, "startdate"_a, "enddate"_a, "methodname"_a, "stationname"_a, "data_type"_a, "base_type"_a,
      "itemname"_a = kFetchDefaults.item_name, "gzip_flag"_a = kFetchDefaults.gzip_flag,
      "my_split_lines"_a = kFetchDefaults.my_split_lines, "pointid"_a = kFetchDefaults.point_id, LongWork(),
      doc::fetching_data);
  m.def(
      "fetching_dialog",
      [](const ConnectionHandle* conn, std::optional<DateArg> startdate, std::optional<DateArg> enddate,
         const std::string& methodname, const std::string& stationname, const std::string& itemname,
         const std::string& log_type) {
        return table_or_warning(needing_connection(conn,
                                                   [&] {
                                                     return fetching_dialog_outcome(connection_of(conn),
                                                                                    {startdate, enddate, methodname,
                                                                                     stationname, itemname, log_type});
                                                   }),
                                "fetching_dialog", kCompatNames);
      },
      "conn"_a, "startdate"_a = py::none(), "enddate"_a = py::none(), "methodname"_a = kCompatDialogDefaults.methodname,
      "stationname"_a = kCompatDialogDefaults.stationname, "itemname"_a = kCompatDialogDefaults.itemname,
      "log_type"_a = kCompatDialogDefaults.log_type, LongWork(), doc::fetching_dialog);
  m.def(
      "load_Oracle_data_daily",
      [](const ConnectionHandle* conn, double period, const std::string& is_preprocessed, const std::string& item,
         const std::string& datatype, bool gzip_flag) {
        return table_or_warning(needing_connection(conn,
                                                   [&] {
                                                     return load_Oracle_data_daily_outcome(connection_of(conn), period,
                                                                                           is_preprocessed, item,
                                                                                           datatype, gzip_flag);
                                                   }),
                                "load_Oracle_data_daily",
                                {{"method_name", "item"}, {"data_type", "datatype"}, {"base_type", "is_preprocessed"}});
      },
      "conn"_a, "period"_a, "is_preprocessed"_a, "item"_a, "datatype"_a, "gzip_flag"_a = false, LongWork(),
      doc::load_Oracle_data_daily);
  m.def(
      "load_Oracle_data_resistivity_year",
      [](const ConnectionHandle* conn, const DateArg& date_0) {
        return load_Oracle_data_resistivity_year(connection_of(conn), date_0);
      },
      "conn"_a, "date_0"_a = "20090101", LongWork(), doc::load_Oracle_data_resistivity_year);
  m.def(
      "load_Oracle_data_water_year",
      [](const ConnectionHandle* conn) { return load_Oracle_data_water_year(connection_of(conn)); }, "conn"_a,
      LongWork(), doc::load_Oracle_data_water_year);
}

}  // namespace

void bind_fetching(py::module_& m) {
  m.attr("ALL") = std::string(kAll);
  bind_vocabulary(m);
  bind_classes(m);
  bind_functions(m);
}

}  // namespace tremora::python
