#!/usr/bin/python3
"""Prints canmatrix's reading of a DBC file in a neutral text form, one line per signal.

Fields, separated by tabs:
  identifier (hex, without the extended bit)  extended flag (0/1)  message name  sender
  signal name  start bit (position of the least significant bit, byte * 8 + bit, both byte
  orders)  length  byte order (M/I)  kind (S signed, U unsigned, F float)  factor  offset
  minimum  maximum  unit (latin-1 bytes)

Exit status 3 when canmatrix cannot read the file, or rejects lines of it; with --lax before the
file name, the signals of the lines it read are printed all the same.
"""

import contextlib
import io
import logging
import sys


def main():
    logging.disable(logging.CRITICAL)
    try:
        import canmatrix.formats
    except Exception as exc:  # canmatrix missing
        print("canmatrix not available: %s" % exc, file=sys.stderr)
        return 4
    lax = sys.argv[1] == "--lax"
    path = sys.argv[-1]
    # canmatrix prints the lines it cannot parse to standard output; keep them apart.
    chatter = io.StringIO()
    try:
        with contextlib.redirect_stdout(chatter):
            dbs = canmatrix.formats.loadp(path)
    except Exception as exc:
        print("canmatrix cannot read %s: %s" % (path, exc), file=sys.stderr)
        return 3
    if "error with line" in chatter.getvalue() and not lax:
        print("canmatrix rejected lines of %s" % path, file=sys.stderr)
        return 3
    out = sys.stdout.buffer
    for db in dbs.values():
        for frame in db.frames:
            sender = frame.transmitters[0] if frame.transmitters else ""
            for s in frame.signals:
                start = s.get_startbit(bit_numbering=1, start_little=True)
                kind = "F" if s.is_float else ("S" if s.is_signed else "U")
                fields = [
                    "%X" % frame.arbitration_id.id,
                    "1" if frame.arbitration_id.extended else "0",
                    frame.name,
                    sender,
                    s.name,
                    str(start),
                    str(s.size),
                    "I" if s.is_little_endian else "M",
                    kind,
                    "%.17g" % float(s.factor),
                    "%.17g" % float(s.offset),
                    "%.17g" % float(s.min if s.min is not None else 0),
                    "%.17g" % float(s.max if s.max is not None else 0),
                ]
                line = "\t".join(fields).encode("latin-1", errors="replace")
                unit = (s.unit or "").encode("latin-1", errors="replace")
                out.write(line + b"\t" + unit + b"\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
