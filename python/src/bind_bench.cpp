// tremora._tremora._bench: what the benchmark script and the tests need
// besides the public operations: the sample network writer, and the C++
// fetch timed on its own, its table kept on the C++ side so that the
// conversion to a DataFrame can be timed apart.
#include <chrono>

#include "connection.hpp"
#include "module.hpp"
#include "tremora/fetching.hpp"
#include "tremora/sampledb.hpp"

namespace tremora::python {
namespace {

struct CppTable {
  Table table;
};

sampledb::Period period_of(const py::tuple& days) { return {days[0].cast<Timestamp>(), days[1].cast<Timestamp>()}; }

}  // namespace

void bind_bench(py::module_& m) {
  py::module_ b = m.def_submodule("_bench", "Helpers of the benchmark script and the tests");
  b.def(
      "write_sample_database",
      [](const std::string& path, std::vector<std::string> stations, std::optional<std::vector<std::string>> rates,
         std::optional<py::tuple> minute, const std::string& catalogue) {
        sampledb::Options o;
        o.stations = std::move(stations);
        if (rates) o.rates = *rates;
        if (minute) o.minute = period_of(*minute);
        py::gil_scoped_release release;
        sampledb::write_database(path, o);
        if (!catalogue.empty()) sampledb::write_catalogue(catalogue, o);
      },
      "path"_a, "stations"_a = std::vector<std::string>{}, "rates"_a = py::none(), "minute"_a = py::none(),
      "catalogue"_a = "", "The sample precursor database (and its catalogue when a path is given).");
  py::class_<CppTable>(b, "CppTable").def_property_readonly("num_rows", [](const CppTable& t) {
    return t.table.num_rows();
  });
  b.def(
      "fetch_in_cpp",
      [](const ConnectionHandle& conn, const std::string& start, const std::string& end, const std::string& method,
         const std::string& station, const std::string& rate, const std::string& type, bool gzip) {
        py::gil_scoped_release release;
        auto begin = std::chrono::steady_clock::now();
        auto t = fetching::fetching_data(conn.get(), start, end, method, station, rate, type, {.gzip_flag = gzip});
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        return std::make_pair(seconds, CppTable{t ? std::move(*t) : Table{}});
      },
      "conn"_a, "start"_a, "end"_a, "method"_a, "station"_a, "rate"_a, "type"_a, "gzip"_a = false,
      "The C++ fetch alone: its seconds and its table (kept in C++).");
  b.def(
      "to_dataframe", [](const CppTable& t) { return to_dataframe(t.table); }, "table"_a);
}

}  // namespace tremora::python
