#!/usr/bin/python3
"""Reads a Vector ASCII file with python-can's ASC reader and prints one line per frame:
relative time (4 decimals), channel (1-based), identifier in hex, 'x' for extended or '-',
data length and the data bytes in hex."""
import sys

import can


def main() -> int:
    with can.ASCReader(sys.argv[1], relative_timestamp=True) as reader:
        for msg in reader:
            data = " ".join(f"{b:02X}" for b in msg.data)
            channel = (msg.channel if isinstance(msg.channel, int) else int(msg.channel)) + 1
            print(f"{msg.timestamp:.4f} {channel} {msg.arbitration_id:X} "
                  f"{'x' if msg.is_extended_id else '-'} {msg.dlc} {data}".rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
