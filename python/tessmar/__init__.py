"""Kavrix logger recordings in Python, read and converted by Tessmar's core.

>>> import tessmar
>>> rec = tessmar.open_recording("LOG0001.cld")
>>> df = rec.signals(interval=0.01)          # pandas.DataFrame, one column per signal
>>> frames = rec.frames()                    # numpy structured array of the CAN frames
>>> tessmar.convert(["LOG0001.cld"], format="mdf4", outdir="out")

Conversion options are those of ``tessmar-cli`` as keyword arguments: ``--time1 seconds``
becomes ``time1="seconds"``, a switch such as ``--raw`` becomes ``raw=True``.  Errors raise
:class:`TessmarError` subclasses carrying the program's message text; warnings of a run go
through :mod:`warnings` as :class:`TessmarWarning`.
"""

from __future__ import annotations

import datetime as _dt
import os
import warnings

import numpy as np

from . import _core
from ._core import BadOptionError, NotARecordingError, ReadError, TessmarError

__all__ = [
    "BadOptionError",
    "Config",
    "ConversionSummary",
    "NotARecordingError",
    "ReadError",
    "Recording",
    "TessmarError",
    "TessmarWarning",
    "convert",
    "load_dbc",
    "open_recording",
    "output_extension",
    "read_config",
    "write_config",
]

__version__ = "0.1.0"

# Severity codes of the program's messages.
_INFO, _WARNING, _ERROR = 0, 63, 127

# The record type of Recording.frames().
FRAME_DTYPE = np.dtype(
    {
        "names": ["time", "abs_time", "id", "bus", "extended", "dlc", "data"],
        "formats": ["<f8", "<f8", "<u4", "u1", "?", "u1", ("u1", (8,))],
        "offsets": [0, 8, 16, 20, 21, 22, 24],
        "itemsize": 32,
    }
)


class TessmarWarning(UserWarning):
    """A warning or error message of a conversion."""


def _warn(messages, stacklevel=3):
    for severity, text in messages:
        if severity >= _WARNING:
            warnings.warn(text, TessmarWarning, stacklevel=stacklevel)


def _options(kwargs):
    """Keyword arguments as the command line's options: ("--time1", "seconds")."""
    out = []
    for key, value in kwargs.items():
        if value is None or value is False:
            continue
        option = "--" + key.replace("_", "-")
        if value is True:
            out.append((option, ""))
        elif isinstance(value, (list, tuple)):
            out.extend((option, str(v)) for v in value)
        else:
            out.append((option, str(value)))
    return out


def _span(name, value):
    """start/stop: seconds from the first entry, a datetime, or the command line's text."""
    if value is None:
        return []
    if isinstance(value, _dt.datetime):
        text = value.strftime("%Y-%m-%d %H:%M:%S")
        if value.microsecond:
            text += ".%02d" % (value.microsecond // 10000)
        return [(name, text)]
    if isinstance(value, (int, float)):
        return [(name, repr(float(value)))]
    return [(name, str(value))]


def _pandas():
    try:
        import pandas
    except ImportError:
        return None
    return pandas


def _logger_time(seconds):
    """Seconds since 1970 of the logger's clock (no time zone) as a naive datetime."""
    return _dt.datetime(1970, 1, 1) + _dt.timedelta(seconds=float(seconds))


class Recording:
    """A logger recording (.cld): its header facts, frames and signals.

    Made by :func:`open_recording`, which scans the whole file once.  Each call of
    :meth:`frames` and :meth:`signals` reads the file again but takes that scan instead of
    repeating it, as long as the file is unchanged (size and modification time); nothing stays
    open between calls.
    """

    def __init__(self, path):
        self.path = os.fspath(path)
        facts = _core.recording_facts(self.path)
        _warn(facts["messages"])
        self._facts = facts
        self._pre_scan = facts["pre_scan"]
        self.logger_family = facts["logger_family"]
        self.device_family = facts["device_family"]
        self.start_time = _logger_time(facts["start_time"])
        self.clock_frequency = facts["clock_frequency"]
        self.signals_logged = [name for name, _ in facts["signals"]]
        self.units = dict(facts["signals"])
        self.expressions = list(facts["expressions"])
        self.has_gps = facts["has_gps"]
        self.entry_count = facts["entry_count"]
        self.duration = facts["duration"]

    def __repr__(self):
        return (
            f"<tessmar.Recording {os.path.basename(self.path)!r}: {self.logger_family}, "
            f"start {self.start_time.isoformat(sep=' ')}, {self.duration:.3f} s, "
            f"{len(self.signals_logged)} signals, {len(self.expressions)} expressions, "
            f"{'GPS, ' if self.has_gps else ''}{self.entry_count} entries>"
        )

    def _span_options(self, start, stop):
        return _span("--start", start) + _span("--stop", stop)

    def frames(self, start=None, stop=None, progress=None):
        """The CAN frames as a numpy structured array of :data:`FRAME_DTYPE`.

        Fields: ``time`` (seconds since the first frame, as the Messages output's seconds
        column), ``abs_time`` (seconds since 1970-01-01 of the logger's clock), ``id``, ``bus``,
        ``extended``, ``dlc`` and the 8 ``data`` bytes.  ``start``/``stop`` limit the span
        (seconds from the first entry, a ``datetime`` or "YYYY-MM-DD hh:mm:ss[.ss]").
        """
        array, messages = _core.frames(
            self.path,
            self._span_options(start, stop),
            int(self.entry_count),
            progress,
            self._pre_scan,
        )
        _warn(messages)
        return array.view(FRAME_DTYPE)

    def signals(
        self,
        interval=None,
        channels=None,
        start=None,
        stop=None,
        hold=True,
        gps=True,
        raw=False,
        progress=None,
    ):
        """Decoded signals, expressions and GPS columns.

        With an ``interval`` (seconds): the Signals rows of the converter (the same grid and the
        same values as its CSV output), as a ``pandas.DataFrame`` with the time in seconds as
        index and one float column per signal/expression/GPS column, NaN where a column has no
        value yet.  ``hold=False`` leaves NaN where a column's value equals that of the previous
        row (only the changes remain).  Without pandas: a dict of numpy arrays (key "time" and one per column).

        With ``interval=None``: each column at its own times, as a dict of ``pandas.Series`` (or
        of (times, values) array pairs without pandas): a signal at every frame that carries
        it, an expression or GPS column at every change of its value.

        ``channels``: name patterns ('*', '?') choosing the columns, a string or a list.
        ``gps``: add the GPS columns (preset 0) when the recording has GPS.  ``raw``: raw values
        instead of physical ones.
        """
        options = self._span_options(start, stop)
        if channels is not None:
            patterns = [channels] if isinstance(channels, str) else list(channels)
            options += [("--channel", p) for p in patterns]
        if raw:
            options.append(("--raw", ""))
        if gps and self.has_gps:
            options += [("--gps-preset", "0"), ("--gps-columns", "after")]
        else:
            options.append(("--gps-columns", "off"))
        pd = _pandas()
        if interval is None:
            series, columns, messages = _core.signals_series(
                self.path, options, progress, self._pre_scan
            )
            _warn(messages)
            names = _unique([c[0] for c in columns])
            if pd is None:
                return dict(zip(names, series))
            return {
                name: pd.Series(values, index=pd.Index(times, name="time"), name=name)
                for name, (times, values) in zip(names, series)
            }
        options.append(("--interval", repr(float(interval))))
        expected = int(self.duration / float(interval)) + 2 if interval > 0 else 0
        times, values, columns, messages = _core.signals_grid(
            self.path, options, expected, progress, self._pre_scan
        )
        _warn(messages)
        if not hold and len(values):
            changed = np.empty(values.shape, dtype=bool)
            changed[0] = True
            np.not_equal(values[1:], values[:-1], out=changed[1:])
            values = np.where(changed, values, np.nan)
        names = _unique([c[0] for c in columns])
        if pd is None:
            result = {"time": times}
            result.update({name: values[:, k] for k, name in enumerate(names)})
            return result
        df = pd.DataFrame(values, index=pd.Index(times, name="time"), columns=names, copy=False)
        df.attrs["units"] = {name: c[1] for name, c in zip(names, columns)}
        df.attrs["start_time"] = self.start_time
        return df


def _unique(names):
    """Column names made unique ("name", "name_2", ...) as pandas needs them."""
    seen = {}
    out = []
    for name in names:
        n = seen.get(name, 0) + 1
        seen[name] = n
        out.append(name if n == 1 else f"{name}_{n}")
    return out


def open_recording(path):
    """Opens a recording (.cld) and reads its header facts (a pre-scan of the whole file).

    Raises :class:`ReadError` when it cannot be read, :class:`NotARecordingError` when it is
    no recording.
    """
    return Recording(path)


class ConversionSummary:
    """What :func:`convert` did: outputs written, rows, error count and the messages."""

    def __init__(self, result):
        self.outputs = list(result["outputs"])
        self.converted = result["converted"]
        self.errors = result["errors"]
        self.refused = result["refused"]
        self.aborted = result["aborted"]
        self.skipped = result["skipped"]
        self.messages = list(result["messages"])
        self.rows = 0
        for _, text in self.messages:
            if text.startswith("Conversion of logfile") and "sample points written" in text:
                self.rows += int(text.rsplit(",", 1)[1].split()[0])

    @property
    def ok(self):
        """True when every source converted without error."""
        return self.errors == 0 and not self.refused and not self.aborted

    def __repr__(self):
        return (
            f"<tessmar.ConversionSummary {self.converted} converted, {len(self.outputs)} "
            f"outputs, {self.rows} rows, {self.errors} errors>"
        )


def convert(
    sources,
    output=None,
    outdir=None,
    format=None,
    output_type=None,
    progress=None,
    **options,
):
    """Converts recordings as ``tessmar-cli`` does, with its options as keyword arguments.

    ``sources``: a path or a list of paths.  ``output``: an output name (or a list, one per
    source) whose extension chooses the format and output type as on the command line;
    ``outdir``: the folder of the outputs otherwise (default: beside each recording).
    ``format``: a ``--format`` name (csv, text, mdf4, ...; default csv where no output name
    chooses), ``output_type``: signals, messages or dump (default signals).  Further options,
    e.g. ``interval=0.01``, ``time1="datetime"``, ``raw=True``, ``channel=["Speed*"]``,
    ``jobs=2``, ``no_clobber=True``, ``gps_preset=0``, ``settings="Tessmar.ini"``.
    ``progress(percent, source)`` is called while converting; returning False aborts.

    Returns a :class:`ConversionSummary`; its warnings and errors are also issued as
    :class:`TessmarWarning`.  Raises :class:`BadOptionError` for an option it does not take.
    """
    if isinstance(sources, (str, os.PathLike)):
        sources = [sources]
    outputs = []
    if output is not None:
        outputs = [output] if isinstance(output, (str, os.PathLike)) else list(output)
    if not outputs:
        format = format or "csv"
        output_type = output_type or "signals"
    args = {"format": format, "output_type": output_type, "outdir": outdir}
    args.update(options)
    result = _core.convert(
        [os.fspath(s) for s in sources],
        [os.fspath(o) for o in outputs],
        _options(args),
        progress,
    )
    summary = ConversionSummary(result)
    _warn(summary.messages)
    return summary


def output_extension(format="csv", output_type="signals", **options):
    """The extension of the output :func:`convert` writes with these options (".csv")."""
    args = {"format": format, "output_type": output_type}
    args.update(options)
    return _core.output_extension(_options(args))


class Config:
    """A logger configuration (.clc) read by :func:`read_config`."""

    def __init__(self, core_config, path=None):
        self._core = core_config
        self.path = path

    @property
    def device_family(self):
        return self._core.device_family

    @property
    def protected(self):
        """True when the configuration has a password (the file is scrambled)."""
        return self._core.protected

    @property
    def signals(self):
        """The logged signals as a list of dicts (name, unit, bus, id, factor, ...)."""
        return self._core.signals

    @property
    def expressions(self):
        """The expressions as (name, text) pairs."""
        return self._core.expressions

    @property
    def text(self):
        """The file's text as written, unscrambled."""
        return self._core.text

    def __repr__(self):
        return (
            f"<tessmar.Config {self.path!r}: family {self.device_family}, "
            f"{len(self.signals)} signals, {len(self.expressions)} expressions>"
        )


def read_config(path, password=None):
    """Reads a logger configuration (.clc).  A protected one needs its password."""
    path = os.fspath(path)
    return Config(_core.read_config(path, password), path)


def write_config(path, config):
    """Writes a configuration read by :func:`read_config` to a .clc file."""
    _core.write_config(os.fspath(path), config._core)


def load_dbc(path, bus=1):
    """The signals of a CAN database (.dbc) as the signal table shows them.

    A ``pandas.DataFrame`` (one row per signal, the table's column titles) when pandas is
    importable, else a list of dicts.
    """
    titles, rows, messages = _core.load_dbc(os.fspath(path), bus)
    _warn(messages)
    pd = _pandas()
    if pd is None:
        return [dict(zip(titles, row)) for row in rows]
    return pd.DataFrame(rows, columns=titles)
