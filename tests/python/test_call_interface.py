"""The Python call interface matches the library's documented call interface.

For every documented callable the table below holds its parameters in order,
each as (name, default); REQUIRED marks a parameter without a default. The
actual parameters are read from the signature line that pybind11 (or a
hand-written layout docstring) puts first in the callable's __doc__, e.g.
``fetch_data(conn: Connection, start_date: str, ...) -> Optional[DataFrame]``.
Names, order (which positional calls rely on) and defaults are compared; a
bare ``*`` or ``/`` marker counts as a parameter of its own, so a parameter
made keyword-only where positional use is documented shows as a mismatch.

Accepted deviations:
- extra trailing parameters beyond the documented list, if they have defaults;
- for the text arguments cache_dir / namespace an empty text "" stands for
  "absent" (None), both mean "use the default directory / no namespace".
"""
import ast

import pytest

import tremora
from signatures import parameters, signature_lines

REQUIRED = object()      # parameter has no default
SOME_DEFAULT = object()  # has a default computed at load time (any value accepted)
# Text arguments whose "absent" default may be written as "" instead of None.
EMPTY_MEANS_ABSENT = {"cache_dir", "namespace", "ns"}

R = REQUIRED
SH = "Asia/Shanghai"
ALL = "全部"

# Shared tails of the layouts of TSPlotter.
_PLOT_TAIL = [("quakecat_dir", None), ("quakecat_filters", None), ("start_time", None),
              ("end_time", None), ("xlabel", ""), ("show_geomag", False), ("geomag_data", None),
              ("time_timezone", SH), ("**kwargs", R)]
_STYLE = [("plot_type", "line"), ("plot_types", None), ("show_mean", False), ("show_std", False),
          ("std_multiplier", 2.0), ("annotations", None)]
_MC = "metastash.MetadataCache."

DOCUMENTED = {
    # --- fetching: vocabulary, connector, metadata, queries, data, export
    "fetching.DatabaseType.get_id": [("db_type", R)],
    "fetching.SampleRateType.get_config": [("rate_type", R)],
    "fetching.SampleRateType.get_rate_by_id": [("rate_id", R)],
    "fetching.DatabaseConnector.connect_to_oracle": [("db", R)],
    "fetching.DatabaseConnector._init_oracle_thick_mode": [("config", R), ("db", R)],
    "fetching.MetadataFetcher.get_timeseries_info": [("conn", None), ("cache_dir", None),
                                                     ("refresh_cache", False)],
    "fetching.MetadataFetcher.get_method_ids": [("conn", R), ("method_name", ALL), ("cache_dir", None)],
    "fetching.MetadataFetcher.get_station_ids": [("conn", R), ("station_name", ALL), ("cache_dir", None)],
    "fetching.MetadataFetcher.get_item_ids": [("conn", R), ("item_name", ALL), ("cache_dir", None)],
    "fetching.MetadataFetcher.get_table_names": [("conn", R), ("method_ids", R), ("base_type_id", R),
                                                 ("sample_rate_id", R)],
    "fetching.MetadataFetcher._normalize_dataframe_columns": [("dataframes", R)],
    "fetching.QueryBuilder.build_data_query": [("table_names", R), ("start_date", R), ("end_date", R),
                                               ("station_ids", None), ("item_ids", None), ("point_id", "")],
    "fetching.QueryBuilder.build_dialog_query": [("table_names", R), ("start_date", R), ("end_date", R),
                                                 ("log_type", R), ("station_ids", None), ("item_ids", None)],
    "fetching.DataFetcher.fetch_data": [("conn", R), ("start_date", R), ("end_date", R), ("method_name", R),
                                        ("station_name", R), ("data_type", R), ("base_type", R),
                                        ("item_name", ALL), ("gzip_flag", False), ("my_split_lines", True),
                                        ("point_id", "")],
    "fetching.DataFetcher.fetch_dialog": [("conn", R), ("start_date", R), ("end_date", R),
                                          ("method_name", ALL), ("station_name", ALL), ("item_name", ALL),
                                          ("log_type", "313")],
    "fetching.DataFetcher.to_vuzo": [("conn", R), ("df", R), ("sampling_rate", R)],
    "fetching.DataFetcher.export_vuzo": [("conn", R), ("df", R), ("file_path", R), ("sampling_rate", R)],
    "export.to_vuzo": [("df", R), ("metadata", R)],
    # --- fetching: compatibility functions
    "fetching.conn_to_Oracle": [("db", R)],
    "fetching.timeseries_info": [("conn", None), ("cache_dir", None), ("refresh_cache", False)],
    "fetching.refresh_metastash": [("conn", R), ("cache_dir", None), ("tables", None)],
    "fetching.fetching_data": [("conn", R), ("startdate", R), ("enddate", R), ("methodname", R),
                               ("stationname", R), ("data_type", R), ("base_type", R), ("itemname", ALL),
                               ("gzip_flag", False), ("my_split_lines", True), ("pointid", "")],
    # the two dates default to "load time minus one day" and "load time"
    "fetching.fetching_dialog": [("conn", R), ("startdate", SOME_DEFAULT), ("enddate", SOME_DEFAULT),
                                 ("methodname", ALL), ("stationname", ALL), ("itemname", ALL),
                                 ("log_type", "313")],
    "fetching.load_Oracle_data_daily": [("conn", R), ("period", R), ("is_preprocessed", R), ("item", R),
                                        ("datatype", R), ("gzip_flag", False)],
    "fetching.load_Oracle_data_resistivity_year": [("conn", R), ("date_0", "20090101")],
    "fetching.load_Oracle_data_water_year": [("conn", R)],
    # --- metastash
    _MC + "default_cache_dir": [],
    _MC + "safe_namespace": [("namespace", None)],
    _MC + "infer_namespace": [("conn", None)],
    _MC + "resolve_cache_dir": [("cache_dir", None), ("namespace", None)],
    _MC + "cache_path": [("table_name", R), ("cache_dir", None), ("namespace", None)],
    _MC + "ensure_cache_dir": [("cache_dir", None), ("namespace", None)],
    _MC + "normalize_columns": [("df", R)],
    _MC + "save_table": [("table_name", R), ("df", R), ("cache_dir", None), ("namespace", None)],
    _MC + "load_table": [("table_name", R), ("cache_dir", None), ("namespace", None)],
    _MC + "fetch_and_cache_table": [("conn", R), ("table_name", R), ("cache_dir", None), ("namespace", None)],
    _MC + "refresh_cache": [("conn", R), ("cache_dir", None), ("tables", None), ("namespace", None)],
    _MC + "get_table": [("table_name", R), ("conn", None), ("cache_dir", None), ("refresh", False),
                        ("namespace", None)],
    _MC + "get_timeseries_info": [("conn", None), ("cache_dir", None), ("refresh", False),
                                  ("namespace", None)],
    # --- cleaning, postprocessing
    "cleaning.split_lines": [("df", R), ("sample_by_seconds", R)],
    "postprocessing.resample_timeseries_data": [("df", R), ("freq", R), ("agg_method", "mean")],
    "postprocessing.first_difference": [("df", R), ("value_col", "OBSVALUE"), ("group_cols", None),
                                        ("periods", 1), ("keep_first", False), ("sort", True), ("copy", True)],
    "postprocessing.fast_mad": [("x", R)],
    "postprocessing.filter_with_fast_mad": [("df", R), ("window_size", 15), ("threshold_factor", 5.0)],
    "postprocessing.create_normalized_dates": [("df", R), ("reference_year", 2024)],
    "postprocessing._is_leap_year": [("year", R)],
    # --- plotkit, geomag, quakecat
    "plotkit.create_figures_folder": [],
    "plotkit.calculate_stats": [("df", R), ("column", "OBSVALUE"), ("multiplier", 2.0)],
    "plotkit.get_freq_str": [("timedelta", R)],
    "plotkit.reindex_df_by_interval": [("df", R)],
    "geomag.fetch_geomag": [("start_time", R), ("end_time", R), ("timezone", SH), ("timeout", 20)],
    "geomag.normalize_geomag": [("data", R), ("timezone", SH)],
    "geomag._timestamp": [("value", R), ("timezone", R)],
    "quakecat.read_quakecat": [("quakecat_dir", R)],
    "quakecat.filtered_quakecats": [("df", R), ("station", (40.47, 115.94)), ("filters", None),
                                    ("default_magnitude", 3.0), ("default_distance", 300)],
    # --- tsplot
    "tsplot.TSPlotter.__init__": [("conn", None), ("mean_color", "r"), ("std_color", "gray"),
                                  ("mean_linestyle", "--"), ("std_linestyle", ":"), ("mean_alpha", 0.7),
                                  ("std_alpha", 0.5), ("mean_linewidth", 1.0), ("std_linewidth", 1.0),
                                  ("metadata_dir", None), ("refresh_metadata", False)],
    "tsplot.TSPlotter._process_data": [("ts_tmp", R), ("set_zero", True), ("reindex", False),
                                       ("resample", None)],
    "tsplot.TSPlotter._get_plot_type": [("index", R), ("plot_type", R), ("plot_types", None)],
    "tsplot.TSPlotter._sanitize_plot_kwargs": [("kwargs", R)],
    "tsplot.TSPlotter.set_stats_style": [("**kwargs", R)],  # named options only
    "tsplot.TSPlotter._setup_axis": [("ax", R), ("title", R), ("unit", None), ("y_ticks", None),
                                     ("invert_y", False), ("xlabel", "")],
    "tsplot.TSPlotter._add_statistics": [("ax", R), ("data", R), ("show_mean", False), ("show_std", False),
                                         ("multiplier", 2.0)],
    "tsplot.TSPlotter._add_annotations": [("ax", R), ("annotations", None)],
    "tsplot.TSPlotter._save_figure": [("fig", R), ("filename", R), ("format", "png"), ("dpi", 300)],
    "tsplot.TSPlotter.plot": [("ts", R), ("groupby", "item"), ("prefix", ""), ("fig_label", ""),
                              ("xlabel", ""), ("**kwargs", R)],
    "tsplot.TSPlotter.plot_by_items": [("ts", R), ("prefix", ""), ("set_zero", True), ("fig_label", ""),
                                       ("number_of_subplots", 7), ("invert_y", False), ("reindex", False),
                                       ("fig_height", 1.5)] + _STYLE + [("figure_format", "png")] + _PLOT_TAIL,
    "tsplot.TSPlotter.plot_by_stations": [("ts", R), ("prefix", ""), ("set_zero", True), ("fig_label", ""),
                                          ("daily_mean_values", False), ("invert_y", False),
                                          ("figure_format", "png"), ("reindex", False), ("fig_height", 1.5),
                                          ("rainfall", None)] + _STYLE + _PLOT_TAIL,
    "tsplot.TSPlotter._prepare_geomag": [("ts", R), ("geomag_data", R), ("time_timezone", R),
                                         ("start_time", R), ("end_time", R)],
    "tsplot.TSPlotter._draw_geomag": [("axes", R), ("indices", R), ("error", R), ("bounds", R),
                                      ("time_timezone", R), ("xlabel", R)],
    "tsplot.TSPlotter._add_secondary_data": [("ax", R), ("secondary_data", R), ("color", "red"),
                                             ("marker", "o"), ("label", "地震"), ("alpha", 0.7),
                                             ("size_multiplier", 5)],
    # --- yearplot
    "yearplot.plot_annual_comparison": [("df", R), ("output_file", "Annual_Comparison.png"),
                                        ("subtract_mean", False), ("invert_y", False),
                                        ("y_label", "Observation Value"), ("dpi", 300), ("figsize", (12, 8)),
                                        ("grid", True), ("y_axis_format", None), ("station_name", ""),
                                        ("direction", ""), ("rolling_window", 5)],
}


def resolve(dotted):
    obj = tremora
    for part in dotted.split("."):
        obj = getattr(obj, part)
    return obj


def signature_params(func, name):
    """[(name, default or REQUIRED)] from the signature line of func.__doc__."""
    doc = (func.__doc__ or "").lstrip()
    assert doc.startswith(name + "("), f"__doc__ does not begin with a signature of {name}: {doc[:80]!r}"
    (arguments, _), *_ = signature_lines(doc.splitlines()[0], name, with_result=False)
    params = []
    for pname, _, raw in parameters(arguments):
        if raw is None:
            default = REQUIRED
        else:
            try:
                default = ast.literal_eval(raw)
            except (ValueError, SyntaxError):
                default = raw
        params.append((pname, default))
    return params


def same_default(name, expected, actual):
    if expected is REQUIRED or actual is REQUIRED:
        return expected is actual
    if expected is SOME_DEFAULT:
        return True
    if name in EMPTY_MEANS_ABSENT and expected in (None, "") and actual in (None, ""):
        return True
    if isinstance(expected, bool) or isinstance(actual, bool):
        return type(expected) is type(actual) and expected == actual
    if isinstance(expected, tuple) and isinstance(actual, (tuple, list)):
        return len(expected) == len(actual) and all(
            same_default(name, e, a) for e, a in zip(expected, actual))
    if isinstance(expected, (int, float)) and isinstance(actual, (int, float)):
        return expected == actual
    return type(expected) is type(actual) and expected == actual


def show(params):
    def one(p):
        n, d = p
        return n if d is REQUIRED else f"{n}=<load time>" if d is SOME_DEFAULT else f"{n}={d!r}"
    return "(" + ", ".join(one(p) for p in params) + ")"


def test_every_documented_callable_exists():
    missing = []
    for dotted in DOCUMENTED:
        try:
            obj = resolve(dotted)
        except AttributeError:
            missing.append(dotted)
            continue
        assert callable(obj), dotted
    assert not missing, f"documented callables missing from the package: {missing}"


@pytest.mark.parametrize("dotted", sorted(DOCUMENTED))
def test_parameters_match_documented_interface(dotted):
    expected = DOCUMENTED[dotted]
    actual = signature_params(resolve(dotted), dotted.rsplit(".", 1)[1])
    problems = []
    for i, (name, default) in enumerate(expected):
        if i >= len(actual):
            problems.append(f"parameter {i + 1} {name!r} is missing")
            continue
        aname, adefault = actual[i]
        if aname != name:
            problems.append(f"parameter {i + 1}: expected name {name!r}, actual {aname!r}")
        elif not same_default(name, default, adefault):
            problems.append(f"{name}: expected default {show([(name, default)])[1:-1]}, "
                            f"actual {show([(aname, adefault)])[1:-1]}")
    for aname, adefault in actual[len(expected):]:
        if adefault is REQUIRED:
            problems.append(f"extra parameter {aname!r} without a default")
    assert not problems, (f"{dotted}\n  documented {show(expected)}\n  actual     {show(actual)}\n  "
                          + "\n  ".join(problems))
