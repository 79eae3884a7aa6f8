"""End to end for the Windows editor: the Win32 editor host (quillantrope-editor.exe) opens the
real editor of a Windows build of the plug-in under wine on a virtual X server of its own; the
screen must show the painted panel, an xdotool slider drag and button click must reach the host
as audioMasterAutomate with the right parameter indexes and repaint the controls, and Alt+F4 must
close the host with a clean exit. The probe points are the C++ end-to-end test's
(tests/e2e/editor_probes.txt)."""
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

import probes as probe_file

TOOLS = ('Xvfb', 'xdotool', 'import', 'convert', 'compare', 'objdump')


def pytest_generate_tests(metafunc):
    if 'windows_build' in metafunc.fixturenames:
        builds = [(bits, metafunc.config.getoption(f'win{bits}')) for bits in (32, 64)]
        builds = [(bits, Path(d)) for bits, d in builds if d]
        metafunc.parametrize('windows_build', builds, ids=[f'{bits}bit' for bits, _ in builds])


def wine_for(bits):
    """(loader, server) for a word size; QL_WINE32/64 and QL_WINESERVER32/64 override them."""
    loader = os.environ.get(f'QL_WINE{bits}', '/usr/lib/wine/wine' + ('64' if bits == 64 else ''))
    server = os.environ.get(f'QL_WINESERVER{bits}', f'/usr/lib/wine/wineserver{bits}')
    if not os.access(server, os.X_OK):
        server = shutil.which('wineserver') or 'wineserver'
    return loader, server


def wait_for(condition, seconds, step=0.1):
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


@pytest.fixture(scope='session')
def probes():
    return probe_file.load()


@pytest.fixture(scope='session')
def display(workdir):
    """A virtual X server on a free display number of its own choosing; its environment."""
    missing = [t for t in TOOLS if not shutil.which(t)]
    assert not missing, f'missing {" ".join(missing)} (scripts/bootstrap)'
    read, write = os.pipe()
    log = open(workdir / 'xvfb.log', 'w')
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1280x1024x24',
                             '-nolisten', 'tcp'], pass_fds=(write,), stderr=log)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    assert number, f'Xvfb did not start: {(workdir / "xvfb.log").read_text()}'
    env = dict(os.environ, DISPLAY=f':{number}', WINEDEBUG='-all',
               WINEDLLOVERRIDES='mscoree,mshtml=')
    env.pop('WAYLAND_DISPLAY', None)
    yield env
    xvfb.terminate()
    xvfb.wait()
    log.close()


@pytest.fixture(scope='session')
def linux_picture(request, display, workdir):
    """The Linux editor host's picture of program 0, when --linux names a build."""
    value = request.config.getoption('linux')
    if not value:
        return None
    linux = Path(value)
    assert (linux / 'quillantrope-editor').exists() and (linux / 'Quillantrope.so').exists(), \
        f'{linux} has no quillantrope-editor and Quillantrope.so'
    shot = workdir / 'linux.png'
    subprocess.run([linux / 'quillantrope-editor', '--plugin', linux / 'Quillantrope.so',
                    '--program', '0', '--screenshot', shot, '--after-ms', '600'], env=display,
                   check=True, stdout=subprocess.DEVNULL)
    return shot


class EditorHost:
    """The Win32 editor host under wine, its output, and its window on the X server."""

    def __init__(self, env, work: Path, bits: int, probes):
        self.env, self.work, self.bits, self.probes = env, work, bits, probes
        self.out = work / f'host{bits}.out'
        self.err = work / f'host{bits}.err'
        self.process = None
        self.window = None

    def start(self, loader, exe: Path, dll: Path):
        with open(self.out, 'w') as out, open(self.err, 'w') as err:
            self.process = subprocess.Popen(
                [loader, exe, '--plugin', f'Z:{dll.resolve()}', '--program', '0',
                 '--quit-after-ms', '120000'], stdout=out, stderr=err, env=self.env)

    def output(self):
        return self.out.read_text(errors='replace') + self.err.read_text(errors='replace')

    def open_line(self):
        """The host's "editor open W x H ..." line, once its window is visible."""
        assert self.process.poll() is None, f'the host ended early: {self.output()}'
        line = next((s for s in self.out.read_text().splitlines()
                     if s.startswith('editor open ')), None)
        if not line:
            return None
        found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^Quillantrope$'],
                               env=self.env, capture_output=True, text=True).stdout.split()
        if not found:
            return None
        self.window = found[0]
        return line

    def screenshot(self, name):
        """The editor's client area as the X server shows it: the root cropped to the window."""
        shell = subprocess.run(['xdotool', 'getwindowgeometry', '--shell', self.window],
                               env=self.env, capture_output=True, text=True, check=True).stdout
        geometry = dict(re.findall(r'^(X|Y|WIDTH|HEIGHT)=(\d+)$', shell, re.M))
        width, height = self.probes.width, self.probes.height
        assert (int(geometry['WIDTH']), int(geometry['HEIGHT'])) == (width, height), \
            f"the host's window is {geometry['WIDTH']}x{geometry['HEIGHT']}, expected " \
            f'{width}x{height}'
        root, png = self.work / f'{name}-root.png', self.work / f'{name}.png'
        subprocess.run(['import', '-window', 'root', root], env=self.env, check=True)
        subprocess.run(['convert', root, '-crop', f'{width}x{height}+{geometry["X"]}+'
                        f'{geometry["Y"]}', '+repage', png], check=True)
        rgb = subprocess.run(['convert', png, '-depth', '8', 'rgb:-'], check=True,
                             capture_output=True).stdout
        return png, probe_file.Picture(rgb, width, height)

    def xdotool(self, *steps):
        subprocess.run(['xdotool', *map(str, steps)], env=self.env, check=True)

    def automated(self):
        """The last value the host reported sent for each parameter index, and the counts."""
        last, counts = {}, {}
        for line in self.out.read_text().splitlines():
            words = line.split()
            if len(words) >= 3 and words[0] == 'audioMasterAutomate':
                last[int(words[1])] = float(words[2])
                counts[int(words[1])] = counts.get(int(words[1]), 0) + 1
        return last, counts

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()


_checked = []


@pytest.fixture(scope='session', autouse=True)
def some_build_checked(request):
    """At least one build must have been checked for the run to pass."""
    yield
    ran = [item for item in request.session.items if 'windows_build' in item.fixturenames]
    if ran and not _checked and request.session.testsfailed == 0:
        pytest.fail('no Windows build could be checked on this machine')


def test_windows_editor_shows_the_panel_and_takes_gestures(windows_build, display, workdir,
                                                           probes, linux_picture, report,
                                                           record_skip, request):
    bits, folder = windows_build
    loader, server = wine_for(bits)
    try:
        version = subprocess.run([loader, '--version'], capture_output=True, text=True)
        problem = version.stderr.strip() if version.returncode != 0 else None
    except OSError as e:
        problem = e.strerror
    if problem is not None:
        # A kernel without 32-bit support cannot even start the loader ("Exec format error").
        record_skip(f'wine-editor-{bits}bit', f'{loader} cannot run on this machine ({problem}); '
                    f'the {bits}-bit editor check is NOT run')
    fmt = 'pei-i386' if bits == 32 else 'pei-x86-64'
    exe, dll = folder / 'quillantrope-editor.exe', folder / 'Quillantrope.dll'
    for f in (exe, dll):
        assert f.exists(), f'{f} is missing (build the Quillantrope and quillantrope-editor targets)'
        dump = subprocess.run(['objdump', '-f', f], capture_output=True, text=True).stdout
        assert f'file format {fmt}' in dump, f'{f} is not a {bits}-bit Windows binary'
    name = f'{bits}-bit'
    report(f'{name}: {version.stdout.strip()}, {exe} with {dll}')

    prefix = workdir / f'prefix{bits}'
    prefix.mkdir()
    env = dict(display, WINEPREFIX=str(prefix), WINELOADER=str(loader), WINESERVER=str(server))
    host = EditorHost(env, workdir, bits, probes)
    try:
        # One persistent server for the whole check: the prefix's desktop stays up between the
        # boot and the host, instead of a second start racing the first one's shutdown.
        subprocess.run([server, '-p'], env=env, check=True, stdout=subprocess.DEVNULL)
        # Into a file: the services wineboot starts keep their output open, a pipe never ends.
        boot_log = workdir / f'wineboot{bits}.log'
        with open(boot_log, 'w') as log:
            boot = subprocess.run([loader, 'wineboot', '-i'], env=env, stdout=log,
                                  stderr=subprocess.STDOUT)
        assert boot.returncode == 0, f'wineboot failed: {boot_log.read_text()}'

        started = time.monotonic()
        host.start(loader, exe, dll)
        line = wait_for(host.open_line, 60)
        assert line, f'no editor window within 60 s: {host.output()}'
        assert line.startswith(f'editor open {probes.width} x {probes.height} '), \
            f'the host reports {line!r}, expected {probes.width} x {probes.height}'
        report(f'{name}: {line}; X window {host.window} after '
               f'{time.monotonic() - started:.1f} s')

        # The panel. Painting may lag the window's mapping under load: a few tries within 5 s.
        slider_x, slider_top, slider_height = probes.slider
        for _ in range(10):
            time.sleep(0.5)
            png, before = host.screenshot(f'before{bits}')
            wrong = [p for p in probes.points if not p.holds(before)]
            thumb = before.thumb_centre(slider_x, slider_top, slider_height)
            if not wrong and thumb > slider_top + 20:
                break
        for p in probes.points:
            report(f'{name}: ({p.x},{p.y}) {p.label}: rgb{before.at(p.x, p.y)} {p.kind}')
        assert not wrong, f"the screen does not show the editor's panel ({png}): " + \
            ', '.join(f'{p.label} at ({p.x},{p.y}) is rgb{before.at(p.x, p.y)}, not {p.kind}'
                      for p in wrong)
        assert thumb > slider_top + 20, \
            f'no left feedback slider thumb low enough to drag up (centre {thumb}; {png})'
        report(f'{name}: left feedback slider thumb at y {thumb}')
        if linux_picture:
            compared = subprocess.run(['compare', '-metric', 'AE', png, linux_picture, 'null:'],
                                      capture_output=True, text=True)
            differ = compared.stderr.strip()
            assert differ.isdigit(), f'cannot compare with the Linux picture: {differ}'
            # The same drawing code and faces: at most 1% of the pixels may differ.
            assert int(differ) <= probes.width * probes.height // 100, \
                f"{differ} pixels differ from the Linux editor's picture ({png}, {linux_picture})"
            report(f"{name}: {differ} of {probes.width * probes.height} pixels differ from the "
                   f"Linux editor's picture")

        # The gestures, as the Linux test makes them.
        at = ('--window', host.window)
        host.xdotool('mousemove', *at, slider_x, thumb, 'sleep', 0.2, 'mousedown', 1, 'sleep', 0.2,
                     'mousemove', *at, slider_x, thumb - 10, 'sleep', 0.2,
                     'mousemove', *at, slider_x, thumb - 25, 'sleep', 0.2, 'mouseup', 1,
                     'sleep', 0.3)
        button_x, button_y = probes.button
        host.xdotool('mousemove', *at, button_x, button_y, 'sleep', 0.2, 'click', 1,
                     'sleep', 0.5)
        feedback_on, feedback_level, right_level = probes.parameters
        wanted = (feedback_on, feedback_level, right_level)
        wait_for(lambda: all(i in host.automated()[0] for i in wanted), 2)
        last, counts = host.automated()
        for index in sorted(last):
            report(f'{name}: last audioMasterAutomate {index} {last[index]:g} '
                   f'({counts[index]} sent)')
        assert feedback_level in last, \
            f'the slider drag sent no audioMasterAutomate {feedback_level}: {host.output()}'
        # Dragging up raises the level from program 0's 0.4.
        assert 0.4 < last[feedback_level] <= 1.0, \
            f'the drag up left parameter {feedback_level} at {last[feedback_level]}'
        assert right_level in last, \
            f'the linked right feedback level ({right_level}) was not sent: {host.output()}'
        assert last.get(feedback_on) == 0.0, \
            f'the button click left parameter {feedback_on} at {last.get(feedback_on)}, ' \
            f'expected 0 (switched off)'

        # The editor repainted what the gestures changed.
        png, after = host.screenshot(f'after{bits}')
        unlit = probe_file.Point(button_x, button_y, 'notgreen', 'left feedback on button')
        assert unlit.holds(after), \
            f'the button still shows lit after the click: rgb{after.at(button_x, button_y)} ({png})'
        moved = after.thumb_centre(slider_x, slider_top, slider_height)
        assert 0 <= moved < thumb - 10, \
            f'the slider thumb did not move up (from {thumb} to {moved}; {png})'
        report(f'{name}: button unlit, rgb{after.at(button_x, button_y)}; left feedback slider '
               f'thumb now at y {moved}')

        # Closing the window as a user does: the host's loop ends, it closes editor and effect.
        subprocess.run(['xdotool', 'windowfocus', host.window], env=env)
        time.sleep(0.3)
        host.xdotool('key', '--clearmodifiers', 'alt+F4')
        status = wait_for(lambda: host.process.poll() is not None, 10)
        assert status, 'the host is still running 10 s after Alt+F4'
        assert host.process.returncode == 0, \
            f'the host exited with status {host.process.returncode} after Alt+F4: {host.output()}'
        assert host.err.read_text() == '', f'the host wrote to stderr: {host.err.read_text()}'
        report(f'{name}: Alt+F4 closed the host; exit status 0, nothing on stderr')
        _checked.append(bits)
    finally:
        host.stop()
        # Only this run's prefix: other wine servers on the machine are left alone.
        subprocess.run([server, '-k'], env=env, stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)
