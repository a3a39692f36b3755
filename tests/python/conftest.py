"""Fixtures of the Python package's tests: the build tree, the command line and simulated
recordings.  The build tree is TESSMAR_BUILD_DIR, else build/ of the checkout; its python/
folder is put in front of the import path."""

import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("TESSMAR_BUILD_DIR", ROOT / "build")).resolve()
sys.path.insert(0, str(BUILD / "python"))

CLI = BUILD / "cli" / "tessmar-cli"
DEMO_CONFIG = ROOT / "examples" / "demo_logger.clc"
DEMO_DBC = ROOT / "examples" / "demo_vehicle.dbc"


def run_cli(*args, cwd=None):
    """tessmar-cli with no settings file of the user (its defaults), failing on a bad exit."""
    env = dict(os.environ, XDG_CONFIG_HOME=str(cwd or "/nonexistent"))
    command = args and str(args[0]) in ("simulate", "clc", "dbc")
    done = subprocess.run(
        [str(CLI), *map(str, args)] if command
        else [str(CLI), "--settings", str(EMPTY_SETTINGS), *map(str, args)],
        cwd=cwd,
        env=env,
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    return done


EMPTY_SETTINGS = None


@pytest.fixture(scope="session", autouse=True)
def empty_settings(tmp_path_factory):
    """An empty settings file: the command line runs with the defaults, as the package does."""
    global EMPTY_SETTINGS
    EMPTY_SETTINGS = tmp_path_factory.mktemp("settings") / "Tessmar.ini"
    EMPTY_SETTINGS.write_text("")
    return EMPTY_SETTINGS


def simulate(path, duration=20, seed=1, gps=True):
    run_cli("simulate", DEMO_CONFIG, "-o", path, "--duration", duration, "--seed", seed,
            "--gps" if gps else "--no-gps", "--linear")
    return path


@pytest.fixture(scope="session")
def gps_recording(tmp_path_factory):
    """A recording of the demo configuration with GPS and expressions."""
    return simulate(tmp_path_factory.mktemp("rec") / "demo.cld")
