// tremora.geomag: the Kp index from the GFZ service and from GFZ's files,
// its normal form, and the time bounds of Kp requests.
#include "doc_geomag.hpp"
#include "plot_args.hpp"
#include "tremora/geomag.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::python {
namespace {

constexpr const char* kNotKpData = "geomag_data must be a DataFrame with Kp and status columns";

py::object zoned_object(const geomag::ZonedTime& t) { return timestamp_object(t.utc, t.zone); }

// An instant: an aware date-time's own, a naive one read as UTC.
Timestamp utc_instant(py::handle value, const char* argument) {
  if (!py::isinstance<py::str>(value) && !is_datetime_like(value)) wrong_kind(value, argument, "a date-time");
  py::object t = py::module_::import("pandas").attr("Timestamp")(value);
  if (t.is(py::module_::import("pandas").attr("NaT"))) return Timestamp{};
  return Timestamp{t.attr("value").cast<int64_t>()};
}

}  // namespace

void bind_geomag(py::module_& m) {
  m.attr("KP_INTERVAL") = py::module_::import("pandas").attr("Timedelta")("hours"_a = 3);

  m.def(
      "fetch_geomag",
      [](py::object start_time, py::object end_time, const std::string& timezone, double timeout) {
        geomag::TimeBound start = time_bound(start_time, "start_time"), end = time_bound(end_time, "end_time");
        return without_gil([&] { return geomag::fetch_geomag(start, end, timezone, timeout); });
      },
      "start_time"_a, "end_time"_a, "timezone"_a = qzdata::kChartTimeZone, "timeout"_a = 20.0, doc::fetch_geomag);

  m.def(
      "normalize_geomag",
      [](py::object data, const std::string& timezone) {
        if (!is_dataframe(data)) throw py::value_error(kNotKpData);
        Table table = from_dataframe(data, "data");
        return geomag::normalize_geomag(table, timezone);
      },
      "data"_a, "timezone"_a = qzdata::kChartTimeZone, doc::normalize_geomag);

  m.def(
      "_timestamp",
      [](py::object value, const std::string& timezone) {
        geomag::TimeBound bound = time_bound(value, "value");
        return zoned_object(geomag::_timestamp(bound, timezone));
      },
      "value"_a, "timezone"_a,
      "A time bound as a timezone-aware pandas.Timestamp in `timezone`: naive values are wall-clock\n"
      "times there, aware ones keep their instant.");

  m.def(
      "kp_range",
      [](py::object start_time, py::object end_time, const std::string& timezone) {
        geomag::UtcRange r =
            geomag::kp_range(time_bound(start_time, "start_time"), time_bound(end_time, "end_time"), timezone);
        return py::make_tuple(timestamp_object(r.start, "UTC"), timestamp_object(r.end, "UTC"));
      },
      "start_time"_a, "end_time"_a, "timezone"_a, doc::kp_range);

  m.def(
      "overlapping_intervals",
      [](py::object kp, py::object start_utc, py::object end_utc) {
        Table table = from_dataframe(kp, "kp");
        // The intervals start at the row key: times (naive ones are UTC).
        if (!table.has_key() || table.key().type() != DataType::Timestamp)
          throw py::type_error(
              "kp must have a DatetimeIndex (the start of each Kp interval), as read_kp_file and "
              "fetch_geomag give it");
        return geomag::overlapping_intervals(table, utc_instant(start_utc, "start_utc"),
                                             utc_instant(end_utc, "end_utc"));
      },
      "kp"_a, "start_utc"_a, "end_utc"_a, doc::overlapping_intervals);

  m.def("kp_service_url", &geomag::kp_service_url, doc::kp_service_url);

  m.def(
      "read_kp_file",
      [](py::object path) {
        std::filesystem::path file = path_arg(path, "path");
        return without_gil([&] { return geomag::read_kp_file(file); });
      },
      "path"_a, doc::read_kp_file);
}

}  // namespace tremora::python
