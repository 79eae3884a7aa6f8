"""Ardour without a display: its Lua session tool on the dummy ("None") audio backend, in a
private home, with the plug-in found through its type's search path.

A plug-in type is a PluginKind: adding one (LV2, VST3) means adding a PluginKind, not a copy of
the session steps."""
import os
import re
import resource
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

LUA_DIR = Path(__file__).resolve().parent / 'lua'


@dataclass(frozen=True)
class PluginKind:
    key: str             # the test id, e.g. vst2
    module: str          # the file in the build folder, e.g. Quillantrope.so
    ardour_type: str     # ARDOUR.PluginType member name
    path_variable: str   # the search path Ardour reads for this type
    scanner: str | None  # Ardour's scanner for this type, run before the session if any
    # Lua pattern capturing a factory program number in a preset URI, or "uri=" and the URI's
    # format (lua/bounce.lua)
    preset_pattern: str
    name: str = 'Quillantrope'
    # The session tempo when none is asked for (None: the new session's own, 120 BPM)
    tempo: float | None = None
    # The module is a bundle folder (LV2's Quillantrope.lv2/, VST3's Quillantrope.vst3/), copied
    # whole.
    bundle: bool = False


VST2 = PluginKind(key='vst2', module='Quillantrope.so', ardour_type='LXVST',
                  path_variable='LXVST_PATH', scanner='ardour-vst-scanner',
                  preset_pattern=':(%d+)$')
# A bundle; its factory programs are Ardour's presets "VST3-P:<class id>:0015", which Ardour
# lists only on an instance. At a tempo other than the session's default, so that a host tempo
# that never arrived would show.
VST3 = PluginKind(key='vst3', module='Quillantrope.vst3', ardour_type='VST3',
                  path_variable='VST3_PATH', scanner='ardour-vst3-scanner',
                  preset_pattern='uri=VST3-P:%s:%04d', tempo=97.0,
                  bundle=True)

LV2 = PluginKind(key='lv2', module='Quillantrope.lv2', ardour_type='LV2',
                 path_variable='LV2_PATH', scanner=None, preset_pattern='#program(%d+)$',
                 bundle=True)

KINDS = [VST2, LV2, VST3]


class ArdourError(Exception):
    pass


def find_ardour():
    """(lua tool, library folder) of whichever Ardour major version is installed, or None."""
    for n in (9, 8, 7, 6):
        tool = shutil.which(f'ardour{n}-lua')
        lib = Path(f'/usr/lib/ardour{n}')
        if tool and (lib / 'ardour-vst-scanner').exists():
            return Path(tool), lib
    return None


def _no_core_files():
    # The Lua tool may crash while shutting down after its work is done; no core files from that.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Ardour:
    """One private Ardour installation state: a home, a plug-in folder per kind, a log folder."""

    def __init__(self, work: Path, tool: Path, lib: Path):
        self.work, self.tool, self.lib = work, tool, lib
        home = work / 'home'
        for d in ('home', 'log', 'plugins'):
            (work / d).mkdir(parents=True, exist_ok=True)
        # The user's Ardour configuration and caches are neither read nor changed.
        self.env = dict(os.environ, HOME=str(home), XDG_CONFIG_HOME=str(home / 'config'),
                        XDG_CACHE_HOME=str(home / 'cache'), XDG_DATA_HOME=str(home / 'data'),
                        XDG_STATE_HOME=str(home / 'state'))

    def install(self, kind: PluginKind, module: Path) -> Path:
        """Copies the plug-in where Ardour looks for its kind, and scans it as Ardour would."""
        folder = self.work / 'plugins' / kind.key
        folder.mkdir(exist_ok=True)
        copy = folder / module.name
        if kind.bundle:
            shutil.rmtree(copy, ignore_errors=True)
            shutil.copytree(module, copy)
        else:
            shutil.copy(module, copy)
        # Ardour trusts a scan result only when it is newer than the module; the copy is made
        # older so that a scan in the same second still counts.
        past = time.time() - 60
        for path in [copy, *copy.rglob('*')]:
            os.utime(path, (past, past))
        if kind.scanner:
            log = self.work / 'log' / f'scan-{kind.key}'
            env = dict(self.env, LD_LIBRARY_PATH=str(self.lib))
            with open(log, 'w') as out:
                status = subprocess.run([self.lib / kind.scanner, '-f', copy], stdout=out,
                                        stderr=subprocess.STDOUT, env=env, timeout=60).returncode
            if status != 0:
                raise ArdourError(f'the {kind.scanner} scan failed:\n{log.read_text()}')
        self.env[kind.path_variable] = str(folder)
        return copy

    def run(self, script: str, *args) -> list[list[str]]:
        """Runs lua/SCRIPT.lua; returns its output lines split into words. Judged by what it
        printed (SCRIPT-OK), not by its exit status (see _no_core_files)."""
        log = self.work / 'log' / script
        with open(log, 'w') as out:
            try:
                status = subprocess.run([self.tool, LUA_DIR / f'{script}.lua', *map(str, args)],
                                        stdout=out, stderr=subprocess.STDOUT, env=self.env,
                                        timeout=60, preexec_fn=_no_core_files).returncode
            except subprocess.TimeoutExpired:
                status = 'timeout'
        lines = log.read_text(errors='replace').splitlines()
        if f'{script.upper()}-OK' not in lines:
            noise = re.compile(r'\.midnam:|^\^?$')
            tail = [line for line in lines if not noise.search(line)][-30:]
            raise ArdourError(f"Ardour's {script} step did not finish (exit status {status}):\n"
                              + '\n'.join(tail))
        return [line.split() for line in lines]


def lines_of(output, first_word):
    return [words[1:] for words in output if words and words[0] == first_word]
